// TSFSHugeFile: one 64-bit logical byte space spread over part files, optionally behind a stub.
//
// Every part starts with a 280-byte part header (after the StubSize stub bytes in part 0) that
// names the next part; the last part names none. A full part is exactly PartitionSize bytes and
// holds PartitionSize - 280 logical bytes (part 0 holds StubSize fewer). Part n > 0 is named after
// part 0 with a decimal number appended. The object owns its part files; one thread at a time.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "sfs/AbstractFile.h"
#include "sfs/ContainerFormat.h"

namespace sfs {

class TSFSHugeFile {
 public:
  // PartitionSize: physical size of a full part (cUnsplitPartitionSize: never split).
  TSFSHugeFile(const std::string& FileName, bool ReadOnly, bool Exclusive, bool InMemory, int64_t PartitionSize,
               int64_t StubSize = 0);
  ~TSFSHugeFile();
  TSFSHugeFile(const TSFSHugeFile&) = delete;
  TSFSHugeFile& operator=(const TSFSHugeFile&) = delete;

  // Creates part 0 (truncating an existing file), writes Stub (StubSize bytes) and its header.
  bool CreateFilesChain(const std::vector<uint8_t>& Stub = {});
  // Opens an existing chain from part 0: finds the stub, reads PartitionSize from the header and
  // follows NextFileName in the directory of part 0. Throws on a broken chain.
  void OpenFilesChain();
  // In-memory only: takes Image as the whole of part 0 and opens it as a chain of one part.
  void OpenFromImage(std::vector<uint8_t> Image);
  // Stub size of a file whose first bytes are Data: the first offset holding a part header that is
  // followed by ContainerSignature; -1 when there is none.
  static int64_t CalculateStubSize(TSFSAbstractFile& File, const char* ContainerSignature);

  void GetFileNoAndOffset(int64_t Position, int32_t& FileNo, int64_t& Offset) const;
  void InitPartHeader(TSFSHugeFilePartitionHeader& Header) const;
  bool AppendPartFile();
  void DeleteLastPartFile();

  int64_t GetPosition() { return Seek(0, 1); }
  void SetPosition(int64_t P) { Seek(P, 0); }
  int64_t GetSize() const { return FSize; }
  void SetSize(int64_t NewSize);
  int32_t Read(void* Buffer, int32_t Count);
  int64_t Seek(int64_t Offset, uint16_t Origin);
  int32_t Write(const void* Buffer, int32_t Count);
  void WriteBuffer(const void* Buffer, int32_t Count);
  // Scattered transfers at the current position, in one call to the part file when the range
  // lies in one part; otherwise piece by piece through Read / Write.
  int32_t ReadV(const iovec* Pieces, int32_t Count);
  int32_t WriteV(const iovec* Pieces, int32_t Count);
  // Reading without a copy (see TSFSAbstractFile::VisitBytes): the Count bytes from the current
  // position, when they lie in one part that holds them in memory, go to Visit and the position
  // moves past them. False, with the position unchanged, otherwise.
  bool VisitBytes(int64_t Count, const TBytesVisitor& Visit);
  void FlushBuffers();

  // Every part file created or opened from now on goes through Plan (tests).
  void SetFaultPlan(std::shared_ptr<TSFSFaultPlan> Plan) { FFaultPlan = std::move(Plan); }

  int64_t PartitionSize() const { return FPartitionSize; }
  int64_t StubSize() const { return FStubSize; }
  int32_t PartCount() const { return static_cast<int32_t>(PartFiles.size()); }
  TSFSAbstractFile& Part(int32_t i) { return *PartFiles[static_cast<size_t>(i)]; }
  const std::string& FileName() const { return FFileName; }
  bool InMemory() const { return FInMemory; }
  // In-memory only: the bytes of part 0.
  const std::vector<uint8_t>* MemoryImage() const;

 private:
  std::unique_ptr<TSFSAbstractFile> MakePart(const std::string& Name);
  int64_t PartHeaderPos(int32_t FileNo) const { return FileNo == 0 ? FStubSize : 0; }
  int64_t PhysicalPos(int32_t FileNo, int64_t Offset) const { return Offset + HFPHeaderSize + PartHeaderPos(FileNo); }
  // The part holding all Length bytes from the current position, positioned at the first of
  // them; null when they span parts or lie past the last one.
  TSFSAbstractFile* PartHolding(int64_t Length);
  bool ReadPartHeader(TSFSAbstractFile& File, int64_t Pos, TSFSHugeFilePartitionHeader& Header);

  std::string FFileName;
  bool FExclusive;
  bool FReadOnly;
  bool FInMemory;
  int64_t FPosition = 0;
  int64_t FSize = 0;
  int64_t FPartitionSize;
  int64_t FPartitionDataSize;
  std::vector<std::unique_ptr<TSFSAbstractFile>> PartFiles;
  bool IsFileOpen = false;
  int64_t FStubSize;
  std::shared_ptr<TSFSFaultPlan> FFaultPlan;
};

}  // namespace sfs
