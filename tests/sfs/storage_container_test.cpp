// The container object: creating, opening, the handle interface, folders and names.
#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>

#include "platform/Exception.h"
#include "platform/Stream.h"
#include "sfs/DIRManager.h"
#include "sfs/FreeSpaceManager.h"
#include "sfs/PageFileManager.h"
#include "sfs/SingleFileSystem.h"
#include "sfs/UserFilePageMapManager.h"
#include "storage_support.h"

using namespace sfs;
using sfs_test::RandomBytes;
using sfs_test::TTempDir;

namespace {

void WriteFile(TSingleFileSystem& fs, const std::string& name, const std::vector<uint8_t>& data) {
  const int32_t h = fs.FileOpen(name, platform::fmCreate);
  ASSERT_GT(h, 0) << name << " error " << fs.LastError();
  size_t done = 0;
  while (done < data.size()) {
    const int32_t n = static_cast<int32_t>(std::min<size_t>(65536, data.size() - done));
    ASSERT_EQ(fs.FileWrite(h, data.data() + done, n), n) << name << " error " << fs.LastError();
    done += static_cast<size_t>(n);
  }
  fs.FileClose(h);
}

std::vector<uint8_t> ReadFile(TSingleFileSystem& fs, const std::string& name) {
  const int32_t h = fs.FileOpen(name, platform::fmOpenRead);
  EXPECT_GT(h, 0) << name;
  if (h <= 0) return {};
  std::vector<uint8_t> out(static_cast<size_t>(fs.FileGetSize(h)));
  size_t done = 0;
  while (done < out.size()) {
    const int32_t got = fs.FileRead(h, out.data() + done, static_cast<int32_t>(std::min<size_t>(70000, out.size() - done)));
    if (got <= 0) break;
    done += static_cast<size_t>(got);
  }
  EXPECT_EQ(done, out.size()) << name << " error " << fs.LastError();
  fs.FileClose(h);
  return out;
}

}  // namespace

TEST(StorageContainer, NewContainerHeader) {
  TSingleFileSystem fs;
  fs.CreateInMemory();
  const TSingleFileHeader& h = fs.Header();
  EXPECT_EQ(0, std::memcmp(h.Signature, SingleFileSystemSignature, 8));
  EXPECT_EQ(+h.Version, FormatVersion);
  EXPECT_EQ(+h.PageSize, 4096);
  EXPECT_EQ(+h.ExtentPageCount, 8);
  EXPECT_EQ(+h.HDRPageCount, 1);
  EXPECT_EQ(+h.TOTALPageCount, 1);
  EXPECT_EQ(+h.GAMPageCount, 0);
  EXPECT_EQ(+h.PFSPageCount, 0);
  EXPECT_EQ(+h.DIRPageCount, 0);
  EXPECT_EQ(+h.DIRElementsCount, 0);
  EXPECT_EQ(fs.GetCompressionLevel(), TSFSCompressionLevel::sfsNone);
  EXPECT_TRUE(fs.CheckIntegrity().empty());
}

TEST(StorageContainer, RoundTripSizesAcrossReopen) {
  TTempDir dir;
  const int32_t d = 4064;
  const std::vector<size_t> sizes = {0, 1, static_cast<size_t>(d - 1), static_cast<size_t>(d),
                                     static_cast<size_t>(d + 1), static_cast<size_t>(3 * d), 1 << 20};
  {
    TSingleFileSystem fs;
    fs.CreateContainer(dir / "c.sfs");
    for (size_t i = 0; i < sizes.size(); ++i)
      WriteFile(fs, "f" + std::to_string(i), RandomBytes(sizes[i], static_cast<uint32_t>(i)));
  }
  TSingleFileSystem fs;
  fs.OpenContainer(dir / "c.sfs");
  for (size_t i = 0; i < sizes.size(); ++i)
    EXPECT_EQ(ReadFile(fs, "f" + std::to_string(i)), RandomBytes(sizes[i], static_cast<uint32_t>(i))) << sizes[i];
  EXPECT_TRUE(fs.CheckIntegrity().empty());
}

