// The codec layer against the libraries it calls, and the PPM coder against 7-Zip's PPMd.
//
// Layer overhead: each iteration codes the same 1 MiB block through the layer and directly with
// zlib or bzip2, alternately, and reports both speeds (by processor time) and the layer's
// overhead in percent.
//
// Checksums: crcFull and crcFast against a byte-wise CRC-16 and zlib's CRC-32.
//
// PPM: an 8 MiB text corpus of /usr/include headers (built once per run) is packed as one block
// at the order and model memory of ppmNormal and ppmMax, and by the 7-Zip command with
// -m0=PPMd:o=N:mem=Mm on the same file, in turn within each iteration. The 7-Zip timings
// include starting the process and reading and writing the files (from the page cache); the
// counters give the packed size of both, our size relative to theirs, MB/s by processor time,
// and our speed in percent of theirs by processor time and by wall-clock.
#include <benchmark/benchmark.h>
#include <bzlib.h>
#include <sys/resource.h>
#include <unistd.h>
#include <zlib.h>

#include <algorithm>
#include <array>
#include <chrono>
#include <ctime>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "sfs/Checksum.h"
#include "sfs/Compression.h"

namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

constexpr size_t cCorpusSize = 8u << 20;
constexpr size_t cBlock = 1u << 20;

// Concatenated headers of /usr/include in a fixed order, cut to 8 MiB.
const std::vector<uint8_t>& Corpus() {
  static const std::vector<uint8_t> corpus = [] {
    std::vector<fs::path> files;
    for (const auto& e : fs::recursive_directory_iterator("/usr/include", fs::directory_options::skip_permission_denied))
      if (e.is_regular_file() && e.path().extension() == ".h") files.push_back(e.path());
    std::sort(files.begin(), files.end());
    std::vector<uint8_t> data;
    data.reserve(cCorpusSize);
    for (const auto& f : files) {
      std::ifstream in(f, std::ios::binary);
      std::vector<uint8_t> bytes((std::istreambuf_iterator<char>(in)), {});
      data.insert(data.end(), bytes.begin(), bytes.end());
      if (data.size() >= cCorpusSize) break;
    }
    data.resize(std::min(data.size(), cCorpusSize));
    return data;
  }();
  return corpus;
}

std::vector<uint8_t> Block() { return std::vector<uint8_t>(Corpus().begin(), Corpus().begin() + cBlock); }

double Seconds(Clock::duration d) { return std::chrono::duration<double>(d).count(); }

// Processor time of this thread: both sides of a comparison run on it, and other processes on a
// busy machine do not count against either.
double ThreadCpu() {
  timespec t{};
  clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
  return double(t.tv_sec) + double(t.tv_nsec) * 1e-9;
}

// Runs Layer and Direct alternately, once each per iteration, and reports both speeds by
// processor time and the layer's overhead.
template <class TLayer, class TDirect>
void LayerAgainstDirect(benchmark::State& state, size_t bytesPerCall, TLayer Layer, TDirect Direct) {
  double tLayer = 0, tDirect = 0;
  for (auto _ : state) {
    const double t0 = ThreadCpu();
    Layer();
    const double t1 = ThreadCpu();
    Direct();
    const double t2 = ThreadCpu();
    tLayer += t1 - t0;
    tDirect += t2 - t1;
  }
  const double n = double(state.iterations()) * double(bytesPerCall) / 1e6;
  state.counters["layer_MBps"] = n / tLayer;
  state.counters["direct_MBps"] = n / tDirect;
  state.counters["overhead_pct"] = (tLayer / tDirect - 1.0) * 100.0;
}

// Packs the block through the layer.
void LayerCompress(benchmark::State& state, const std::vector<uint8_t>& in, sfs::TSFSCompressionLevel level) {
  sfs::TSFSBuffer out;
  int32_t size = 0;
  if (!sfs::SFSInternalCompressBuffer(in.data(), int32_t(in.size()), out, size, level)) state.SkipWithError("layer");
  benchmark::DoNotOptimize(out.data());
}

