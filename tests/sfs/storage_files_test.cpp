// Physical files and the multi-part huge file.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <fstream>

#include "platform/Exception.h"
#include "sfs/AbstractFile.h"
#include "sfs/HugeFile.h"
#include "sfs/MappingGuard.h"
#include "storage_support.h"

using namespace sfs;
using sfs_test::RandomBytes;
using sfs_test::TTempDir;

namespace {

std::vector<uint8_t> ReadAll(const std::string& name) {
  std::ifstream in(name, std::ios::binary);
  return std::vector<uint8_t>(std::istreambuf_iterator<char>(in), {});
}

TSFSHugeFilePartitionHeader HeaderAt(const std::vector<uint8_t>& bytes, size_t pos) {
  TSFSHugeFilePartitionHeader h{};
  std::memcpy(&h, bytes.data() + pos, sizeof(h));
  return h;
}

std::string ThrownMessage(const std::function<void()>& f) {
  try {
    f();
  } catch (const platform::Exception& e) {
    return e.what();
  }
  return "(nothing thrown)";
}

}  // namespace

TEST(StorageDiskFile, ReadWriteSeekTruncateAndSize) {
  TTempDir dir;
  TSFSDiskFile f(dir / "a.bin", false, false);
  EXPECT_EQ(f.Directory(), dir.Path() + "/");
  ASSERT_TRUE(f.Open(true));
  EXPECT_EQ(f.Write("hello world", 11), 11);
  EXPECT_EQ(f.GetSize(), 11);
  EXPECT_EQ(f.Seek(-5, 2), 6);
  char buf[16] = {};
  EXPECT_EQ(f.Read(buf, 16), 5);
  EXPECT_STREQ(buf, "world");
  f.SetPosition(5);
  EXPECT_EQ(f.Write(buf, 0), 0);  // count 0 truncates at the position
  EXPECT_EQ(f.GetSize(), 5);
  f.SetSize(100);
  EXPECT_EQ(f.GetSize(), 100);
  f.Close();
  // Open without create needs an existing file; a read-only file refuses writes.
  TSFSDiskFile missing(dir / "none", false, false);
  EXPECT_FALSE(missing.Open(false));
  TSFSDiskFile ro(dir / "a.bin", true, false);
  ASSERT_TRUE(ro.Open(false));
  EXPECT_EQ(ro.Write("x", 1), 0);
  EXPECT_EQ(ro.GetSize(), 100);
}

TEST(StorageDiskFile, ReadsFollowTheFileAsItGrowsAndShrinks) {
  TTempDir dir;
  TSFSDiskFile f(dir / "grow.bin", false, false);
  ASSERT_TRUE(f.Open(true));
  const std::vector<uint8_t> first = RandomBytes(5000, 1);
  ASSERT_EQ(f.Write(first.data(), 5000), 5000);
  std::vector<uint8_t> got(5000);
  f.SetPosition(0);
  ASSERT_EQ(f.Read(got.data(), 5000), 5000);
  EXPECT_EQ(got, first);
  // Far past what the first read saw: the reads follow.
  const std::vector<uint8_t> more = RandomBytes(3 << 20, 2);
  f.SetPosition(5000);
  ASSERT_EQ(f.Write(more.data(), static_cast<int32_t>(more.size())), static_cast<int32_t>(more.size()));
  got.assign(more.size(), 0);
  f.SetPosition(5000);
  ASSERT_EQ(f.Read(got.data(), static_cast<int32_t>(got.size())), static_cast<int32_t>(more.size()));
  EXPECT_EQ(got, more);
  // Shrunk, the end is where it now is; grown again, the new bytes are zeros, not the old ones.
  f.SetSize(6000);
  f.SetPosition(5500);
  EXPECT_EQ(f.Read(got.data(), 4096), 500);
  f.SetSize(10000);
  f.SetPosition(6000);
  ASSERT_EQ(f.Read(got.data(), 4000), 4000);
  EXPECT_TRUE(std::all_of(got.begin(), got.begin() + 4000, [](uint8_t b) { return b == 0; }));
  // Scattered reads take the same bytes, here across the end of the first write.
  std::vector<uint8_t> model(first);
  model.insert(model.end(), more.begin(), more.begin() + 1000);
  uint8_t a[100], b[900];
  const iovec pieces[] = {{a, sizeof(a)}, {b, sizeof(b)}};
  f.SetPosition(4500);
  ASSERT_EQ(f.ReadV(pieces, 2), 1000);
  EXPECT_EQ(std::memcmp(a, model.data() + 4500, 100), 0);
  EXPECT_EQ(std::memcmp(b, model.data() + 4600, 900), 0);
  EXPECT_EQ(f.GetPosition(), 5500);
}

