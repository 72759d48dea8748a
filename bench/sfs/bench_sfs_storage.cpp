// Container storage speed and scale, each figure measured against its comparison in the same
// run: sequential 64 KiB I/O on a plain file, in a container (plain and enciphered), in an SQLite
// blob; the page deciphering against one-pass cmCTS decoding; writing a 1 GiB file against a
// 64 MiB one; creating 200,000 small files against 100,000. The last benchmark prints the ratios.
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <sqlite3.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <map>
#include <random>
#include <string>
#include <vector>

#include "crypto/Rijndael.h"
#include "platform/Stream.h"
#include "sfs/SingleFileSystem.h"

namespace {

constexpr int64_t cMiB = 1 << 20;
constexpr int32_t cChunk = 64 * 1024;
constexpr int64_t cSeqSize = 256 * cMiB;

std::map<std::string, double> gSeconds;  // best time of each measurement

std::string Dir() {
  static const std::string dir = [] {
    std::string tmpl = (std::filesystem::temp_directory_path() / "bench-sfs-XXXXXX").string();
    return std::string(::mkdtemp(tmpl.data()));
  }();
  return dir;
}

const std::vector<uint8_t>& Chunk() {
  static const std::vector<uint8_t> data = [] {
    std::vector<uint8_t> v(cChunk);
    std::mt19937 rng(1);
    for (auto& b : v) b = static_cast<uint8_t>(rng());
    return v;
  }();
  return data;
}

double Now() {
  return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch()).count();
}

void Record(const std::string& name, double seconds) {
  auto it = gSeconds.find(name);
  if (it == gSeconds.end() || seconds < it->second) gSeconds[name] = seconds;
}

// --- plain file --------------------------------------------------------------------------------------

void BM_PlainFile(benchmark::State& state) {
  const std::string name = Dir() + "/plain.bin";
  for (auto _ : state) {
    double t0 = Now();
    const int fd = ::open(name.c_str(), O_CREAT | O_TRUNC | O_RDWR, 0644);
    for (int64_t done = 0; done < cSeqSize; done += cChunk)
      if (::write(fd, Chunk().data(), cChunk) != cChunk) state.SkipWithError("write");
    Record("file write", Now() - t0);
    std::vector<uint8_t> buf(cChunk);
    t0 = Now();
    ::lseek(fd, 0, SEEK_SET);
    for (int64_t done = 0; done < cSeqSize; done += cChunk)
      if (::read(fd, buf.data(), cChunk) != cChunk) state.SkipWithError("read");
    Record("file read", Now() - t0);
    ::close(fd);
  }
  std::filesystem::remove(name);
  state.SetBytesProcessed(state.iterations() * cSeqSize * 2);
}

// --- container -------------------------------------------------------------------------------------

void ContainerSequential(benchmark::State& state, const std::string& password, const std::string& label) {
  const std::string name = Dir() + "/seq.sfs";
  for (auto _ : state) {
    std::filesystem::remove(name);
    sfs::TSingleFileSystem fs;
    sfs::TSFSCreateOptions o;
    o.Password = password;
    fs.CreateContainer(name, o);
    double t0 = Now();
    int32_t h = fs.FileOpen("big", platform::fmCreate);
    for (int64_t done = 0; done < cSeqSize; done += cChunk)
      if (fs.FileWrite(h, Chunk().data(), cChunk) != cChunk) state.SkipWithError("write");
    fs.FileClose(h);
    Record(label + " write", Now() - t0);
    std::vector<uint8_t> buf(cChunk);
    t0 = Now();
    h = fs.FileOpen("big", platform::fmOpenRead);
    for (int64_t done = 0; done < cSeqSize; done += cChunk)
      if (fs.FileRead(h, buf.data(), cChunk) != cChunk) state.SkipWithError("read");
    fs.FileClose(h);
    Record(label + " read", Now() - t0);
    if (std::memcmp(buf.data(), Chunk().data(), cChunk) != 0) state.SkipWithError("content differs");
  }
  std::filesystem::remove(name);
  state.SetBytesProcessed(state.iterations() * cSeqSize * 2);
}

void BM_Container(benchmark::State& state) { ContainerSequential(state, "", "container"); }
void BM_ContainerEnciphered(benchmark::State& state) { ContainerSequential(state, "password", "enciphered"); }

// One cipher decoding the whole stream in 64 KiB calls: what deciphering costs at best.
void BM_CTSDecode(benchmark::State& state) {
  std::vector<uint8_t> buf(Chunk());
  for (auto _ : state) {
    crypto::TCipher_Rijndael cipher(std::string(33, 'k'));
    const double t0 = Now();
    for (int64_t done = 0; done < cSeqSize; done += cChunk) cipher.DecodeBuffer(buf.data(), buf.data(), cChunk);
    Record("cts decode", Now() - t0);
    benchmark::DoNotOptimize(buf.data());
  }
  state.SetBytesProcessed(state.iterations() * cSeqSize);
}

// --- SQLite blob ------------------------------------------------------------------------------------

