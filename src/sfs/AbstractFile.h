// Physical files under a container: the abstract random-access file, the operating-system file,
// the memory file, and a fault-injecting wrapper for tests.
//
// Positions and sizes are 64-bit. Read and Write return the bytes moved (a failure counts as a
// short transfer); size changes the system refuses throw platform::Exception. A file object is
// used by one thread at a time.
#pragma once

#include <sys/uio.h>

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "sfs/MappingGuard.h"

namespace sfs {

class TSFSAbstractFile {
 public:
  TSFSAbstractFile(const std::string& FileName, bool ReadOnly, bool Exclusive);
  virtual ~TSFSAbstractFile() = default;
  TSFSAbstractFile(const TSFSAbstractFile&) = delete;
  TSFSAbstractFile& operator=(const TSFSAbstractFile&) = delete;

  virtual void SetExclusive(bool Value) { FExclusive = Value; }
  virtual void SetPosition(int64_t Pos) { Seek(Pos, 0); }
  virtual int64_t GetPosition() { return Seek(0, 1); }
  virtual void SetReadOnly(bool Value) { FReadOnly = Value; }
  virtual void SetSize(int64_t NewSize) = 0;
  virtual int64_t GetSize();
  virtual void Close() = 0;
  virtual void FlushBuffers() = 0;
  virtual bool Open(bool bCreate) = 0;
  virtual int32_t Read(void* Buffer, int32_t Count) = 0;
  // Origin 0 = from the beginning, 1 = from the current position, 2 = from the end.
  virtual int64_t Seek(int64_t Offset, uint16_t Origin) = 0;
  virtual int32_t Write(const void* Buffer, int32_t Count) = 0;
  // Scattered transfers at the current position: the pieces in order, as one Read / Write of
  // their total length (at most 2 GiB) would. The base loops over Read / Write.
  virtual int32_t ReadV(const iovec* Pieces, int32_t Count);
  virtual int32_t WriteV(const iovec* Pieces, int32_t Count);
  // Reading without a copy: when the Count bytes from the current position lie in memory (the
  // bytes of a memory file, the mapping of a disk file), Visit gets the first of them and the
  // position moves past them. False, with the position unchanged, when the file cannot offer
  // them so (the base never does) or a disk file's bytes vanished during the visit; the caller
  // then reads them with Read / ReadV, which says what happened. Visit must keep to what
  // MappingGuard.h allows.
  virtual bool VisitBytes(int64_t Count, const TBytesVisitor& Visit);
  // Growing may hold bytes in reserve past the size, never past Bytes in all (see TSFSDiskFile);
  // the size callers see is unchanged by it. The base holds none.
  virtual void SetGrowthLimit(int64_t /*Bytes*/) {}

  bool Exclusive() const { return FExclusive; }
  bool ReadOnly() const { return FReadOnly; }
  const std::string& FileName() const { return FFileName; }

 protected:
  std::string FFileName;
  bool FExclusive = false;
  bool FReadOnly = false;
};

// A POSIX file. Exclusive opening takes a non-blocking exclusive lock (open fails while another
// holder has the file locked). Growing the file on a nearly full file system reserves its blocks,
// so that a full disk shows at the size change rather than at a later write. Reads copy out of a
// read-only mapping of the file (one copy, no call into the system once the pages are mapped),
// widened as the file grows, and visits hand out the mapped bytes themselves, under the guard of
// MappingGuard.h; a read the mapping cannot serve is an ordinary positional read.
//
// With a growth limit set and room to spare, growing takes the file a step past the size asked
// for and holds the bytes in between in reserve: later growth inside the reserve changes no
// size on disk (each such change costs as much as writing several pages). The reserve is
// invisible to callers (sizes, reads and seeks from the end stop at the size they set or wrote)
// and Close gives it back; a file left open by a crash keeps zero bytes past its end.
class TSFSDiskFile : public TSFSAbstractFile {
 public:
  TSFSDiskFile(const std::string& FileName, bool ReadOnly, bool Exclusive);
  ~TSFSDiskFile() override;

  void SetExclusive(bool Value) override;
  void SetReadOnly(bool Value) override;
  void SetSize(int64_t NewSize) override;  // throws "TSFSDiskFile.SetSize - <system error>"
  int64_t GetSize() override;
  void Close() override;
  void FlushBuffers() override;
  bool Open(bool bCreate) override;
  int32_t Read(void* Buffer, int32_t Count) override;
  int64_t Seek(int64_t Offset, uint16_t Origin) override;
  // Count 0 truncates the file at the current position.
  int32_t Write(const void* Buffer, int32_t Count) override;
  int32_t ReadV(const iovec* Pieces, int32_t Count) override;
  int32_t WriteV(const iovec* Pieces, int32_t Count) override;
  bool VisitBytes(int64_t Count, const TBytesVisitor& Visit) override;
  void SetGrowthLimit(int64_t Bytes) override { FGrowthLimit = Bytes; }