// Growing with a limit set holds bytes in reserve past the size: nothing a caller sees shows
// them, and closing gives them back.
TEST(StorageDiskFile, GrowthReserveIsInvisibleAndGivenBackOnClose) {
  TTempDir dir;
  const std::string name = dir / "reserve.bin";
  constexpr int64_t cMiB = 1 << 20, cLimit = 3 * cMiB + 100;
  const bool roomy = std::filesystem::space(dir.Path()).available > 1024 * cMiB;
  TSFSDiskFile f(name, false, false);
  f.SetGrowthLimit(cLimit);
  ASSERT_TRUE(f.Open(true));
  f.SetSize(6000);
  EXPECT_EQ(f.GetSize(), 6000);
  if (roomy) {
    EXPECT_EQ(std::filesystem::file_size(name), static_cast<uintmax_t>(cMiB));
  }
  EXPECT_EQ(f.Seek(0, 2), 6000);
  std::vector<uint8_t> got(100, 0xCC);
  f.SetPosition(5990);
  EXPECT_EQ(f.Read(got.data(), 100), 10);
  EXPECT_EQ(f.Read(got.data(), 100), 0);
  // Writes grow the size into the reserve and past it.
  const std::vector<uint8_t> data = RandomBytes(100, 4);
  f.SetPosition(6000);
  ASSERT_EQ(f.Write(data.data(), 100), 100);
  EXPECT_EQ(f.GetSize(), 6100);
  f.SetPosition(cMiB - 10);
  const iovec piece{const_cast<uint8_t*>(data.data()), 100};
  ASSERT_EQ(f.WriteV(&piece, 1), 100);
  EXPECT_EQ(f.GetSize(), cMiB + 90);
  f.SetPosition(cMiB - 10);
  ASSERT_EQ(f.Read(got.data(), 100), 100);
  EXPECT_EQ(got, data);
  // Shrinking and growing again: the bytes past the cut come back as zeros.
  f.SetSize(cMiB + 50);
  f.SetSize(2 * cMiB);
  f.SetPosition(cMiB + 40);
  ASSERT_EQ(f.Read(got.data(), 20), 20);
  EXPECT_EQ(std::memcmp(got.data(), data.data() + 50, 10), 0);
  EXPECT_TRUE(std::all_of(got.begin() + 10, got.begin() + 20, [](uint8_t b) { return b == 0; }));
  // The reserve stops at the limit; growth past it is exact.
  f.SetSize(3 * cMiB);
  EXPECT_LE(std::filesystem::file_size(name), static_cast<uintmax_t>(cLimit));
  f.SetSize(cLimit + 5);
  EXPECT_EQ(std::filesystem::file_size(name), static_cast<uintmax_t>(cLimit + 5));
  f.SetSize(100);
  f.SetSize(5000);
  f.Close();
  EXPECT_EQ(std::filesystem::file_size(name), 5000u);
}

// A process under a file-size limit, with the default handling of the signal that breaking it
// raises: growth the limit allows never dies of a reserve past it.
TEST(StorageDiskFile, AReserveStaysWithinTheFileSizeLimit) {
  TTempDir dir;
  const std::string name = dir / "limited.bin";
  const pid_t pid = ::fork();
  ASSERT_GE(pid, 0);
  if (pid == 0) {
    rlimit lim{};
    lim.rlim_cur = lim.rlim_max = 3 << 19;  // 1.5 MiB
    ::setrlimit(RLIMIT_FSIZE, &lim);
    TSFSDiskFile f(name, false, false);
    f.SetGrowthLimit(int64_t{1} << 40);
    int code = f.Open(true) ? 0 : 1;
    f.SetSize((1 << 20) + 100);
    if (f.GetSize() != (1 << 20) + 100) code = 2;
    f.Close();
    ::_exit(code);
  }
  int status = 0;
  ASSERT_EQ(::waitpid(pid, &status, 0), pid);
  ASSERT_TRUE(WIFEXITED(status)) << "ended by signal " << WTERMSIG(status);
  EXPECT_EQ(WEXITSTATUS(status), 0);
  EXPECT_EQ(std::filesystem::file_size(name), (1u << 20) + 100u);
}

