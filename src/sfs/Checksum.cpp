#include "sfs/Checksum.h"

#include <array>
#include <bit>
#include <cstring>

namespace sfs {
namespace {

static_assert(std::endian::native == std::endian::little);

// cCRC16Tables[0] is the byte table of the CRC; table k gives the effect of a byte followed by k
// zero bytes, so sixteen bytes are folded in with sixteen independent lookups (slicing by 16;
// the 8 KiB of tables stay in the first-level cache).
constexpr size_t cSlice = 16;
using TCRC16Tables = std::array<std::array<uint16_t, 256>, cSlice>;

constexpr TCRC16Tables MakeCRC16Tables() {
  TCRC16Tables t{};
  for (uint32_t i = 0; i < 256; ++i) {
    uint32_t crc = i;
    for (int bit = 0; bit < 8; ++bit) crc = (crc & 1) ? (crc >> 1) ^ 0xA001u : crc >> 1;
    t[0][i] = static_cast<uint16_t>(crc);
  }
  for (size_t k = 1; k < t.size(); ++k)
    for (uint32_t i = 0; i < 256; ++i) t[k][i] = static_cast<uint16_t>((t[k - 1][i] >> 8) ^ t[0][t[k - 1][i] & 0xFF]);
  return t;
}
constexpr TCRC16Tables cCRC16Tables = MakeCRC16Tables();

uint32_t CRC16(const uint8_t* bytes, size_t count) {
  const auto& t = cCRC16Tables;
  uint32_t crc = 0;
  for (; count >= cSlice; count -= cSlice, bytes += cSlice) {
    uint64_t lo, hi;
    std::memcpy(&lo, bytes, sizeof(lo));
    std::memcpy(&hi, bytes + 8, sizeof(hi));
    lo ^= crc;
    crc = 0;
    for (int i = 0; i < 8; ++i) crc ^= t[15 - i][(lo >> (8 * i)) & 0xFF] ^ t[7 - i][(hi >> (8 * i)) & 0xFF];
  }
  for (; count > 0; --count) crc = (crc >> 8) ^ t[0][(crc ^ *bytes++) & 0xFF];
  return crc;
}

uint32_t XorWords(const uint8_t* bytes, size_t words) {
  uint32_t x = 0;
  for (size_t i = 0; i < words; ++i) {
    uint32_t w;
    std::memcpy(&w, bytes + 4 * i, sizeof(w));
    x ^= w;
  }
  return x;
}

}  // namespace

uint32_t CountCRC(const void* buffer, int32_t count, TCRCMode mode) {
  if (count <= 0 || buffer == nullptr) return 0;
  const auto* bytes = static_cast<const uint8_t*>(buffer);
  switch (mode) {
    case crcFast: return XorWords(bytes, static_cast<size_t>(count) / 4);
    case crcFull: return CRC16(bytes, static_cast<size_t>(count));
  }
  return 0;
}

bool CheckCRC(const void* buffer, int32_t count, TCRCMode mode, uint32_t crc) {
  if (mode != crcFast && mode != crcFull) return true;
  return CountCRC(buffer, count, mode) == crc;
}

}  // namespace sfs
