#include <bzlib.h>
#include <gtest/gtest.h>
#include <zlib.h>

#include <string>
#include <vector>

#include "sfs/Compression.h"
#include "sfs/codecs_testdata.h"

namespace sfs {
namespace {

using testing::MixedBytes;
using testing::RandomBytes;
using testing::RepeatedBytes;
using testing::TextBytes;

constexpr TSFSCompressionLevel kAllLevels[] = {sfsNone,    zlibFastest, zlibNormal, ppmNormal,
                                               ppmMax,     zlibMax,     ppmFastest, bzipFastest,
                                               bzipNormal, bzipMax};
// The levels with a packed format of their own: all but the plain copy.
constexpr TSFSCompressionLevel kPackingLevels[] = {zlibFastest, zlibNormal, ppmNormal,
                                                   ppmMax,      zlibMax,    ppmFastest,
                                                   bzipFastest, bzipNormal, bzipMax};
// The copy and the library codecs: quick enough for a whole block of noise in a sanitizer build
// (the PPM coder's incompressible case is CodecsPPM.IncompressibleAndRepetitiveData).
constexpr TSFSCompressionLevel kLibraryLevels[] = {sfsNone,     zlibFastest, zlibNormal, zlibMax,
                                                   bzipFastest, bzipNormal,  bzipMax};

std::vector<uint8_t> Pack(const std::vector<uint8_t>& in, TSFSCompressionLevel level) {
  TSFSBuffer out;
  int32_t outSize = -1;
  EXPECT_TRUE(SFSInternalCompressBuffer(in.data(), int32_t(in.size()), out, outSize, level));
  EXPECT_EQ(outSize, int32_t(out.size()));
  return out;
}

// Unpacks with the given expected size; the result is empty when the layer reports failure.
std::vector<uint8_t> Unpack(const std::vector<uint8_t>& in, int32_t expected,
                            TSFSCompressionLevel level, bool* ok = nullptr) {
  TSFSBuffer out;
  int32_t size = expected;
  bool result = SFSInternalDecompressBuffer(in.data(), int32_t(in.size()), out, size, level);
  if (ok) *ok = result;
  EXPECT_EQ(size, int32_t(out.size()));
  EXPECT_EQ(result, size > 0);
  EXPECT_LE(size, std::max(expected, int32_t(in.size())));
  return out;
}

TEST(CodecsLevels, BlockSizesAndNames) {
  const struct {
    TSFSCompressionLevel level;
    int32_t blockSize;
    const char* name;
  } cases[] = {
      {sfsNone, 1048576, "sfsNone"},       {zlibFastest, 524288, "zlibFastest"},
      {zlibNormal, 1048576, "zlibNormal"}, {ppmNormal, 1048576, "ppmNormal"},
      {ppmMax, 1572864, "ppmMax"},         {zlibMax, 1572864, "zlibMax"},
      {ppmFastest, 524288, "ppmFastest"},  {bzipFastest, 524288, "bzipFastest"},
      {bzipNormal, 1048576, "bzipNormal"}, {bzipMax, 1572864, "bzipMax"},
  };
  int ordinal = 0;
  for (const auto& c : cases) {
    EXPECT_EQ(int(c.level), ordinal++);
    EXPECT_EQ(SFSInternalGetBlockSize(c.level), c.blockSize) << c.name;
    EXPECT_EQ(SFSCompressionLevelName(c.level), c.name);
    EXPECT_EQ(SFSCompressionLevelFromName(c.name), c.level);
  }
  EXPECT_EQ(SFSCompressionLevelFromName("PPMMAX"), ppmMax);
  EXPECT_EQ(SFSCompressionLevelFromName("bzipmax"), bzipMax);
  EXPECT_FALSE(SFSCompressionLevelFromName("zlib").has_value());
  EXPECT_FALSE(SFSCompressionLevelFromName("").has_value());
  for (int ordinal = 10; ordinal < 256; ordinal += 49)
    EXPECT_EQ(SFSInternalGetBlockSize(static_cast<TSFSCompressionLevel>(ordinal)), 1048576);
  EXPECT_EQ(SFSCompressionLevelName(static_cast<TSFSCompressionLevel>(10)), "");
}

class CodecsRoundTrip : public ::testing::TestWithParam<TSFSCompressionLevel> {};
class CodecsPackedFormat : public CodecsRoundTrip {};
class CodecsLibraryLevel : public CodecsRoundTrip {};

TEST_P(CodecsRoundTrip, SmallAndSpecialInputs) {
  const TSFSCompressionLevel level = GetParam();
  const std::vector<std::vector<uint8_t>> inputs = {{0x41},
                                                    {0, 0},
                                                    RandomBytes(3),
                                                    TextBytes(1000),
                                                    RandomBytes(70000, 9),
                                                    RepeatedBytes(200000),
                                                    std::vector<uint8_t>(100000, 0xFF)};
  for (const auto& in : inputs) {
    auto packed = Pack(in, level);
    ASSERT_FALSE(packed.empty());
    EXPECT_EQ(Unpack(packed, int32_t(in.size()), level), in) << "size " << in.size();
  }
}

TEST_P(CodecsRoundTrip, FullBlockOfMixedData) {
  const TSFSCompressionLevel level = GetParam();
  const auto in = MixedBytes(size_t(SFSInternalGetBlockSize(level)));
  auto packed = Pack(in, level);
  if (level != sfsNone) {
    EXPECT_LT(packed.size(), in.size() * 3 / 4);
  }
  EXPECT_EQ(Unpack(packed, int32_t(in.size()), level), in);
}

// Noise the size of the level's block.
TEST_P(CodecsLibraryLevel, FullBlockOfNoise) {
  const TSFSCompressionLevel level = GetParam();
  const auto in = RandomBytes(size_t(SFSInternalGetBlockSize(level)), 77);
  auto packed = Pack(in, level);
  ASSERT_FALSE(packed.empty());
  EXPECT_EQ(Unpack(packed, int32_t(in.size()), level), in);
}

TEST_P(CodecsRoundTrip, RefusesEmptyInputAndExpectedSizeBelowOne) {
  const TSFSCompressionLevel level = GetParam();
  TSFSBuffer out{1, 2, 3};
  int32_t size = 5;
  const uint8_t byte = 7;
  EXPECT_FALSE(SFSInternalCompressBuffer(&byte, 0, out, size, level));
  EXPECT_EQ(size, 0);
  EXPECT_TRUE(out.empty());
  auto packed = Pack(TextBytes(500), level);
  for (int32_t expected : {0, -1}) {
    size = expected;
    EXPECT_FALSE(
        SFSInternalDecompressBuffer(packed.data(), int32_t(packed.size()), out, size, level));
    EXPECT_EQ(size, 0);
  }
}

TEST_P(CodecsPackedFormat, TruncatedDataFailsAtEveryLength) {
  const TSFSCompressionLevel level = GetParam();
  const auto in = TextBytes(3000);
  const auto packed = Pack(in, level);
  for (size_t cut = 0; cut < packed.size(); ++cut) {
    std::vector<uint8_t> part(packed.begin(), packed.begin() + cut);
    bool ok = true;
    auto out = Unpack(part, int32_t(in.size()), level, &ok);
    ASSERT_NE(out, in) << "cut at " << cut;
    // Packed data of zlib and bzip2 end with a check value, the PPM body is read to its last byte.
    EXPECT_FALSE(ok) << "cut at " << cut;
  }
}

TEST_P(CodecsRoundTrip, CorruptDataNeverYieldsMoreThanExpected) {
  const TSFSCompressionLevel level = GetParam();
  const auto in = TextBytes(20000);
  const auto packed = Pack(in, level);
  std::mt19937 rng(11);
  for (int round = 0; round < 40; ++round) {
    auto bad = packed;
    for (int flips = 0; flips <= round % 4; ++flips)
      bad[rng() % bad.size()] ^= uint8_t(1u << (rng() % 8));
    bool ok = false;
    auto out = Unpack(bad, int32_t(in.size()), level, &ok);
    EXPECT_LE(out.size(), level == sfsNone ? bad.size() : in.size());
    // zlib and bzip2 check their data: what they accept is the original. The PPM coder leaves
    // that to the block checksum.
    const bool checked =
        level != sfsNone && level != ppmFastest && level != ppmNormal && level != ppmMax;
    if (checked && ok) {
      EXPECT_EQ(out, in);
    }
  }
}

TEST_P(CodecsPackedFormat, MoreDataThanExpectedIsRefused) {
  const TSFSCompressionLevel level = GetParam();
  const auto in = TextBytes(5000);
  const auto packed = Pack(in, level);
  bool ok = true;
  Unpack(packed, int32_t(in.size()) - 1, level, &ok);
  EXPECT_FALSE(ok);
  EXPECT_EQ(Unpack(packed, int32_t(in.size()) + 100, level), in);
}

auto LevelName(const ::testing::TestParamInfo<TSFSCompressionLevel>& info) {
  return std::string(SFSCompressionLevelName(info.param));
}
INSTANTIATE_TEST_SUITE_P(AllLevels, CodecsRoundTrip, ::testing::ValuesIn(kAllLevels), LevelName);
INSTANTIATE_TEST_SUITE_P(PackingLevels, CodecsPackedFormat, ::testing::ValuesIn(kPackingLevels),
                         LevelName);
INSTANTIATE_TEST_SUITE_P(LibraryLevels, CodecsLibraryLevel, ::testing::ValuesIn(kLibraryLevels),
                         LevelName);

TEST(CodecsLayer, OrdinalsAboveNineFail) {
  const auto in = TextBytes(100);
  for (int ordinal : {10, 11, 200, 255}) {
    const auto level = static_cast<TSFSCompressionLevel>(ordinal);
    TSFSBuffer out;
    int32_t size = 0;
    EXPECT_FALSE(SFSInternalCompressBuffer(in.data(), int32_t(in.size()), out, size, level));
    EXPECT_EQ(size, 0);
    size = 100;
    EXPECT_FALSE(SFSInternalDecompressBuffer(in.data(), int32_t(in.size()), out, size, level));
    EXPECT_EQ(size, 0);
  }
}

TEST(CodecsLayer, NoneCopiesWhatItGets) {
  const auto in = RandomBytes(1234);
  EXPECT_EQ(Pack(in, sfsNone), in);
  EXPECT_EQ(Unpack(in, 10, sfsNone), in);
}

// zlib blocks are plain zlib streams with the level's header, readable by zlib itself; what
// zlib itself writes is read back by the layer.
TEST(CodecsZlib, StreamsAreStandardBothWays) {
  const auto in = MixedBytes(300000);
  const struct {
    TSFSCompressionLevel level;
    int zlibLevel;
    uint8_t flags;  // second header byte: the level class
  } cases[] = {{zlibFastest, 1, 0x01}, {zlibNormal, 5, 0x5E}, {zlibMax, 9, 0xDA}};
  for (const auto& c : cases) {
    auto packed = Pack(in, c.level);
    ASSERT_GE(packed.size(), 6u);
    EXPECT_EQ(packed[0], 0x78);
    EXPECT_EQ(packed[1], c.flags);
    std::vector<uint8_t> plain(in.size());
    uLongf plainSize = plain.size();
    ASSERT_EQ(uncompress(plain.data(), &plainSize, packed.data(), packed.size()), Z_OK);
    plain.resize(plainSize);
    EXPECT_EQ(plain, in);

    std::vector<uint8_t> theirs(compressBound(in.size()));
    uLongf theirsSize = theirs.size();
    ASSERT_EQ(compress2(theirs.data(), &theirsSize, in.data(), in.size(), c.zlibLevel), Z_OK);
    theirs.resize(theirsSize);
    EXPECT_EQ(packed, theirs) << "same parameters, same stream";
    EXPECT_EQ(Unpack(theirs, int32_t(in.size()), c.level), in);
  }
}

TEST(CodecsBzip2, StreamsAreStandardBothWays) {
  const auto in = MixedBytes(400000);
  const struct {
    TSFSCompressionLevel level;
    int blockSize;
  } cases[] = {{bzipFastest, 2}, {bzipNormal, 6}, {bzipMax, 9}};
  for (const auto& c : cases) {
    auto packed = Pack(in, c.level);
    ASSERT_GE(packed.size(), 4u);
    EXPECT_EQ(std::string(packed.begin(), packed.begin() + 4), "BZh" + std::to_string(c.blockSize));
    std::vector<uint8_t> plain(in.size());
    unsigned plainSize = unsigned(plain.size());
    ASSERT_EQ(BZ2_bzBuffToBuffDecompress(reinterpret_cast<char*>(plain.data()), &plainSize,
                                         reinterpret_cast<char*>(packed.data()),
                                         unsigned(packed.size()), 0, 0),
              BZ_OK);
    plain.resize(plainSize);
    EXPECT_EQ(plain, in);

    std::vector<uint8_t> theirs(in.size() + in.size() / 100 + 600);
    unsigned theirsSize = unsigned(theirs.size());
    ASSERT_EQ(BZ2_bzBuffToBuffCompress(reinterpret_cast<char*>(theirs.data()), &theirsSize,
                                       reinterpret_cast<char*>(const_cast<uint8_t*>(in.data())),
                                       unsigned(in.size()), c.blockSize, 0, 0),
              BZ_OK);
    theirs.resize(theirsSize);
    EXPECT_EQ(packed, theirs);
    EXPECT_EQ(Unpack(theirs, int32_t(in.size()), c.level), in);
  }
}

TEST(CodecsWrappers, ZlibRaisesWithItsMessage) {
  TSFSBuffer out{9};
  int32_t size = 3;
  const auto garbage = RandomBytes(100);
  try {
    ZLIBDecompressBuf(garbage.data(), int32_t(garbage.size()), 1000, out, size);
    FAIL() << "no exception";
  } catch (const EDecompressionError& e) {
    EXPECT_STREQ(e.what(), "error");
  }
  EXPECT_TRUE(out.empty());
  EXPECT_EQ(size, 0);
  EXPECT_THROW(ZLIBCompressBuf(garbage.data(), int32_t(garbage.size()), out, size, 10),
               ECompressionError);
}

TEST(CodecsWrappers, ZlibWithoutEstimateGrowsTheOutput) {
  const auto in = std::vector<uint8_t>(500000, 'z');
  TSFSBuffer packed, out;
  int32_t packedSize = 0, size = 0;
  ZLIBCompressBuf(in.data(), int32_t(in.size()), packed, packedSize, 9);
  ZLIBDecompressBuf(packed.data(), packedSize, 0, out, size);
  EXPECT_EQ(size, int32_t(in.size()));
  EXPECT_EQ(out, in);
}

TEST(CodecsWrappers, Bzip2RaisesWithTheCode) {
  TSFSBuffer out;
  int32_t size = 0;
  const auto garbage = RandomBytes(100);
  try {
    BZDecompressBuf(garbage.data(), int32_t(garbage.size()), 1000, out, size);
    FAIL() << "no exception";
  } catch (const EBZDecompressionError& e) {
    EXPECT_STREQ(e.what(), "error -5");  // BZ_DATA_ERROR_MAGIC
  }
  const auto in = TextBytes(10000);
  TSFSBuffer packed;
  int32_t packedSize = 0;
  BZCompressBuf(in.data(), int32_t(in.size()), packed, packedSize, 9);
  try {
    BZDecompressBuf(packed.data(), packedSize / 2, 0, out, size);
    FAIL() << "no exception";
  } catch (const EBZDecompressionError& e) {
    EXPECT_STREQ(e.what(), "error -7");  // BZ_UNEXPECTED_EOF: the input ended inside the stream
  }
  try {
    BZCompressBuf(in.data(), int32_t(in.size()), packed, packedSize, 10);
    FAIL() << "no exception";
  } catch (const EBZCompressionError& e) {
    EXPECT_STREQ(e.what(), "error -2");  // BZ_PARAM_ERROR
  }
  EXPECT_TRUE(packed.empty());
}

}  // namespace
}  // namespace sfs
