// The binary records behind the random sources' state texts (GetState/SetState). All integers are
// little-endian. Check is the complement of CRC16 (start $FFFF) over every byte before it; Flags
// is cStateFlags, plus cStateProtected when everything before Flags is enciphered with the
// source's chained protection.
#pragma once

#include <bit>
#include <cstddef>
#include <cstdint>

namespace crypto::randomstate {

static_assert(std::endian::native == std::endian::little, "state records are little-endian");

inline constexpr uint16_t cStateFlags = 256;
inline constexpr uint16_t cStateProtected = 1;

#pragma pack(push, 1)
// TRandom: 22 bytes.
struct TRandomRecord {
  uint16_t Marker;  // random bytes
  int32_t Size;
  uint32_t BasicSeed;
  uint32_t Count;
  uint32_t Register;
  uint16_t Check;
  uint16_t Flags;
};
// TRandom_LFSR: 282 bytes.
struct TLFSRRecord {
  uint16_t Marker;  // random bytes
  int32_t Size;
  uint8_t Register[256];
  uint32_t BasicSeed;
  uint32_t Count;
  uint32_t Ptr;
  uint32_t Last;
  uint16_t Check;
  uint16_t Flags;
};
#pragma pack(pop)

static_assert(sizeof(TRandomRecord) == 22);
static_assert(offsetof(TRandomRecord, Size) == 2);
static_assert(offsetof(TRandomRecord, BasicSeed) == 6);
static_assert(offsetof(TRandomRecord, Count) == 10);
static_assert(offsetof(TRandomRecord, Register) == 14);
static_assert(offsetof(TRandomRecord, Check) == 18);
static_assert(offsetof(TRandomRecord, Flags) == 20);

static_assert(sizeof(TLFSRRecord) == 282);
static_assert(offsetof(TLFSRRecord, Size) == 2);
static_assert(offsetof(TLFSRRecord, Register) == 6);
static_assert(offsetof(TLFSRRecord, BasicSeed) == 262);
static_assert(offsetof(TLFSRRecord, Count) == 266);
static_assert(offsetof(TLFSRRecord, Ptr) == 270);
static_assert(offsetof(TLFSRRecord, Last) == 274);
static_assert(offsetof(TLFSRRecord, Check) == 278);
static_assert(offsetof(TLFSRRecord, Flags) == 280);

}  // namespace crypto::randomstate