// Unpacks through the layer what the layer packed at level.
void LayerDecompress(benchmark::State& state, const sfs::TSFSBuffer& packed, int32_t packedSize, size_t size,
                     sfs::TSFSCompressionLevel level) {
  sfs::TSFSBuffer out;
  int32_t outSize = int32_t(size);
  if (!sfs::SFSInternalDecompressBuffer(packed.data(), packedSize, out, outSize, level)) state.SkipWithError("layer");
  benchmark::DoNotOptimize(out.data());
}

// --- layer against zlib ---

void BM_ZlibCompress(benchmark::State& state) {
  const auto level = static_cast<sfs::TSFSCompressionLevel>(state.range(0));
  const int zlibLevel = level == sfs::zlibFastest ? 1 : level == sfs::zlibNormal ? 5 : 9;
  const auto in = Block();
  std::vector<uint8_t> direct(compressBound(in.size()));
  LayerAgainstDirect(
      state, in.size(), [&] { LayerCompress(state, in, level); },
      [&] {
        uLongf n = direct.size();
        if (compress2(direct.data(), &n, in.data(), in.size(), zlibLevel) != Z_OK) state.SkipWithError("zlib");
        benchmark::DoNotOptimize(direct.data());
      });
}
BENCHMARK(BM_ZlibCompress)->Arg(int(sfs::zlibFastest))->Arg(int(sfs::zlibNormal))->Arg(int(sfs::zlibMax))
    ->Unit(benchmark::kMillisecond)->MinTime(2.0);

void BM_ZlibDecompress(benchmark::State& state) {
  const auto in = Block();
  sfs::TSFSBuffer packed;
  int32_t packedSize = 0;
  sfs::SFSInternalCompressBuffer(in.data(), int32_t(in.size()), packed, packedSize, sfs::zlibNormal);
  std::vector<uint8_t> direct(in.size());
  LayerAgainstDirect(
      state, in.size(), [&] { LayerDecompress(state, packed, packedSize, in.size(), sfs::zlibNormal); },
      [&] {
        uLongf n = direct.size();
        if (uncompress(direct.data(), &n, packed.data(), uLong(packedSize)) != Z_OK) state.SkipWithError("zlib");
        benchmark::DoNotOptimize(direct.data());
      });
}
BENCHMARK(BM_ZlibDecompress)->Unit(benchmark::kMillisecond)->MinTime(2.0);

// --- layer against bzip2 ---

void BM_Bzip2Compress(benchmark::State& state) {
  const auto level = static_cast<sfs::TSFSCompressionLevel>(state.range(0));
  const int blockSize = level == sfs::bzipFastest ? 2 : level == sfs::bzipNormal ? 6 : 9;
  const auto in = Block();
  std::vector<uint8_t> direct(in.size() + in.size() / 100 + 600);
  LayerAgainstDirect(
      state, in.size(), [&] { LayerCompress(state, in, level); },
      [&] {
        unsigned n = unsigned(direct.size());
        if (BZ2_bzBuffToBuffCompress(reinterpret_cast<char*>(direct.data()), &n,
                                     reinterpret_cast<char*>(const_cast<uint8_t*>(in.data())), unsigned(in.size()),
                                     blockSize, 0, 0) != BZ_OK)
          state.SkipWithError("bzip2");
        benchmark::DoNotOptimize(direct.data());
      });
}
BENCHMARK(BM_Bzip2Compress)->Arg(int(sfs::bzipFastest))->Arg(int(sfs::bzipNormal))->Arg(int(sfs::bzipMax))
    ->Unit(benchmark::kMillisecond)->MinTime(2.0);