TEST(StorageDiskFile, AFileShrunkByAnotherHolderGivesAShortReadNotACrash) {
  TTempDir dir;
  TSFSDiskFile f(dir / "shrunk.bin", false, false);
  ASSERT_TRUE(f.Open(true));
  const std::vector<uint8_t> data = RandomBytes(1 << 20, 3);
  ASSERT_EQ(f.Write(data.data(), static_cast<int32_t>(data.size())), static_cast<int32_t>(data.size()));
  std::vector<uint8_t> got(65536);
  f.SetPosition(0);
  ASSERT_EQ(f.Read(got.data(), 4096), 4096);
  // Behind this object's back: the bytes it last saw as the file's are gone.
  ASSERT_EQ(::truncate((dir / "shrunk.bin").c_str(), 8192), 0);
  f.SetPosition(512 * 1024);
  EXPECT_EQ(f.Read(got.data(), 65536), 0);
  f.SetPosition(4096);
  EXPECT_EQ(f.Read(got.data(), 65536), 4096);
  EXPECT_EQ(std::memcmp(got.data(), data.data() + 4096, 4096), 0);
}

// The guard takes only faults on the bytes it watches: one elsewhere during a visit ends the
// process as it would without the guard, rather than passing for a vanished page.
TEST(StorageMappingGuard, OnlyFaultsOnTheVisitedBytesEndAVisit) {
  TTempDir dir;
  const std::string name = dir / "two-pages.bin";
  const auto page = static_cast<size_t>(::sysconf(_SC_PAGESIZE));
  std::ofstream(name, std::ios::binary) << std::string(2 * page, 'x');
  const int fd = ::open(name.c_str(), O_RDONLY);
  ASSERT_GE(fd, 0);
  void* view = ::mmap(nullptr, 2 * page, PROT_READ, MAP_SHARED, fd, 0);
  ASSERT_NE(view, MAP_FAILED);
  const auto* bytes = static_cast<const uint8_t*>(view);
  ASSERT_EQ(::truncate(name.c_str(), static_cast<off_t>(page)), 0);
  // A visitor that reads the byte at At, wherever the visit is.
  const auto touch = [](const uint8_t* At) {
    return [At](const uint8_t*) { (void)*static_cast<const volatile uint8_t*>(At); };
  };
  EXPECT_TRUE(VisitMapping(bytes, page, touch(bytes)));
  EXPECT_FALSE(VisitMapping(bytes + page, page, touch(bytes + page)));
  EXPECT_DEATH(VisitMapping(bytes, page, touch(bytes + page)), "");
  ::munmap(view, 2 * page);
  ::close(fd);
}

TEST(StorageDiskFile, ExclusiveOpenLocksOutOthers) {
  TTempDir dir;
  TSFSDiskFile a(dir / "x", false, true);
  ASSERT_TRUE(a.Open(true));
  TSFSDiskFile b(dir / "x", false, true);
  EXPECT_FALSE(b.Open(false));
  a.Close();
  EXPECT_TRUE(b.Open(false));
}

TEST(StorageMemoryFile, OnlyCreationAndStreamSemantics) {
  TSFSMemoryFile m("mem", false, false);
  EXPECT_EQ(ThrownMessage([&] { m.Open(false); }),
            "TSFSMemoryFile.Open - File cannot be open, only creation is available.");
  ASSERT_TRUE(m.Open(true));
  m.SetPosition(10);
  EXPECT_EQ(m.Write("ab", 2), 2);  // the gap is zero-filled
  EXPECT_EQ(m.GetSize(), 12);
  m.SetPosition(0);
  uint8_t buf[20];
  EXPECT_EQ(m.Read(buf, 20), 12);
  EXPECT_EQ(buf[0], 0);
  EXPECT_EQ(buf[10], 'a');
}

TEST(StorageFaultFile, FailsTheNthOperation) {
  auto plan = std::make_shared<TSFSFaultPlan>();
  plan->Kinds = TSFSFaultPlan::fkWrite;
  plan->FailAt = 2;
  plan->Sticky = false;
  auto inner = std::make_unique<TSFSMemoryFile>("m", false, false);
  TSFSFaultFile f(std::move(inner), plan);
  ASSERT_TRUE(f.Open(true));
  EXPECT_EQ(f.Write("a", 1), 1);
  EXPECT_EQ(f.Write("b", 1), 0);
  EXPECT_EQ(f.Write("c", 1), 1);
  EXPECT_EQ(plan->Failures, 1);
}

