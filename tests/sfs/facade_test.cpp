// The file access facade: disk fallback, archive lookup and path mapping, locking, retry loop.
#include <gtest/gtest.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <fstream>
#include <map>
#include <mutex>
#include <thread>
#include <vector>

#include "platform/Exception.h"
#include "sfs/FileAccess.h"

namespace sfs {
namespace {

std::string Content(platform::TMemoryStream& s) {
  return std::string(reinterpret_cast<const char*>(s.Memory()), static_cast<size_t>(s.GetSize()));
}

// An archive that serves fixed files and records what it was asked.
class TFakeArchive : public TSFSArchive {
 public:
  explicit TFakeArchive(std::map<std::string, std::string> files, int failures = 0)
      : FFiles(std::move(files)), FFailures(failures) {}
  bool FileExists(const std::string& internalPath) override {
    Enter();
    Asked.push_back(internalPath);
    Leave();
    return FFiles.count(internalPath) != 0;
  }
  void LoadFile(const std::string& internalPath, platform::TMemoryStream& out) override {
    Enter();
    Asked.push_back(internalPath);
    std::this_thread::sleep_for(std::chrono::microseconds(200));
    Leave();
    if (FFailures > 0) {
      --FFailures;
      throw platform::Exception("TFakeArchive.LoadFile - read error");
    }
    const std::string& data = FFiles.at(internalPath);
    out.Clear();
    out.WriteBuffer(data.data(), static_cast<int64_t>(data.size()));
  }
  std::vector<std::string> Asked;
  std::atomic<int> MaxInside{0};

