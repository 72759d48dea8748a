// Helpers of the sound tests: SDL's disk audio driver as the output device, and the analysis of
// what it wrote (float32 stereo at the device rate).
#pragma once

#include <unistd.h>

#include <chrono>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <functional>
#include <string>
#include <thread>
#include <vector>

namespace soundtest {

inline std::string SourceDir() {
  const char* dir = std::getenv("BD_SOURCE_DIR");
  return dir ? dir : ".";
}
inline std::string MediaPath(const std::string& name) {
  return SourceDir() + "/tests/data/media/" + name;
}
inline std::string SoundLibPath() {
  const char* dir = std::getenv("BD_BINARY_DIR");
  return std::string(dir ? dir : ".") + "/bin/libbdsound.so";
}

inline bool WaitUntil(const std::function<bool()>& done, int timeoutMs = 10000) {
  const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
  while (!done()) {
    if (std::chrono::steady_clock::now() > end) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(2));
  }
  return true;
}

constexpr int cRate = 44100;

// Points SDL at the disk driver writing to a private file. `delayMs` is the pause per device
// buffer of 1024 frames (23 ms of sound): -1 keeps SDL's default, which runs at about real time.
class TDiskOutput {
 public:
  explicit TDiskOutput(int delayMs = -1) {
    char name[] = "/tmp/bdsound-disk-XXXXXX";
    const int fd = mkstemp(name);
    if (fd >= 0) close(fd);
    FPath = name;
    setenv("SDL_AUDIODRIVER", "disk", 1);
    setenv("SDL_DISKAUDIOFILE", FPath.c_str(), 1);
    if (delayMs >= 0)
      setenv("SDL_DISKAUDIODELAY", std::to_string(delayMs).c_str(), 1);
    else
      unsetenv("SDL_DISKAUDIODELAY");
  }
  ~TDiskOutput() { std::remove(FPath.c_str()); }
  TDiskOutput(const TDiskOutput&) = delete;
  TDiskOutput& operator=(const TDiskOutput&) = delete;

  // Seconds of sound written so far.
  double SecondsWritten() const {
    std::ifstream f(FPath, std::ios::binary | std::ios::ate);
    return f ? static_cast<double>(f.tellg()) / (8.0 * cRate) : 0.0;
  }
  bool WaitForSeconds(double seconds, int timeoutMs = 20000) const {
    return WaitUntil([&] { return SecondsWritten() >= seconds; }, timeoutMs);
  }
  // The left channel; `right`, when given, receives the right one.
  std::vector<float> Left(std::vector<float>* right = nullptr) const {
    std::ifstream f(FPath, std::ios::binary);
    std::vector<float> frames;
    float lr[2];
    std::vector<float> left;
    while (f.read(reinterpret_cast<char*>(lr), sizeof lr)) {
      left.push_back(lr[0]);
      if (right) right->push_back(lr[1]);
    }
    return left;
  }

 private:
  std::string FPath;
};

// A stretch of sound: samples [First, End).
struct TSpan {
  size_t First;
  size_t End;
  double Ms() const { return static_cast<double>(End - First) * 1000.0 / cRate; }
  double StartMs() const { return static_cast<double>(First) * 1000.0 / cRate; }
};

// The stretches where the level exceeds `threshold`, split where it stays below for more than
// `gapMs`.
inline std::vector<TSpan> Spans(const std::vector<float>& s, double gapMs = 5.0, float threshold = 0.02f) {
  std::vector<TSpan> spans;
  const auto gap = static_cast<size_t>(gapMs * cRate / 1000.0);
  bool in = false;
  size_t first = 0;
  size_t lastLoud = 0;
  for (size_t i = 0; i < s.size(); ++i) {
    if (std::fabs(s[i]) > threshold) {
      if (!in) {
        in = true;
        first = i;
      }
      lastLoud = i;
    } else if (in && i - lastLoud > gap) {
      spans.push_back({first, lastLoud + 1});
      in = false;
    }
  }
  if (in) spans.push_back({first, lastLoud + 1});
  return spans;
}

inline double Rms(const std::vector<float>& s, size_t from, size_t to) {
  double sum = 0;
  for (size_t i = from; i < to; ++i) sum += static_cast<double>(s[i]) * s[i];
  return to > from ? std::sqrt(sum / static_cast<double>(to - from)) : 0.0;
}

// Frequency from the count of rising zero crossings.
inline double Frequency(const std::vector<float>& s, size_t from, size_t to) {
  int rising = 0;
  size_t firstCross = 0;
  size_t lastCross = 0;
  for (size_t i = from + 1; i < to; ++i) {
    if (s[i - 1] < 0 && s[i] >= 0) {
      if (rising == 0) firstCross = i;
      lastCross = i;
      ++rising;
    }
  }
  if (rising < 2) return 0.0;
  return (rising - 1) * static_cast<double>(cRate) / static_cast<double>(lastCross - firstCross);
}

// Frequency of the middle part of a span (its edges may be ramps or resampler transients).
inline double SpanFrequency(const std::vector<float>& s, const TSpan& span, double fromMs, double toMs) {
  const auto from = span.First + static_cast<size_t>(fromMs * cRate / 1000.0);
  const auto to = std::min(span.End, span.First + static_cast<size_t>(toMs * cRate / 1000.0));
  return Frequency(s, from, to);
}

}  // namespace soundtest
