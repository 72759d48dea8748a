// Reliability: every I/O error path (a physical file that fails its n-th operation), a flipped
// byte in every page, and a real full disk.
#include <gtest/gtest.h>

#include <signal.h>
#include <sys/mount.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <set>

#include "platform/Stream.h"
#include "sfs/DIRManager.h"
#include "sfs/FreeSpaceManager.h"
#include "sfs/UserFilePageMapManager.h"
#include "sfs/PageFileManager.h"
#include "sfs/SingleFileSystem.h"
#include <filesystem>

#include "storage_support.h"

using namespace sfs;
using sfs_test::RandomBytes;
using sfs_test::TTempDir;

namespace {

bool Put(TSingleFileSystem& fs, const std::string& name, const std::vector<uint8_t>& data) {
  const int32_t h = fs.FileOpen(name, platform::fmCreate);
  if (h <= 0) return false;
  size_t done = 0;
  bool ok = true;
  while (done < data.size() && ok) {
    const int32_t n = static_cast<int32_t>(std::min<size_t>(16384, data.size() - done));
    ok = fs.FileWrite(h, data.data() + done, n) == n;
    done += static_cast<size_t>(n);
  }
  fs.FileClose(h);
  return ok;
}

bool Get(TSingleFileSystem& fs, const std::string& name, std::vector<uint8_t>& out) {
  const int32_t h = fs.FileOpen(name, platform::fmOpenRead);
  if (h <= 0) return false;
  out.assign(static_cast<size_t>(fs.FileGetSize(h)), 0);
  const int32_t n = fs.FileRead(h, out.data(), static_cast<int32_t>(out.size()));
  fs.FileClose(h);
  return n == static_cast<int32_t>(out.size());
}

// The put of the tool: the new content under a temporary name, then put in place.
bool Replace(TSingleFileSystem& fs, const std::string& name, const std::vector<uint8_t>& data) {
  const std::string temp = name + ".~new";
  if (!Put(fs, temp, data)) {
    fs.DeleteFile(temp);
    return false;
  }
  return fs.ReplaceFile(temp, name);
}

}  // namespace

// A container changed by a series of operations, the n-th physical operation failing and every
// later one too (as if the machine stopped there). Whatever n is: nothing crashes, the container
// opens again, every file that was complete before and not touched reads back, the file being
// replaced reads back in its old or its new form, and the check reports nothing but lost pages
// or records of the files being changed.
TEST(StorageFaults, EveryIOErrorPathLeavesCompleteFilesIntact) {
  TSingleFileSystem base;
  base.CreateInMemory();
  const auto keep = RandomBytes(30000, 1), oldA = RandomBytes(9000, 2), newA = RandomBytes(40000, 3);
  ASSERT_TRUE(Put(base, "keep", keep));
  ASSERT_TRUE(Put(base, "a", oldA));
  ASSERT_TRUE(Put(base, "gone", RandomBytes(5000, 4)));
  const auto image = base.SaveToImage();

  int failuresSeen = 0;
  for (int64_t n = 1;; ++n) {
    auto plan = std::make_shared<TSFSFaultPlan>();
    TSingleFileSystem fs;
    fs.SetFaultPlan(plan);
    fs.OpenFromImage(image);
    plan->Count = 0;
    plan->FailAt = n;
    try {
      Replace(fs, "a", newA);
      fs.DeleteFile("gone");
      ASSERT_GE(fs.ForceDirectories("x/y"), -1);
      const int32_t h = fs.FileOpen("keep", platform::fmOpenRead);
      fs.FileClose(h);
    } catch (const platform::Exception&) {
      // A failing page write inside the managers throws; the state on "disk" is what counts.
    }
    if (plan->Failures == 0) break;  // the whole series ran without reaching the n-th operation
    ++failuresSeen;
    const auto after = fs.SaveToImage();
    fs.Close();
    TSingleFileSystem check;
    ASSERT_NO_THROW(check.OpenFromImage(after)) << "n = " << n;
    std::vector<uint8_t> got;
    ASSERT_TRUE(Get(check, "keep", got)) << "n = " << n;
    EXPECT_EQ(got, keep) << "n = " << n;
    bool found = false;
    for (const char* name : {"a", "a.~old", "a.~new"}) {
      if (!check.FileExists(name) || !Get(check, name, got)) continue;
      if (got == oldA || got == newA) found = true;
    }
    EXPECT_TRUE(found) << "neither the old nor the new content of a survived, n = " << n;
    for (const auto& problem : check.CheckIntegrity()) {
      const bool allowed = problem.find("belongs to nothing") != std::string::npos ||
                           problem.find("\"a.~") != std::string::npos ||
                           problem.find("\"gone\"") != std::string::npos ||
                           problem.find("\"a\"") != std::string::npos;
      EXPECT_TRUE(allowed) << "n = " << n << ": " << problem;
    }
  }
  EXPECT_GT(failuresSeen, 20);
}

