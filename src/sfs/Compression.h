// The codec layer of the container library: one whole block in memory through zlib, bzip2 or the
// PPM coder, chosen by a TSFSCompressionLevel.
//
// TSFSCompressionLevel is stored as one byte in container headers and block headers; its
// ordinals are fixed (they are not grouped by codec). A byte read from disk may hold a value
// above 9: the functions here accept it and treat it as the table says (block size 1 MiB,
// compression and decompression fail).
//
// Buffers: the output vector is filled by the callee and owned by the caller; on failure it is
// left empty and the size is 0. The layer functions never throw; the wrappers throw the codec
// exceptions below, after freeing what they produced.
//
// Threads: the zlib and bzip2 paths work on the caller's buffers only. The PPM model memory is
// process-wide and reused for blocks of the same model size; calls that need it are serialised
// by a lock, so concurrent callers wait for one another instead of sharing the model.
#pragma once

#include <cstdint>
#include <optional>
#include <string_view>
#include <vector>

#include "platform/Exception.h"

namespace sfs {

enum class TSFSCompressionLevel : uint8_t {
  sfsNone = 0,      // bytes copied
  zlibFastest = 1,  // zlib level 1
  zlibNormal = 2,   // zlib level 5
  ppmNormal = 3,    // PPM, 25 MB model memory, order 5
  ppmMax = 4,       // PPM, 50 MB model memory, order 13
  zlibMax = 5,      // zlib level 9
  ppmFastest = 6,   // PPM, 10 MB model memory, order 3
  bzipFastest = 7,  // bzip2, block size 2 x 100 kB
  bzipNormal = 8,   // bzip2, block size 6 x 100 kB
  bzipMax = 9,      // bzip2, block size 9 x 100 kB
};
using enum TSFSCompressionLevel;

// Number of defined levels; ordinals 0 .. cSFSCompressionLevelCount - 1.
inline constexpr int cSFSCompressionLevelCount = 10;

// The level's name as written above ("zlibNormal"); "" for an ordinal above 9.
std::string_view SFSCompressionLevelName(TSFSCompressionLevel level);
// The level with this name, compared without regard to case; nothing for an unknown name.
std::optional<TSFSCompressionLevel> SFSCompressionLevelFromName(std::string_view name);

// Block size that belongs to the level: 512 KiB, 1 MiB or 1.5 MiB; 1 MiB above ordinal 9.
int32_t SFSInternalGetBlockSize(TSFSCompressionLevel level);

using TSFSBuffer = std::vector<uint8_t>;

// Packs inSize bytes at inBuf. False for inSize < 1, an ordinal above 9 or a failing codec;
// true exactly when outSize > 0.
bool SFSInternalCompressBuffer(const void* inBuf, int32_t inSize, TSFSBuffer& outBuf, int32_t& outSize,
                               TSFSCompressionLevel compressionLevel);

// Unpacks inSize bytes at inBuf. outSize carries the expected unpacked size in and the produced
// size out; no more than the expected size is ever produced (more is treated as corrupt data).
// False for an expected size < 1, an ordinal above 9, or truncated, corrupt or hostile input.
// The output buffer is allocated at the expected size first, so callers bound that size (by the
// level's block size) before they pass it on from stored data.
bool SFSInternalDecompressBuffer(const void* inBuf, int32_t inSize, TSFSBuffer& outBuf, int32_t& outSize,
                                 TSFSCompressionLevel compressionLevel);

// Raised by the zlib wrappers for a negative zlib code, message "error".
class ECompressionError : public platform::Exception {
 public:
  using platform::Exception::Exception;
};
class EDecompressionError : public platform::Exception {
 public:
  using platform::Exception::Exception;
};
// Raised by the bzip2 wrappers for a negative bzip2 code, message "error <code>".
class EBZCompressionError : public platform::Exception {
 public:
  using platform::Exception::Exception;
};
class EBZDecompressionError : public platform::Exception {
 public:
  using platform::Exception::Exception;
};

// zlib stream (RFC 1950) of InBytes bytes, deflate level compMode (1..9), window bits 15,
// memory level 8, default strategy.
void ZLIBCompressBuf(const void* InBuf, int32_t InBytes, TSFSBuffer& OutBuf, int32_t& OutBytes, int compMode);
// Inflates a zlib stream; OutEstimate is the expected size (0: unknown). Fails with
// EDecompressionError on corrupt or truncated data. With OutEstimate > 0 the output never
// grows beyond it.
void ZLIBDecompressBuf(const void* InBuf, int32_t InBytes, int32_t OutEstimate, TSFSBuffer& OutBuf,
                       int32_t& OutBytes);
// bzip2 stream of InBytes bytes with block size blockSize100k x 100 kB (1..9), work factor 0.
void BZCompressBuf(const void* InBuf, int32_t InBytes, TSFSBuffer& OutBuf, int32_t& OutBytes,
                   int blockSize100k);
// Unpacks a bzip2 stream; OutEstimate as for ZLIBDecompressBuf.
void BZDecompressBuf(const void* InBuf, int32_t InBytes, int32_t OutEstimate, TSFSBuffer& OutBuf,
                     int32_t& OutBytes);

// PPM coder (variant G). Writes the 4-byte parameter word and the range-coded body of inSize
// bytes into outBuf, which holds outCapacity bytes; returns the packed length, or 0 when the
// model memory cannot be allocated, the arguments are out of range (order 2..16, memory
// 1..256 MB) or the packed data would not fit.
int32_t PPMCompressBuffer(const void* inBuf, int32_t inSize, void* outBuf, int32_t outCapacity, int order,
                          int memoryMB);
// Decodes a block written by PPMCompressBuffer into outBuf (outCapacity bytes) until the
// end-of-data symbol; order and memory come from the parameter word. Returns the unpacked
// length, or 0 for another variant code, memory that cannot be allocated, or data that is
// corrupt, truncated or would unpack to more than outCapacity bytes.
int32_t PPMDecompressBuffer(const void* inBuf, int32_t inSize, void* outBuf, int32_t outCapacity);

}  // namespace sfs