TEST(StorageContainer, ReadsAtAndPastTheEnd) {
  TSingleFileSystem fs;
  fs.CreateInMemory();
  WriteFile(fs, "f", RandomBytes(5000, 1));
  const int32_t h = fs.FileOpen("f", platform::fmOpenRead);
  ASSERT_GT(h, 0);
  std::vector<uint8_t> buf(10000, 0xCC);
  // A read asked for more than the file holds stops at its end.
  EXPECT_EQ(fs.FileRead(h, buf.data(), 10000), 5000);
  EXPECT_EQ(buf[5000], 0xCC);
  EXPECT_EQ(fs.FileRead(h, buf.data(), 10), 0);
  EXPECT_EQ(fs.LastError(), 0);
  EXPECT_EQ(fs.FileSeek(h, 2, 100), 5100);  // past the end is accepted
  EXPECT_EQ(fs.FileRead(h, buf.data(), 10), 0);
  EXPECT_EQ(fs.LastError(), 0);
  EXPECT_EQ(fs.FileSeek(h, 0, 4090), 4090);
  EXPECT_EQ(fs.FileRead(h, buf.data(), 20), 20);  // across the page boundary
  EXPECT_EQ(0, std::memcmp(buf.data(), RandomBytes(5000, 1).data() + 4090, 20));
  EXPECT_EQ(fs.FileSeek(h, 1, -10), 4100);
  fs.FileClose(h);
  EXPECT_EQ(fs.FileRead(h, buf.data(), 10), 0);  // a closed handle
}

TEST(StorageContainer, HandlesAreIndependentAndNeverReused) {
  TSingleFileSystem fs;
  fs.CreateInMemory();
  WriteFile(fs, "f", {1, 2, 3, 4, 5});
  const int32_t a = fs.FileOpen("f", platform::fmOpenRead);
  const int32_t b = fs.FileOpen("f", platform::fmOpenRead);
  EXPECT_GT(b, a);
  uint8_t x = 0;
  EXPECT_EQ(fs.FileRead(a, &x, 1), 1);
  EXPECT_EQ(x, 1);
  EXPECT_EQ(fs.FileRead(a, &x, 1), 1);
  EXPECT_EQ(fs.FileRead(b, &x, 1), 1);
  EXPECT_EQ(x, 1);
  fs.FileClose(a);
  const int32_t c = fs.FileOpen("f", platform::fmOpenRead);
  EXPECT_GT(c, b);
  // Open files are neither deleted nor replaced.
  EXPECT_FALSE(fs.DeleteFile("f"));
  EXPECT_EQ(fs.FileCreate("f"), erFileNotDeleted);
  EXPECT_EQ(fs.FileOpen("f", platform::fmCreate), erFileNotDeleted);
  fs.FileClose(b);
  fs.FileClose(c);
  EXPECT_GE(fs.FileCreate("f"), 0);  // closed: replaced by an empty file
  TDirectoryElement e;
  ASSERT_TRUE(fs.GetFileInfo("f", e));
  EXPECT_EQ(+e.FileSize, 0);
  EXPECT_EQ(fs.FileOpen("missing", platform::fmOpenRead), -1);
  EXPECT_EQ(fs.FileOpen("", platform::fmCreate), -1);
  EXPECT_EQ(fs.OpenHandleCount(), 0);
}