void BM_Bzip2Decompress(benchmark::State& state) {
  const auto in = Block();
  sfs::TSFSBuffer packed;
  int32_t packedSize = 0;
  sfs::SFSInternalCompressBuffer(in.data(), int32_t(in.size()), packed, packedSize, sfs::bzipNormal);
  std::vector<uint8_t> direct(in.size());
  LayerAgainstDirect(
      state, in.size(), [&] { LayerDecompress(state, packed, packedSize, in.size(), sfs::bzipNormal); },
      [&] {
        unsigned n = unsigned(direct.size());
        if (BZ2_bzBuffToBuffDecompress(reinterpret_cast<char*>(direct.data()), &n,
                                       reinterpret_cast<char*>(packed.data()), unsigned(packedSize), 0, 0) != BZ_OK)
          state.SkipWithError("bzip2");
        benchmark::DoNotOptimize(direct.data());
      });
}
BENCHMARK(BM_Bzip2Decompress)->Unit(benchmark::kMillisecond)->MinTime(2.0);

// --- checksums ---

// The byte-at-a-time form of crcFull (one table lookup per byte), as the baseline of the
// sliced one.
uint32_t ByteWiseCRC16(const uint8_t* p, size_t n) {
  static const auto table = [] {
    std::array<uint16_t, 256> t{};
    for (uint32_t i = 0; i < 256; ++i) {
      uint32_t crc = i;
      for (int bit = 0; bit < 8; ++bit) crc = (crc & 1) ? (crc >> 1) ^ 0xA001u : crc >> 1;
      t[i] = uint16_t(crc);
    }
    return t;
  }();
  uint32_t crc = 0;
  for (size_t i = 0; i < n; ++i) crc = (crc >> 8) ^ table[(crc ^ p[i]) & 0xFF];
  return crc;
}

// crcFull and crcFast over the same 1 MiB block, beside the byte-wise CRC-16 and zlib's CRC-32,
// alternately, by processor time.
void BM_Checksum(benchmark::State& state) {
  const auto in = Block();
  double tFull = 0, tFast = 0, tByteWise = 0, tZlib = 0;
  for (auto _ : state) {
    const double t0 = ThreadCpu();
    uint32_t full = sfs::CountCRC(in.data(), int32_t(in.size()), sfs::crcFull);
    benchmark::DoNotOptimize(full);
    const double t1 = ThreadCpu();
    uint32_t fast = sfs::CountCRC(in.data(), int32_t(in.size()), sfs::crcFast);
    benchmark::DoNotOptimize(fast);
    const double t2 = ThreadCpu();
    uint32_t reference = ByteWiseCRC16(in.data(), in.size());
    benchmark::DoNotOptimize(reference);
    const double t3 = ThreadCpu();
    uLong zlibCrc = crc32(0, in.data(), uInt(in.size()));
    benchmark::DoNotOptimize(zlibCrc);
    const double t4 = ThreadCpu();
    if (full != reference) state.SkipWithError("crcFull differs from the byte-wise CRC");
    tFull += t1 - t0;
    tFast += t2 - t1;
    tByteWise += t3 - t2;
    tZlib += t4 - t3;
  }
  const double mb = double(state.iterations()) * double(in.size()) / 1e6;
  state.counters["crcFull_MBps"] = mb / tFull;
  state.counters["crcFast_MBps"] = mb / tFast;
  state.counters["bytewise_crc16_MBps"] = mb / tByteWise;
  state.counters["zlib_crc32_MBps"] = mb / tZlib;
}
BENCHMARK(BM_Checksum)->Unit(benchmark::kMicrosecond)->MinTime(1.0);

// --- PPM against 7-Zip ---

struct TPPMCase {
  int order;
  int memoryMB;
};
TPPMCase PPMCase(int64_t level) {
  return level == int(sfs::ppmMax) ? TPPMCase{13, 50} : level == int(sfs::ppmFastest) ? TPPMCase{3, 10} : TPPMCase{5, 25};
}

