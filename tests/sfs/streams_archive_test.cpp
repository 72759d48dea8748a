// The facade's archive side: containers registered for folders, path matching, whole-file reads
// of plain and compressed files, and corrupt files going through the retry loop with the lock
// released on every path, also while other threads read.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <future>
#include <string>
#include <thread>

#include "sfs/ContainerArchive.h"
#include "sfs/FileAccess.h"
#include "sfs/FileStream.h"
#include "sfs/SingleFileSystem.h"
#include "sfs/UserFileStream.h"
#include "streams_support.h"

namespace sfs {
namespace {

using namespace sfs::testing;

std::unique_ptr<TSingleFileSystem> ContainerWith(const std::vector<std::pair<std::string, TBytes>>& files,
                                                 TSFSCompressionLevel level) {
  auto sfs = std::make_unique<TSingleFileSystem>();
  sfs->CreateInMemory();
  for (const auto& [name, data] : files) {
    if (!FolderOf(name).empty()) sfs->ForceDirectories(FolderOf(name));
    TSFSFileStream s(sfs.get(), name, platform::fmCreate, "", "", "", level);
    s.WriteBuffer(data.data(), static_cast<int64_t>(data.size()));
  }
  return sfs;
}

TBytes Bytes(const std::string& text) { return TBytes(text.begin(), text.end()); }

TBytes Contents(platform::TMemoryStream& m) {
  return TBytes(m.Memory(), m.Memory() + m.GetSize());
}

// Counts the reads that reach the container.
class TCountingArchive : public TSFSArchive {
 public:
  TCountingArchive(std::unique_ptr<TSingleFileSystem> sfs, std::atomic<int>& loads)
      : FInner(std::move(sfs)), FLoads(loads) {}
  bool FileExists(const std::string& path) override { return FInner.FileExists(path); }
  void LoadFile(const std::string& path, platform::TMemoryStream& out) override {
    ++FLoads;
    FInner.LoadFile(path, out);
  }

 private:
  TSFSContainerArchive FInner;
  std::atomic<int>& FLoads;
};

class StreamsArchive : public ::testing::Test {
 protected:
  void SetUp() override {
    SFSCreate();
    SFSSetRetryQuestion([this](const std::string& text) {
      std::lock_guard guard(FQuestionLock);
      FQuestions.push_back(text);
      return FRetries-- > 0;
    });
  }
  void TearDown() override {
    SFSSetRetryQuestion({});
    SFSFree();
  }
  std::vector<std::string> Questions() {
    std::lock_guard guard(FQuestionLock);
    return FQuestions;
  }