TEST(StorageContainer, SetSizeGrowsWithZerosAndShrinks) {
  TSingleFileSystem fs;
  fs.CreateInMemory();
  const int32_t h = fs.FileOpen("f", platform::fmCreate);
  EXPECT_EQ(fs.FileSetSize(h, 10000), 10000);
  EXPECT_EQ(fs.FileSeek(h, 1, 0), 10000);
  std::vector<uint8_t> buf(10000, 0xAA);
  fs.FileSeek(h, 0, 0);
  EXPECT_EQ(fs.FileRead(h, buf.data(), 10000), 10000);
  EXPECT_EQ(std::count(buf.begin(), buf.end(), 0), 10000);
  EXPECT_EQ(fs.FileSetSize(h, 10), 10);
  EXPECT_EQ(fs.FileGetSize(h), 10);
  EXPECT_EQ(fs.FileSetSize(h, 0), 0);
  TDirectoryElement e;
  ASSERT_TRUE(fs.GetFileInfo("f", e));
  EXPECT_EQ(+e.FirstMapPageNo, -1);
  EXPECT_EQ(fs.FileSetSize(9999, 1), erInvalidHandle);
  // A write past the end fills the gap with zeros.
  fs.FileSeek(h, 0, 6000);
  EXPECT_EQ(fs.FileWrite(h, "x", 1), 1);
  EXPECT_EQ(fs.FileGetSize(h), 6001);
  fs.FileClose(h);
  const auto back = ReadFile(fs, "f");
  EXPECT_EQ(std::count(back.begin(), back.end(), 0), 6000);
  EXPECT_EQ(back.back(), 'x');
  EXPECT_TRUE(fs.CheckIntegrity().empty());
}

// Writes that begin and end inside pages keep the rest of those pages, plain and enciphered
// (with the container's key and with the file's own).
TEST(StorageContainer, OverwriteInsideAFile) {
  for (const bool enciphered : {false, true}) {
    TSFSCreateOptions o;
    if (enciphered) o.Password = "pw";
    TSingleFileSystem fs;
    fs.CreateInMemory(o);
    auto data = RandomBytes(20000, 5);
    WriteFile(fs, "f", data);
    if (enciphered) {
      const int32_t own = fs.FileOpen("own", platform::fmCreate, "fp");
      ASSERT_EQ(fs.FileWrite(own, data.data(), 20000), 20000);
      fs.FileClose(own);
    }
    const auto patch = RandomBytes(9000, 6);
    for (const char* name : {"f", "own"}) {
      if (!enciphered && std::string(name) == "own") continue;
      const int32_t h = fs.FileOpen(name, platform::fmOpenReadWrite, std::string(name) == "own" ? "fp" : "");
      ASSERT_GT(h, 0);
      fs.FileSeek(h, 0, 4000);
      EXPECT_EQ(fs.FileWrite(h, patch.data(), 9000), 9000);
      fs.FileSeek(h, 0, 4050);
      EXPECT_EQ(fs.FileWrite(h, "ab", 2), 2);  // within one page
      fs.FileClose(h);
    }
    auto want = data;
    std::copy(patch.begin(), patch.end(), want.begin() + 4000);
    want[4050] = 'a';
    want[4051] = 'b';
    EXPECT_EQ(ReadFile(fs, "f"), want) << enciphered;
    if (enciphered) {
      const int32_t h = fs.FileOpen("own", platform::fmOpenRead, "fp");
      std::vector<uint8_t> back(20000);
      fs.FileSeek(h, 0, 3990);  // a read that starts and ends inside pages
      EXPECT_EQ(fs.FileRead(h, back.data(), 9100), 9100);
      EXPECT_EQ(0, std::memcmp(back.data(), want.data() + 3990, 9100));
      fs.FileClose(h);
    }
    EXPECT_TRUE(fs.CheckIntegrity().empty());
  }
}

