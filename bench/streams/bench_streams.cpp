// Throughput of the compressed block stream beside the raw codec layer on the same data and the
// same block size, so that the stream's own overhead shows; and the cost of reading a file in
// 4 KiB calls against one whole-file read.
//
// The stream sits on an in-memory byte stream: the container's page I/O is not part of these
// figures. Data: word-like text in which one piece in sixteen is a run of 64 random bytes (about
// 45 % of the bytes), the same in every run.
#include <benchmark/benchmark.h>

#include <time.h>

#include <cstring>
#include <memory>
#include <random>
#include <vector>

#include "platform/Stream.h"
#include "sfs/AdvancedFileStream.h"
#include "sfs/Checksum.h"
#include "sfs/Compression.h"

namespace {

using sfs::TSFSAdvancedFileStream;
using sfs::TSFSCompressionLevel;
using TBytes = std::vector<uint8_t>;

TBytes MakeData(size_t size) {
  static const char* const words[] = {"the ", "block ", "stream ", "of ", "a ", "container ", "holds ",
                                      "compressed ", "data ", "and ", "its ", "header ", "\n", "42 "};
  std::mt19937 rng(7);
  TBytes out;
  out.reserve(size + 16);
  while (out.size() < size) {
    if (rng() % 16 == 0) {
      for (int i = 0; i < 64; ++i) out.push_back(static_cast<uint8_t>(rng()));
    } else {
      const char* w = words[rng() % (sizeof words / sizeof *words)];
      out.insert(out.end(), w, w + std::strlen(w));
    }
  }
  out.resize(size);
  return out;
}

const TBytes& Data(size_t size) {
  static std::vector<std::pair<size_t, TBytes>> cache;
  for (const auto& [s, d] : cache)
    if (s == size) return d;
  cache.emplace_back(size, MakeData(size));
  return cache.back().second;
}

constexpr size_t cDataSize = 8u << 20;
constexpr size_t cRatioSize = 64u << 20;

TSFSCompressionLevel LevelOf(const benchmark::State& state) {
  return static_cast<TSFSCompressionLevel>(state.range(0));
}

// The same data as a stream file in memory.
std::unique_ptr<platform::TMemoryStream> StreamFile(TSFSCompressionLevel level, const TBytes& data) {
  auto file = std::make_unique<platform::TMemoryStream>();
  auto* raw = file.get();
  TSFSAdvancedFileStream stream(std::move(file), "bench", platform::fmCreate, level);
  stream.WriteBuffer(data.data(), static_cast<int64_t>(data.size()));
  auto copy = std::make_unique<platform::TMemoryStream>();
  copy->Write(raw->Memory(), static_cast<int32_t>(raw->GetSize()));
  return copy;
}

std::unique_ptr<TSFSAdvancedFileStream> OpenCopy(const platform::TMemoryStream& file) {
  auto copy = std::make_unique<platform::TMemoryStream>();
  copy->Write(file.Memory(), static_cast<int32_t>(const_cast<platform::TMemoryStream&>(file).GetSize()));
  return std::make_unique<TSFSAdvancedFileStream>(std::move(copy), "bench", platform::fmOpenRead, sfs::sfsNone);
}

void SetLabel(benchmark::State& state) { state.SetLabel(std::string(sfs::SFSCompressionLevelName(LevelOf(state)))); }

// The block checksum every stream read and write computes over the uncompressed bytes: part of
// the stream's own cost beside the codec.
void BM_BlockChecksum(benchmark::State& state) {
  const TBytes& data = Data(cDataSize);
  for (auto _ : state) benchmark::DoNotOptimize(sfs::CountCRC(data.data(), static_cast<int32_t>(data.size()), sfs::crcFull));
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * data.size()));
}

// Processor time of this thread: the machine is shared, so wall time says more about the
// neighbours than about the stream.
double ThreadSeconds() {
  timespec t{};
  clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
  return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_nsec) * 1e-9;
}

// Packs `data` block by block at the level's block size, as the stream does; returns the blocks
// with their unpacked sizes.
std::vector<std::pair<sfs::TSFSBuffer, int32_t>> CodecCompress(TSFSCompressionLevel level, const TBytes& data) {
  const int32_t bs = level == sfs::sfsNone ? 1 << 20 : sfs::SFSInternalGetBlockSize(level);
  std::vector<std::pair<sfs::TSFSBuffer, int32_t>> blocks;
  for (size_t at = 0; at < data.size(); at += static_cast<size_t>(bs)) {
    const auto n = static_cast<int32_t>(std::min<size_t>(static_cast<size_t>(bs), data.size() - at));
    sfs::TSFSBuffer out;
    int32_t outSize = 0;
    if (!sfs::SFSInternalCompressBuffer(data.data() + at, n, out, outSize, level)) return {};
    out.resize(static_cast<size_t>(outSize));
    blocks.emplace_back(std::move(out), n);
  }
  return blocks;
}

bool CodecDecompress(TSFSCompressionLevel level, const std::vector<std::pair<sfs::TSFSBuffer, int32_t>>& blocks) {
  for (const auto& [packed, n] : blocks) {
    sfs::TSFSBuffer out;
    int32_t outSize = n;
    if (!sfs::SFSInternalDecompressBuffer(packed.data(), static_cast<int32_t>(packed.size()), out, outSize, level))
      return false;
    benchmark::DoNotOptimize(out.data());
  }
  return true;
}