 private:
  void Enter() {
    const int inside = ++FInside;
    int seen = MaxInside.load();
    while (inside > seen && !MaxInside.compare_exchange_weak(seen, inside)) {
    }
  }
  void Leave() { --FInside; }
  std::map<std::string, std::string> FFiles;
  int FFailures;
  std::atomic<int> FInside{0};
};

class Facade : public ::testing::Test {
 protected:
  void SetUp() override {
    SFSCreate();
    char name[] = "/tmp/bd-facade-XXXXXX";
    const int fd = mkstemp(name);
    ASSERT_GE(fd, 0);
    ASSERT_EQ(write(fd, "disk data", 9), 9);
    close(fd);
    FDiskFile = name;
  }
  void TearDown() override {
    SFSSetRetryQuestion({});
    SFSSetDiskLoader({});
    SFSFree();
    std::remove(FDiskFile.c_str());
  }
  std::string FDiskFile;
};

TEST(FacadeLifecycle, UseBeforeCreateIsAnAssertion) {
  SFSFree();
  platform::TMemoryStream out;
  const std::string text = "SFSMan ist nil -> SFSCreate und/oder SFSInitMan vergessen!";
  for (const auto& call : std::vector<std::function<void()>>{
           [] { SFSFileExists("/etc/hostname"); },
           [&] { SFSGetStreamFromFile(out, "/etc/hostname"); },
           [] { SFSRegisterArchive("/x/", std::make_unique<TFakeArchive>(std::map<std::string, std::string>{})); }}) {
    try {
      call();
      ADD_FAILURE() << "no assertion";
    } catch (const platform::EAssertionFailed& e) {
      EXPECT_EQ(e.what(), text);
    }
  }
}

TEST(FacadeLifecycle, RootPathIsTheFolderAboveTheProgramFolder) {
  SFSInitMan("/opt/brindel/program/config/Config");
  EXPECT_EQ(SFSRootPath(), "/opt/brindel/program/");
  char exe[4096] = {};
  ASSERT_GT(readlink("/proc/self/exe", exe, sizeof exe - 1), 0);
  std::string expected(exe);
  expected.erase(expected.rfind('/'));
  expected.erase(expected.rfind('/') + 1);
  SFSInitMan();
  EXPECT_EQ(SFSRootPath(), expected);
}

TEST_F(Facade, EmptyRegistryReadsTheDisk) {
  EXPECT_TRUE(SFSFileExists(FDiskFile));
  EXPECT_FALSE(SFSFileExists(FDiskFile + ".missing"));
  EXPECT_FALSE(SFSFileExists("/tmp"));  // a folder
  platform::TMemoryStream out;
  out.WriteBuffer("old", 3);
  ASSERT_TRUE(SFSGetStreamFromFile(out, FDiskFile));
  EXPECT_EQ(Content(out), "disk data");
  EXPECT_EQ(out.Position(), 0);
}

// Read failures: the disk read fails `failures` times; the question answers from `answers`
// (and Cancel when they run out).
struct TRetryCase {
  const char* Name;
  int Failures;  // -1: always
  bool HasQuestion;
  std::vector<bool> Answers;
  bool Result;
  int Attempts;
  int Questions;
};

class FacadeRetry : public Facade, public ::testing::WithParamInterface<TRetryCase> {};

TEST_P(FacadeRetry, RepeatsThenAsks) {
  const TRetryCase& c = GetParam();
  int attempts = 0;
  SFSSetDiskLoader([&](const std::string& path, platform::TMemoryStream& out) {
    ++attempts;
    if (c.Failures < 0 || attempts <= c.Failures) throw platform::EReadError("Stream read error");
    out.LoadFromFile(path);
  });
  std::vector<std::string> texts;
  if (c.HasQuestion) {
    SFSSetRetryQuestion([&](const std::string& text) {
      texts.push_back(text);
      return texts.size() <= c.Answers.size() && c.Answers[texts.size() - 1];
    });
  }
  platform::TMemoryStream out;
  EXPECT_EQ(SFSGetStreamFromFile(out, FDiskFile), c.Result);
  EXPECT_EQ(attempts, c.Attempts);
  ASSERT_EQ(static_cast<int>(texts.size()), c.Questions);
  for (const std::string& text : texts)
    EXPECT_EQ(text, "Read operation failed! Please inform your system administrator!\r" + FDiskFile);
  if (c.Result) {
    EXPECT_EQ(Content(out), "disk data");
  }
}

INSTANTIATE_TEST_SUITE_P(
    Cases, FacadeRetry,
    ::testing::Values(
        TRetryCase{"FirstAttempt", 0, true, {}, true, 1, 0},
        TRetryCase{"FiveFailuresNoQuestion", 5, true, {}, true, 6, 0},
        TRetryCase{"SixFailuresRetry", 6, true, {true}, true, 7, 1},
        TRetryCase{"Cancel", -1, true, {false}, false, 6, 1},
        TRetryCase{"RetryGivesSixMore", -1, true, {true, false}, false, 12, 2},
        TRetryCase{"RetryThenSuccess", 11, true, {true}, true, 12, 1},
        TRetryCase{"NoQuestionCancels", -1, false, {}, false, 6, 0}),
    [](const auto& info) { return std::string(info.param.Name); });

TEST_F(Facade, ArchiveServesTheFolderItStandsFor) {
  auto archive = std::make_unique<TFakeArchive>(std::map<std::string, std::string>{
      {"/data/sounds/a.wav", "archived a"}, {"/data/b.wav", "archived b"}});
  TFakeArchive* raw = archive.get();
  SFSRegisterArchive("/inst/data", std::move(archive));

  platform::TMemoryStream out;
  ASSERT_TRUE(SFSGetStreamFromFile(out, "/inst/data/sounds/a.wav"));
  EXPECT_EQ(Content(out), "archived a");
  EXPECT_EQ(out.Position(), 0);
  // Case-insensitive, and found in the middle of a path too.
  EXPECT_TRUE(SFSFileExists("/INST/data/b.wav"));  // the internal path keeps the caller's text
  EXPECT_TRUE(SFSFileExists("/mnt/cd/inst/data/b.wav"));
  EXPECT_FALSE(SFSFileExists("/inst/data/c.wav"));
  EXPECT_EQ(raw->Asked, (std::vector<std::string>{"/data/sounds/a.wav", "/data/b.wav",
                                                  "/data/b.wav", "/data/c.wav"}));
  // Paths outside the folder go to the disk.
  EXPECT_TRUE(SFSFileExists(FDiskFile));
  EXPECT_EQ(raw->Asked.size(), 4u);

  std::string path = "/elsewhere/x.wav";
  EXPECT_EQ(GetSFSFile(path), nullptr);
  EXPECT_EQ(path, "/elsewhere/x.wav");
}

TEST_F(Facade, FirstMatchingEntryWinsAndUnregisterFallsBackToDisk) {
  auto first = std::make_unique<TFakeArchive>(std::map<std::string, std::string>{{"/data/x", "1"}});
  auto second = std::make_unique<TFakeArchive>(std::map<std::string, std::string>{{"/data/x", "2"}});
  TFakeArchive* firstRaw = first.get();
  SFSRegisterArchive("/data/", std::move(first));
  SFSRegisterArchive("/inst/data/", std::move(second));
  std::string path = "/inst/data/x";
  EXPECT_EQ(GetSFSFile(path).get(), firstRaw);
  EXPECT_EQ(path, "/data/x");

  EXPECT_TRUE(SFSUnregisterArchive("/data"));
  EXPECT_FALSE(SFSUnregisterArchive("/data/"));
  platform::TMemoryStream out;
  ASSERT_TRUE(SFSGetStreamFromFile(out, "/inst/data/x"));
  EXPECT_EQ(Content(out), "2");
  EXPECT_TRUE(SFSUnregisterArchive("/inst/data/"));
  EXPECT_FALSE(SFSFileExists("/inst/data/x"));
}

TEST_F(Facade, FailingArchiveGoesThroughTheRetryLoopAndReleasesTheLock) {
  SFSRegisterArchive("/inst/data/", std::make_unique<TFakeArchive>(
                                        std::map<std::string, std::string>{{"/data/a", "A"}}, 6));
  int questions = 0;
  SFSSetRetryQuestion([&](const std::string&) { return ++questions == 1; });
  platform::TMemoryStream out;
  EXPECT_TRUE(SFSGetStreamFromFile(out, "/inst/data/a"));
  EXPECT_EQ(questions, 1);
  EXPECT_EQ(Content(out), "A");
}

TEST_F(Facade, ArchiveCallsAreSerialised) {
  auto archive = std::make_unique<TFakeArchive>(std::map<std::string, std::string>{{"/data/a", "A"}});
  TFakeArchive* raw = archive.get();
  SFSRegisterArchive("/inst/data/", std::move(archive));
  std::vector<std::thread> threads;
  std::atomic<int> good{0};
  for (int t = 0; t < 4; ++t)
    threads.emplace_back([&] {
      for (int i = 0; i < 20; ++i) {
        platform::TMemoryStream out;
        if (SFSGetStreamFromFile(out, "/inst/data/a") && SFSFileExists("/inst/data/a")) ++good;
      }
    });
  for (auto& t : threads) t.join();
  EXPECT_EQ(good, 80);
  EXPECT_EQ(raw->MaxInside, 1);
}

}  // namespace
}  // namespace sfs