  bool InternalOpen(const std::string& FileName, bool bCreate);
  void Reopen();
  const std::string& Directory() const { return FDirectory; }

 private:
  // The mapped bytes from Pos on, Count of them, when all lie inside the file; else null.
  const uint8_t* View(int64_t Pos, int64_t Count);
  void DropView();
  // True when the file system keeps more than the margin free after Grow more bytes.
  bool Roomy(int64_t Grow);
  // Grows the file to NewSize and a step past it where the limit allows. 0 or the system error.
  int GrowWithReserve(int64_t NewSize);
  // Cuts the file to the size callers see. 0 or the system error.
  int GiveBackReserve();
  // A write ended at End: the size grows with it, into or past the reserve.
  void Written(int64_t End);

  int32_t FHandle = -1;
  std::string FDirectory;
  uint8_t* FView = nullptr;
  int64_t FViewLength = 0;  // bytes mapped (may reach past the end of the file)
  int64_t FViewBytes = 0;   // of those, the ones known to lie inside the file
  int64_t FPos = 0;  // reads and writes are positional; the position lives here
  int64_t FRoomAtLook = 0;      // free bytes of the file system when last looked up
  int64_t FGrownSinceLook = 0;  // bytes this file grew by since then
  int64_t FGrowthLimit = 0;     // the size on disk growth may reach with its reserve (0: no reserve)
  int64_t FUsedSize = -1;       // while bytes are held in reserve: the size callers see; else -1
  int64_t FReservedSize = 0;    // while bytes are held in reserve: the size on disk
};

// A file held in memory. It can only be created empty (or from an image, see Load).
class TSFSMemoryFile : public TSFSAbstractFile {
 public:
  using TSFSAbstractFile::TSFSAbstractFile;

  void SetSize(int64_t NewSize) override;
  int64_t GetSize() override;
  void Close() override { FStream.reset(); }
  void FlushBuffers() override {}
  // bCreate false throws "TSFSMemoryFile.Open - File cannot be open, only creation is available."
  bool Open(bool bCreate) override;
  int32_t Read(void* Buffer, int32_t Count) override;
  int64_t Seek(int64_t Offset, uint16_t Origin) override;
  int32_t Write(const void* Buffer, int32_t Count) override;
  bool VisitBytes(int64_t Count, const TBytesVisitor& Visit) override;

  // Replaces the content of an open file with Image (the position moves to 0).
  void Load(std::vector<uint8_t> Image);
  const std::vector<uint8_t>* Data() const { return FStream.get(); }

 private:
  std::unique_ptr<std::vector<uint8_t>> FStream;
  int64_t FPos = 0;
};

// Which physical operations fail, shared by every part of one container. Each operation of a
// selected kind counts; the FailAt-th one fails and, when Sticky, every later one too. A failing
// read or write moves no bytes; a failing size change throws.
struct TSFSFaultPlan {
  enum : uint32_t { fkRead = 1, fkWrite = 2, fkSize = 4, fkOpen = 8, fkAll = 15 };
  uint32_t Kinds = fkAll;
  int64_t FailAt = -1;  // -1: never
  bool Sticky = true;
  int64_t Count = 0;    // operations of the selected kinds seen so far
  int64_t Failures = 0;

  bool Hit(uint32_t Kind);
};

// Passes everything to an inner file and fails what the plan says. It offers no bytes in place
// (VisitBytes is false), so every read goes through Read / ReadV and counts once.
class TSFSFaultFile : public TSFSAbstractFile {
 public:
  TSFSFaultFile(std::unique_ptr<TSFSAbstractFile> Inner, std::shared_ptr<TSFSFaultPlan> Plan);

  void SetSize(int64_t NewSize) override;
  int64_t GetSize() override { return FInner->GetSize(); }
  void Close() override { FInner->Close(); }
  void FlushBuffers() override { FInner->FlushBuffers(); }
  bool Open(bool bCreate) override;
  int32_t Read(void* Buffer, int32_t Count) override;
  int64_t Seek(int64_t Offset, uint16_t Origin) override { return FInner->Seek(Offset, Origin); }
  int32_t Write(const void* Buffer, int32_t Count) override;
  int32_t ReadV(const iovec* Pieces, int32_t Count) override;
  int32_t WriteV(const iovec* Pieces, int32_t Count) override;
  void SetGrowthLimit(int64_t Bytes) override { FInner->SetGrowthLimit(Bytes); }
  TSFSAbstractFile& Inner() { return *FInner; }

 private:
  std::unique_ptr<TSFSAbstractFile> FInner;
  std::shared_ptr<TSFSFaultPlan> FPlan;
};

}  // namespace sfs
