// Container storage speed and scale, each figure measured beside its comparison in the same
// iteration, so that a busy machine slows both alike: sequential 64 KiB I/O on a plain file, on a
// plain file at the offset the container's pages sit at, in a container (plain and enciphered)
// and in an SQLite blob; one-pass cmCTS decoding; writing a 1 GiB file against a 64 MiB one;
// creating 200,000 small files against 100,000. Every measurement keeps its best wall time and
// its best processor time of the calling thread (which includes the system's copying for it);
// the last benchmark prints both and the ratios the goals name, and for the 200,000 files also
// the same comparisons taken inside one run (the whole against its own first part), as the
// median of the runs.
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <sqlite3.h>
#include <sys/mman.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <functional>
#include <map>
#include <random>
#include <string>
#include <vector>

#include "crypto/Rijndael.h"
#include "platform/Stream.h"
#include "sfs/ContainerFormat.h"
#include "sfs/SingleFileSystem.h"

namespace {

constexpr int64_t cMiB = 1 << 20;
constexpr int32_t cChunk = 64 * 1024;
constexpr int64_t cSeqSize = 256 * cMiB;

struct TTimes {
  double Wall = 0, Cpu = 0;
};
TTimes operator-(TTimes a, TTimes b) { return {a.Wall - b.Wall, a.Cpu - b.Cpu}; }
TTimes& operator+=(TTimes& a, TTimes b) {
  a.Wall += b.Wall;
  a.Cpu += b.Cpu;
  return a;
}
std::map<std::string, TTimes> gBest;  // the best times of each measurement
// A comparison taken inside one run: one ratio per iteration (wall and processor time), of which
// the median is shown beside its goal.
struct TSameRun {
  const char* Goal;
  std::vector<TTimes> Ratios;
};
std::map<std::string, TSameRun> gSameRun;

// Keeps, under Name, the ratio of a run's whole cost to Units times that of its first part.
void KeepSameRun(const std::string& Name, const char* Goal, TTimes Whole, TTimes Part, double Units) {
  if (Part.Wall <= 0 || Part.Cpu <= 0) return;
  TSameRun& r = gSameRun[Name];
  r.Goal = Goal;
  r.Ratios.push_back({Whole.Wall / Part.Wall / Units, Whole.Cpu / Part.Cpu / Units});
}

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

double WallNow() {
  return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch()).count();
}

double CpuNow() {
  timespec t{};
  ::clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
  return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_nsec) * 1e-9;
}

TTimes Now() { return {WallNow(), CpuNow()}; }

