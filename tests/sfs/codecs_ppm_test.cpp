#include <gtest/gtest.h>
#include <zlib.h>

#include <vector>

#include "sfs/Compression.h"
#include "sfs/PPMModel.h"
#include "sfs/PPMSubAllocator.h"
#include "sfs/RangeCoder.h"
#include "sfs/codecs_testdata.h"

namespace sfs {
namespace {

using testing::PPMPack;
using testing::PPMUnpack;

using testing::MixedBytes;
using testing::RandomBytes;
using testing::RepeatedBytes;
using testing::TextBytes;

uint32_t Word(const std::vector<uint8_t>& packed) {
  return uint32_t(packed[0]) | uint32_t(packed[1]) << 8 | uint32_t(packed[2]) << 16 |
         uint32_t(packed[3]) << 24;
}

TEST(CodecsPPM, ParameterWordOfTheLevels) {
  const struct {
    TSFSCompressionLevel level;
    uint32_t word;
  } cases[] = {
      {ppmFastest, (3 - 1) | (10 - 1) << 4 | 6 << 12},
      {ppmNormal, (5 - 1) | (25 - 1) << 4 | 6 << 12},
      {ppmMax, (13 - 1) | (50 - 1) << 4 | 6 << 12},
  };
  const auto in = TextBytes(2000);
  for (const auto& c : cases) {
    TSFSBuffer out;
    int32_t size = 0;
    ASSERT_TRUE(SFSInternalCompressBuffer(in.data(), int32_t(in.size()), out, size, c.level));
    EXPECT_EQ(Word(out), c.word) << SFSCompressionLevelName(c.level);
  }
}

// The packed bytes of fixed inputs, pinned by size and CRC-32: any change to the model, the
// sub-allocator or the range coder that alters a single output byte breaks the format and
// shows here. The cases cover every model path, restarts included.
TEST(CodecsPPM, PackedBytesArePinned) {
  auto withRestarts = [] {
    const auto text = TextBytes(40000, 21), noise = RandomBytes(90000, 22);
    std::vector<uint8_t> in = text;
    in.insert(in.end(), noise.begin(), noise.end());
    in.insert(in.end(), text.begin(), text.end());
    return in;
  };
  const struct {
    const char* name;
    std::vector<uint8_t> in;
    int order, memoryMB;
    size_t size;
    uint32_t crc;
    bool restarts;
  } cases[] = {
      {"text, order 5", TextBytes(300000, 11), 5, 25, 37552, 0xA8D76833, false},
      {"text, order 13", TextBytes(300000, 11), 13, 50, 39464, 0x7906341C, false},
      {"mixed, order 3", MixedBytes(500000), 3, 10, 83461, 0xAE51984C, false},
      {"text and noise, order 8, 1 MB", withRestarts(), 8, 1, 103992, 0xF594B037, true},
      {"mixed, order 16, 1 MB", MixedBytes(300000), 16, 1, 53582, 0xFDBF0943, true},
      {"repeated, order 2", RepeatedBytes(200000), 2, 1, 8017, 0xEEAA0E25, false},
  };
  for (const auto& c : cases) {
    const uint64_t restarts = ppm::PPMRestartCount();
    const auto packed = PPMPack(c.in, c.order, c.memoryMB);
    EXPECT_EQ(ppm::PPMRestartCount() > restarts, c.restarts) << c.name;
    EXPECT_EQ(packed.size(), c.size) << c.name;
    EXPECT_EQ(crc32(0, packed.data(), uInt(packed.size())), c.crc) << c.name;
  }
}

// The decoder finds a symbol by comparing the code with counts times the range's share; the
// count it settles on must lie in the interval the encoder coded, for scales from 1 to the
// smallest range (a share of one) and for the binary contexts' shifted scale.
TEST(CodecsPPM, RangeDecoderFindsEveryCodedInterval) {
  struct TInterval {
    uint32_t lo, hi, scale;  // scale 0: the shift of the binary contexts
  };
  constexpr int cShift = 14;
  std::mt19937 rng(7);
  std::vector<TInterval> coded;
  for (int i = 0; i < 20000; ++i) {
    const uint32_t picks[] = {1, 2, 3, 255, 256, 257, 4095, ppm::cRangeBot - 1, ppm::cRangeBot};
    auto below = [&rng](uint32_t n) { return static_cast<uint32_t>(rng() % n); };
    const uint32_t scale = i % 3 == 0   ? picks[below(std::size(picks))]
                           : i % 3 == 1 ? 1 + below(ppm::cRangeBot)
                                        : 0;
    const uint32_t total = scale != 0 ? scale : 1u << cShift;
    const uint32_t lo = below(4) == 0 ? total - 1 : below(total);  // often the last count
    coded.push_back({lo, lo + 1 + below(total - lo), scale});
  }
  std::vector<uint8_t> bytes(coded.size() * 4 + 8);
  ppm::TRangeEncoder enc(bytes.data(), bytes.data() + bytes.size());
  for (const auto& c : coded) {
    if (c.scale != 0)
      enc.Encode(c.lo, c.hi, c.scale);
    else
      enc.EncodeShift(c.lo, c.hi, cShift);
    enc.Normalize();
  }
  enc.Flush();
  ASSERT_FALSE(enc.Failed());

  ppm::TRangeDecoder dec(bytes.data(), enc.Position());
  for (size_t i = 0; i < coded.size(); ++i) {
    const auto& c = coded[i];
    ASSERT_TRUE(c.scale != 0 ? dec.SetScale(c.scale) : dec.SetShift(cShift)) << "symbol " << i;
    // The count: the largest one within the scale that the code is not below.
    const uint32_t total = c.scale != 0 ? c.scale : 1u << cShift;
    uint32_t count = 0;
    for (uint32_t step = 1u << 15; step != 0; step >>= 1)
      if (count + step <= total && !dec.Below(count + step)) count += step;
    ASSERT_GE(count, c.lo) << "symbol " << i;
    ASSERT_LT(count, c.hi) << "symbol " << i;
    dec.Decode(c.lo, c.hi);
    dec.Normalize();
  }
  EXPECT_FALSE(dec.Failed());
}

// No encoder leaves the code at or past the scale; a decoder that sees it reports corrupt data.
TEST(CodecsPPM, RangeDecoderRefusesCodesPastTheScale) {
  const uint8_t ones[] = {0xFF, 0xFF, 0xFF, 0xFF};
  for (uint32_t scale : {1u, 2u, 3u, 1000u}) {
    ppm::TRangeDecoder dec(ones, ones + 4);
    EXPECT_FALSE(dec.SetScale(scale)) << scale;
    EXPECT_TRUE(dec.Failed());
  }
  ppm::TRangeDecoder dec(ones, ones + 4);
  EXPECT_FALSE(dec.SetShift(14));
  const uint8_t two[] = {0, 0};
  ppm::TRangeDecoder shortInput(two, two + 2);
  EXPECT_TRUE(shortInput.Failed());
}

TEST(CodecsPPM, EmptyInputIsTheEndSymbolAlone) {
  auto packed = PPMPack({}, 6, 1);
  ASSERT_GT(packed.size(), 4u);
  EXPECT_LE(packed.size(), 4u + 8u);
  std::vector<uint8_t> out(10, 0xAA);
  EXPECT_EQ(
      PPMDecompressBuffer(packed.data(), int32_t(packed.size()), out.data(), int32_t(out.size())),
      0);
}

// Every order, with a model memory small enough that text and noise make it restart.
TEST(CodecsPPM, EveryOrderRoundTripsThroughRestarts) {
  const auto text = TextBytes(40000, 21);
  const auto noise = RandomBytes(90000, 22);
  std::vector<uint8_t> in = text;
  in.insert(in.end(), noise.begin(), noise.end());
  in.insert(in.end(), text.begin(), text.end());
  for (int order = 2; order <= 16; ++order) {
    const uint64_t restarts = ppm::PPMRestartCount();
    auto packed = PPMPack(in, order, 1);
    ASSERT_FALSE(packed.empty()) << "order " << order;
    EXPECT_GT(ppm::PPMRestartCount(), restarts) << "order " << order;
    EXPECT_EQ(Word(packed) & 0xF, uint32_t(order - 1));
    EXPECT_EQ(PPMUnpack(packed, in.size()), in) << "order " << order;
  }
}

TEST(CodecsPPM, ContextsOfHigherOrderPayOffOnText) {
  const auto in = TextBytes(200000, 5);
  const size_t o2 = PPMPack(in, 2, 16).size(), o4 = PPMPack(in, 4, 16).size();
  EXPECT_LT(o4, o2 - o2 / 10);
  EXPECT_LT(o4, in.size() * 4 / 10);  // a 32-word vocabulary is cheap to code
}

TEST(CodecsPPM, IncompressibleAndRepetitiveData) {
  const auto noise = RandomBytes(300000, 31);
  auto packed = PPMPack(noise, 5, 25);
  ASSERT_FALSE(packed.empty());
  EXPECT_LT(packed.size(),
            noise.size() + noise.size() / 20 + 50);  // fits the layer's output buffer
  EXPECT_EQ(PPMUnpack(packed, noise.size()), noise);

  const auto runs = RepeatedBytes(1 << 20);
  packed = PPMPack(runs, 13, 8);
  EXPECT_LT(packed.size(), 2000u);
  EXPECT_EQ(PPMUnpack(packed, runs.size()), runs);
}

TEST(CodecsPPM, OutputThatDoesNotFitGivesZero) {
  const auto noise = RandomBytes(5000, 8);
  std::vector<uint8_t> out(4000);
  EXPECT_EQ(
      PPMCompressBuffer(noise.data(), int32_t(noise.size()), out.data(), int32_t(out.size()), 4, 1),
      0);
  EXPECT_EQ(PPMCompressBuffer(noise.data(), int32_t(noise.size()), out.data(), 3, 4, 1), 0);
}

TEST(CodecsPPM, ArgumentsOutOfRangeGiveZero) {
  const auto in = TextBytes(100);
  std::vector<uint8_t> out(200);
  for (auto [order, mb] : {std::pair{1, 10}, {17, 10}, {4, 0}, {4, 257}})
    EXPECT_EQ(PPMCompressBuffer(in.data(), int32_t(in.size()), out.data(), int32_t(out.size()),
                                order, mb),
              0)
        << order << " " << mb;
}

TEST(CodecsPPM, DecodingTakesOrderAndMemoryFromTheWordAndRejectsOtherVariants) {
  const auto in = TextBytes(20000, 4);
  auto packed = PPMPack(in, 7, 3);
  // The level passed to the layer does not matter: ppmFastest reads an order-7, 3 MB block.
  TSFSBuffer out;
  int32_t size = int32_t(in.size());
  ASSERT_TRUE(
      SFSInternalDecompressBuffer(packed.data(), int32_t(packed.size()), out, size, ppmFastest));
  EXPECT_EQ(out, in);
  for (uint32_t variant = 0; variant < 16; ++variant) {
    if (variant == 6) continue;
    auto other = packed;
    other[1] = uint8_t((other[1] & 0x0F) | variant << 4);
    EXPECT_TRUE(PPMUnpack(other, in.size()).empty()) << "variant " << variant;
  }
  auto orderOne = packed;
  orderOne[0] = uint8_t(orderOne[0] & 0xF0);
  EXPECT_TRUE(PPMUnpack(orderOne, in.size()).empty());
  // The same body read with another order is another model: never the original.
  auto otherOrder = packed;
  otherOrder[0] = uint8_t((otherOrder[0] & 0xF0) | 3);
  EXPECT_NE(PPMUnpack(otherOrder, in.size()), in);
}

TEST(CodecsPPM, FreshModelForEveryBlock) {
  const auto a = TextBytes(50000, 1), b = MixedBytes(80000);
  const auto first = PPMPack(a, 5, 2);
  PPMPack(b, 5, 2);
  PPMPack(b, 9, 4);
  EXPECT_EQ(PPMPack(a, 5, 2), first);
  EXPECT_EQ(PPMUnpack(first, a.size()), a);
}

uint8_t* FailingAlloc(size_t) { return nullptr; }

TEST(CodecsPPM, ModelMemoryThatCannotBeHadGivesZeroBytes) {
  const auto in = TextBytes(1000);
  const auto packed = PPMPack(in, 4, 2);
  ppm::SetPPMAllocHook(FailingAlloc);
  std::vector<uint8_t> out(2000);
  // 3 MB is not the memory held now, so it must be allocated, and that fails.
  EXPECT_EQ(PPMCompressBuffer(in.data(), int32_t(in.size()), out.data(), int32_t(out.size()), 4, 3),
            0);
  EXPECT_TRUE(PPMUnpack(packed, in.size()).empty());
  TSFSBuffer layerOut;
  int32_t size = 0;
  EXPECT_FALSE(
      SFSInternalCompressBuffer(in.data(), int32_t(in.size()), layerOut, size, ppmFastest));
  ppm::SetPPMAllocHook(nullptr);
  EXPECT_EQ(PPMUnpack(packed, in.size()), in);
}

TEST(CodecsPPM, HostileBodiesStayInBounds) {
  std::mt19937 rng(99);
  for (int round = 0; round < 200; ++round) {
    auto body = RandomBytes(4 + rng() % 3000, 1000 + round);
    const uint32_t word = (rng() % 16) | (rng() % 8) << 4 | 6 << 12;
    for (int i = 0; i < 4; ++i) body[i] = uint8_t(word >> (8 * i));
    const size_t capacity = rng() % 5000;
    std::vector<uint8_t> out(capacity + 1, 0x5A);
    int32_t n =
        PPMDecompressBuffer(body.data(), int32_t(body.size()), out.data(), int32_t(capacity));
    ASSERT_GE(n, 0);
    ASSERT_LE(size_t(n), capacity);
    ASSERT_EQ(out[capacity], 0x5A) << "wrote past the end";
  }
}

}  // namespace
}  // namespace sfs
