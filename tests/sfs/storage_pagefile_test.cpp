// The page file: page checksums, encryption, header-only access, growth.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <unistd.h>

#include <cstring>
#include <fstream>
#include <limits>
#include <random>

#include "crypto/Rijndael.h"
#include "sfs/Checksum.h"
#include "sfs/FreeSpaceManager.h"
#include "sfs/PageFileManager.h"
#include "sfs/SingleFileSystem.h"
#include "storage_support.h"

using namespace sfs;
using sfs_test::RandomBytes;
using sfs_test::TTempDir;

namespace {

// Sixteen consecutive data pages written in one run, plain or enciphered with the container's
// key, in a container on disk or in memory.
struct TPageRun {
  static constexpr int32_t cPages = 16;
  TTempDir Dir;
  TSingleFileSystem FS;
  std::string Password;
  int32_t First = 0;
  int32_t DataSize = 0;
  std::vector<uint8_t> Data;

  TPageRun(bool OnDisk, bool Enciphered) : Password(Enciphered ? "k" : "") {
    TSFSCreateOptions o;
    o.Password = Password;
    if (OnDisk)
      FS.CreateContainer(FileName(), o);
    else
      FS.CreateInMemory(o);
    TIntegerArray pages;
    EXPECT_TRUE(FS.FSM().GetPages(cPages, 1000, pages, true));
    First = pages[0];
    DataSize = FS.PageDataSize();
    Data = RandomBytes(static_cast<size_t>(cPages * DataSize), 2);
    TPageHeader header{};
    header.NextPageNo = -1;
    header.PageType = UFPage;
    header.EncType = Enciphered ? encRijndael : encNone;
    std::vector<const uint8_t*> sources;
    for (int32_t i = 0; i < cPages; ++i) sources.push_back(Page(i));
    EXPECT_EQ(FS.PFM().WritePages(First, cPages, sources.data(), header, {}), cPages);
  }
  std::string FileName() const { return Dir / "run.sfs"; }
  const uint8_t* Page(int32_t i) const { return Data.data() + int64_t{i} * DataSize; }
  // Where page i of the run starts in the file (no stub: behind the 280-byte part header).
  int64_t FileOffset(int32_t i) const { return HFPHeaderSize + int64_t{First + i} * FS.Header().PageSize; }
  // Reads the run into Into; returns the pages read.
  int32_t Read(TSingleFileSystem& From, std::vector<uint8_t>& Into) const {
    Into.assign(Data.size(), 0);
    std::vector<uint8_t*> dests;
    for (int32_t i = 0; i < cPages; ++i) dests.push_back(Into.data() + int64_t{i} * DataSize);
    std::vector<TPageHeader> headers(cPages);
    return From.PFM().ReadPages(First, cPages, dests.data(), headers.data(), {});
  }
};

}  // namespace

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