// Fresh memory, touched when made and given back a piece at a time while a measurement runs.
// On a virtual machine whose host backs guest memory only when it is first used and takes freed
// memory back within about a second, the first touch of a page costs about ten times an
// ordinary one (measured: 4 s against 0.4 s per GiB), so a measurement that needs more new
// page-cache memory than the guest happens to hold ready slows down by chance, at a different
// point in every run. Memory touched beforehand and given back just before the measurement
// needs it is reused at once, before the host can take it.
class TReadyMemory {
 public:
  explicit TReadyMemory(int64_t Bytes) : FLength(static_cast<size_t>(Bytes)) {
    void* p = ::mmap(nullptr, FLength, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (p == MAP_FAILED) return;
    FBase = static_cast<uint8_t*>(p);
    for (size_t i = 0; i < FLength; i += FPage) static_cast<volatile uint8_t*>(FBase)[i] = 1;
  }
  ~TReadyMemory() {
    if (FBase != nullptr && FGiven < FLength) ::munmap(FBase + FGiven, FLength - FGiven);
  }
  TReadyMemory(const TReadyMemory&) = delete;
  TReadyMemory& operator=(const TReadyMemory&) = delete;

  // Gives back the next Bytes (whole pages); returns the time that took, which the caller keeps
  // out of its measurement.
  TTimes GiveBack(int64_t Bytes) {
    const TTimes t0 = Now();
    const size_t n = std::min(FLength - FGiven, static_cast<size_t>(Bytes) / FPage * FPage);
    if (FBase != nullptr && n > 0) ::munmap(FBase + FGiven, n);
    FGiven += n;
    return Now() - t0;
  }

 private:
  const size_t FPage = static_cast<size_t>(::sysconf(_SC_PAGESIZE));
  uint8_t* FBase = nullptr;
  size_t FLength;
  size_t FGiven = 0;
};

// Keeps Times under Name when they are the best so far.
void Keep(const std::string& Name, TTimes Times) {
  TTimes& b = gBest[Name];
  if (b.Wall == 0 || Times.Wall < b.Wall) b.Wall = Times.Wall;
  if (b.Cpu == 0 || Times.Cpu < b.Cpu) b.Cpu = Times.Cpu;
}

// Runs Work once and keeps its times under Name. The writes of earlier measurements reach the
// disk first, so that their write-back does not run inside this one.
void Measure(const std::string& Name, const std::function<void()>& Work) {
  ::sync();
  const TTimes t0 = Now();
  Work();
  Keep(Name, Now() - t0);
}

// Runs Step(0) .. Step(Count - 1) after a sync, with BytesPerStep of memory per step made
// ready before and given back about a MiB at a time as the steps go (see TReadyMemory), the
// giving back kept out of the times. Returns the times of all steps; Part, when given, gets those
// of the first PartSteps.
TTimes MeasureSteps(int64_t Count, int64_t BytesPerStep, const std::function<void(int64_t)>& Step,
                    TTimes* Part = nullptr, int64_t PartSteps = 0) {
  const int64_t every = std::max<int64_t>(1, cMiB / BytesPerStep);
  ::sync();
  TReadyMemory ready(Count * BytesPerStep);
  TTimes aside;
  const TTimes t0 = Now();
  for (int64_t i = 0; i < Count; ++i) {
    if (Part != nullptr && i == PartSteps) *Part = Now() - t0 - aside;
    if (i % every == 0) aside += ready.GiveBack(every * BytesPerStep);
    Step(i);
  }
  return Now() - t0 - aside;
}

// --- sequential I/O ---------------------------------------------------------------------------

// 256 MiB written and read back in 64 KiB calls on a plain file, starting at byte Offset.
void PlainFile(benchmark::State& state, int64_t Offset, const std::string& Label) {
  const std::string name = Dir() + "/plain.bin";
  const int fd = ::open(name.c_str(), O_CREAT | O_TRUNC | O_RDWR, 0644);
  Measure(Label + " write", [&] {
    for (int64_t done = 0; done < cSeqSize; done += cChunk)
      if (::pwrite(fd, Chunk().data(), cChunk, Offset + done) != cChunk) state.SkipWithError("write");
  });
  std::vector<uint8_t> buf(cChunk);
  Measure(Label + " read", [&] {
    for (int64_t done = 0; done < cSeqSize; done += cChunk)
      if (::pread(fd, buf.data(), cChunk, Offset + done) != cChunk) state.SkipWithError("read");
  });
  ::close(fd);
  std::filesystem::remove(name);
}

void Container(benchmark::State& state, const std::string& Password, const std::string& Label) {
  const std::string name = Dir() + "/seq.sfs";
  std::filesystem::remove(name);
  sfs::TSingleFileSystem fs;
  sfs::TSFSCreateOptions o;
  o.Password = Password;
  fs.CreateContainer(name, o);
  Measure(Label + " write", [&] {
    const int32_t h = fs.FileOpen("big", platform::fmCreate);
    for (int64_t done = 0; done < cSeqSize; done += cChunk)
      if (fs.FileWrite(h, Chunk().data(), cChunk) != cChunk) state.SkipWithError("write");
    fs.FileClose(h);
  });
  std::vector<uint8_t> buf(cChunk);
  Measure(Label + " read", [&] {
    const int32_t h = fs.FileOpen("big", platform::fmOpenRead);
    for (int64_t done = 0; done < cSeqSize; done += cChunk)
      if (fs.FileRead(h, buf.data(), cChunk) != cChunk) state.SkipWithError("read");
    fs.FileClose(h);
  });
  if (std::memcmp(buf.data(), Chunk().data(), cChunk) != 0) state.SkipWithError("content differs");
  fs.Close();
  std::filesystem::remove(name);
}

// One cipher decoding the whole stream in 64 KiB calls: what deciphering costs at best.
void CTSDecode() {
  std::vector<uint8_t> buf(Chunk());
  crypto::TCipher_Rijndael cipher(std::string(33, 'k'));
  Measure("cts decode", [&] {
    for (int64_t done = 0; done < cSeqSize; done += cChunk) cipher.DecodeBuffer(buf.data(), buf.data(), cChunk);
  });
  benchmark::DoNotOptimize(buf.data());
}

void SQLiteBlob(benchmark::State& state) {
  const std::string name = Dir() + "/blob.db";
  std::filesystem::remove(name);
  sqlite3* db = nullptr;
  sqlite3_open(name.c_str(), &db);
  sqlite3_exec(db, "PRAGMA synchronous=OFF; PRAGMA journal_mode=OFF; CREATE TABLE t(b BLOB);", nullptr, nullptr, nullptr);
  Measure("sqlite write", [&] {
    sqlite3_exec(db, "BEGIN", nullptr, nullptr, nullptr);
    sqlite3_stmt* st = nullptr;
    sqlite3_prepare_v2(db, "INSERT INTO t(rowid, b) VALUES(1, zeroblob(?))", -1, &st, nullptr);
    sqlite3_bind_int64(st, 1, cSeqSize);
    sqlite3_step(st);
    sqlite3_finalize(st);
    sqlite3_blob* blob = nullptr;
    sqlite3_blob_open(db, "main", "t", "b", 1, 1, &blob);
    for (int64_t done = 0; done < cSeqSize; done += cChunk)
      if (sqlite3_blob_write(blob, Chunk().data(), cChunk, static_cast<int>(done)) != SQLITE_OK)
        state.SkipWithError("blob write");
    sqlite3_blob_close(blob);
    sqlite3_exec(db, "COMMIT", nullptr, nullptr, nullptr);
  });
  std::vector<uint8_t> buf(cChunk);
  Measure("sqlite read", [&] {
    sqlite3_blob* blob = nullptr;
    sqlite3_blob_open(db, "main", "t", "b", 1, 0, &blob);
    for (int64_t done = 0; done < cSeqSize; done += cChunk)
      if (sqlite3_blob_read(blob, buf.data(), cChunk, static_cast<int>(done)) != SQLITE_OK)
        state.SkipWithError("blob read");
    sqlite3_blob_close(blob);
  });
  sqlite3_close(db);
  std::filesystem::remove(name);
}

// Every sequential measurement once per iteration, one after the other.
void BM_Sequential(benchmark::State& state) {
  for (auto _ : state) {
    PlainFile(state, 0, "file");
    // Where the container's pages lie: behind the 280-byte part header, so every page spans two
    // blocks of the file system. The I/O floor of the container's own layout.
    PlainFile(state, sfs::HFPHeaderSize, "file+280");
    Container(state, "", "container");
    Container(state, "password", "enciphered");
    CTSDecode();
    SQLiteBlob(state);
  }
  state.SetBytesProcessed(state.iterations() * cSeqSize * 11);
}

// --- growth ------------------------------------------------------------------------------------

// A 64 KiB write into a container takes 17 pages of 4096 bytes (16 and a bit of data areas).
constexpr int64_t cContainerBytesPerChunk = 17 * 4096;

constexpr int64_t cSmallGrowth = 64;  // MiB

// A file of MiB MiB written in 64 KiB calls. A larger file's cost per byte is also compared with
// that of its own first 64 MiB, which are the very writes of a 64 MiB file (see ManyFiles).
void Grow(benchmark::State& state, int64_t MiB) {
  const std::string name = Dir() + "/grow.sfs";
  std::filesystem::remove(name);
  sfs::TSingleFileSystem fs;
  fs.CreateContainer(name);
  const int32_t h = fs.FileOpen("big", platform::fmCreate);
  const auto write = [&](int64_t) {
    if (fs.FileWrite(h, Chunk().data(), cChunk) != cChunk) state.SkipWithError("write");
  };
  TTimes first;
  const TTimes whole =
      MeasureSteps(MiB * cMiB / cChunk, cContainerBytesPerChunk, write, &first, cSmallGrowth * cMiB / cChunk);
  Keep("grow " + std::to_string(MiB) + " MiB", whole);
  if (MiB > cSmallGrowth)
    KeepSameRun("grow 1G / 1st 64M", "<= 1.3", whole, first, static_cast<double>(MiB) / cSmallGrowth);
  fs.FileClose(h);
  fs.Close();
  std::filesystem::remove(name);  // the 1 GiB case keeps no file behind
}

void BM_Growth(benchmark::State& state) {
  for (auto _ : state) {
    Grow(state, cSmallGrowth);
    Grow(state, 1024);
  }
  state.SetBytesProcessed(state.iterations() * (cSmallGrowth + 1024) * cMiB);
}

// --- many files --------------------------------------------------------------------------------

// A file of 100 bytes takes a data page, a page-map page and a 512-byte directory record; with
// room for the maps and the page cache's own bookkeeping.
constexpr int64_t cPageCacheBytesPerFile = 10 * 1024;

// Count files of 100 bytes, named in order or (Shuffled) in an order that spreads them over the
// name index, as real names arrive, with the memory they need made ready (see MeasureSteps).
// Beside the whole, the run's cost over its first half is kept as a ratio (SameRun names it): the
// two come from the same moments of the machine, where the best of separate runs favours the
// shorter one, which is likelier to fit a quiet moment.
void ManyFiles(benchmark::State& state, int64_t Count, bool Shuffled, const char* SameRun = nullptr) {
  const std::string name = Dir() + "/many.sfs";
  std::filesystem::remove(name);
  const std::vector<uint8_t> small(100, 'x');
  sfs::TSingleFileSystem fs;
  fs.CreateContainer(name);
  char fileName[32];
  const auto create = [&](int64_t i) {
    // 7919 is prime and divides no count used here: every number comes once.
    const int64_t n = Shuffled ? i * 7919 % Count : i;
    std::snprintf(fileName, sizeof fileName, "f%07lld", static_cast<long long>(n));
    const int32_t h = fs.FileOpen(fileName, platform::fmCreate);
    if (h <= 0 || fs.FileWrite(h, small.data(), 100) != 100) state.SkipWithError("create");
    fs.FileClose(h);
  };
  TTimes half;
  const TTimes whole = MeasureSteps(Count, cPageCacheBytesPerFile, create, &half, Count / 2);
  Keep("files " + std::to_string(Count) + (Shuffled ? " shuffled" : ""), whole);
  if (SameRun != nullptr) KeepSameRun(SameRun, "<= 2.2", whole, half, 1);
  fs.Close();
  std::filesystem::remove(name);
}

void BM_ManyFiles(benchmark::State& state) {
  for (auto _ : state) {
    for (bool shuffled : {false, true}) {
      ManyFiles(state, 100000, shuffled);
      ManyFiles(state, 200000, shuffled, shuffled ? "shuffled 200k / 1st half" : "files 200k / 1st half");
    }
  }
  state.counters["files"] = static_cast<double>(state.iterations() * 600000);
}

// --- the comparisons ---------------------------------------------------------------------------

void BM_Ratios(benchmark::State& state) {
  for (auto _ : state) {
  }
  auto get = [](const char* k, bool cpu) {
    const auto it = gBest.find(k);
    return it == gBest.end() ? 0.0 : (cpu ? it->second.Cpu : it->second.Wall);
  };
  // Speed ratios: ours against the comparison, > 1 means faster.
  auto speed = [&](const char* ours, const char* theirs, bool cpu) {
    return get(ours, cpu) > 0 ? get(theirs, cpu) / get(ours, cpu) : 0.0;
  };
  std::printf("\n  %-22s %9s %9s\n", "measurement", "wall s", "cpu s");
  for (const auto& [k, v] : gBest) std::printf("  %-22s %9.3f %9.3f\n", k.c_str(), v.Wall, v.Cpu);
  struct TGoal {
    const char *name, *ours, *theirs, *goal;
    bool cost;  // a cost ratio (larger over smaller, per unit), not a speed ratio
    double units;
  } goals[] = {
      {"read / file", "container read", "file read", ">= 0.7", false, 1},
      {"write / file", "container write", "file write", ">= 0.5", false, 1},
      {"enc read / cts", "enciphered read", "cts decode", ">= 0.7", false, 1},
      {"read / file+280", "container read", "file+280 read", "", false, 1},
      {"write / file+280", "container write", "file+280 write", "", false, 1},
      {"read / sqlite", "container read", "sqlite read", "", false, 1},
      {"write / sqlite", "container write", "sqlite write", "", false, 1},
      {"enc read / read", "enciphered read", "container read", "", false, 1},
      {"grow 1G / 64M per byte", "grow 1024 MiB", "grow 64 MiB", "<= 1.3", true, 16},
      {"files 200k / 100k", "files 200000", "files 100000", "<= 2.2", true, 1},
      {"shuffled 200k / 100k", "files 200000 shuffled", "files 100000 shuffled", "<= 2.2", true, 1},
  };
  std::printf("\n  %-24s %8s %8s  %s\n", "ratio", "wall", "cpu", "goal");
  for (const TGoal& g : goals) {
    if (!gBest.contains(g.ours) || !gBest.contains(g.theirs)) continue;  // its group did not run
    double r[2];
    for (int cpu = 0; cpu < 2; ++cpu) {
      if (g.cost) {
        const double small = get(g.theirs, cpu);
        r[cpu] = small > 0 ? get(g.ours, cpu) / small / g.units : 0;
      } else {
        r[cpu] = speed(g.ours, g.theirs, cpu);
      }
    }
    std::printf("  %-24s %8.3f %8.3f  %s\n", g.name, r[0], r[1], g.goal);
    state.counters[g.name] = r[1];
  }
  for (const auto& [name, run] : gSameRun) {
    const auto median = [&run](double TTimes::*Field) {
      std::vector<double> v;
      for (const TTimes& t : run.Ratios) v.push_back(t.*Field);
      std::nth_element(v.begin(), v.begin() + static_cast<std::ptrdiff_t>(v.size() / 2), v.end());
      return v[v.size() / 2];
    };
    std::printf("  %-24s %8.3f %8.3f  %s (median of %zu runs)\n", name.c_str(), median(&TTimes::Wall),
                median(&TTimes::Cpu), run.Goal, run.Ratios.size());
    state.counters[name] = median(&TTimes::Cpu);
  }
  std::error_code ec;
  std::filesystem::remove_all(Dir(), ec);
}

}  // namespace

BENCHMARK(BM_Sequential)->Iterations(5)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Growth)->Iterations(3)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ManyFiles)->Iterations(3)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Ratios)->Iterations(1);

BENCHMARK_MAIN();
