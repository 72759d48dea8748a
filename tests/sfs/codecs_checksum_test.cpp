#include <gtest/gtest.h>

#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "sfs/Checksum.h"

namespace sfs {
namespace {

TEST(CodecsChecksum, FullIsCrc16WithPublishedCheckValues) {
  EXPECT_EQ(CountCRC("abc", 3, crcFull), 0x9738u);
  EXPECT_EQ(CountCRC("123456789", 9, crcFull), 0xBB3Du);  // the CRC-16/ARC check value
  EXPECT_EQ(CountCRC("", 0, crcFull), 0u);
  EXPECT_EQ(CountCRC("\x01", 1, crcFull), 0xC0C1u);
}

// Bit by bit, straight from the polynomial: what the table-driven code must agree with.
uint32_t BitwiseCRC16(const uint8_t* p, size_t n) {
  uint32_t crc = 0;
  for (size_t i = 0; i < n; ++i) {
    crc ^= p[i];
    for (int bit = 0; bit < 8; ++bit) crc = (crc & 1) ? (crc >> 1) ^ 0xA001u : crc >> 1;
  }
  return crc;
}

// Every length up to a few words and some long ones, at every offset from an aligned start, so
// that each split between whole 16-byte steps and the byte-wise tail is walked.
TEST(CodecsChecksum, FullAgreesWithTheBitwiseCRCAtEveryLengthAndAlignment) {
  std::mt19937 rng(17);
  std::vector<uint8_t> data(70000 + 16);
  for (auto& b : data) b = static_cast<uint8_t>(rng());
  std::vector<size_t> lengths;
  for (size_t n = 0; n <= 80; ++n) lengths.push_back(n);
  for (size_t n : {255u, 256u, 257u, 4095u, 4096u, 4100u, 65535u, 65536u, 70000u}) lengths.push_back(n);
  for (size_t offset = 0; offset < 16; ++offset)
    for (size_t n : lengths) {
      const uint8_t* p = data.data() + offset;
      ASSERT_EQ(CountCRC(p, int32_t(n), crcFull), BitwiseCRC16(p, n)) << "offset " << offset << ", length " << n;
    }
  const std::vector<uint8_t> ones(1000, 0xFF);
  EXPECT_EQ(CountCRC(ones.data(), int32_t(ones.size()), crcFull), BitwiseCRC16(ones.data(), ones.size()));
}

TEST(CodecsChecksum, FastXorsLittleEndianWordsAndIgnoresTheTail) {
  const uint8_t data[] = {0x01, 0x02, 0x03, 0x04, 0x10, 0x20, 0x30, 0x40, 0xFF, 0xEE};
  EXPECT_EQ(CountCRC(data, 8, crcFast), 0x04030201u ^ 0x40302010u);
  EXPECT_EQ(CountCRC(data, 10, crcFast), 0x04030201u ^ 0x40302010u);
  EXPECT_EQ(CountCRC(data, 3, crcFast), 0u);
  EXPECT_EQ(CountCRC(data, 0, crcFast), 0u);
}

TEST(CodecsChecksum, CheckComparesAndOtherModesAlwaysPass) {
  const std::string s = "container page";
  const uint32_t full = CountCRC(s.data(), int32_t(s.size()), crcFull);
  const uint32_t fast = CountCRC(s.data(), int32_t(s.size()), crcFast);
  EXPECT_TRUE(CheckCRC(s.data(), int32_t(s.size()), crcFull, full));
  EXPECT_FALSE(CheckCRC(s.data(), int32_t(s.size()), crcFull, full ^ 1));
  EXPECT_TRUE(CheckCRC(s.data(), int32_t(s.size()), crcFast, fast));
  EXPECT_FALSE(CheckCRC(s.data(), int32_t(s.size()), crcFast, fast + 1));
  const auto other = static_cast<TCRCMode>(7);
  EXPECT_EQ(CountCRC(s.data(), int32_t(s.size()), other), 0u);
  EXPECT_TRUE(CheckCRC(s.data(), int32_t(s.size()), other, 0x12345678u));
}

TEST(CodecsChecksum, FullDetectsEverySingleBitFlip) {
  std::string s(64, '\0');
  for (size_t i = 0; i < s.size(); ++i) s[i] = static_cast<char>(i * 37 + 11);
  const uint32_t crc = CountCRC(s.data(), int32_t(s.size()), crcFull);
  for (size_t bit = 0; bit < s.size() * 8; ++bit) {
    std::string t = s;
    t[bit / 8] = static_cast<char>(t[bit / 8] ^ (1 << (bit % 8)));
    ASSERT_FALSE(CheckCRC(t.data(), int32_t(t.size()), crcFull, crc)) << "bit " << bit;
  }
}

}  // namespace
}  // namespace sfs
