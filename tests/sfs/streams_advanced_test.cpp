// The compressed block stream over an in-memory inner stream: layout, plain files, block failures,
// repair on open, size changes, re-chaining, the block cache, progress, and random operations
// against a plain model at every level.
#include <gtest/gtest.h>

#include <cstring>
#include <random>
#include <string>

#include "sfs/AdvancedFileStream.h"
#include "sfs/Checksum.h"
#include "streams_support.h"

namespace sfs {
namespace {

using namespace sfs::testing;
using platform::fmCreate;
using platform::fmOpenRead;
using platform::fmOpenReadWrite;
using platform::soBeginning;
using platform::soCurrent;
using platform::soEnd;

TEST(StreamsHeadersArray, GrowsAndShrinksInDoublingSteps) {
  TSFSHeadersArray a;
  struct Step {
    int32_t size;
    int32_t capacity;
  };
  // Growth steps 100, 200, 400, 800 ...; shrinking frees only past the de-allocation step.
  const Step steps[] = {{1, 100}, {100, 100}, {101, 300}, {301, 700}, {650, 700}, {500, 500}, {450, 500},
                        {250, 250}, {251, 1050}, {0, 0}};
  for (const Step& s : steps) {
    a.SetSize(s.size);
    EXPECT_EQ(a.Count(), s.size);
    EXPECT_EQ(a.Capacity(), s.capacity) << "after SetSize(" << s.size << ")";
  }
  a.AppendItem(TSFSHeader{5, 6, 7, 8}, 1234);
  ASSERT_EQ(a.Count(), 1);
  EXPECT_EQ(a.Items(0).trueSize, 6);
  EXPECT_EQ(a.Positions(0), 1234);
  // Entries that come back into use start blank.
  a.SetSize(0);
  a.SetSize(1);
  EXPECT_EQ(a.Items(0).packedSize, 0);
  EXPECT_EQ(a.Positions(0), 0);
}

TEST(StreamsLayout, HeaderAndBlockHeaderAreStoredAsLaidOut) {
  auto bytes = std::make_shared<TSharedBytes>();
  {
    auto s = OpenOn(bytes, fmCreate, zlibNormal);
    ASSERT_EQ(s->Write("abc", 3), 3);
  }
  const TBytes& b = bytes->data;
  ASSERT_GE(b.size(), 144u);
  EXPECT_EQ(std::string(b.begin(), b.begin() + 4), "AACS");
  EXPECT_EQ(GetI32(b, 4), 1 << 20);
  EXPECT_EQ(GetI32(b, 8), 0);
  EXPECT_EQ(GetI32(b, 12), 1);
  EXPECT_EQ((TBytes(b.begin() + 16, b.begin() + 20)), (TBytes{0x00, 0x00, 0x00, 0x40}));
  EXPECT_EQ(b[20], 2);  // zlibNormal
  for (size_t i = 21; i < 128; ++i) EXPECT_EQ(b[i], 0) << "offset " << i;
  const int32_t packed = GetI32(b, 128);
  EXPECT_EQ(GetI32(b, 132), 3);
  EXPECT_EQ(static_cast<uint32_t>(GetI32(b, 136)), 0x9738u);
  EXPECT_EQ(GetI32(b, 140), 128 + 16 + packed);
  EXPECT_EQ(b.size(), static_cast<size_t>(128 + 16 + packed));

  auto r = OpenOn(bytes, fmOpenRead);
  EXPECT_TRUE(r->IsCompressed());
  EXPECT_EQ(r->CompressionLevel(), zlibNormal);
  EXPECT_EQ(r->GetSize(), 3);
  EXPECT_EQ(ReadAll(*r), (TBytes{'a', 'b', 'c'}));
}

TEST(StreamsLayout, BlockSizeFollowsTheLevel) {
  for (const TSFSCompressionLevel level : cAllLevels) {
    if (level == sfsNone) continue;
    auto bytes = std::make_shared<TSharedBytes>();
    auto s = OpenOn(bytes, fmCreate, level);
    EXPECT_EQ(s->BlockSize(), SFSInternalGetBlockSize(level));
    EXPECT_EQ(GetI32(bytes->data, 4), SFSInternalGetBlockSize(level));
    EXPECT_EQ(bytes->data.size(), 128u);
  }
}

TEST(StreamsPlain, FilesWithoutTheHeaderAreReadAndWrittenAsPlainBytes) {
  struct Case {
    const char* name;
    TBytes content;
  };
  TBytes shortAacs = {'A', 'A', 'C', 'S'};
  shortAacs.resize(100, 7);
  TBytes noSignature = TextBytes(300, 1);
  noSignature[0] = 'X';
  const Case cases[] = {{"shorter than the header, starting with AACS", shortAacs},
                        {"no AACS signature", noSignature},
                        {"empty", {}}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    auto bytes = std::make_shared<TSharedBytes>();
    bytes->data = c.content;
    auto s = OpenOn(bytes, fmOpenReadWrite, sfsNone, zlibNormal);
    EXPECT_FALSE(s->IsCompressed());
    EXPECT_EQ(s->GetSize(), static_cast<int64_t>(c.content.size()));
    EXPECT_EQ(ReadAll(*s, 7), c.content);
    WriteAt(*s, 2, {'x', 'y'});
    TBytes expected = c.content;
    if (expected.size() < 4) expected.resize(4);
    expected[2] = 'x';
    expected[3] = 'y';
    EXPECT_EQ(bytes->data, expected);
  }
}

TEST(StreamsPlain, CreatingWithoutLevelFollowsTheContainerDefault) {
  auto plain = std::make_shared<TSharedBytes>();
  {
    auto s = OpenOn(plain, fmCreate, sfsNone, sfsNone);
    WriteAt(*s, 0, TextBytes(5000, 2));
    EXPECT_FALSE(s->IsCompressed());
  }
  EXPECT_EQ(plain->data, TextBytes(5000, 2));

  auto packed = std::make_shared<TSharedBytes>();
  {
    auto s = OpenOn(packed, fmCreate, sfsNone, bzipFastest);
    WriteAt(*s, 0, TextBytes(5000, 2));
    EXPECT_EQ(s->CompressionLevel(), bzipFastest);
  }
  EXPECT_EQ(std::string(packed->data.begin(), packed->data.begin() + 4), "AACS");
  EXPECT_EQ(ReadAll(*OpenOn(packed, fmOpenRead)), TextBytes(5000, 2));
}

TEST(StreamsRead, AtOrPastTheEndReturnsNothing) {
  auto bytes = std::make_shared<TSharedBytes>();
  auto s = CreateWithBlockSize(bytes, zlibFastest, 4096);
  const TBytes data = TextBytes(10000, 3);
  WriteAt(*s, 0, data);
  uint8_t buffer[64];
  EXPECT_EQ(s->Seek(0, soEnd), 10000);
  EXPECT_EQ(s->Read(buffer, 64), 0);
  EXPECT_EQ(s->Seek(50000, soBeginning), 50000);
  EXPECT_EQ(s->Read(buffer, 64), 0);
  EXPECT_EQ(s->Seek(-20, soBeginning), 0);  // before the start: clamped
  EXPECT_EQ(s->Seek(-10, soEnd), 9990);
  ASSERT_EQ(s->Read(buffer, 64), 10);
  EXPECT_EQ(0, std::memcmp(buffer, data.data() + 9990, 10));
  EXPECT_EQ(s->Seek(0, soCurrent), 10000);
  EXPECT_EQ(s->Read(buffer, 0), 0);
}

// A stream of several 4 KiB blocks, and the offset of block `index`'s header in its bytes.
struct TSmallStream {
  std::shared_ptr<TSharedBytes> bytes = std::make_shared<TSharedBytes>();
  TBytes content;
  std::vector<int64_t> positions;