// A transient failure (only the n-th operation fails) is reported to the caller and the same
// object keeps working.
TEST(StorageFaults, TransientErrorsAreReported) {
  for (uint32_t kind : {TSFSFaultPlan::fkRead, TSFSFaultPlan::fkWrite, TSFSFaultPlan::fkSize}) {
    auto plan = std::make_shared<TSFSFaultPlan>();
    plan->Kinds = kind;
    plan->Sticky = false;
    TSingleFileSystem fs;
    fs.SetFaultPlan(plan);
    fs.CreateInMemory();
    ASSERT_TRUE(Put(fs, "f", RandomBytes(50000, 1)));
    int reported = 0;
    for (int64_t n = 1; n < 60; ++n) {
      plan->Count = 0;
      plan->FailAt = n;
      std::vector<uint8_t> got;
      bool ok = false;
      try {
        ok = kind == TSFSFaultPlan::fkRead ? Get(fs, "f", got) : Put(fs, "g" + std::to_string(n), RandomBytes(9000, 2));
      } catch (const platform::Exception&) {
      }
      if (plan->Failures > 0 && !ok) ++reported;
      plan->Failures = 0;
    }
    EXPECT_GT(reported, 0) << "kind " << kind;
    plan->FailAt = -1;
    std::vector<uint8_t> got;
    EXPECT_TRUE(Get(fs, "f", got));
    EXPECT_EQ(got, RandomBytes(50000, 1));
  }
}

// One flipped byte anywhere in a used page is found: opening fails or the check names it.
TEST(StorageFaults, AFlippedByteInEveryPageIsFound) {
  for (bool enciphered : {false, true}) {
    TSFSCreateOptions o;
    o.PageSize = 1024;
    if (enciphered) o.Password = "pw";
    TSingleFileSystem fs;
    fs.CreateInMemory(o);
    ASSERT_TRUE(Put(fs, "big", RandomBytes(300 * 992 + 17, 1)));  // two map pages
    ASSERT_TRUE(Put(fs, "small", RandomBytes(10, 2)));
    ASSERT_GE(fs.ForceDirectories("d/e"), 0);
    for (int i = 0; i < 5; ++i) ASSERT_TRUE(Put(fs, "d/e/f" + std::to_string(i), RandomBytes(100, 3)));
    ASSERT_TRUE(fs.CheckIntegrity().empty());
    const auto image = fs.SaveToImage();
    const int32_t total = fs.Header().TOTALPageCount;
    const size_t base = 280;  // the part header precedes page 0
    std::set<int> typesSeen;
    int dataPagesSeen = 0;
    for (int32_t p = 0; p < total; ++p) {
      if (p > 0 && fs.FSM().IsPageFree(p)) continue;
      const size_t start = base + static_cast<size_t>(p) * 1024;
      if (start + 1024 > image.size()) continue;
      if (p > 0) typesSeen.insert(image[start + 8]);
      // Data pages all look alike: a sample of them is enough.
      if (p > 0 && image[start + 8] == UFPage && ++dataPagesSeen > 4 && p % 64 != 0) continue;
      for (size_t off : {size_t{0}, size_t{4}, size_t{8}, size_t{9}, size_t{11}, size_t{20}, size_t{32},
                         size_t{100}, size_t{600}, size_t{1023}}) {
        auto bad = image;
        bad[start + off] ^= 0x01;
        bool found = false;
        try {
          TSingleFileSystem other;
          other.OpenFromImage(bad, o.Password);
          found = !other.CheckIntegrity().empty();
        } catch (const platform::Exception&) {
          found = true;
        }
        EXPECT_TRUE(found) << "page " << p << " offset " << off << (enciphered ? " enciphered" : "");
      }
    }
    EXPECT_EQ(typesSeen, std::set<int>({DIRPage, GAMPage, SGAMPage, PFSPage, UFPMPage, UFPage}));
  }
}