// D = 1000 logical bytes per part, part size 1280.
TEST(StorageHugeFile, PartBoundaryPositions) {
  struct Case {
    int64_t stub, pos;
    int32_t fileNo;
    int64_t offset;
  } cases[] = {
      {0, 0, 0, 0}, {0, 999, 0, 999}, {0, 1000, 1, 0}, {0, 2500, 2, 500},
      {100, 0, 0, 0}, {100, 899, 0, 899}, {100, 900, 1, 0}, {100, 1900, 2, 0},
  };
  for (const Case& c : cases) {
    TSFSHugeFile h("unused", false, false, true, 1280, c.stub);
    int32_t no = -1;
    int64_t off = -1;
    h.GetFileNoAndOffset(c.pos, no, off);
    EXPECT_EQ(no, c.fileNo) << "stub " << c.stub << " pos " << c.pos;
    EXPECT_EQ(off, c.offset) << "stub " << c.stub << " pos " << c.pos;
  }
}

TEST(StorageHugeFile, BytesLandAtThePhysicalPositions) {
  for (int64_t stub : {0, 100}) {
    TTempDir dir;
    const std::string name = dir / "c.sfs";
    std::vector<uint8_t> stubBytes(static_cast<size_t>(stub), 0xEE);
    TSFSHugeFile h(name, false, false, false, 1280, stub);
    ASSERT_TRUE(h.CreateFilesChain(stubBytes));
    const auto data = RandomBytes(2300, 7);
    h.SetPosition(0);
    h.WriteBuffer(data.data(), static_cast<int32_t>(data.size()));
    EXPECT_EQ(h.GetSize(), 2300);
    EXPECT_EQ(h.PartCount(), stub == 0 ? 3 : 3);
    const auto p0 = ReadAll(name), p1 = ReadAll(name + "1"), p2 = ReadAll(name + "2");
    // Full parts are exactly the part size; the last holds the rest.
    EXPECT_EQ(p0.size(), 1280u);
    EXPECT_EQ(p1.size(), 1280u);
    EXPECT_EQ(p2.size(), static_cast<size_t>(280 + 2300 - (1000 - stub) - 1000));
    const size_t first = static_cast<size_t>(1000 - stub);  // logical bytes in part 0
    EXPECT_EQ(0, std::memcmp(p0.data() + stub + 280, data.data(), first));
    EXPECT_EQ(p1[280], data[first]);  // a crossing write continues right after part 1's header
    EXPECT_EQ(0, std::memcmp(p1.data() + 280, data.data() + first, 1000));
    EXPECT_EQ(p0[static_cast<size_t>(stub) + 280 + first - 1], data[first - 1]);  // last logical byte at physical 1279
    if (stub) {
      EXPECT_EQ(p0[0], 0xEE);
    }
    // The chain: part 0 names part 1, part 1 names part 2, part 2 names none.
    EXPECT_STREQ(HeaderAt(p0, static_cast<size_t>(stub)).NextFileName, "c.sfs1");
    EXPECT_STREQ(HeaderAt(p1, 0).NextFileName, "c.sfs2");
    EXPECT_STREQ(HeaderAt(p2, 0).NextFileName, "");
    EXPECT_EQ(HeaderAt(p2, 0).PartitionSize, 1280);
    EXPECT_EQ(0, std::memcmp(HeaderAt(p0, static_cast<size_t>(stub)).Signature, "AAMVHFSS", 8));
    // Reading across both boundaries gives the bytes back.
    std::vector<uint8_t> back(data.size());
    h.SetPosition(0);
    EXPECT_EQ(h.Read(back.data(), static_cast<int32_t>(back.size())), 2300);
    EXPECT_EQ(back, data);
  }
}

TEST(StorageHugeFile, GrowPadsAndShrinkDeletesParts) {
  TTempDir dir;
  const std::string name = dir / "g.sfs";
  TSFSHugeFile h(name, false, false, false, 1280, 0);
  ASSERT_TRUE(h.CreateFilesChain());
  h.SetSize(500);
  EXPECT_EQ(h.PartCount(), 1);
  EXPECT_EQ(h.GetPosition(), 500);
  h.SetSize(2500);  // grows across two boundaries
  EXPECT_EQ(h.PartCount(), 3);
  EXPECT_EQ(std::filesystem::file_size(name), 1280u);
  EXPECT_EQ(std::filesystem::file_size(name + "1"), 1280u);
  // The last part may hold growth in reserve on disk while open, never past a full part.
  EXPECT_EQ(h.Part(2).GetSize(), 280 + 500);
  EXPECT_LE(std::filesystem::file_size(name + "2"), 1280u);
  EXPECT_STREQ(HeaderAt(ReadAll(name + "1"), 0).NextFileName, "g.sfs2");
  h.SetSize(999);  // back into part 0
  EXPECT_EQ(h.PartCount(), 1);
  EXPECT_FALSE(std::filesystem::exists(name + "1"));
  EXPECT_FALSE(std::filesystem::exists(name + "2"));
  EXPECT_EQ(std::filesystem::file_size(name), 1279u);
  EXPECT_STREQ(HeaderAt(ReadAll(name), 0).NextFileName, "");
  EXPECT_EQ(ThrownMessage([&] { h.DeleteLastPartFile(); }), "TSFSHugeFile.DeleteLastPartFile - No parts to delete.");
}