// The word-wise checksum, alone and while copying (every byte copied, also those past the last
// whole word).
TEST(StoragePageFile, WordWiseChecksumEqualsCountCRC) {
  std::mt19937 rng(3);
  for (int32_t size : {0, 1, 3, 4, 5, 7, 8, 9, 31, 32, 33, 63, 64, 65, 68, 72, 100, 127, 128, 4063, 4064}) {
    const auto data = RandomBytes(static_cast<size_t>(size), rng());
    for (const TCRCMode mode : {crcFast, crcFull}) {
      EXPECT_EQ(PageCRC(data.data(), size, mode), CountCRC(data.data(), size, mode)) << size;
      std::vector<uint8_t> copy(data.size() + 1, 0xEE);
      EXPECT_EQ(CopyWithPageCRC(data.data(), copy.data(), size, mode), CountCRC(data.data(), size, mode)) << size;
      EXPECT_TRUE(std::equal(data.begin(), data.end(), copy.begin())) << size;
      EXPECT_EQ(copy.back(), 0xEE) << "nothing past the end, size " << size;
    }
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

// A run is read from where the file holds it in memory (a memory file, a disk file's mapping):
// a damaged page stops it with the checksum error, the pages before it deciphered, the damaged
// one left as stored, not deciphered.
TEST(StoragePageFile, RunsCheckEveryPageBeforeDecipheringIt) {
  for (const bool onDisk : {false, true}) {
    for (const bool enciphered : {false, true}) {
      SCOPED_TRACE(std::string(onDisk ? "disk" : "memory") + (enciphered ? ", enciphered" : ", plain"));
      TPageRun run(onDisk, enciphered);
      std::vector<uint8_t> back;
      ASSERT_EQ(run.Read(run.FS, back), TPageRun::cPages);
      EXPECT_EQ(back, run.Data);
      // Page 5 as stored, with one byte of its data changed.
      std::vector<uint8_t> stored(run.Page(5), run.Page(6));
      if (enciphered)
        crypto::TCipher_Rijndael(run.FS.PFM().FKey).EncodeBuffer(stored.data(), stored.data(), run.DataSize);
      stored[40] ^= 1;
      const int64_t at = run.FileOffset(5) + PageHeaderSize + 40;
      TSingleFileSystem damaged;
      if (onDisk) {
        run.FS.Close();
        std::fstream f(run.FileName(), std::ios::in | std::ios::out | std::ios::binary);
        f.seekp(at);
        f.put(static_cast<char>(stored[40]));
        f.close();
        damaged.OpenContainer(run.FileName(), run.Password);
      } else {
        auto image = run.FS.SaveToImage();
        image[static_cast<size_t>(at)] = stored[40];
        damaged.OpenFromImage(image, run.Password);
      }
      EXPECT_EQ(run.Read(damaged, back), 5);
      EXPECT_EQ(damaged.PFM().FLastError, erCRCError);
      EXPECT_TRUE(std::equal(run.Page(0), run.Page(5), back.begin()));
      EXPECT_TRUE(std::equal(stored.begin(), stored.end(), back.begin() + 5 * run.DataSize));
    }
  }
}

// Another holder shrinks the file while the run is mapped: the read ends at the cut, with the
// error that says whether the cut page lost its header or part of its data, and no crash (the
// deciphering of the page before the cut asks the cache for the vanished bytes).
TEST(StoragePageFile, ARunCutShortBehindTheReadersBackEndsAtTheCut) {
  for (const bool enciphered : {false, true}) {
    for (const auto& [intoPage, error] :
         {std::pair{10, erReadPageHeaderError}, std::pair{PageHeaderSize + 100, erReadPageError}}) {
      SCOPED_TRACE(std::string(enciphered ? "enciphered" : "plain") + ", cut at " + std::to_string(intoPage));
      TPageRun run(true, enciphered);
      std::vector<uint8_t> back;
      ASSERT_EQ(run.Read(run.FS, back), TPageRun::cPages);
      ASSERT_EQ(::truncate(run.FileName().c_str(), static_cast<off_t>(run.FileOffset(8) + intoPage)), 0);
      EXPECT_EQ(run.Read(run.FS, back), 8);
      EXPECT_EQ(run.FS.PFM().FLastError, error);
      EXPECT_TRUE(std::equal(run.Page(0), run.Page(8), back.begin()));
    }
  }
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

// A batch writes each page as WritePage would, neighbours in one transfer, and stops at the
// first page it may not or cannot write.
TEST(StoragePageFile, BatchesWriteLikeSinglePagesAndStopAtTheFirstFailure) {
  auto plan = std::make_shared<TSFSFaultPlan>();
  plan->Kinds = TSFSFaultPlan::fkWrite;
  plan->FailAt = std::numeric_limits<int64_t>::max();  // counts the writes, fails none
  TSingleFileSystem fs;
  fs.SetFaultPlan(plan);
  fs.CreateInMemory();
  TIntegerArray pages;
  ASSERT_TRUE(fs.FSM().GetPages(8, 1000, pages, true));
  const int32_t first = pages[0];
  const auto data = RandomBytes(4 * 100, 3);
  std::vector<TPageWrite> batch(4);
  for (int32_t i = 0; i < 4; ++i) {
    // Pages first, first + 1, first + 2 and first + 4; the third without its data.
    batch[i].PageNo = first + i + (i == 3 ? 1 : 0);
    batch[i].Header.NextPageNo = -1;
    batch[i].Header.PageType = static_cast<uint8_t>(GAMPage + i);
    batch[i].Header.CrcType = cCrcTypeFull;
    batch[i].Data = i == 2 ? nullptr : data.data() + i * 100;
    batch[i].DataSize = i == 2 ? 0 : 100 - i;
  }
  const int64_t writesBefore = plan->Count;
  EXPECT_EQ(fs.PFM().WritePageBatch(batch), 4);
  EXPECT_EQ(plan->Count - writesBefore, 2);  // first .. first + 2, then first + 4
  TPageBuffer page(fs.PageDataSize());
  for (int32_t i = 0; i < 4; ++i) {
    ASSERT_TRUE(fs.PFM().ReadPage(page, batch[i].PageNo, true, {}, batch[i].DataSize)) << i;
    EXPECT_EQ(page.PageHeader.PageType, batch[i].Header.PageType) << i;
    if (batch[i].Data != nullptr) {
      EXPECT_EQ(0, std::memcmp(page.pData, batch[i].Data, static_cast<size_t>(batch[i].DataSize))) << i;
    }
  }
  // A page outside the page space is refused; the pages before it are written.
  batch[1].PageNo = fs.Header().TOTALPageCount;
  EXPECT_EQ(fs.PFM().WritePageBatch(batch), 1);
  EXPECT_EQ(fs.PFM().FLastError, erWritePageHeaderError);
  // A transfer that fails: the pages of the runs before it count as written.
  batch[1].PageNo = first + 1;
  plan->FailAt = plan->Count + 2;
  EXPECT_EQ(fs.PFM().WritePageBatch(batch), 3);
  EXPECT_EQ(fs.PFM().FLastError, erWritePageHeaderError);
}