double ChildrenCpu() {
  rusage u{};
  getrusage(RUSAGE_CHILDREN, &u);
  return double(u.ru_utime.tv_sec + u.ru_stime.tv_sec) + double(u.ru_utime.tv_usec + u.ru_stime.tv_usec) * 1e-6;
}

std::string SevenZip() {
  for (const char* name : {"7z", "7zz"}) {
    std::string probe = std::string("command -v ") + name + " >/dev/null 2>&1";
    if (std::system(probe.c_str()) == 0) return name;
  }
  return {};
}

// Wall-clock and processor seconds of one side's packing and unpacking.
struct TTimes {
  double packWall = 0, unpackWall = 0, packCpu = 0, unpackCpu = 0;
  TTimes& operator+=(const TTimes& t) {
    packWall += t.packWall;
    unpackWall += t.unpackWall;
    packCpu += t.packCpu;
    unpackCpu += t.unpackCpu;
    return *this;
  }
};

// Times Pack() and then Unpack(), processor time as Cpu() counts it.
template <class TCpu, class TPack, class TUnpack>
TTimes TimePackUnpack(TCpu Cpu, TPack Pack, TUnpack Unpack) {
  const auto w0 = Clock::now();
  const double c0 = Cpu();
  Pack();
  const auto w1 = Clock::now();
  const double c1 = Cpu();
  Unpack();
  const auto w2 = Clock::now();
  const double c2 = Cpu();
  return {Seconds(w1 - w0), Seconds(w2 - w1), c1 - c0, c2 - c1};
}

// Our speed in percent of theirs (100: as fast), one figure per iteration.
struct TSpeedRatios {
  std::vector<double> pack, unpack, packWall, unpackWall;
  void Add(const TTimes& ours, const TTimes& theirs) {
    pack.push_back(100.0 * theirs.packCpu / ours.packCpu);
    unpack.push_back(100.0 * theirs.unpackCpu / ours.unpackCpu);
    packWall.push_back(100.0 * theirs.packWall / ours.packWall);
    unpackWall.push_back(100.0 * theirs.unpackWall / ours.unpackWall);
  }
};

double Median(std::vector<double> v) {
  if (v.empty()) return 0;
  std::sort(v.begin(), v.end());
  const size_t m = v.size() / 2;
  return v.size() % 2 != 0 ? v[m] : (v[m - 1] + v[m]) / 2;
}

