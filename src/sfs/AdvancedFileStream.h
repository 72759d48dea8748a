// TSFSAdvancedFileStream: one file inside a container as a stream of fixed-size blocks, each
// compressed on its own, so that any position is reached by decompressing only the blocks that
// cover it. A file that does not begin with the 128-byte "AACS" header is read and written as
// plain bytes.
//
// Layout of a compressed file (all little-endian, packed):
//   offset 0                        TSFSFileStreamHeader (128 bytes)
//   128                             CustomHeaderSize bytes, not interpreted
//   128 + CustomHeaderSize          TSFSHeader (16 bytes) + packedSize bytes of block 0
//   nextHeaderNo of block 0         TSFSHeader + packed bytes of block 1, and so on.
// Blocks are found by following nextHeaderNo, never by assuming adjacency: a block whose packed
// size shrinks is rewritten in place and the space behind it stays unused.
//
// The stream keeps the last decompressed block, so that many small reads inside one block cost
// one decompression; every write, size change and header reload drops it. Memory of one
// operation stays about two blocks (the cached block plus the one being decoded), except that a
// Write keeps the packed form of every block it rewrites until it stores them.
//
// Failures raise platform::Exception with "TSFSAdvancedFileStream.Method - text". A corrupt
// header or block chain is reported when the stream opens; a block whose packed bytes cannot be
// read in full ends a Read early (a short read). One stream object is used by one thread at a time.
#pragma once

#include <bit>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "platform/Stream.h"
#include "sfs/Compression.h"

namespace sfs {

class TSingleFileSystem;

static_assert(std::endian::native == std::endian::little);

#pragma pack(push, 1)
// The stream header at offset 0 of a compressed file.
struct TSFSFileStreamHeader {
  char signature[4];          // "AACS"
  int32_t BlockSize;          // uncompressed bytes per block
  uint32_t Crc32;             // 0 when created; not read
  int32_t NumBlocks;          // number of blocks
  float version;              // 2.0
  uint8_t compressionLevel;   // TSFSCompressionLevel ordinal of every block
  uint8_t CrcMode;            // 0 when created; not read (blocks always use crcFull)
  uint8_t EncMethod;          // 0 when created; not read
  int32_t CustomHeaderSize;   // bytes between this header and the first block header
  uint8_t reserved;           // 0
  uint8_t controlBlock[100];  // zeros when created; not interpreted
};

// The header in front of the packed bytes of every block.
struct TSFSHeader {
  int32_t packedSize;    // packed bytes following this header
  int32_t trueSize;      // bytes after decompression (BlockSize except for the last block)
  uint32_t Crc32;        // CountCRC(crcFull) of the uncompressed block, upper 16 bits zero
  int32_t nextHeaderNo;  // file offset of the next block header
};
#pragma pack(pop)

static_assert(sizeof(TSFSFileStreamHeader) == 128);
static_assert(offsetof(TSFSFileStreamHeader, signature) == 0);
static_assert(offsetof(TSFSFileStreamHeader, BlockSize) == 4);
static_assert(offsetof(TSFSFileStreamHeader, Crc32) == 8);
static_assert(offsetof(TSFSFileStreamHeader, NumBlocks) == 12);
static_assert(offsetof(TSFSFileStreamHeader, version) == 16);
static_assert(offsetof(TSFSFileStreamHeader, compressionLevel) == 20);
static_assert(offsetof(TSFSFileStreamHeader, CrcMode) == 21);
static_assert(offsetof(TSFSFileStreamHeader, EncMethod) == 22);
static_assert(offsetof(TSFSFileStreamHeader, CustomHeaderSize) == 23);
static_assert(offsetof(TSFSFileStreamHeader, reserved) == 27);
static_assert(offsetof(TSFSFileStreamHeader, controlBlock) == 28);
static_assert(sizeof(TSFSHeader) == 16);
static_assert(offsetof(TSFSHeader, packedSize) == 0);
static_assert(offsetof(TSFSHeader, trueSize) == 4);
static_assert(offsetof(TSFSHeader, Crc32) == 8);
static_assert(offsetof(TSFSHeader, nextHeaderNo) == 12);
static_assert(sizeof(float) == 4);

inline constexpr int32_t cStreamHeaderSize = 128;
inline constexpr int32_t cBlockHeaderSize = 16;
inline constexpr char cStreamSignature[4] = {'A', 'A', 'C', 'S'};
inline constexpr float cStreamVersion = 2.0f;
inline constexpr int32_t cPlainBlockSize = 1 << 20;
// Largest block size a stream header may claim; larger values are taken as corruption, so that
// a damaged header cannot make the stream allocate without bound.
inline constexpr int32_t cMaxStreamBlockSize = 16 << 20;

// Block headers and their file offsets, indexed by block number. Capacity grows in steps that
// start at 100 items and double up to MaxAllocBy; shrinking gives memory back only when the
// unused tail exceeds the de-allocation step (same progression).
class TSFSHeadersArray {
 public:
  static constexpr int32_t MaxAllocBy = 10000;

  int32_t Count() const { return FCount; }
  int32_t Capacity() const { return FCapacity; }
  void SetSize(int32_t n);  // 0 clears both arrays
  void AppendItem(const TSFSHeader& header, int64_t position);