  std::mutex FQuestionLock;
  std::vector<std::string> FQuestions;
  int FRetries = 0;  // how many questions are answered with Retry
};

TEST_F(StreamsArchive, AnEmptyRegistryReadsFromTheDisk) {
  const std::string path = ::testing::TempDir() + "streams_archive_disk.txt";
  std::FILE* f = std::fopen(path.c_str(), "wb");
  ASSERT_NE(f, nullptr);
  std::fputs("on disk", f);
  std::fclose(f);
  EXPECT_TRUE(SFSFileExists(path));
  EXPECT_FALSE(SFSFileExists(path + ".missing"));
  platform::TMemoryStream m;
  ASSERT_TRUE(SFSGetStreamFromFile(m, path));
  EXPECT_EQ(Contents(m), Bytes("on disk"));
  EXPECT_EQ(m.Position(), 0);
  std::remove(path.c_str());
}

TEST_F(StreamsArchive, ARegisteredContainerServesItsFolderPlainOrCompressed) {
  const TBytes wave = TextBytes(1300 * 1024, 21);  // more than one block
  auto packed = ContainerWith({{"data/sounds/a.wav", wave}}, zlibNormal);
  {
    packed->ForceDirectories("data");
    TSFSFileStream s(packed.get(), "data/plain.txt", platform::fmCreate, "", "", "", sfsNone);
    s.WriteBuffer("plain text", 10);
  }
  SFSRegisterContainer("/inst/data", std::move(packed));

  EXPECT_TRUE(SFSFileExists("/inst/data/sounds/a.wav"));
  EXPECT_TRUE(SFSFileExists("/INST/Data/Sounds/A.WAV"));
  EXPECT_FALSE(SFSFileExists("/inst/data/sounds/b.wav"));
  platform::TMemoryStream m;
  ASSERT_TRUE(SFSGetStreamFromFile(m, "/inst/data/sounds/a.wav"));
  EXPECT_EQ(m.Position(), 0);
  EXPECT_EQ(Contents(m), wave);
  ASSERT_TRUE(SFSGetStreamFromFile(m, "/inst/data/plain.txt"));
  EXPECT_EQ(Contents(m), Bytes("plain text"));
  EXPECT_TRUE(Questions().empty());

  // Unregistered, the same path is a (missing) disk file again.
  EXPECT_TRUE(SFSUnregisterArchive("/inst/data/"));
  EXPECT_FALSE(SFSFileExists("/inst/data/sounds/a.wav"));
}

TEST_F(StreamsArchive, MatchingIsBySubstringAndTheFirstEntryWins) {
  // Both containers hold "data/f.txt"; which one answers shows which entry matched.
  struct Case {
    const char* path;
    const char* expected;
  };
  const Case cases[] = {{"/x/data/f.txt", "first"},        // both entries match: registry order decides
                        {"/mnt/X/Data/f.txt", "first"},    // in the middle of the path, any case
                        {"/y/data/f.txt", "second"}};      // only the second entry matches
  SFSRegisterContainer("/x/data/", ContainerWith({{"data/f.txt", Bytes("first")}}, zlibFastest));
  SFSRegisterContainer("/data/", ContainerWith({{"data/f.txt", Bytes("second")}}, sfsNone));
  for (const Case& c : cases) {
    SCOPED_TRACE(c.path);
    platform::TMemoryStream m;
    ASSERT_TRUE(SFSGetStreamFromFile(m, c.path));
    EXPECT_EQ(Contents(m), Bytes(c.expected));
  }
  std::string path = "/x/data/f.txt";
  ASSERT_NE(GetSFSFile(path), nullptr);
  EXPECT_EQ(path, "/data/f.txt");
}

// A container whose "data/bad.bin" has a block with a wrong CRC, beside a sound "data/good.bin".
std::unique_ptr<TSingleFileSystem> ContainerWithCorruptFile(const TBytes& good) {
  auto sfs = ContainerWith({{"data/good.bin", good}, {"data/bad.bin", TextBytes(200000, 23)}}, zlibNormal);
  TSFSUserFileStream raw(sfs.get(), "data/bad.bin", platform::fmOpenReadWrite, "", "", "");
  raw.Seek(128 + 8, platform::soBeginning);  // Crc32 of block 0
  uint32_t crc = 0;
  raw.ReadBuffer(&crc, 4);
  crc ^= 0x0101;
  raw.Seek(128 + 8, platform::soBeginning);
  raw.WriteBuffer(&crc, 4);
  return sfs;
}

TEST_F(StreamsArchive, ACorruptFileGoesThroughTheRetryLoop) {
  struct Case {
    int retries;  // questions answered with Retry before Cancel
    int loads;
  };
  const Case cases[] = {{0, 6}, {1, 12}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.retries);
    SFSCreate();
    FQuestions.clear();
    FRetries = c.retries;
    std::atomic<int> loads = 0;
    SFSRegisterArchive("/inst/data/", std::make_unique<TCountingArchive>(ContainerWithCorruptFile({}), loads));
    platform::TMemoryStream m;
    EXPECT_FALSE(SFSGetStreamFromFile(m, "/inst/data/bad.bin"));
    EXPECT_EQ(loads, c.loads);
    const std::vector<std::string> asked = Questions();
    ASSERT_EQ(asked.size(), static_cast<size_t>(c.retries + 1));
    EXPECT_EQ(asked[0], "Read operation failed! Please inform your system administrator!\r/inst/data/bad.bin");
    // The lock was given back: the container still answers.
    EXPECT_TRUE(SFSFileExists("/inst/data/bad.bin"));
  }
}

TEST_F(StreamsArchive, ReadsOnTwoThreadsGoOnWhileAThirdFails) {
  const TBytes good = TextBytes(300000, 24);
  std::atomic<int> loads = 0;
  SFSRegisterArchive("/inst/data/", std::make_unique<TCountingArchive>(ContainerWithCorruptFile(good), loads));
  auto reader = [&good] {
    for (int i = 0; i < 4; ++i) {
      platform::TMemoryStream m;
      if (!SFSGetStreamFromFile(m, "/inst/data/good.bin") || Contents(m) != good) return false;
      if (!SFSFileExists("/inst/data/good.bin")) return false;
    }
    return true;
  };
  auto failing = [] {
    platform::TMemoryStream m;
    return SFSGetStreamFromFile(m, "/inst/data/bad.bin");
  };
  auto a = std::async(std::launch::async, reader);
  auto b = std::async(std::launch::async, reader);
  auto c = std::async(std::launch::async, failing);
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(120);
  for (auto* f : {&a, &b}) ASSERT_EQ(f->wait_until(deadline), std::future_status::ready) << "a reader hangs";
  ASSERT_EQ(c.wait_until(deadline), std::future_status::ready) << "the failing read hangs";
  EXPECT_TRUE(a.get());
  EXPECT_TRUE(b.get());
  EXPECT_FALSE(c.get());
  EXPECT_EQ(loads, 8 + 6);
  EXPECT_EQ(Questions().size(), 1u);
}

}  // namespace
}  // namespace sfs