TEST(StorageHugeFile, WritePastTheEndGrowsFirst) {
  TSFSHugeFile h("mem", false, false, true, 1280, 0);
  ASSERT_TRUE(h.CreateFilesChain());
  h.SetPosition(1500);
  EXPECT_EQ(h.Write("xyz", 3), 3);
  EXPECT_EQ(h.GetSize(), 1503);
  EXPECT_EQ(h.PartCount(), 2);
  char buf[3];
  h.SetPosition(1500);
  EXPECT_EQ(h.Read(buf, 3), 3);
  EXPECT_EQ(0, std::memcmp(buf, "xyz", 3));
}

TEST(StorageHugeFile, SeekAndReadErrors) {
  TSFSHugeFile h("mem", false, false, true, 1280, 0);
  ASSERT_TRUE(h.CreateFilesChain());
  h.SetSize(10);
  EXPECT_EQ(ThrownMessage([&] { h.Seek(-1, 0); }), "TSFSHugeFile.Seek - Offset < 0 from file beginning.");
  EXPECT_EQ(h.Seek(-4, 2), 6);
  EXPECT_EQ(h.Seek(-6, 1), 0);
  h.Seek(11, 0);
  char c;
  EXPECT_EQ(ThrownMessage([&] { h.Read(&c, 1); }), "TSFSHugeFile.Read - Stream read error.");
  h.Seek(10, 0);
  EXPECT_EQ(h.Read(&c, 1), 0);  // exactly at the end: nothing
}

TEST(StorageHugeFile, WriteBufferRaisesOnShortWrite) {
  TSFSHugeFile h("mem", false, false, true, 1280, 0);
  auto plan = std::make_shared<TSFSFaultPlan>();
  plan->Kinds = TSFSFaultPlan::fkWrite;
  h.SetFaultPlan(plan);
  ASSERT_TRUE(h.CreateFilesChain());
  plan->FailAt = plan->Count + 1;
  EXPECT_EQ(ThrownMessage([&] { h.WriteBuffer("abc", 3); }), "TSFSHugeFile.WriteBuffer - Stream write error");
}

TEST(StorageHugeFile, OpenFollowsTheChainAndFindsTheStub) {
  TTempDir dir;
  const std::string name = dir / "o.sfs";
  const auto data = RandomBytes(3000, 3);
  {
    TSFSHugeFile h(name, false, false, false, 1280, 100);
    ASSERT_TRUE(h.CreateFilesChain(std::vector<uint8_t>(100, 'S')));
    // The stub search looks for a container signature right after the part header.
    std::vector<uint8_t> payload = data;
    std::memcpy(payload.data(), SingleFileSystemSignature, 8);
    h.WriteBuffer(payload.data(), static_cast<int32_t>(payload.size()));
  }
  TSFSHugeFile h(name, true, false, false, cUnsplitPartitionSize, 0);
  h.OpenFilesChain();
  EXPECT_EQ(h.StubSize(), 100);
  EXPECT_EQ(h.PartitionSize(), 1280);
  EXPECT_EQ(h.PartCount(), 4);
  EXPECT_EQ(h.GetSize(), 3000);
  std::vector<uint8_t> back(3000);
  EXPECT_EQ(h.Read(back.data(), 3000), 3000);
  EXPECT_EQ(0, std::memcmp(back.data() + 8, data.data() + 8, 2992));
  // A missing part breaks the chain with a clear message.
  std::filesystem::remove(name + "2");
  TSFSHugeFile broken(name, true, false, false, cUnsplitPartitionSize, 0);
  EXPECT_NE(ThrownMessage([&] { broken.OpenFilesChain(); }).find("cannot open part file"), std::string::npos);
}