  TSFSHeader& Items(int32_t index) { return FItems[static_cast<size_t>(index)]; }
  const TSFSHeader& Items(int32_t index) const { return FItems[static_cast<size_t>(index)]; }
  int64_t& Positions(int32_t index) { return FPositions[static_cast<size_t>(index)]; }
  int64_t Positions(int32_t index) const { return FPositions[static_cast<size_t>(index)]; }

 private:
  void Reallocate(int32_t capacity);

  std::vector<TSFSHeader> FItems;
  std::vector<int64_t> FPositions;
  int32_t FCount = 0;
  int32_t FCapacity = 0;
  int32_t FAllocBy = 100;
  int32_t FDeAllocBy = 100;
};

// Progress callback: sender and percent of the running operation.
using TSFSProgressEvent = std::function<void(void* sender, double percent)>;

class TSFSAdvancedFileStream : public platform::TStream {
 public:
  // Opens (or with fmCreate creates) FileName inside SFS through a TSFSUserFileStream. Level
  // sfsNone takes the container's default level. SFS must outlive the stream.
  TSFSAdvancedFileStream(TSingleFileSystem* SFS, const std::string& FileName, uint16_t Mode,
                         const std::string& Password, const std::string& Question,
                         const std::string& Answer, TSFSCompressionLevel CompressionLevel);
  // The same over any byte stream, which the object owns: `defaultLevel` stands for the
  // container default. A stream opened with the low two mode bits 0 (read) never writes to
  // `file`, not even to repair a truncated block list.
  TSFSAdvancedFileStream(std::unique_ptr<platform::TStream> file, const std::string& FileName,
                         uint16_t Mode, TSFSCompressionLevel CompressionLevel,
                         TSFSCompressionLevel defaultLevel = TSFSCompressionLevel::sfsNone);
  ~TSFSAdvancedFileStream() override;

  int32_t Read(void* Buffer, int32_t Count) override;
  int32_t Write(const void* Buffer, int32_t Count) override;
  int64_t Seek(int64_t Offset, platform::TSeekOrigin Origin) override;
  void SetSize(int64_t NewSize) override;
  int64_t GetSize() override;

  TSFSProgressEvent OnProgress;

  bool IsCompressed() const { return FCompressionLevel != TSFSCompressionLevel::sfsNone; }
  TSFSCompressionLevel CompressionLevel() const { return FCompressionLevel; }
  int32_t BlockSize() const { return FBlockSize; }
  int64_t TrueSize() const { return FTrueSize; }
  int64_t PackedSize() const { return FPackedSize; }
  double CompressionRate() const { return FCompressionRate; }
  int32_t NumBlocks() const { return headers.Count(); }
  const TSFSHeadersArray& Headers() const { return headers; }
  const TSFSFileStreamHeader& Header() const { return FHeader; }
  const std::string& FileName() const { return FFileName; }
  platform::TStream& InnerStream() { return *FFile; }
  // Blocks decompressed since the stream opened (cache hits not counted).
  int64_t BlocksDecompressed() const { return FBlocksDecompressed; }
  // True when the last LoadHeaders found the block list cut short and dropped its tail.
  bool Repaired() const { return FRepaired; }
  // Decodes every block and reports each one that fails (one line per problem, empty when all
  // blocks are sound), without raising. The position is kept.
  std::vector<std::string> CheckBlocks();

  // Reads the stream header and follows the block chain. Throws on a corrupt header or chain;
  // a block list that ends inside a block header or inside a block's packed bytes is cut to the
  // whole blocks before it.
  void LoadHeaders();
  void SaveHeader();
  // The whole uncompressed block `index` in `buffer`. False, with `buffer` empty and no
  // exception, when its packed bytes cannot be read in full; throws on a codec, size or CRC
  // failure. The stream state is unchanged either way.
  bool LoadBlock(int32_t index, std::vector<uint8_t>& buffer);
  void PrepareBufferForWriting(const uint8_t* data, int32_t count, TSFSHeader& header,
                               std::vector<uint8_t>& packed);
  void CalculateRate();

 private:
  void InternalCreate(bool bCreate);
  void DoOnProgress(double percent);
  // The cached block `index`, decoding it when needed; null when its bytes cannot be read.
  const std::vector<uint8_t>* CachedBlock(int32_t index);
  void DropCache();
  void WriteAll(const void* data, int64_t count, const char* method);
  void Truncate(int64_t size);
  int64_t FileSize();

  int32_t FBlockSize = cPlainBlockSize;
  double FProgress = 0;
  double FProgressMax = 0;
  TSFSHeadersArray headers;
  int64_t FTrueSize = 0;
  int64_t FPackedSize = 0;
  int32_t FCurrentHeader = 0;
  int64_t FCurrentPos = 0;
  TSFSCompressionLevel FCompressionLevel = TSFSCompressionLevel::sfsNone;
  double FCompressionRate = 0;
  bool FNoProgress = false;
  std::string FFileName;
  std::unique_ptr<platform::TStream> FFile;
  TSFSFileStreamHeader FHeader{};
  bool FWritable = true;
  bool FRepaired = false;
  int32_t FStoredNumBlocks = 0;  // NumBlocks as found in the file by the last LoadHeaders

  int32_t FCacheIndex = -1;
  std::vector<uint8_t> FCache;
  int64_t FBlocksDecompressed = 0;
};

}  // namespace sfs