// Each iteration packs and unpacks the corpus with our coder and then with 7-Zip, so both sides
// see the same machine load. Processor time (ours: this thread; 7-Zip: its process) is the
// fairer figure on a busy machine; wall-clock is reported beside it. The speed figures are the
// medians of the iterations' own ratios: a moment when the machine is busy then moves one
// figure instead of the whole result.
void BM_PPMAgainst7Zip(benchmark::State& state) {
  const std::string tool = SevenZip();
  if (tool.empty()) {
    state.SkipWithError("no 7z command");
    for (auto _ : state) {
    }
    return;
  }
  const TPPMCase c = PPMCase(state.range(0));
  const auto& in = Corpus();
  const fs::path dir = fs::temp_directory_path() / ("bd_bench_codecs_" + std::to_string(::getpid()));
  fs::create_directories(dir);
  const fs::path corpus = dir / "corpus.txt", archive = dir / "corpus.7z";
  std::ofstream(corpus, std::ios::binary).write(reinterpret_cast<const char*>(in.data()), std::streamsize(in.size()));
  const std::string method = "-m0=PPMd:o=" + std::to_string(c.order) + ":mem=" + std::to_string(c.memoryMB) + "m";
  const std::string pack =
      tool + " a -t7z -mmt=1 -bd -bso0 -bsp0 " + method + " " + archive.string() + " " + corpus.string();
  const std::string unpack = tool + " e -so -bd -bsp0 " + archive.string() + " > /dev/null";
  std::vector<uint8_t> packed(in.size() + in.size() / 20 + 50), back(in.size());
  int32_t n = 0;
  TTimes ours, theirs;
  TSpeedRatios ratios;
  for (auto _ : state) {
    int32_t m = 0;
    const TTimes o = TimePackUnpack(
        ThreadCpu,
        [&] { n = sfs::PPMCompressBuffer(in.data(), int32_t(in.size()), packed.data(), int32_t(packed.size()), c.order,
                                         c.memoryMB); },
        [&] { m = sfs::PPMDecompressBuffer(packed.data(), n, back.data(), int32_t(back.size())); });
    if (n <= 0 || m != int32_t(in.size()) || back != in) state.SkipWithError("round trip");
    fs::remove(archive);
    const TTimes t = TimePackUnpack(
        ChildrenCpu, [&] { if (std::system(pack.c_str()) != 0) state.SkipWithError("7z a"); },
        [&] { if (std::system(unpack.c_str()) != 0) state.SkipWithError("7z e"); });
    ours += o;
    theirs += t;
    ratios.Add(o, t);
  }
  const double mb = double(state.iterations()) * double(in.size()) / 1e6;
  const auto theirSize = double(fs::file_size(archive));
  state.counters["ours_bytes"] = n;
  state.counters["7z_bytes"] = theirSize;
  state.counters["size_vs_7z_pct"] = (double(n) / theirSize - 1.0) * 100.0;
  state.counters["ours_pack_MBps"] = mb / ours.packCpu;
  state.counters["7z_pack_MBps"] = mb / theirs.packCpu;
  state.counters["ours_unpack_MBps"] = mb / ours.unpackCpu;
  state.counters["7z_unpack_MBps"] = mb / theirs.unpackCpu;
  // Our speed in percent of theirs (100: as fast), by processor time and by wall-clock; the
  // lowest iteration's figure beside the median.
  state.counters["pack_speed_pct"] = Median(ratios.pack);
  state.counters["unpack_speed_pct"] = Median(ratios.unpack);
  state.counters["pack_speed_min_pct"] = *std::min_element(ratios.pack.begin(), ratios.pack.end());
  state.counters["unpack_speed_min_pct"] = *std::min_element(ratios.unpack.begin(), ratios.unpack.end());
  state.counters["pack_speed_wall_pct"] = Median(ratios.packWall);
  state.counters["unpack_speed_wall_pct"] = Median(ratios.unpackWall);
  fs::remove_all(dir);
}
BENCHMARK(BM_PPMAgainst7Zip)->Arg(int(sfs::ppmNormal))->Arg(int(sfs::ppmMax))->Unit(benchmark::kMillisecond)
    ->Iterations(7);

// The layer in its own blocks (1 MiB / 1.5 MiB, a fresh model each): what containers get.
void BM_PPMLayerBlocks(benchmark::State& state) {
  const auto level = static_cast<sfs::TSFSCompressionLevel>(state.range(0));
  const auto& in = Corpus();
  const size_t block = size_t(sfs::SFSInternalGetBlockSize(level));
  size_t total = 0;
  for (auto _ : state) {
    total = 0;
    for (size_t pos = 0; pos < in.size(); pos += block) {
      sfs::TSFSBuffer out;
      int32_t size = 0;
      const size_t n = std::min(block, in.size() - pos);
      if (!sfs::SFSInternalCompressBuffer(in.data() + pos, int32_t(n), out, size, level)) state.SkipWithError("layer");
      total += size_t(size);
    }
  }
  state.counters["ratio_pct"] = 100.0 * double(total) / double(in.size());
  state.counters["pack_MBps"] =
      benchmark::Counter(double(in.size()) * double(state.iterations()) / 1e6, benchmark::Counter::kIsRate);
}
BENCHMARK(BM_PPMLayerBlocks)->Arg(int(sfs::ppmNormal))->Arg(int(sfs::ppmMax))->Unit(benchmark::kMillisecond)
    ->Iterations(1);

}  // namespace

BENCHMARK_MAIN();