TEST(StorageContainer, ReadsAndWritesGoingOnInsideAPageSeeWritesMadeMeanwhile) {
  // A read or write that ends inside a page keeps that page for the one that goes on from there;
  // a write to it in between, through this or another handle, must show; in an enciphered
  // container as well (the kept page is the deciphered one).
  for (const char* password : {"", "pw"}) {
    SCOPED_TRACE(password);
    TSFSCreateOptions o;
    o.Password = password;
    TSingleFileSystem fs;
    fs.CreateInMemory(o);
    auto want = RandomBytes(12000, 7);
    WriteFile(fs, "f", want);
    const int32_t reader = fs.FileOpen("f", platform::fmOpenReadWrite);
    const int32_t writer = fs.FileOpen("f", platform::fmOpenReadWrite);
    ASSERT_GT(reader, 0);
    ASSERT_GT(writer, 0);
    std::vector<uint8_t> back(12000);
    ASSERT_EQ(fs.FileRead(reader, back.data(), 1000), 1000);  // ends inside page 1 of the file
    fs.FileSeek(writer, 0, 1500);
    ASSERT_EQ(fs.FileWrite(writer, "XY", 2), 2);
    want[1500] = 'X';
    want[1501] = 'Y';
    ASSERT_EQ(fs.FileRead(reader, back.data() + 1000, 3000), 3000);  // ends inside the next page
    fs.FileSeek(reader, 0, 4000);
    ASSERT_EQ(fs.FileWrite(reader, "Z", 1), 1);
    want[4000] = 'Z';
    fs.FileSeek(reader, 0, 4000);
    ASSERT_EQ(fs.FileRead(reader, back.data() + 4000, 8000), 8000);
    EXPECT_EQ(back, want);
    // Writing on: each write starts inside the page the last one ended in.
    fs.FileSeek(reader, 0, 100);
    ASSERT_EQ(fs.FileWrite(reader, std::string(1000, 'a').data(), 1000), 1000);
    fs.FileSeek(writer, 0, 3000);
    ASSERT_EQ(fs.FileWrite(writer, "B", 1), 1);
    ASSERT_EQ(fs.FileWrite(reader, std::string(500, 'c').data(), 500), 500);
    ASSERT_EQ(fs.FileWrite(reader, std::string(100, 'd').data(), 100), 100);
    std::fill_n(want.begin() + 100, 1000, 'a');
    want[3000] = 'B';
    std::fill_n(want.begin() + 1100, 500, 'c');
    std::fill_n(want.begin() + 1600, 100, 'd');
    fs.FileClose(reader);
    fs.FileClose(writer);
    EXPECT_EQ(ReadFile(fs, "f"), want);
  }
}

TEST(StorageContainer, ReplaceKeepsACompleteVersionAtEveryStep) {
  TSingleFileSystem fs;
  fs.CreateInMemory();
  EXPECT_LT(fs.FileOpen("dir/../f", platform::fmCreate), 0);  // "dir" does not exist: no file is made
  EXPECT_FALSE(fs.FileExists("f"));
  ASSERT_GE(fs.ForceDirectories("dir"), 0);
  WriteFile(fs, "dir/f", RandomBytes(9000, 1));
  WriteFile(fs, "dir/f.~new", RandomBytes(7000, 2));
  ASSERT_TRUE(fs.ReplaceFile("dir/f.~new", "dir/f"));
  EXPECT_EQ(ReadFile(fs, "dir/f"), RandomBytes(7000, 2));
  EXPECT_FALSE(fs.FileExists("dir/f.~new"));
  EXPECT_FALSE(fs.FileExists("dir/f.~old"));
  EXPECT_TRUE(fs.CheckIntegrity().empty());
}

TEST(StorageContainer, MultiPartWithStubAcrossReopen) {
  TTempDir dir;
  TSFSCreateOptions o;
  o.PartSize = 20000;
  o.Stub = std::vector<uint8_t>(777, 'S');
  const auto big = RandomBytes(200000, 9);
  {
    TSingleFileSystem fs;
    fs.CreateContainer(dir / "m.sfs", o);
    WriteFile(fs, "small", {7});
    WriteFile(fs, "big", big);
  }
  EXPECT_TRUE(std::filesystem::exists(dir / "m.sfs9"));
  EXPECT_EQ(std::filesystem::file_size(dir / "m.sfs"), 20000u);
  TSingleFileSystem fs;
  fs.OpenContainer(dir / "m.sfs");
  EXPECT_EQ(ReadFile(fs, "big"), big);
  EXPECT_EQ(ReadFile(fs, "small"), std::vector<uint8_t>({7}));
  EXPECT_TRUE(fs.CheckIntegrity().empty());
  // Deleting the big file shortens the chain again.
  ASSERT_TRUE(fs.DeleteFile("big"));
  EXPECT_FALSE(std::filesystem::exists(dir / "m.sfs9"));
  fs.Close();
  fs.OpenContainer(dir / "m.sfs");
  EXPECT_EQ(ReadFile(fs, "small"), std::vector<uint8_t>({7}));
  EXPECT_TRUE(fs.CheckIntegrity().empty());
}