TEST(StorageFaults, CheckFindsInconsistentMapsAndRecords) {
  TSingleFileSystem fs;
  fs.CreateInMemory();
  ASSERT_TRUE(Put(fs, "f", RandomBytes(10000, 1)));
  ASSERT_TRUE(Put(fs, "g", RandomBytes(10000, 2)));
  TDirectoryElement f, g;
  ASSERT_TRUE(fs.GetFileInfo("f", f));
  ASSERT_TRUE(fs.GetFileInfo("g", g));
  const int32_t fi = fs.FindByName("f"), gi = fs.FindByName("g");
  auto expectProblem = [&](const char* what, const std::string& needle) {
    const auto problems = fs.CheckIntegrity();
    const bool hit = std::any_of(problems.begin(), problems.end(),
                                 [&](const std::string& p) { return p.find(needle) != std::string::npos; });
    EXPECT_TRUE(hit) << what << ": no line with \"" << needle << "\"";
  };
  // A page marked free while a file uses it.
  TIntegerArray one;
  one.Append(g.FirstMapPageNo);
  fs.FSM().FreePages(one);
  expectProblem("free but used", "but marked free");
  TIntegerArray again;
  ASSERT_TRUE(fs.FSM().GetPages(1, g.FirstMapPageNo, again, false));
  ASSERT_EQ(again[0], +g.FirstMapPageNo);
  // A wrong size.
  TDirectoryElement wrong = f;
  wrong.FileSize = 4064;
  fs.DM().WriteItem(fi, wrong);
  fs.UFM().ClearCaches();
  expectProblem("wrong size", "does not match its page map");
  fs.DM().WriteItem(fi, f);
  // Two files sharing pages.
  TDirectoryElement shared = g;
  shared.FirstMapPageNo = f.FirstMapPageNo;
  fs.DM().WriteItem(gi, shared);
  expectProblem("shared pages", "is used twice");
  fs.DM().WriteItem(gi, g);
  // A broken chain: the map page names a next page.
  TPageBuffer page(fs.PageDataSize());
  ASSERT_TRUE(fs.PFM().ReadPage(page, f.FirstMapPageNo, false));
  page.PageHeader.NextPageNo = g.FirstMapPageNo;
  ASSERT_TRUE(fs.PFM().WritePage(page, f.FirstMapPageNo));
  expectProblem("broken chain", "is used twice");
  page.PageHeader.NextPageNo = -1;
  ASSERT_TRUE(fs.PFM().ReadPage(page, f.FirstMapPageNo, false));
  page.PageHeader.NextPageNo = -1;
  ASSERT_TRUE(fs.PFM().WritePage(page, f.FirstMapPageNo));
  EXPECT_TRUE(fs.CheckIntegrity().empty());
}

// A creation that stopped after the record's page was written and before the header counted it:
// the check names the record it finds past the last one.
TEST(StorageFaults, CheckNamesARecordPastTheCount) {
  TSingleFileSystem fs;
  fs.CreateInMemory();
  for (const char* name : {"f0", "f1", "f2"}) ASSERT_GE(fs.FileCreate(name), 0);
  fs.PFM().FHeader.DIRElementsCount = 2;
  fs.PFM().SaveSFHeader();
  TSingleFileSystem check;
  check.OpenFromImage(fs.SaveToImage());
  const auto problems = check.CheckIntegrity();
  ASSERT_EQ(problems.size(), 1u);
  EXPECT_EQ(problems[0], "directory page 0: slots past the last record are not empty (\"f2\")");
}