  explicit TSmallStream(TSFSCompressionLevel level = zlibNormal, size_t size = 3 * 4096 + 1000) {
    content = TextBytes(size, 11);
    auto s = CreateWithBlockSize(bytes, level, 4096);
    WriteAt(*s, 0, content);
    for (int32_t i = 0; i < s->NumBlocks(); ++i) positions.push_back(s->Headers().Positions(i));
  }
  size_t At(int32_t block, size_t field) const { return static_cast<size_t>(positions[block]) + field; }
};

TEST(StreamsCorrupt, BlockFailuresRaiseTheirMessagesAndLeaveTheStreamUsable) {
  struct Case {
    const char* name;
    std::function<void(TSmallStream&)> damage;
    const char* message;
  };
  const Case cases[] = {
      {"stored crc differs",
       [](TSmallStream& t) { t.bytes->data[t.At(3, 8)] ^= 0x01; },
       "TSFSAdvancedFileStream.LoadBlock - decompression crc error."},
      {"trueSize larger than the packed data",
       [](TSmallStream& t) { PutI32(t.bytes->data, t.At(3, 4), GetI32(t.bytes->data, t.At(3, 4)) + 1); },
       "TSFSAdvancedFileStream.LoadBlock - decompression error, invalid size."},
      {"packed bytes are not a zlib stream",
       [](TSmallStream& t) { std::memset(t.bytes->data.data() + t.At(3, 16), 0xFF, 4); },
       "TSFSAdvancedFileStream.LoadBlock - decompression error."},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    TSmallStream t;
    c.damage(t);
    auto s = OpenOn(t.bytes, fmOpenReadWrite);
    ASSERT_EQ(s->NumBlocks(), 4);
    const int64_t size = s->GetSize();
    const TBytes damaged = t.bytes->data;
    uint8_t buffer[100];
    s->Seek(3 * 4096 + 10, soBeginning);
    EXPECT_EQ(MessageOf([&] { s->Read(buffer, 100); }), c.message);
    // A write that has to reload the damaged block fails the same way and stores nothing.
    s->Seek(3 * 4096, soBeginning);
    EXPECT_EQ(MessageOf([&] { s->Write("zz", 2); }), c.message);
    EXPECT_EQ(t.bytes->data, damaged);
    // The stream is as it was: same size and blocks, the sound blocks still read.
    EXPECT_EQ(s->GetSize(), size);
    EXPECT_EQ(s->NumBlocks(), 4);
    s->Seek(4000, soBeginning);
    ASSERT_EQ(s->Read(buffer, 100), 100);
    EXPECT_EQ(0, std::memcmp(buffer, t.content.data() + 4000, 100));
  }
}

TEST(StreamsCorrupt, DamagedHeadersAndChainsAreRejectedOnOpen) {
  struct Case {
    const char* name;
    std::function<void(TSmallStream&)> damage;
    const char* message;
  };
  const std::string header = "TSFSAdvancedFileStream.LoadHeaders - invalid stream header.";
  const std::string block = "TSFSAdvancedFileStream.LoadHeaders - invalid block header.";
  const Case cases[] = {
      {"block size 0", [](TSmallStream& t) { PutI32(t.bytes->data, 4, 0); }, header.c_str()},
      {"block size 1 GiB", [](TSmallStream& t) { PutI32(t.bytes->data, 4, 1 << 30); }, header.c_str()},
      {"negative block count", [](TSmallStream& t) { PutI32(t.bytes->data, 12, -1); }, header.c_str()},
      {"level 0", [](TSmallStream& t) { t.bytes->data[20] = 0; }, header.c_str()},
      {"level above 9", [](TSmallStream& t) { t.bytes->data[20] = 10; }, header.c_str()},
      {"negative custom header", [](TSmallStream& t) { PutI32(t.bytes->data, 23, -16); }, header.c_str()},
      {"custom header beyond the file", [](TSmallStream& t) { PutI32(t.bytes->data, 23, 1 << 30); }, header.c_str()},
      {"chain points back to block 0",
       [](TSmallStream& t) { PutI32(t.bytes->data, t.At(1, 12), static_cast<int32_t>(t.positions[0])); },
       block.c_str()},
      {"chain points into the block's own bytes",
       [](TSmallStream& t) { PutI32(t.bytes->data, t.At(0, 12), static_cast<int32_t>(t.positions[0] + 20)); },
       block.c_str()},
      {"packed size 0", [](TSmallStream& t) { PutI32(t.bytes->data, t.At(1, 0), 0); }, block.c_str()},
      // Not a cut tail: the blocks behind it are whole, and opening must not cut them off.
      {"packed size of a middle block beyond the file",
       [](TSmallStream& t) { PutI32(t.bytes->data, t.At(1, 0), 1 << 24); }, block.c_str()},
      {"trueSize 0", [](TSmallStream& t) { PutI32(t.bytes->data, t.At(1, 4), 0); }, block.c_str()},
      {"trueSize above the block size", [](TSmallStream& t) { PutI32(t.bytes->data, t.At(2, 4), 4097); },
       block.c_str()},
      {"short block before the last", [](TSmallStream& t) { PutI32(t.bytes->data, t.At(1, 4), 4000); },
       block.c_str()},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    TSmallStream t;
    c.damage(t);
    const TBytes damaged = t.bytes->data;
    EXPECT_EQ(MessageOf([&] { OpenOn(t.bytes, fmOpenReadWrite); }), c.message);
    EXPECT_EQ(t.bytes->data, damaged);  // nothing "repaired" into a corrupt file
  }
}

TEST(StreamsRepair, AnIncompleteTailIsCutToTheWholeBlocks) {
  struct Case {
    const char* name;
    std::function<void(TSmallStream&)> damage;
    int32_t blocksLeft;
  };
  const Case cases[] = {
      {"NumBlocks larger than the blocks present", [](TSmallStream& t) { PutI32(t.bytes->data, 12, 9); }, 4},
      {"partial trailing block header",
       [](TSmallStream& t) {
         PutI32(t.bytes->data, 12, 5);
         t.bytes->data.resize(t.bytes->data.size() + 10, 0x5A);
       },
       4},
      {"packed bytes of the last block cut short",
       [](TSmallStream& t) { t.bytes->data.resize(t.At(3, 16) + 5); }, 3},
      {"block header of the last block cut short", [](TSmallStream& t) { t.bytes->data.resize(t.At(3, 7)); }, 3},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    TSmallStream t;
    const size_t cut = c.blocksLeft == 4 ? t.bytes->data.size() : t.At(3, 0);
    c.damage(t);

    // Read-only: repaired in memory, the bytes stay as they are.
    const TBytes damaged = t.bytes->data;
    auto r = OpenOn(t.bytes, fmOpenRead);
    EXPECT_EQ(r->NumBlocks(), c.blocksLeft);
    EXPECT_EQ(ReadAll(*r), TBytes(t.content.begin(), t.content.begin() + r->GetSize()));
    EXPECT_EQ(t.bytes->data, damaged);
    r.reset();

    auto s = OpenOn(t.bytes, fmOpenReadWrite);
    EXPECT_EQ(s->NumBlocks(), c.blocksLeft);
    EXPECT_EQ(s->GetSize(), std::min<int64_t>(c.blocksLeft * 4096, static_cast<int64_t>(t.content.size())));
    EXPECT_EQ(t.bytes->data.size(), cut);
    EXPECT_EQ(GetI32(t.bytes->data, 12), c.blocksLeft);
    EXPECT_EQ(ReadAll(*s), TBytes(t.content.begin(), t.content.begin() + s->GetSize()));
    // The repaired stream takes appends again.
    s->Seek(0, soEnd);
    const TBytes more = TextBytes(5000, 12);
    WriteAt(*s, s->GetSize(), more);
    TBytes expected(t.content.begin(), t.content.begin() + s->GetSize() - 5000);
    expected.insert(expected.end(), more.begin(), more.end());
    EXPECT_EQ(ReadAll(*OpenOn(t.bytes, fmOpenRead)), expected);
  }
}

TEST(StreamsRepair, ADamagedChainAfterTheLastBlockDoesNotMoveTheNextAppend) {
  TSmallStream t(zlibNormal, 4 * 4096);  // whole blocks: the append starts a new block
  PutI32(t.bytes->data, t.At(3, 12), 0x7FFFFF00);
  const size_t size = t.bytes->data.size();
  auto s = OpenOn(t.bytes, fmOpenReadWrite);
  EXPECT_EQ(ReadAll(*s), t.content);
  const TBytes more = TextBytes(4096, 13);
  WriteAt(*s, static_cast<int64_t>(t.content.size()), more);
  EXPECT_LT(t.bytes->data.size(), size + 8192);
  TBytes expected = t.content;
  expected.insert(expected.end(), more.begin(), more.end());
  EXPECT_EQ(ReadAll(*OpenOn(t.bytes, fmOpenRead)), expected);
}

TEST(StreamsRead, MissingPackedBytesEndTheReadShort) {
  TSmallStream t;
  auto s = OpenOn(t.bytes, fmOpenRead);
  t.bytes->data.resize(t.At(1, 16) + 3);  // block 1 loses its packed bytes after the open
  TBytes buffer(t.content.size());
  s->Seek(0, soBeginning);
  EXPECT_EQ(s->Read(buffer.data(), static_cast<int32_t>(buffer.size())), 4096);
  EXPECT_EQ(0, std::memcmp(buffer.data(), t.content.data(), 4096));
  EXPECT_EQ(s->Read(buffer.data(), 10), 0);
}

TEST(StreamsSetSize, ShrinkingAndGrowingKeepTheBytesBelowTheCut) {
  struct Case {
    int64_t newSize;
    int32_t blocks;
  };
  // Inside block 1, at a block boundary, inside block 0, to nothing, and growing across blocks.
  const Case cases[] = {{4096 + 100, 2}, {8192, 2}, {5, 1}, {0, 0}, {6 * 4096 + 7, 7}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.newSize);
    TSmallStream t;
    auto s = OpenOn(t.bytes, fmOpenReadWrite);
    s->Seek(3, soBeginning);
    s->SetSize(c.newSize);
    EXPECT_EQ(s->GetSize(), c.newSize);
    EXPECT_EQ(s->NumBlocks(), c.blocks);
    TBytes expected = t.content;
    expected.resize(static_cast<size_t>(c.newSize), 0);
    EXPECT_EQ(ReadAll(*s), expected);
    auto r = OpenOn(t.bytes, fmOpenRead);
    EXPECT_EQ(r->NumBlocks(), c.blocks);
    EXPECT_EQ(ReadAll(*r), expected);
    // The file ends where the last block's chain ends.
    const int64_t end = c.blocks == 0 ? 128
                                      : r->Headers().Positions(c.blocks - 1) + 16 +
                                            r->Headers().Items(c.blocks - 1).packedSize;
    EXPECT_EQ(static_cast<int64_t>(t.bytes->data.size()), end);
  }
}

TEST(StreamsWrite, AGrowingBlockRechainsEveryFollowingBlock) {
  auto bytes = std::make_shared<TSharedBytes>();
  auto s = CreateWithBlockSize(bytes, zlibNormal, 4096);
  TBytes model(5 * 4096, 0);
  WriteAt(*s, 0, model);
  ASSERT_EQ(s->NumBlocks(), 5);
  const std::vector<int64_t> before = {s->Headers().Positions(2), s->Headers().Positions(3)};

  // Random bytes in block 1 make it pack much larger: blocks 2.. must move behind it.
  const TBytes noise = RandomBytes(3000, 5);
  WriteAt(*s, 4096 + 500, noise);
  std::copy(noise.begin(), noise.end(), model.begin() + 4096 + 500);
  for (int32_t i = 1; i + 1 < s->NumBlocks(); ++i) {
    const TSFSHeader& h = s->Headers().Items(i);
    EXPECT_EQ(h.nextHeaderNo, s->Headers().Positions(i) + 16 + h.packedSize) << "block " << i;
    EXPECT_EQ(s->Headers().Positions(i + 1), h.nextHeaderNo);
  }
  EXPECT_GT(s->Headers().Positions(2), before[0]);
  EXPECT_EQ(ReadAll(*OpenOn(bytes, fmOpenRead)), model);

  // Zeros again: block 1 shrinks in place and keeps its chain; nothing after it moves.
  const std::vector<int64_t> moved = {s->Headers().Positions(2), s->Headers().Positions(3),
                                      s->Headers().Positions(4)};
  const int32_t oldNext = s->Headers().Items(1).nextHeaderNo;
  WriteAt(*s, 4096 + 500, TBytes(3000, 0));
  std::fill(model.begin() + 4096 + 500, model.begin() + 4096 + 3500, 0);
  EXPECT_EQ(s->Headers().Items(1).nextHeaderNo, oldNext);
  EXPECT_LT(s->Headers().Positions(1) + 16 + s->Headers().Items(1).packedSize, oldNext);
  EXPECT_EQ((std::vector<int64_t>{s->Headers().Positions(2), s->Headers().Positions(3), s->Headers().Positions(4)}),
            moved);
  EXPECT_EQ(ReadAll(*OpenOn(bytes, fmOpenRead)), model);
}

TEST(StreamsWrite, WritingPastTheEndFillsTheGapWithZeros) {
  auto bytes = std::make_shared<TSharedBytes>();
  auto s = CreateWithBlockSize(bytes, bzipFastest, 4096);
  WriteAt(*s, 10000, {'e', 'n', 'd'});
  TBytes expected(10003, 0);
  expected[10000] = 'e';
  expected[10001] = 'n';
  expected[10002] = 'd';
  EXPECT_EQ(s->GetSize(), 10003);
  EXPECT_EQ(ReadAll(*OpenOn(bytes, fmOpenRead)), expected);
}

TEST(StreamsWrite, AFailingInnerStreamRaisesAndKeepsTheOldContent) {
  TSmallStream t;
  auto s = OpenOn(t.bytes, fmOpenReadWrite);
  t.bytes->writeBudget = 0;
  s->Seek(100, soBeginning);
  EXPECT_EQ(MessageOf([&] { s->Write("new bytes", 9); }), "TSFSAdvancedFileStream.Write - error writing to data stream.");
  t.bytes->writeBudget = -1;
  EXPECT_EQ(s->GetSize(), static_cast<int64_t>(t.content.size()));
  EXPECT_EQ(ReadAll(*s), t.content);
}

TEST(StreamsCache, SmallReadsDecodeEachBlockOnceAndWritesAreSeen) {
  TSmallStream t(zlibFastest);
  auto s = OpenOn(t.bytes, fmOpenReadWrite);
  const int64_t before = s->BlocksDecompressed();
  EXPECT_EQ(ReadAll(*s, 100), t.content);
  EXPECT_EQ(s->BlocksDecompressed() - before, s->NumBlocks());

  // Reading block 0 caches it; a write into it, a shrink and a regrow must all be visible.
  uint8_t c = 0;
  s->Seek(10, soBeginning);
  ASSERT_EQ(s->Read(&c, 1), 1);
  WriteAt(*s, 11, {'#'});
  s->Seek(11, soBeginning);
  ASSERT_EQ(s->Read(&c, 1), 1);
  EXPECT_EQ(c, '#');
  s->SetSize(11);
  s->SetSize(20);
  s->Seek(11, soBeginning);
  uint8_t tail[9];
  ASSERT_EQ(s->Read(tail, 9), 9);
  EXPECT_EQ(TBytes(tail, tail + 9), TBytes(9, 0));
}

TEST(StreamsProgress, EventsRunFromZeroToHundredAndAreSilentWhileExtending) {
  auto bytes = std::make_shared<TSharedBytes>();
  auto s = CreateWithBlockSize(bytes, zlibFastest, 4096);
  std::vector<double> seen;
  s->OnProgress = [&](void* sender, double percent) {
    EXPECT_EQ(sender, s.get());
    seen.push_back(percent);
  };
  WriteAt(*s, 0, TextBytes(4 * 4096, 4));
  ASSERT_GE(seen.size(), 4u);
  EXPECT_EQ(seen.front(), 0);
  EXPECT_EQ(seen.back(), 100);
  EXPECT_TRUE(std::is_sorted(seen.begin(), seen.end()));

  seen.clear();
  s->SetSize(9 * 4096);
  EXPECT_TRUE(seen.empty());

  seen.clear();
  s->Seek(0, soBeginning);
  TBytes buffer(3 * 4096);
  s->Read(buffer.data(), static_cast<int32_t>(buffer.size()));
  ASSERT_GE(seen.size(), 3u);
  EXPECT_EQ(seen.front(), 0);
  EXPECT_EQ(seen.back(), 100);
  EXPECT_TRUE(std::is_sorted(seen.begin(), seen.end()));
}

TEST(StreamsRate, RateComesFromPackedAndTrueSizes) {
  TSmallStream t(zlibNormal, 5 * 4096);
  auto s = OpenOn(t.bytes, fmOpenRead);
  int64_t packed = 0;
  for (int32_t i = 0; i < s->NumBlocks(); ++i) packed += s->Headers().Items(i).packedSize;
  EXPECT_EQ(s->PackedSize(), packed);
  EXPECT_DOUBLE_EQ(s->CompressionRate(), (1.0 - static_cast<double>(packed) / (5 * 4096)) * 100.0);
  EXPECT_GT(s->CompressionRate(), 50.0);
  auto plain = std::make_shared<TSharedBytes>();
  plain->data = t.content;
  auto p = OpenOn(plain, fmOpenRead);
  EXPECT_EQ(p->PackedSize(), 5 * 4096);
  EXPECT_EQ(p->CompressionRate(), 0);
}

// Random writes (inside, across and past the end), reads, size changes and reopens, checked
// against a plain vector holding the same bytes.
class StreamsModel : public ::testing::TestWithParam<TSFSCompressionLevel> {};

TEST_P(StreamsModel, RandomOperationsMatchAPlainModel) {
  const TSFSCompressionLevel level = GetParam();
  const bool ppm = level == ppmNormal || level == ppmMax || level == ppmFastest;
  const int32_t bs = 2048;
  const int operations = ppm ? 40 : 120;
  std::mt19937 rng(1000 + static_cast<uint32_t>(level));
  auto bytes = std::make_shared<TSharedBytes>();
  auto s = CreateWithBlockSize(bytes, level, bs);
  TBytes model;
  auto pick = [&](int64_t n) { return static_cast<int64_t>(rng() % static_cast<uint32_t>(n + 1)); };

  for (int op = 0; op < operations; ++op) {
    SCOPED_TRACE("operation " + std::to_string(op));
    const uint32_t kind = rng() % 10;
    if (kind < 5) {
      const int64_t offset = pick(static_cast<int64_t>(model.size()) + bs);
      const size_t length = 1 + rng() % (3 * bs);
      const TBytes data = rng() % 2 ? RandomBytes(length, rng()) : TextBytes(length, rng());
      WriteAt(*s, offset, data);
      if (model.size() < offset + length) model.resize(offset + length, 0);
      std::copy(data.begin(), data.end(), model.begin() + offset);
      ASSERT_EQ(s->Seek(0, soCurrent), offset + static_cast<int64_t>(length));
    } else if (kind < 8) {
      const int64_t offset = pick(static_cast<int64_t>(model.size()) + 10);
      const int32_t length = 1 + static_cast<int32_t>(rng() % (2 * bs));
      TBytes got(static_cast<size_t>(length));
      s->Seek(offset, soBeginning);
      const int32_t n = s->Read(got.data(), length);
      const int64_t expected = std::clamp<int64_t>(static_cast<int64_t>(model.size()) - offset, 0, length);
      ASSERT_EQ(n, expected);
      if (n > 0) {
        ASSERT_EQ(0, std::memcmp(got.data(), model.data() + offset, static_cast<size_t>(n)));
      }
    } else if (kind == 8) {
      const int64_t newSize = pick(static_cast<int64_t>(model.size()) + 2 * bs);
      s->SetSize(newSize);
      model.resize(static_cast<size_t>(newSize), 0);
    } else {
      s = OpenOn(bytes, fmOpenReadWrite);
    }
    ASSERT_EQ(s->GetSize(), static_cast<int64_t>(model.size()));
  }
  EXPECT_EQ(ReadAll(*OpenOn(bytes, fmOpenRead)), model);
}

INSTANTIATE_TEST_SUITE_P(EveryLevel, StreamsModel, ::testing::ValuesIn(cAllLevels),
                         [](const auto& info) { return std::string(SFSCompressionLevelName(info.param)); });

TEST(StreamsRoundTrip, WholeBlocksAtTheRealBlockSize) {
  // A little over two real blocks, so that the writer's own block size is exercised too.
  for (const TSFSCompressionLevel level : {zlibFastest, bzipFastest}) {
    SCOPED_TRACE(std::string(SFSCompressionLevelName(level)));
    auto bytes = std::make_shared<TSharedBytes>();
    const TBytes data = TextBytes(2 * 512 * 1024 + 3333, 9);
    {
      auto s = OpenOn(bytes, fmCreate, level);
      WriteAt(*s, 0, data);
      EXPECT_EQ(s->NumBlocks(), 3);
    }
    auto r = OpenOn(bytes, fmOpenRead);
    EXPECT_EQ(r->Headers().Items(2).trueSize, 3333);
    EXPECT_EQ(ReadAll(*r, 4096), data);
  }
}

}  // namespace
}  // namespace sfs
