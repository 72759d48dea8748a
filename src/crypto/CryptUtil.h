// Small helpers shared by the cipher, hash and random-source classes: buffer XOR and compare,
// rotations and byte swaps, CRC-16/CRC-32 table steps, the time seed and the seeded scrambler,
// wiping of key material, and the process-wide progress callback.
//
// All functions are thread-safe except SetProgress/DoProgress, whose callback is process-wide and
// meant to be set up once by the program (the `sfs` tool draws its progress bar from it).
#pragma once

#include <bit>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>

namespace crypto {

class TProtection;

// Dest[i] := I1[i] xor I2[i]; Dest may be I1 or I2.
void XORBuffers(const void* I1, const void* I2, int32_t Size, void* Dest);
// 0 when the first Size bytes are equal, else the difference of the first differing bytes
// (as unsigned values: P1[i] - P2[i]).
int32_t MemCompare(const void* P1, const void* P2, int32_t Size);

inline uint32_t ROL(uint32_t Value, int Shift) { return std::rotl(Value, Shift); }
inline uint32_t ROR(uint32_t Value, int Shift) { return std::rotr(Value, Shift); }
// Byte order reversal of one 32-bit word and of a buffer of Count words (in place allowed).
inline uint32_t SwapInteger(uint32_t Value) { return __builtin_bswap32(Value); }
void SwapIntegerBuffer(const void* Source, void* Dest, int32_t Count);
inline uint32_t SwapInt(uint32_t Value) { return SwapInteger(Value); }
inline uint32_t BSwapInt(uint32_t Value) { return SwapInteger(Value); }
inline void SwapIntBuf(const void* Source, void* Dest, int32_t Count) { SwapIntegerBuffer(Source, Dest, Count); }
inline void BSwapIntBuf(const void* Source, void* Dest, int32_t Count) { SwapIntegerBuffer(Source, Dest, Count); }

// CRC-16/ARC step from the given start value, no final XOR. A null Data leaves CRC unchanged.
uint16_t CRC16(uint16_t CRC, const void* Data, int32_t Size);
// Reflected CRC-32 (polynomial 0xEDB88320) step without initial or final inversion.
uint32_t CRC32(uint32_t CRC, const void* Data, int32_t Size);

// Milliseconds of the UTC day xor the low and high halves of a high-resolution counter.
uint32_t RndTimeSeed();
// Scrambles Buffer in place from Seed (linear congruential steps mixed with the data) and
// returns the final seed. Used to randomise buffers and to wipe them.
uint32_t RndXORBuffer(uint32_t Seed, void* Buffer, int32_t Size);

// Asks the memory system for the Size bytes from Base + Offset, a cache line at a time, without
// waiting for them: a hint that reads nothing and never faults, whatever Base points at. A null
// Base asks for nothing.
inline void PrefetchBytes(const void* Base, size_t Offset, size_t Size) {
  if (Base == nullptr) return;
  constexpr size_t cLine = 64;
  for (size_t i = 0; i < Size; i += cLine) __builtin_prefetch(static_cast<const char*>(Base) + Offset + i);
}

// Overwrites Size bytes with $AA, then $55, then `Final`, with writes the optimiser keeps.
void ProtectBuffer(void* Buffer, size_t Size, uint8_t Final = 0);
// The same for the characters of a string (its length is kept).
void ProtectString(std::string& Value, uint8_t Final = 0);
// One volatile fill, for buffers that only need a single known final value.
void SecureFill(void* Buffer, size_t Size, uint8_t Value);

// Progress of long operations: Current of Maximal bytes done; (0, 0) when finished.
using TProgressEvent = std::function<void(TProtection* Sender, int64_t Current, int64_t Maximal)>;
void SetProgress(TProgressEvent Event);
void DoProgress(TProtection* Sender, int64_t Current, int64_t Maximal);

}  // namespace crypto
