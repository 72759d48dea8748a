#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "sfs/Checksum.h"

namespace sfs {
namespace {

TEST(CodecsChecksum, FullIsCrc16WithPublishedCheckValues) {
  EXPECT_EQ(CountCRC("abc", 3, crcFull), 0x9738u);
  EXPECT_EQ(CountCRC("123456789", 9, crcFull), 0xBB3Du);  // the CRC-16/ARC check value
  EXPECT_EQ(CountCRC("", 0, crcFull), 0u);
  EXPECT_EQ(CountCRC("\x01", 1, crcFull), 0xC0C1u);
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