// A container file copied while open (as a crash would leave it) may hold zero bytes past its
// last page, which the file keeps in reserve for growth: it opens, checks and grows as usual.
TEST(StorageContainer, BytesHeldInReserveAtACrashAreHarmless) {
  TTempDir dir;
  const auto data = RandomBytes(300000, 11);
  {
    TSingleFileSystem fs;
    fs.CreateContainer(dir / "c.sfs");
    WriteFile(fs, "a", data);
    std::filesystem::copy_file(dir / "c.sfs", dir / "crash.sfs");
  }
  // With room on the disk the reserve is there; close to full the file grows without one.
  if (std::filesystem::space(dir.Path()).available > (int64_t{1} << 30)) {
    EXPECT_GT(std::filesystem::file_size(dir / "crash.sfs"), std::filesystem::file_size(dir / "c.sfs"));
  }
  {
    TSingleFileSystem fs;
    fs.OpenContainer(dir / "crash.sfs");
    EXPECT_EQ(ReadFile(fs, "a"), data);
    EXPECT_TRUE(fs.CheckIntegrity().empty());
    WriteFile(fs, "b", data);
  }
  TSingleFileSystem fs;
  fs.OpenContainer(dir / "crash.sfs");
  EXPECT_EQ(ReadFile(fs, "a"), data);
  EXPECT_EQ(ReadFile(fs, "b"), data);
  EXPECT_TRUE(fs.CheckIntegrity().empty());
}

TEST(StorageContainer, ReadOnlyContainerNeverWrites) {
  TTempDir dir;
  {
    TSingleFileSystem fs;
    fs.CreateContainer(dir / "r.sfs");
    WriteFile(fs, "f", RandomBytes(100, 1));
  }
  const auto before = std::filesystem::last_write_time(dir / "r.sfs");
  const auto size = std::filesystem::file_size(dir / "r.sfs");
  TSingleFileSystem fs;
  fs.OpenContainer(dir / "r.sfs", {}, true);
  EXPECT_EQ(ReadFile(fs, "f"), RandomBytes(100, 1));
  EXPECT_LT(fs.FileCreate("g"), 0);
  EXPECT_FALSE(fs.DeleteFile("f"));
  const int32_t h = fs.FileOpen("f", platform::fmOpenRead);
  EXPECT_EQ(fs.FileWrite(h, "x", 1), 0);
  EXPECT_LT(fs.FileSetSize(h, 0), 0);
  fs.FileClose(h);
  fs.Close();
  EXPECT_EQ(std::filesystem::last_write_time(dir / "r.sfs"), before);
  EXPECT_EQ(std::filesystem::file_size(dir / "r.sfs"), size);
}

TEST(StorageContainer, DamagedHeadersAreRefused) {
  TSingleFileSystem fs;
  fs.CreateInMemory();
  const auto image = fs.SaveToImage();
  struct Case {
    size_t offset;  // in the image: part header (280 bytes), then page 0
    const char* message;
  } cases[] = {
      {0, "TSFSHugeFile.OpenFilesChain - not a container file"},
      {280 + 0, "TSFSHugeFile.OpenFilesChain - not a container file"},
      {280 + 8, "TPageFileManager.LoadSFHeader - header checksum error."},
      {280 + 20, "TPageFileManager.LoadSFHeader - header checksum error."},
  };
  for (const auto& c : cases) {
    auto bad = image;
    bad[c.offset] ^= 0x10;
    TSingleFileSystem other;
    try {
      other.OpenFromImage(bad);
      ADD_FAILURE() << "opened with a flip at " << c.offset;
    } catch (const platform::Exception& e) {
      EXPECT_EQ(std::string(e.what()).rfind(c.message, 0), 0u) << e.what();
    }
    EXPECT_FALSE(other.IsOpen());
  }
  // A truncated image.
  TSingleFileSystem other;
  EXPECT_THROW(other.OpenFromImage(std::vector<uint8_t>(image.begin(), image.begin() + 300)), platform::Exception);
}