// The disk really fills up: the file-size limit of a child process stands for a full disk.
TEST(StorageFaults, DiskFullIsReportedAndCompleteFilesSurvive) {
  TTempDir dir;
  const std::string name = dir / "full.sfs";
  const auto keep = RandomBytes(200000, 1);
  const pid_t pid = ::fork();
  ASSERT_GE(pid, 0);
  if (pid == 0) {
    ::signal(SIGXFSZ, SIG_IGN);
    rlimit lim{};
    lim.rlim_cur = lim.rlim_max = 1 << 20;
    ::setrlimit(RLIMIT_FSIZE, &lim);
    int code = 0;
    try {
      TSingleFileSystem fs;
      fs.CreateContainer(name);
      int fullCalls = 0;
      fs.FOnDiskFull = [&](TSingleFileSystem&) { ++fullCalls; };
      if (!Put(fs, "keep", keep)) code = 10;
      const int32_t h = fs.FileOpen("big", platform::fmCreate);
      const auto chunk = RandomBytes(65536, 2);
      int32_t last = 0;
      for (int i = 0; i < 40; ++i) {
        last = fs.FileWrite(h, chunk.data(), 65536);
        if (last != 65536) break;
      }
      if (last == 65536) code = 11;                 // never filled up
      else if (fs.LastError() != erDiskFull) code = 12;
      else if (fullCalls == 0) code = 13;
      fs.FileClose(h);
      if (!fs.DeleteFile("big")) code = code ? code : 14;
      // The container is usable again once space is back.
      std::vector<uint8_t> got;
      if (!Get(fs, "keep", got) || got != keep) code = code ? code : 15;
    } catch (const std::exception&) {
      code = 20;
    }
    ::_exit(code);
  }
  int status = 0;
  ASSERT_EQ(::waitpid(pid, &status, 0), pid);
  ASSERT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), 0);
  TSingleFileSystem fs;
  fs.OpenContainer(name);
  std::vector<uint8_t> got;
  ASSERT_TRUE(Get(fs, "keep", got));
  EXPECT_EQ(got, keep);
  EXPECT_FALSE(fs.FileExists("big"));
  EXPECT_EQ(fs.CheckIntegrity(), std::vector<std::string>());
}

// A small file system that fills up for real (needs the right to mount; skipped without it).
TEST(StorageFaults, FullFileSystemIsReportedAsDiskFull) {
  TTempDir dir;
  const std::string mnt = dir / "small";
  std::filesystem::create_directory(mnt);
  if (::mount("tmpfs", mnt.c_str(), "tmpfs", 0, "size=2m") != 0) GTEST_SKIP() << "cannot mount a tmpfs here";
  const auto keep = RandomBytes(300000, 1);
  {
    TSingleFileSystem fs;
    fs.CreateContainer(mnt + "/c.sfs");
    int fullCalls = 0;
    fs.FOnDiskFull = [&](TSingleFileSystem&) { ++fullCalls; };
    ASSERT_TRUE(Put(fs, "keep", keep));
    const int32_t h = fs.FileOpen("big", platform::fmCreate);
    const auto chunk = RandomBytes(65536, 2);
    int32_t last = 65536;
    for (int i = 0; i < 64 && last == 65536; ++i) last = fs.FileWrite(h, chunk.data(), 65536);
    EXPECT_LT(last, 65536);
    EXPECT_EQ(fs.LastError(), erDiskFull);
    EXPECT_GT(fullCalls, 0);
    fs.FileClose(h);
    // A new record may not fit either; whatever fails, it fails cleanly.
    EXPECT_TRUE(fs.DeleteFile("big"));
  }
  TSingleFileSystem fs;
  fs.OpenContainer(mnt + "/c.sfs");
  std::vector<uint8_t> got;
  ASSERT_TRUE(Get(fs, "keep", got));
  EXPECT_EQ(got, keep);
  EXPECT_EQ(fs.CheckIntegrity(), std::vector<std::string>());
  fs.Close();
  ::umount2(mnt.c_str(), MNT_DETACH);
}