// The stream beside the raw codec on the same data and block size, all four timed in the same
// iteration by thread processor time, so that the machine's other load falls on both sides alike:
// codec compress, stream write (a new stream in one call), codec decompress, stream read (a fresh
// open, read in one call). "write_x" and "read_x" are stream time over codec time.
void BM_StreamBesideCodec(benchmark::State& state) {
  const TSFSCompressionLevel level = LevelOf(state);
  const TBytes& data = Data(cDataSize);
  const auto file = StreamFile(level, data);
  TBytes out(data.size());
  double compress = 0, write = 0, decompress = 0, read = 0;
  int64_t packed = 0;
  for (auto _ : state) {
    const double t0 = ThreadSeconds();
    const auto blocks = CodecCompress(level, data);
    const double t1 = ThreadSeconds();
    {
      TSFSAdvancedFileStream stream(std::make_unique<platform::TMemoryStream>(), "bench", platform::fmCreate, level);
      stream.WriteBuffer(data.data(), static_cast<int64_t>(data.size()));
      benchmark::DoNotOptimize(stream.GetSize());
    }
    const double t2 = ThreadSeconds();
    if (!CodecDecompress(level, blocks)) state.SkipWithError("codec");
    const double t3 = ThreadSeconds();
    auto stream = OpenCopy(*file);
    const double t4 = ThreadSeconds();
    stream->ReadBuffer(out.data(), static_cast<int64_t>(out.size()));
    const double t5 = ThreadSeconds();
    compress += t1 - t0;
    write += t2 - t1;
    decompress += t3 - t2;
    read += t5 - t4;
    packed = 0;
    for (const auto& block : blocks) packed += static_cast<int64_t>(block.first.size());
  }
  if (out != data) state.SkipWithError("read back differs");
  const double mb = static_cast<double>(state.iterations() * data.size()) / 1e6;
  state.counters["compress_MBps"] = mb / compress;
  state.counters["write_MBps"] = mb / write;
  state.counters["write_x"] = write / compress;
  state.counters["decompress_MBps"] = mb / decompress;
  state.counters["read_MBps"] = mb / read;
  state.counters["read_x"] = read / decompress;
  state.counters["packed_pct"] = 100.0 * static_cast<double>(packed) / static_cast<double>(data.size());
  SetLabel(state);
}

// Reading in 4 KiB calls against one whole read of the same stream, timed in the same
// iteration by thread processor time; "ratio" is small-read time over whole-read time.
void BM_Read4KiBvsWhole(benchmark::State& state) {
  const TSFSCompressionLevel level = LevelOf(state);
  const TBytes& data = Data(static_cast<size_t>(state.range(1)));
  const auto file = StreamFile(level, data);
  TBytes out(data.size());
  double whole = 0, small = 0;
  for (auto _ : state) {
    auto a = OpenCopy(*file);
    const double t0 = ThreadSeconds();
    a->ReadBuffer(out.data(), static_cast<int64_t>(out.size()));
    const double t1 = ThreadSeconds();
    auto b = OpenCopy(*file);
    const double t2 = ThreadSeconds();
    for (size_t at = 0; at < out.size(); at += 4096) {
      const auto n = static_cast<int32_t>(std::min<size_t>(4096, out.size() - at));
      if (b->Read(out.data() + at, n) != n) state.SkipWithError("short read");
    }
    const double t3 = ThreadSeconds();
    whole += t1 - t0;
    small += t3 - t2;
  }
  if (out != data) state.SkipWithError("read back differs");
  state.counters["ratio"] = small / whole;
  state.counters["whole_MBps"] = static_cast<double>(state.iterations() * data.size()) / whole / 1e6;
  state.counters["small_MBps"] = static_cast<double>(state.iterations() * data.size()) / small / 1e6;
  SetLabel(state);
}

void Levels(benchmark::internal::Benchmark* b) {
  for (const TSFSCompressionLevel level :
       {sfs::sfsNone, sfs::zlibFastest, sfs::zlibNormal, sfs::bzipNormal, sfs::ppmNormal})
    b->Arg(static_cast<int>(level));
  b->Unit(benchmark::kMillisecond);
}

BENCHMARK(BM_BlockChecksum)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_StreamBesideCodec)->Apply(Levels)->Repetitions(3)->ReportAggregatesOnly(true);
BENCHMARK(BM_Read4KiBvsWhole)
    ->Args({static_cast<int>(sfs::zlibNormal), static_cast<int64_t>(cRatioSize)})
    ->Args({static_cast<int>(sfs::zlibFastest), static_cast<int64_t>(cDataSize)})
    ->Args({static_cast<int>(sfs::bzipNormal), static_cast<int64_t>(cDataSize)})
    ->Args({static_cast<int>(sfs::ppmNormal), static_cast<int64_t>(cDataSize)})
    ->Iterations(2)
    ->Repetitions(3)
    ->ReportAggregatesOnly(true)
    ->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
