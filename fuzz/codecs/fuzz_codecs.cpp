// Input: one byte of level and mode, four bytes of expected size, then the data.
//
// Decoding mode: the data is handed to SFSInternalDecompressBuffer as a packed block; whatever it
// holds, the layer must return within bounds, never produce more than the expected size, and
// report success exactly when it produced something.
// Round-trip mode: the data is packed at the level and must unpack to itself.
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "sfs/Compression.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 5) return 0;
  const auto level = static_cast<sfs::TSFSCompressionLevel>(data[0] % sfs::cSFSCompressionLevelCount);
  const bool roundTrip = (data[0] / sfs::cSFSCompressionLevelCount) % 2 == 1;
  uint32_t expected = 0;
  std::memcpy(&expected, data + 1, 4);
  expected %= 2u << 20;  // blocks are at most 1.5 MiB
  const uint8_t* body = data + 5;
  const auto bodySize = static_cast<int32_t>(size - 5);

  if (roundTrip) {
    sfs::TSFSBuffer packed, unpacked;
    int32_t packedSize = 0;
    if (!sfs::SFSInternalCompressBuffer(body, bodySize, packed, packedSize, level)) {
      if (bodySize > 0) std::abort();  // every codec packs every non-empty input
      return 0;
    }
    int32_t unpackedSize = bodySize;
    if (!sfs::SFSInternalDecompressBuffer(packed.data(), packedSize, unpacked, unpackedSize, level)) std::abort();
    if (unpackedSize != bodySize || std::memcmp(unpacked.data(), body, size_t(bodySize)) != 0) std::abort();
    return 0;
  }

  sfs::TSFSBuffer out;
  int32_t outSize = static_cast<int32_t>(expected);
  const bool ok = sfs::SFSInternalDecompressBuffer(body, bodySize, out, outSize, level);
  if (ok != (outSize > 0) || size_t(outSize) != out.size()) std::abort();
  if (level != sfs::sfsNone && outSize > static_cast<int32_t>(expected)) std::abort();
  return 0;
}
