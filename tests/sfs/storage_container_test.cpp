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
  EXPECT_EQ(h.Version, FormatVersion);
  EXPECT_EQ(h.PageSize, 4096);
  EXPECT_EQ(h.ExtentPageCount, 8);
  EXPECT_EQ(h.HDRPageCount, 1);
  EXPECT_EQ(h.TOTALPageCount, 1);
  EXPECT_EQ(h.GAMPageCount, 0);
  EXPECT_EQ(h.PFSPageCount, 0);
  EXPECT_EQ(h.DIRPageCount, 0);
  EXPECT_EQ(h.DIRElementsCount, 0);
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
