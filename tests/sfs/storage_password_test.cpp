// Enciphered containers and files with passwords of their own.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>

#include "platform/Stream.h"
#include "sfs/PasswordHeader.h"
#include "sfs/PasswordLink.h"
#include "sfs/SingleFileSystem.h"
#include "storage_support.h"

using namespace sfs;
using sfs_test::RandomBytes;
using sfs_test::TTempDir;

namespace {

int32_t Put(TSingleFileSystem& fs, const std::string& name, const std::vector<uint8_t>& data,
            const std::string& password = {}) {
  const int32_t h = fs.FileOpen(name, platform::fmCreate, password);
  if (h <= 0) return h;
  const int32_t n = fs.FileWrite(h, data.data(), static_cast<int32_t>(data.size()));
  fs.FileClose(h);
  return n;
}

std::vector<uint8_t> Get(TSingleFileSystem& fs, const std::string& name, const std::string& password = {}) {
  const int32_t h = fs.FileOpen(name, platform::fmOpenRead, password);
  if (h <= 0) return {};
  std::vector<uint8_t> out(static_cast<size_t>(fs.FileGetSize(h)));
  const int32_t n = fs.FileRead(h, out.data(), static_cast<int32_t>(out.size()));
  fs.FileClose(h);
  out.resize(static_cast<size_t>(std::max(n, 0)));
  return out;
}

bool Contains(const std::vector<uint8_t>& hay, const std::string& needle) {
  return std::search(hay.begin(), hay.end(), needle.begin(), needle.end()) != hay.end();
}

}  // namespace

TEST(StoragePassword, EncipheredContainerRoundTrip) {
  TSFSCreateOptions o;
  o.Password = "secret";
  TSingleFileSystem fs;
  fs.CreateInMemory(o);
  const auto data = RandomBytes(20000, 4);
  std::vector<uint8_t> text(9000, 'q');
  ASSERT_EQ(Put(fs, "folder-name-visible?", data), 20000);
  ASSERT_EQ(Put(fs, "plain", text), 9000);
  const auto image = fs.SaveToImage();
  // Neither names nor contents are readable in the image.
  EXPECT_FALSE(Contains(image, "folder-name-visible?"));
  EXPECT_FALSE(Contains(image, std::string(64, 'q')));
  TSingleFileSystem again;
  again.OpenFromImage(image, "secret");
  EXPECT_EQ(Get(again, "folder-name-visible?"), data);
  EXPECT_EQ(Get(again, "plain"), text);
  EXPECT_TRUE(again.CheckIntegrity().empty());
  EXPECT_THROW(again.OpenFromImage(image, "Secret"), ESFSPasswordError);
  EXPECT_THROW(again.OpenFromImage(image, ""), ESFSPasswordError);
}

TEST(StoragePassword, AKeyThatPassesTheShortCheckIsStillRefused) {
  TSFSCreateOptions o;
  o.Password = "right";
  TSingleFileSystem fs;
  fs.CreateInMemory(o);
  TPasswordHeader h;
  std::memcpy(&h, fs.Header().PasswordHeader, sizeof(h));
  // About one password in 65,536 passes the header's 16-bit check; find one.
  std::string wrong;
  std::string key;
  for (int i = 0; i < 2000000 && wrong.empty(); ++i) {
    const std::string p = "w" + std::to_string(i);
    if (CheckPassword(h, p, key)) wrong = p;
  }
  ASSERT_FALSE(wrong.empty());
  TSingleFileSystem again;
  EXPECT_THROW(again.OpenFromImage(fs.SaveToImage(), wrong), ESFSPasswordError);
}

TEST(StoragePassword, FilePasswordsAskAndGiveUp) {
  TSingleFileSystem fs;
  fs.CreateInMemory();
  const auto data = RandomBytes(5000, 8);
  ASSERT_EQ(Put(fs, "own", data, "filepw"), 5000);
  TDirectoryElement e;
  ASSERT_TRUE(fs.GetFileInfo("own", e));
  EXPECT_EQ(+e.EncMethod, encRijndael);
  // No callback: a wrong password gives up at once.
  EXPECT_EQ(fs.FileOpen("own", platform::fmOpenRead, "bad"), -1);
  EXPECT_EQ(fs.OpenHandleCount(), 0);
  // The callback is asked until it gives the right password or cancels.
  int asked = 0;
  fs.FOnPassword = [&](TSingleFileSystem&, const std::string& name, std::string& pw, bool& skip) {
    EXPECT_EQ(name, "own");
    ++asked;
    if (asked < 3) pw = "still bad"; else pw = "filepw";
    skip = false;
  };
  EXPECT_EQ(Get(fs, "own", "bad"), data);
  EXPECT_EQ(asked, 3);
  fs.FOnPassword = [&](TSingleFileSystem&, const std::string&, std::string&, bool& skip) { skip = true; };
  EXPECT_EQ(fs.FileOpen("own", platform::fmOpenRead, "bad"), -1);
  EXPECT_EQ(fs.OpenHandleCount(), 0);
  // The file's pages are enciphered with its own key: the container key does not read them.
  const auto image = fs.SaveToImage();
  EXPECT_FALSE(Contains(image, std::string(reinterpret_cast<const char*>(data.data()), 64)));
  TSingleFileSystem again;
  again.OpenFromImage(image);
  EXPECT_EQ(Get(again, "own", "filepw"), data);
  EXPECT_TRUE(again.CheckIntegrity().empty());
}

TEST(StoragePassword, ReadOnlyOpenLeavesTheAccessTime) {
  TTempDir dir;
  {
    TSFSCreateOptions o;
    o.Password = "c";
    TSingleFileSystem fs;
    fs.CreateContainer(dir / "p.sfs", o);
    ASSERT_EQ(Put(fs, "f", {1, 2, 3}, "f"), 3);
  }
  TSingleFileSystem fs;
  fs.OpenContainer(dir / "p.sfs", "c", true);
  TDirectoryElement before, after;
  ASSERT_TRUE(fs.GetFileInfo("f", before));
  EXPECT_EQ(Get(fs, "f", "f"), std::vector<uint8_t>({1, 2, 3}));
  ASSERT_TRUE(fs.GetFileInfo("f", after));
  EXPECT_EQ(+after.LastAccessTime, +before.LastAccessTime);
}
