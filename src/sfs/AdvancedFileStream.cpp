#include "sfs/AdvancedFileStream.h"

#include <algorithm>
#include <cstring>
#include <limits>
#include <utility>

#include "platform/Exception.h"
#include "sfs/Checksum.h"

namespace sfs {

// Shared with the container constructor in UserFileStream.cpp.
[[noreturn]] void AdvancedStreamFail(const char* method, const std::string& text) {
  throw platform::Exception(std::string("TSFSAdvancedFileStream.") + method + " - " + text);
}

namespace {

[[noreturn]] void Fail(const char* method, const std::string& text) { AdvancedStreamFail(method, text); }

// Reads until `count` bytes arrived or the stream has no more; returns how many arrived.
int64_t ReadFully(platform::TStream& stream, void* buffer, int64_t count) {
  auto* out = static_cast<uint8_t*>(buffer);
  int64_t done = 0;
  while (done < count) {
    const auto chunk = static_cast<int32_t>(std::min<int64_t>(count - done, 1 << 20));
    const int32_t got = stream.Read(out + done, chunk);
    if (got <= 0) break;
    done += got;
  }
  return done;
}

bool IsWritableMode(uint16_t mode) { return mode == platform::fmCreate || (mode & 3) != 0; }

bool IsDefinedLevel(uint8_t ordinal) { return ordinal < cSFSCompressionLevelCount; }

}  // namespace

// --- TSFSHeadersArray ---

void TSFSHeadersArray::Reallocate(int32_t capacity) {
  std::vector<TSFSHeader> items(static_cast<size_t>(capacity));
  std::vector<int64_t> positions(static_cast<size_t>(capacity));
  const auto keep = static_cast<size_t>(std::min(FCount, capacity));
  std::copy_n(FItems.begin(), keep, items.begin());
  std::copy_n(FPositions.begin(), keep, positions.begin());
  FItems.swap(items);
  FPositions.swap(positions);
  FCapacity = capacity;
}

void TSFSHeadersArray::SetSize(int32_t n) {
  if (n <= 0) {
    FItems.clear();
    FItems.shrink_to_fit();
    FPositions.clear();
    FPositions.shrink_to_fit();
    FCount = 0;
    FCapacity = 0;
    return;
  }
  if (n > FCapacity) {
    int32_t capacity = FCapacity;
    while (capacity < n) {
      capacity += FAllocBy;
      FAllocBy = std::min(FAllocBy * 2, MaxAllocBy);
    }
    Reallocate(capacity);
  } else if (FCapacity - n > FDeAllocBy) {
    Reallocate(n);
    FDeAllocBy = std::min(FDeAllocBy * 2, MaxAllocBy);
  }
  // Entries that come into use start blank.
  for (int32_t i = FCount; i < n; ++i) {
    FItems[static_cast<size_t>(i)] = TSFSHeader{};
    FPositions[static_cast<size_t>(i)] = 0;
  }
  FCount = n;
}

void TSFSHeadersArray::AppendItem(const TSFSHeader& header, int64_t position) {
  SetSize(FCount + 1);
  FItems[static_cast<size_t>(FCount - 1)] = header;
  FPositions[static_cast<size_t>(FCount - 1)] = position;
}

// --- TSFSAdvancedFileStream ---

TSFSAdvancedFileStream::TSFSAdvancedFileStream(std::unique_ptr<platform::TStream> file,
                                               const std::string& FileName, uint16_t Mode,
                                               TSFSCompressionLevel CompressionLevel,
                                               TSFSCompressionLevel defaultLevel)
    : FFileName(FileName), FFile(std::move(file)), FWritable(IsWritableMode(Mode)) {
  if (!FFile) Fail("Create", "error creating user file stream, fileName = \"" + FileName + "\".");
  FCompressionLevel = CompressionLevel == sfsNone ? defaultLevel : CompressionLevel;
  InternalCreate(Mode == platform::fmCreate);
}

TSFSAdvancedFileStream::~TSFSAdvancedFileStream() = default;

void TSFSAdvancedFileStream::InternalCreate(bool bCreate) {
  FBlockSize = cPlainBlockSize;
  FNoProgress = false;
  FTrueSize = FileSize();
  FFile->Seek(0, platform::soBeginning);
  headers.SetSize(0);
  DropCache();
  if (bCreate && FCompressionLevel == sfsNone) {
    CalculateRate();
    return;
  }
  if (bCreate) {
    FHeader = TSFSFileStreamHeader{};
    std::memcpy(FHeader.signature, cStreamSignature, sizeof FHeader.signature);
    FHeader.BlockSize = SFSInternalGetBlockSize(FCompressionLevel);
    FHeader.NumBlocks = 0;
    FHeader.version = cStreamVersion;
    FHeader.compressionLevel = static_cast<uint8_t>(FCompressionLevel);
    FFile->Seek(0, platform::soBeginning);
    if (FFile->Write(&FHeader, cStreamHeaderSize) < cStreamHeaderSize)
      Fail("Create", "error writing to data stream. May be data stream in read only mode.");
    FFile->SetSize(cStreamHeaderSize);
  }
  FFile->Seek(0, platform::soBeginning);
  FTrueSize = 0;
  LoadHeaders();
  FCurrentHeader = 0;
  FCurrentPos = 0;
  FNoProgress = false;
  FFile->Seek(0, platform::soBeginning);
}

int64_t TSFSAdvancedFileStream::FileSize() { return FFile->GetSize(); }

void TSFSAdvancedFileStream::Truncate(int64_t size) { FFile->SetSize(size); }

void TSFSAdvancedFileStream::WriteAll(const void* data, int64_t count, const char* method) {
  const auto* in = static_cast<const uint8_t*>(data);
  while (count > 0) {
    const auto chunk = static_cast<int32_t>(std::min<int64_t>(count, 1 << 20));
    const int32_t put = FFile->Write(in, chunk);
    if (put <= 0) Fail(method, "error writing to data stream.");
    in += put;
    count -= put;
  }
}

void TSFSAdvancedFileStream::LoadHeaders() {
  DropCache();
  const int64_t remembered = FFile->Position();
  FPackedSize = 0;
  FRepaired = false;
  FFile->Seek(0, platform::soBeginning);
  const int64_t size = FileSize();

  TSFSFileStreamHeader header{};
  const bool framed = size >= cStreamHeaderSize &&
                      ReadFully(*FFile, &header, cStreamHeaderSize) == cStreamHeaderSize &&
                      std::memcmp(header.signature, cStreamSignature, sizeof header.signature) == 0;
  if (!framed) {
    headers.SetSize(0);
    FTrueSize = size;
    FFile->Seek(remembered, platform::soBeginning);
    FCompressionLevel = sfsNone;
    CalculateRate();
    return;
  }
  // Level 0 is never written into a header: a stream of sfsNone is plain.
  if (header.BlockSize < 1 || header.BlockSize > cMaxStreamBlockSize || header.NumBlocks < 0 ||
      header.CustomHeaderSize < 0 || header.CustomHeaderSize > size - cStreamHeaderSize ||
      header.compressionLevel == 0 ||
      !IsDefinedLevel(header.compressionLevel))
    Fail("LoadHeaders", "invalid stream header.");

  FHeader = header;
  FStoredNumBlocks = header.NumBlocks;
  headers.SetSize(0);
  FCompressionLevel = static_cast<TSFSCompressionLevel>(header.compressionLevel);
  FTrueSize = 0;
  int64_t offset = int64_t{cStreamHeaderSize} + header.CustomHeaderSize;
  bool repaired = false;
  for (int32_t i = 0; i < header.NumBlocks; ++i) {
    TSFSHeader block{};
    bool whole = size - offset >= cBlockHeaderSize;
    if (whole) {
      FFile->Seek(offset, platform::soBeginning);
      whole = ReadFully(*FFile, &block, cBlockHeaderSize) == cBlockHeaderSize;
    }
    if (whole) {
      // The chain only moves forward, past the block's own bytes. Checked before the length, so
      // that a damaged packedSize is reported, not taken for a cut tail and "repaired" away
      // together with every sound block behind it.
      if (block.packedSize < 1 || block.trueSize < 1 || block.trueSize > header.BlockSize ||
          int64_t{block.nextHeaderNo} < offset + cBlockHeaderSize + block.packedSize)
        Fail("LoadHeaders", "invalid block header.");
      // A consistent block whose packed bytes run past the end of the file is as incomplete as a
      // partial block header: both are what an interrupted append leaves behind.
      whole = offset + cBlockHeaderSize + block.packedSize <= size;
    }
    if (!whole) {
      repaired = true;
      FHeader.NumBlocks = i;
      if (FWritable && offset < size) Truncate(offset);
      break;
    }
    // Every block but the last holds a whole block.
    if (i > 0 && headers.Items(i - 1).trueSize != header.BlockSize)
      Fail("LoadHeaders", "invalid block header.");
    FTrueSize += block.trueSize;
    FPackedSize += block.packedSize;
    headers.AppendItem(block, offset);
    offset = block.nextHeaderNo;
  }
  // The chain of the last block leads nowhere; a damaged value there must not send the next
  // append far beyond the end of the file.
  if (headers.Count() > 0) {
    TSFSHeader& tail = headers.Items(headers.Count() - 1);
    const int64_t end = headers.Positions(headers.Count() - 1) + cBlockHeaderSize + tail.packedSize;
    if (tail.nextHeaderNo > size) {
      tail.nextHeaderNo = static_cast<int32_t>(end);
      if (FWritable) {
        FFile->Seek(headers.Positions(headers.Count() - 1), platform::soBeginning);
        WriteAll(&tail, cBlockHeaderSize, "LoadHeaders");
      }
    }
  }
  FRepaired = repaired;
  if (repaired && FWritable) SaveHeader();
  FFile->Seek(remembered, platform::soBeginning);
  FBlockSize = header.BlockSize;
  CalculateRate();
}

std::vector<std::string> TSFSAdvancedFileStream::CheckBlocks() {
  std::vector<std::string> problems;
  if (FRepaired)
    problems.push_back("the block list ends inside a block: " + std::to_string(headers.Count()) + " of " +
                       std::to_string(FStoredNumBlocks) + " blocks are whole");
  std::vector<uint8_t> block;
  for (int32_t i = 0; i < headers.Count(); ++i) {
    try {
      if (!LoadBlock(i, block)) problems.push_back("block " + std::to_string(i) + ": packed bytes missing");
    } catch (const platform::Exception& e) {
      problems.push_back("block " + std::to_string(i) + ": " + e.what());
    }
  }
  return problems;
}

void TSFSAdvancedFileStream::SaveHeader() {
  FFile->Seek(0, platform::soBeginning);
  WriteAll(&FHeader, cStreamHeaderSize, "SaveHeader");
}

void TSFSAdvancedFileStream::CalculateRate() {
  FPackedSize = 0;
  for (int32_t i = 0; i < headers.Count(); ++i) FPackedSize += headers.Items(i).packedSize;
  if (FCompressionLevel == sfsNone) {
    FPackedSize = FTrueSize;
    FCompressionRate = 0;
    FBlockSize = cPlainBlockSize;
  } else if (FTrueSize > 0) {
    FCompressionRate = (1.0 - static_cast<double>(FPackedSize) / static_cast<double>(FTrueSize)) * 100.0;
  } else {
    FPackedSize = FTrueSize;
    FCompressionRate = 0;
  }
}

bool TSFSAdvancedFileStream::LoadBlock(int32_t index, std::vector<uint8_t>& buffer) {
  buffer.clear();
  if (index < 0 || index >= headers.Count()) return false;
  const TSFSHeader& block = headers.Items(index);
  std::vector<uint8_t> packed(static_cast<size_t>(block.packedSize));
  FFile->Seek(headers.Positions(index) + cBlockHeaderSize, platform::soBeginning);
  if (ReadFully(*FFile, packed.data(), block.packedSize) != block.packedSize) return false;

  std::vector<uint8_t> unpacked;
  int32_t produced = block.trueSize;
  if (!SFSInternalDecompressBuffer(packed.data(), block.packedSize, unpacked, produced, FCompressionLevel))
    Fail("LoadBlock", "decompression error.");
  if (produced != block.trueSize || unpacked.size() < static_cast<size_t>(produced))
    Fail("LoadBlock", "decompression error, invalid size.");
  if (CountCRC(unpacked.data(), produced, crcFull) != block.Crc32) Fail("LoadBlock", "decompression crc error.");
  unpacked.resize(static_cast<size_t>(produced));
  buffer.swap(unpacked);
  ++FBlocksDecompressed;
  return true;
}

void TSFSAdvancedFileStream::PrepareBufferForWriting(const uint8_t* data, int32_t count, TSFSHeader& header,
                                                     std::vector<uint8_t>& packed) {
  header.trueSize = count;
  header.Crc32 = CountCRC(data, count, crcFull);
  int32_t packedSize = 0;
  if (!SFSInternalCompressBuffer(data, count, packed, packedSize, FCompressionLevel) || packedSize < 1) {
    packed.clear();
    Fail("PrepareBufferForWriting", "compression error in PrepareBuffer.");
  }
  packed.resize(static_cast<size_t>(packedSize));
  header.packedSize = packedSize;
}

void TSFSAdvancedFileStream::DoOnProgress(double percent) {
  if (OnProgress && !FNoProgress) OnProgress(this, percent);
}

void TSFSAdvancedFileStream::DropCache() {
  FCacheIndex = -1;
  FCache.clear();
  FCache.shrink_to_fit();
}

const std::vector<uint8_t>* TSFSAdvancedFileStream::CachedBlock(int32_t index) {
  if (FCacheIndex == index) return &FCache;
  std::vector<uint8_t> block;
  if (!LoadBlock(index, block)) return nullptr;
  FCache.swap(block);
  FCacheIndex = index;
  return &FCache;
}

int64_t TSFSAdvancedFileStream::GetSize() {
  if (FCompressionLevel == sfsNone) return FFile->GetSize();
  return FTrueSize;
}

int32_t TSFSAdvancedFileStream::Read(void* Buffer, int32_t Count) {
  DoOnProgress(0);
  if (FCompressionLevel == sfsNone) {
    const int32_t result = FFile->Read(Buffer, Count);
    DoOnProgress(100);
    return result;
  }
  FProgress = 0;
  if (Count < 1 || FCurrentPos >= FTrueSize) return 0;
  FCurrentHeader = static_cast<int32_t>(FCurrentPos / FBlockSize);
  FProgressMax = std::max(1, headers.Count() - FCurrentHeader);

  auto* out = static_cast<uint8_t*>(Buffer);
  int32_t delivered = 0;
  while (FCurrentPos < FTrueSize && delivered < Count) {
    DoOnProgress(FProgress);
    const std::vector<uint8_t>* block = CachedBlock(FCurrentHeader);
    if (!block) break;  // packed bytes missing: a short read
    const auto offset = static_cast<int32_t>(FCurrentPos % FBlockSize);
    const int64_t n = std::min({int64_t{FBlockSize} - offset, int64_t{Count} - delivered, FTrueSize - FCurrentPos,
                                static_cast<int64_t>(block->size()) - offset});
    if (n <= 0) break;
    std::memcpy(out + delivered, block->data() + offset, static_cast<size_t>(n));
    delivered += static_cast<int32_t>(n);
    FCurrentPos += n;
    if (delivered < Count) ++FCurrentHeader;
    FProgress += 100.0 / FProgressMax;
  }
  DoOnProgress(100);
  return delivered;
}

int64_t TSFSAdvancedFileStream::Seek(int64_t Offset, platform::TSeekOrigin Origin) {
  if (FCompressionLevel == sfsNone) return FFile->Seek(Offset, Origin);
  int64_t base = 0;
  if (Origin == platform::soCurrent) base = FCurrentPos;
  if (Origin == platform::soEnd) base = FTrueSize;
  int64_t position = base + Offset;
  if (position < 0) {
    position = 0;
    FCurrentHeader = 0;
  }
  FCurrentPos = position;
  return position;
}

void TSFSAdvancedFileStream::SetSize(int64_t NewSize) {
  if (FCompressionLevel == sfsNone) {
    FFile->SetSize(NewSize);
    return;
  }
  if (NewSize < 0) Fail("SetSize", "invalid size " + std::to_string(NewSize) + ".");
  if (NewSize == FTrueSize) return;
  DropCache();
  if (NewSize > FTrueSize) {
    const int64_t extension = NewSize - FTrueSize;
    Seek(0, platform::soEnd);
    const bool wasNoProgress = FNoProgress;
    FNoProgress = true;
    std::vector<uint8_t> zeros(static_cast<size_t>(std::min<int64_t>(extension, FBlockSize)));
    int64_t written = 0;
    try {
      while (written < extension) {
        const auto chunk = static_cast<int32_t>(std::min<int64_t>(extension - written, FBlockSize));
        const int32_t put = Write(zeros.data(), chunk);
        if (put <= 0) break;
        written += put;
      }
    } catch (...) {
      FNoProgress = wasNoProgress;
      throw;
    }
    FNoProgress = wasNoProgress;
    if (written < extension)
      Fail("SetSize", "error extending file. NewSize = " + std::to_string(NewSize) +
                          ", extSize = " + std::to_string(extension));
  } else {
    const auto n = static_cast<int32_t>(NewSize / FBlockSize);
    const auto r = static_cast<int32_t>(NewSize % FBlockSize);
    if (r > 0) {
      std::vector<uint8_t> block;
      if (!LoadBlock(n, block) || static_cast<int32_t>(block.size()) < r)
        Fail("SetSize", "error reading block " + std::to_string(n) + ".");
      TSFSHeader item = headers.Items(n);
      std::vector<uint8_t> packed;
      PrepareBufferForWriting(block.data(), r, item, packed);
      const int64_t position = headers.Positions(n);
      item.nextHeaderNo = static_cast<int32_t>(position + cBlockHeaderSize + item.packedSize);
      headers.SetSize(n + 1);
      headers.Items(n) = item;
      headers.Positions(n) = position;
      FHeader.NumBlocks = n + 1;
      SaveHeader();
      Truncate(position);
      FFile->Seek(position, platform::soBeginning);
      WriteAll(&item, cBlockHeaderSize, "SetSize");
      WriteAll(packed.data(), item.packedSize, "SetSize");
    } else {
      // The blocks behind the new end are given back to the container as well.
      const int64_t end = n < headers.Count()
                              ? headers.Positions(n)
                              : int64_t{cStreamHeaderSize} + FHeader.CustomHeaderSize;
      headers.SetSize(n);
      FHeader.NumBlocks = n;
      SaveHeader();
      if (end < FileSize()) Truncate(end);
    }
    FTrueSize = NewSize;
    if (FCurrentPos > FTrueSize) FCurrentPos = FTrueSize;
  }
  FTrueSize = NewSize;
  CalculateRate();
}

int32_t TSFSAdvancedFileStream::Write(const void* Buffer, int32_t Count) {
  DoOnProgress(0);
  if (FCompressionLevel == sfsNone) {
    const int32_t result = FFile->Write(Buffer, Count);
    DoOnProgress(100);
    return result;
  }
  if (Count < 1) return 0;
  if (FCurrentPos > FTrueSize) {
    const int64_t position = FCurrentPos;
    SetSize(position);
    Seek(position, platform::soBeginning);
    if (FCurrentPos != position) return 0;
  }
  DropCache();

  const int64_t bs = FBlockSize;
  const int64_t startPos = FCurrentPos;
  const int64_t endPos = FCurrentPos + Count - 1;
  if (endPos / bs >= std::numeric_limits<int32_t>::max())
    Fail("Write", "stream too large.");
  const auto first = static_cast<int32_t>(startPos / bs);
  const auto last = static_cast<int32_t>(endPos / bs);
  const int32_t oldLast = headers.Count() - 1;
  const int64_t oldTrueSize = FTrueSize;
  const bool wasEmpty = FTrueSize == 0;
  bool moved = false;

  try {
    if (last > oldLast) {
      headers.SetSize(last + 1);
      moved = true;
    }
    if (wasEmpty) headers.Positions(0) = int64_t{cStreamHeaderSize} + FHeader.CustomHeaderSize;

    FCurrentHeader = first;
    FProgress = 0;
    FProgressMax = std::max(1, headers.Count() - FCurrentHeader);
    FTrueSize = std::max(FTrueSize, startPos + Count);
    FCurrentPos += Count;

    const int32_t finalBlock = headers.Count() - 1;
    const auto* in = static_cast<const uint8_t*>(Buffer);
    std::vector<uint8_t> block(static_cast<size_t>(bs));
    std::vector<std::pair<int32_t, std::vector<uint8_t>>> pending;
    for (int32_t d = first; d <= finalBlock && (moved || d <= last); ++d) {
      DoOnProgress(FProgress);
      if (d <= oldLast) {
        const std::vector<uint8_t>* old = CachedBlock(d);
        if (!old) Fail("Write", "error reading block " + std::to_string(d) + ".");
        std::copy(old->begin(), old->end(), block.begin());
        std::fill(block.begin() + static_cast<std::ptrdiff_t>(old->size()), block.end(), uint8_t{0});
      } else {
        std::fill(block.begin(), block.end(), uint8_t{0});
      }
      if (d <= last) {
        const int64_t from = d == first ? startPos % bs : 0;
        const int64_t to = d == last ? endPos % bs : bs - 1;
        std::memcpy(block.data() + from, in + (d * bs + from - startPos), static_cast<size_t>(to - from + 1));
      }
      const int64_t tail = FTrueSize % bs;
      const auto trueSize = static_cast<int32_t>(d == finalBlock && tail != 0 ? tail : bs);

      TSFSHeader item = headers.Items(d);
      const int32_t oldPacked = d <= oldLast ? item.packedSize : 0;
      std::vector<uint8_t> packed;
      PrepareBufferForWriting(block.data(), trueSize, item, packed);
      if (item.packedSize > oldPacked) moved = true;
      if (d == finalBlock || moved) {
        const int64_t position = d == 0 ? headers.Positions(0) : int64_t{headers.Items(d - 1).nextHeaderNo};
        const int64_t next = position + cBlockHeaderSize + item.packedSize;
        if (next > std::numeric_limits<int32_t>::max()) Fail("Write", "stream too large.");
        headers.Positions(d) = position;
        item.nextHeaderNo = static_cast<int32_t>(next);
      }
      headers.Items(d) = item;
      pending.emplace_back(d, std::move(packed));
      FProgress += 100.0 / FProgressMax;
    }
    DropCache();

    for (const auto& [index, packed] : pending) {
      DoOnProgress(FProgress);
      FFile->Seek(headers.Positions(index), platform::soBeginning);
      WriteAll(&headers.Items(index), cBlockHeaderSize, "Write");
      WriteAll(packed.data(), static_cast<int64_t>(packed.size()), "Write");
    }
    FHeader.NumBlocks = headers.Count();
    SaveHeader();
  } catch (...) {
    // Put the in-memory view back in line with whatever reached the file.
    FCurrentPos = startPos;
    FTrueSize = oldTrueSize;
    try {
      LoadHeaders();
    } catch (...) {
    }
    throw;
  }
  CalculateRate();
  DoOnProgress(100);
  return Count;
}

}  // namespace sfs
