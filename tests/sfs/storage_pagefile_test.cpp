// The page file: page checksums, encryption, header-only access, growth.
#include <gtest/gtest.h>

#include <cstring>
#include <random>

#include "crypto/Rijndael.h"
#include "sfs/Checksum.h"
#include "sfs/FreeSpaceManager.h"
#include "sfs/PageFileManager.h"
#include "sfs/SingleFileSystem.h"
#include "storage_support.h"

using namespace sfs;
using sfs_test::RandomBytes;

TEST(StoragePageFile, ChecksumTypes) {
  TSingleFileSystem fs;
  fs.CreateInMemory();
  TIntegerArray pages;
  ASSERT_TRUE(fs.FSM().GetPages(2, 1, pages, false));
  TPageBuffer page(fs.PageDataSize());
  page.PageHeader.CrcType = 0;
  ASSERT_TRUE(fs.PFM().WritePage(page, pages[0]));
  EXPECT_EQ(+page.PageHeader.CRC, 0u);
  std::memcpy(page.pData, "abc", 3);
  page.PageHeader.CrcType = 1;
  ASSERT_TRUE(fs.PFM().WritePage(page, pages[1], {}, 3));
  EXPECT_EQ(+page.PageHeader.CRC, 0x9738u);
  ASSERT_TRUE(fs.PFM().ReadPage(page, pages[1], false, {}, 3));
  page.PageHeader.CrcType = 7;  // no checksum: every check passes, the stored value is 0
  ASSERT_TRUE(fs.PFM().WritePage(page, pages[1]));
  EXPECT_EQ(+page.PageHeader.CRC, 0u);
}

TEST(StoragePageFile, WordWiseChecksumEqualsCountCRC) {
  std::mt19937 rng(3);
  for (int32_t size : {0, 1, 3, 4, 5, 7, 8, 9, 31, 32, 33, 63, 64, 65, 68, 72, 100, 127, 128, 4063, 4064}) {
    const auto data = RandomBytes(static_cast<size_t>(size), rng());
    EXPECT_EQ(PageCRC(data.data(), size, crcFast), CountCRC(data.data(), size, crcFast)) << size;
    EXPECT_EQ(PageCRC(data.data(), size, crcFull), CountCRC(data.data(), size, crcFull)) << size;
  }
}

TEST(StoragePageFile, HeaderOnlyIgnoreEncryptedAndDamage) {
  TSFSCreateOptions o;
  o.Password = "k";
  TSingleFileSystem fs;
  fs.CreateInMemory(o);
  TIntegerArray pages;
  ASSERT_TRUE(fs.FSM().GetPages(1, 1, pages, false));
  const int32_t no = pages[0];
  const auto plain = RandomBytes(static_cast<size_t>(fs.PageDataSize()), 1);
  TPageBuffer page(fs.PageDataSize());
  std::memcpy(page.pData, plain.data(), plain.size());
  page.PageHeader.EncType = encRijndael;
  page.PageHeader.PageType = UFPage;
  ASSERT_TRUE(fs.PFM().WritePage(page, no));
  // The stored bytes are those of a fresh cipher made from the key for this one page.
  std::vector<uint8_t> expect = plain;
  crypto::TCipher_Rijndael fresh(fs.PFM().FKey);
  fresh.EncodeBuffer(expect.data(), expect.data(), static_cast<int32_t>(expect.size()));
  TPageBuffer raw(fs.PageDataSize());
  ASSERT_TRUE(fs.PFM().ReadPage(raw, no, true));
  EXPECT_EQ(0, std::memcmp(raw.pData, expect.data(), expect.size()));
  ASSERT_TRUE(fs.PFM().ReadPage(raw, no, false));
  EXPECT_EQ(0, std::memcmp(raw.pData, plain.data(), plain.size()));
  // Header only: no data buffer needed.
  TFFPage bare;
  ASSERT_TRUE(fs.PFM().ReadPage(bare, no, false, {}, 0));
  EXPECT_EQ(+bare.PageHeader.PageType, UFPage);
  // A changed data byte fails the checksum before anything is deciphered.
  auto image = fs.SaveToImage();
  image[280 + static_cast<size_t>(no) * 4096 + 32 + 10] ^= 1;
  TSingleFileSystem other;
  other.OpenFromImage(image, "k");
  EXPECT_FALSE(other.PFM().ReadPage(raw, no, false));
  EXPECT_EQ(other.PFM().FLastError, erCRCError);
  // Outside the page space, and a page that starts at the end of the file.
  EXPECT_FALSE(fs.PFM().ReadPage(raw, 0, false));
  EXPECT_EQ(fs.PFM().FLastError, erReadPageHeaderError);
  EXPECT_FALSE(fs.PFM().WritePage(raw, fs.Header().TOTALPageCount));
  EXPECT_EQ(fs.PFM().FLastError, erWritePageHeaderError);
}

TEST(StoragePageFile, AppendPagesThatCannotGrow) {
  auto plan = std::make_shared<TSFSFaultPlan>();
  plan->Kinds = TSFSFaultPlan::fkSize;
  TSingleFileSystem fs;
  fs.SetFaultPlan(plan);
  fs.CreateInMemory();
  const int32_t total = fs.Header().TOTALPageCount;
  plan->FailAt = plan->Count + 1;
  EXPECT_FALSE(fs.PFM().AppendPages(8));
  EXPECT_EQ(+fs.Header().TOTALPageCount, total);
  plan->FailAt = -1;
  EXPECT_TRUE(fs.PFM().AppendPages(8));
  EXPECT_EQ(+fs.Header().TOTALPageCount, total + 8);
}

TEST(StoragePageFile, RunsReadAndWriteLikeSinglePages) {
  TSingleFileSystem fs;
  fs.CreateInMemory();
  TIntegerArray pages;
  ASSERT_TRUE(fs.FSM().GetPages(16, 1000, pages, true));
  const int32_t d = fs.PageDataSize();
  const auto data = RandomBytes(static_cast<size_t>(16 * d), 2);
  TPageHeader header{};
  header.NextPageNo = -1;
  header.PageType = UFPage;
  std::vector<const uint8_t*> sources;
  for (int32_t i = 0; i < 16; ++i) sources.push_back(data.data() + i * d);
  ASSERT_EQ(fs.PFM().WritePages(pages[0], 16, sources.data(), header, {}), 16);
  TPageBuffer page(d);
  for (int32_t i = 0; i < 16; ++i) {
    ASSERT_TRUE(fs.PFM().ReadPage(page, pages[0] + i, false));
    EXPECT_EQ(0, std::memcmp(page.pData, data.data() + i * d, static_cast<size_t>(d)));
  }
  std::vector<uint8_t> back(data.size());
  std::vector<TPageHeader> headers(16);
  std::vector<uint8_t*> dests;
  for (int32_t i = 0; i < 16; ++i) dests.push_back(back.data() + i * d);
  EXPECT_EQ(fs.PFM().ReadPages(pages[0], 16, dests.data(), headers.data(), {}), 16);
  EXPECT_EQ(back, data);
  // A damaged page in the middle stops the run there.
  auto image = fs.SaveToImage();
  image[280 + static_cast<size_t>(pages[0] + 5) * 4096 + 40] ^= 1;
  TSingleFileSystem other;
  other.OpenFromImage(image);
  EXPECT_EQ(other.PFM().ReadPages(pages[0], 16, dests.data(), headers.data(), {}), 5);
  EXPECT_EQ(other.PFM().FLastError, erCRCError);
}
