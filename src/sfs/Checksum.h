// Checksums of pages, headers, compressed blocks and password headers.
//
//   crcFast  XOR of the little-endian 32-bit words of the buffer (count div 4 of them; trailing
//            bytes are ignored; an empty buffer gives 0).
//   crcFull  CRC-16 with the reflected polynomial 0xA001, initial value 0, no final XOR,
//            zero-extended to 32 bits ("abc" gives 0x9738).
// Any other mode value gives 0, and CheckCRC accepts every crc for it.
#pragma once

#include <cstdint>

namespace sfs {

enum TCRCMode : uint8_t { crcFast = 0, crcFull = 1 };

uint32_t CountCRC(const void* buffer, int32_t count, TCRCMode mode);
bool CheckCRC(const void* buffer, int32_t count, TCRCMode mode, uint32_t crc);

}  // namespace sfs
