// The mixer's cost per audio callback (1024 frames at 44100 Hz, 23.2 ms of sound) with 128
// looping streams of one format, against the callback's time budget; beside it the cost of only
// decoding the same amount with libsndfile, which is the bulk of the work.
//
// Counters: budget_pct = share of the callback's budget used (100 = no headroom left).
#include <benchmark/benchmark.h>
#include <sndfile.h>

#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "sound/lib/MixerInternal.h"
#include "sound/lib/bdsound.h"

namespace {

constexpr int cRate = 44100;
constexpr int cFrames = 1024;
constexpr int cStreams = 128;
constexpr double cBudgetSeconds = static_cast<double>(cFrames) / cRate;

const char* const cFiles[] = {"tone440.wav", "tone660.ogg", "tone880.mp3"};

std::vector<char> ReadMedia(const char* name) {
  std::ifstream f(std::string(BD_MEDIA_DIR) + "/" + name, std::ios::binary);
  return {std::istreambuf_iterator<char>(f), std::istreambuf_iterator<char>()};
}

void SetBudgetCounter(benchmark::State& state) {
  // Rate-inverted: elapsed time / (iterations x budget), in percent.
  state.counters["budget_pct"] = benchmark::Counter(
      static_cast<double>(state.iterations()) * cBudgetSeconds / 100.0,
      benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
}

void BM_MixCallback(benchmark::State& state) {
  const char* file = cFiles[state.range(0)];
  state.SetLabel(file);
  const std::vector<char> data = ReadMedia(file);
  bdsound_internal::OpenWithoutDevice(cRate, cStreams);
  std::vector<FSOUND_STREAM*> streams;
  for (int i = 0; i < cStreams; ++i) {
    FSOUND_STREAM* s = FSOUND_Stream_Open(data.data(), FSOUND_NORMAL | FSOUND_LOADMEMORY | FSOUND_LOOP_NORMAL,
                                          0, static_cast<int>(data.size()));
    if (!s || FSOUND_Stream_Play(FSOUND_FREE, s) < 0) {
      state.SkipWithError("cannot open or play a stream");
      return;
    }
    streams.push_back(s);
  }
  std::vector<float> out(cFrames * 2);
  for (auto _ : state) {
    bdsound_internal::MixCallback(reinterpret_cast<uint8_t*>(out.data()),
                                  static_cast<int>(out.size() * sizeof(float)));
    benchmark::DoNotOptimize(out.data());
  }
  SetBudgetCounter(state);
  FSOUND_Close();
}
BENCHMARK(BM_MixCallback)->DenseRange(0, 2)->Unit(benchmark::kMillisecond);

// Decoding alone: libsndfile reading the same stretch of source frames for 128 streams.
struct TMemoryFile {
  const std::vector<char>* Data;
  sf_count_t Pos = 0;
};
sf_count_t Length(void* u) { return static_cast<sf_count_t>(static_cast<TMemoryFile*>(u)->Data->size()); }
sf_count_t Seek(sf_count_t o, int whence, void* u) {
  auto* m = static_cast<TMemoryFile*>(u);
  const sf_count_t base = whence == SEEK_SET ? 0 : whence == SEEK_CUR ? m->Pos : Length(u);
  m->Pos = base + o;
  return m->Pos;
}
sf_count_t Read(void* p, sf_count_t n, void* u) {
  auto* m = static_cast<TMemoryFile*>(u);
  const sf_count_t k = std::max<sf_count_t>(0, std::min(n, Length(u) - m->Pos));
  std::copy_n(m->Data->data() + m->Pos, k, static_cast<char*>(p));
  m->Pos += k;
  return k;
}
sf_count_t Write(const void*, sf_count_t, void*) { return 0; }
sf_count_t Tell(void* u) { return static_cast<TMemoryFile*>(u)->Pos; }

void BM_DecodeOnly(benchmark::State& state) {
  const char* file = cFiles[state.range(0)];
  state.SetLabel(file);
  const std::vector<char> data = ReadMedia(file);
  SF_VIRTUAL_IO io{Length, Seek, Read, Write, Tell};
  std::vector<TMemoryFile> files(cStreams, TMemoryFile{&data});
  std::vector<SNDFILE*> decoders;
  SF_INFO info{};
  for (auto& f : files) decoders.push_back(sf_open_virtual(&io, SFM_READ, &info, &f));
  // Source frames per callback at the file's own rate.
  const sf_count_t frames = static_cast<sf_count_t>(cFrames) * info.samplerate / cRate;
  std::vector<float> buffer(static_cast<size_t>(frames * info.channels));
  for (auto _ : state) {
    for (SNDFILE* d : decoders) {
      if (sf_readf_float(d, buffer.data(), frames) < frames) sf_seek(d, 0, SEEK_SET);
      benchmark::DoNotOptimize(buffer.data());
    }
  }
  SetBudgetCounter(state);
  for (SNDFILE* d : decoders) sf_close(d);
}
BENCHMARK(BM_DecodeOnly)->DenseRange(0, 2)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
