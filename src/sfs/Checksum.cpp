#include "sfs/Checksum.h"

#include <array>
#include <cstring>

namespace sfs {
namespace {

constexpr std::array<uint16_t, 256> MakeCRC16Table() {
  std::array<uint16_t, 256> table{};
  for (uint32_t i = 0; i < 256; ++i) {
    uint32_t crc = i;
    for (int bit = 0; bit < 8; ++bit) crc = (crc & 1) ? (crc >> 1) ^ 0xA001u : crc >> 1;
    table[i] = static_cast<uint16_t>(crc);
  }
  return table;
}
constexpr std::array<uint16_t, 256> cCRC16Table = MakeCRC16Table();

}  // namespace

uint32_t CountCRC(const void* buffer, int32_t count, TCRCMode mode) {
  if (count <= 0 || buffer == nullptr) return 0;
  const auto* bytes = static_cast<const uint8_t*>(buffer);
  switch (mode) {
    case crcFast: {
      uint32_t x = 0;
      for (int32_t i = 0; i + 4 <= count; i += 4) {
        x ^= uint32_t(bytes[i]) | uint32_t(bytes[i + 1]) << 8 | uint32_t(bytes[i + 2]) << 16 |
             uint32_t(bytes[i + 3]) << 24;
      }
      return x;
    }
    case crcFull: {
      uint32_t crc = 0;
      for (int32_t i = 0; i < count; ++i) crc = (crc >> 8) ^ cCRC16Table[(crc ^ bytes[i]) & 0xFF];
      return crc;
    }
  }
  return 0;
}

bool CheckCRC(const void* buffer, int32_t count, TCRCMode mode, uint32_t crc) {
  if (mode != crcFast && mode != crcFull) return true;
  return CountCRC(buffer, count, mode) == crc;
}

}  // namespace sfs
