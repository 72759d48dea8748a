// Helpers shared by the stream tests: byte generators and an inner stream over shared bytes that
// a test can inspect, corrupt or make fail while a block stream sits on top of it.
#pragma once

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <functional>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "platform/Exception.h"
#include "platform/Stream.h"
#include "sfs/AdvancedFileStream.h"

namespace sfs::testing {

using TBytes = std::vector<uint8_t>;

// The message of the exception `action` throws, or "(no exception)".
inline std::string MessageOf(const std::function<void()>& action) {
  try {
    action();
  } catch (const platform::Exception& e) {
    return e.what();
  }
  return "(no exception)";
}

inline TBytes RandomBytes(size_t n, uint32_t seed) {
  std::mt19937 rng(seed);
  TBytes out(n);
  for (auto& b : out) b = static_cast<uint8_t>(rng());
  return out;
}

// Word-like text: compresses well, but not to nothing.
inline TBytes TextBytes(size_t n, uint32_t seed) {
  static const char* const words[] = {"block ", "stream ", "header ", "chain ", "packed ", "size ", "crc ",
                                      "level ", "zlib ", "bzip ", "model ", "order ", "\n", "0123 "};
  std::mt19937 rng(seed);
  TBytes out;
  out.reserve(n + 8);
  while (out.size() < n) {
    const char* w = words[rng() % (sizeof words / sizeof *words)];
    out.insert(out.end(), w, w + std::strlen(w));
  }
  out.resize(n);
  return out;
}

// The bytes behind a TSharedStream, with fault knobs.
struct TSharedBytes {
  TBytes data;
  int64_t writeBudget = -1;  // bytes that may still be written; -1: no limit
  int64_t writes = 0;        // Write calls that moved bytes
};

class TSharedStream : public platform::TStream {
 public:
  explicit TSharedStream(std::shared_ptr<TSharedBytes> bytes) : FBytes(std::move(bytes)) {}

  int32_t Read(void* buffer, int32_t count) override {
    const auto size = static_cast<int64_t>(FBytes->data.size());
    if (count <= 0 || FPosition >= size) return 0;
    const auto n = static_cast<int32_t>(std::min<int64_t>(count, size - FPosition));
    std::memcpy(buffer, FBytes->data.data() + FPosition, static_cast<size_t>(n));
    FPosition += n;
    return n;
  }
  int32_t Write(const void* buffer, int32_t count) override {
    if (count <= 0) return 0;
    if (FBytes->writeBudget >= 0) count = static_cast<int32_t>(std::min<int64_t>(count, FBytes->writeBudget));
    if (count == 0) return 0;
    if (FBytes->writeBudget >= 0) FBytes->writeBudget -= count;
    const int64_t end = FPosition + count;
    if (end > static_cast<int64_t>(FBytes->data.size())) FBytes->data.resize(static_cast<size_t>(end));
    std::memcpy(FBytes->data.data() + FPosition, buffer, static_cast<size_t>(count));
    FPosition = end;
    ++FBytes->writes;
    return count;
  }
  int64_t Seek(int64_t offset, platform::TSeekOrigin origin) override {
    int64_t base = 0;
    if (origin == platform::soCurrent) base = FPosition;
    if (origin == platform::soEnd) base = static_cast<int64_t>(FBytes->data.size());
    if (base + offset < 0) throw platform::EStreamError("seek before the beginning");
    FPosition = base + offset;
    return FPosition;
  }
  void SetSize(int64_t newSize) override {
    FBytes->data.resize(static_cast<size_t>(newSize));
    FPosition = std::min(FPosition, newSize);
  }
  int64_t GetSize() override { return static_cast<int64_t>(FBytes->data.size()); }

 private:
  std::shared_ptr<TSharedBytes> FBytes;
  int64_t FPosition = 0;
};

inline std::unique_ptr<TSFSAdvancedFileStream> OpenOn(const std::shared_ptr<TSharedBytes>& bytes, uint16_t mode,
                                                      TSFSCompressionLevel level = sfsNone,
                                                      TSFSCompressionLevel defaultLevel = sfsNone) {
  return std::make_unique<TSFSAdvancedFileStream>(std::make_unique<TSharedStream>(bytes), "test.bin", mode, level,
                                                  defaultLevel);
}

inline int32_t GetI32(const TBytes& bytes, size_t offset) {
  int32_t v;
  std::memcpy(&v, bytes.data() + offset, 4);
  return v;
}
inline void PutI32(TBytes& bytes, size_t offset, int32_t v) { std::memcpy(bytes.data() + offset, &v, 4); }

// A new compressed stream whose header names `blockSize`, so that a test gets many blocks from a
// few kilobytes. The stream format allows any block size; only the writer's choice differs.
inline std::unique_ptr<TSFSAdvancedFileStream> CreateWithBlockSize(const std::shared_ptr<TSharedBytes>& bytes,
                                                                   TSFSCompressionLevel level, int32_t blockSize) {
  OpenOn(bytes, platform::fmCreate, level);
  if (level != sfsNone) PutI32(bytes->data, 4, blockSize);
  return OpenOn(bytes, platform::fmOpenReadWrite);
}

inline TBytes ReadAll(platform::TStream& stream, int32_t chunk = 1 << 20) {
  stream.Seek(0, platform::soBeginning);
  TBytes out;
  TBytes buffer(static_cast<size_t>(chunk));
  for (;;) {
    const int32_t got = stream.Read(buffer.data(), chunk);
    if (got <= 0) break;
    out.insert(out.end(), buffer.begin(), buffer.begin() + got);
  }
  return out;
}

inline void WriteAt(platform::TStream& stream, int64_t offset, const TBytes& data) {
  stream.Seek(offset, platform::soBeginning);
  stream.WriteBuffer(data.data(), static_cast<int64_t>(data.size()));
}

// The folder part of a container path ("a/b/c.txt" gives "a/b"); "" at the top.
inline std::string FolderOf(const std::string& name) {
  const auto slash = name.find_last_of("/\\");
  return slash == std::string::npos ? std::string() : name.substr(0, slash);
}

inline const TSFSCompressionLevel cAllLevels[] = {sfsNone,    zlibFastest, zlibNormal,  ppmNormal,  ppmMax,
                                                  zlibMax,    ppmFastest,  bzipFastest, bzipNormal, bzipMax};

}  // namespace sfs::testing