void BM_SQLiteBlob(benchmark::State& state) {
  const std::string name = Dir() + "/blob.db";
  for (auto _ : state) {
    std::filesystem::remove(name);
    sqlite3* db = nullptr;
    sqlite3_open(name.c_str(), &db);
    sqlite3_exec(db, "PRAGMA synchronous=OFF; PRAGMA journal_mode=OFF; CREATE TABLE t(b BLOB);", nullptr, nullptr, nullptr);
    double t0 = Now();
    sqlite3_exec(db, "BEGIN", nullptr, nullptr, nullptr);
    sqlite3_stmt* st = nullptr;
    sqlite3_prepare_v2(db, "INSERT INTO t(rowid, b) VALUES(1, zeroblob(?))", -1, &st, nullptr);
    sqlite3_bind_int64(st, 1, cSeqSize);
    sqlite3_step(st);
    sqlite3_finalize(st);
    sqlite3_blob* blob = nullptr;
    sqlite3_blob_open(db, "main", "t", "b", 1, 1, &blob);
    for (int64_t done = 0; done < cSeqSize; done += cChunk)
      if (sqlite3_blob_write(blob, Chunk().data(), cChunk, static_cast<int>(done)) != SQLITE_OK) state.SkipWithError("blob write");
    sqlite3_blob_close(blob);
    sqlite3_exec(db, "COMMIT", nullptr, nullptr, nullptr);
    Record("sqlite write", Now() - t0);
    std::vector<uint8_t> buf(cChunk);
    t0 = Now();
    sqlite3_blob_open(db, "main", "t", "b", 1, 0, &blob);
    for (int64_t done = 0; done < cSeqSize; done += cChunk)
      if (sqlite3_blob_read(blob, buf.data(), cChunk, static_cast<int>(done)) != SQLITE_OK) state.SkipWithError("blob read");
    sqlite3_blob_close(blob);
    Record("sqlite read", Now() - t0);
    sqlite3_close(db);
  }
  std::filesystem::remove(name);
  state.SetBytesProcessed(state.iterations() * cSeqSize * 2);
}

// --- growth ----------------------------------------------------------------------------------------

void BM_Growth(benchmark::State& state) {
  const int64_t size = state.range(0) * cMiB;
  const std::string name = Dir() + "/grow.sfs";
  for (auto _ : state) {
    std::filesystem::remove(name);
    sfs::TSingleFileSystem fs;
    fs.CreateContainer(name);
    const double t0 = Now();
    const int32_t h = fs.FileOpen("big", platform::fmCreate);
    for (int64_t done = 0; done < size; done += cChunk)
      if (fs.FileWrite(h, Chunk().data(), cChunk) != cChunk) state.SkipWithError("write");
    fs.FileClose(h);
    Record("grow " + std::to_string(state.range(0)) + " MiB", Now() - t0);
    fs.Close();
    std::filesystem::remove(name);  // the 1 GiB case keeps no file behind
  }
  state.SetBytesProcessed(state.iterations() * size);
}

// --- many files ------------------------------------------------------------------------------------

void BM_ManyFiles(benchmark::State& state) {
  const int64_t count = state.range(0);
  const std::string name = Dir() + "/many.sfs";
  const std::vector<uint8_t> small(100, 'x');
  for (auto _ : state) {
    std::filesystem::remove(name);
    sfs::TSingleFileSystem fs;
    fs.CreateContainer(name);
    char fileName[32];
    const double t0 = Now();
    for (int64_t i = 0; i < count; ++i) {
      std::snprintf(fileName, sizeof fileName, "f%07lld", static_cast<long long>(i));
      const int32_t h = fs.FileOpen(fileName, platform::fmCreate);
      if (h <= 0 || fs.FileWrite(h, small.data(), 100) != 100) state.SkipWithError("create");
      fs.FileClose(h);
    }
    Record("files " + std::to_string(count), Now() - t0);
    fs.Close();
    std::filesystem::remove(name);
  }
  state.counters["files/s"] = benchmark::Counter(static_cast<double>(count * state.iterations()), benchmark::Counter::kIsRate);
}

// --- the comparisons -------------------------------------------------------------------------------

void BM_Ratios(benchmark::State& state) {
  for (auto _ : state) {
  }
  auto s = [](const char* k) { return gSeconds.count(k) ? gSeconds[k] : 0.0; };
  auto ratio = [](double ours, double theirs) { return ours > 0 ? theirs / ours : 0.0; };
  // Speed ratios: > 1 means faster than the comparison.
  state.counters["read/file"] = ratio(s("container read"), s("file read"));          // goal >= 0.7
  state.counters["write/file"] = ratio(s("container write"), s("file write"));       // goal >= 0.5
  state.counters["encread/cts"] = ratio(s("enciphered read"), s("cts decode"));      // goal >= 0.7
  state.counters["read/sqlite"] = ratio(s("container read"), s("sqlite read"));
  state.counters["write/sqlite"] = ratio(s("container write"), s("sqlite write"));
  // Cost ratios: per byte and per file, larger over smaller.
  const double g64 = s("grow 64 MiB") / 64, g1024 = s("grow 1024 MiB") / 1024;
  state.counters["grow1G/64M"] = g64 > 0 ? g1024 / g64 : 0;                            // goal <= 1.3
  state.counters["files200k/100k"] = s("files 100000") > 0 ? s("files 200000") / s("files 100000") : 0;  // goal <= 2.2
  for (const auto& [k, v] : gSeconds) std::printf("  %-18s %8.3f s\n", k.c_str(), v);
  std::error_code ec;
  std::filesystem::remove_all(Dir(), ec);
}

}  // namespace

BENCHMARK(BM_PlainFile)->Iterations(3)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Container)->Iterations(3)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ContainerEnciphered)->Iterations(2)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_CTSDecode)->Iterations(2)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_SQLiteBlob)->Iterations(2)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Growth)->Arg(64)->Iterations(3)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Growth)->Arg(1024)->Iterations(1)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ManyFiles)->Arg(100000)->Iterations(1)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ManyFiles)->Arg(200000)->Iterations(1)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Ratios)->Iterations(1);

BENCHMARK_MAIN();
