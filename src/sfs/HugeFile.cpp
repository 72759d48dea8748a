#include "sfs/HugeFile.h"

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <set>

#include "platform/Exception.h"

namespace sfs {

namespace {

bool FileExistsOnDisk(const std::string& Name) {
  struct stat st {};
  return ::stat(Name.c_str(), &st) == 0;
}

std::string BaseName(const std::string& Name) {
  const auto slash = Name.find_last_of('/');
  return slash == std::string::npos ? Name : Name.substr(slash + 1);
}

std::string DirName(const std::string& Name) {
  const auto slash = Name.find_last_of('/');
  return slash == std::string::npos ? std::string() : Name.substr(0, slash + 1);
}

constexpr int32_t cMaxPartCount = 1 << 20;

}  // namespace

TSFSHugeFile::TSFSHugeFile(const std::string& FileName, bool ReadOnly, bool Exclusive, bool InMemory,
                           int64_t PartitionSize, int64_t StubSize)
    : FFileName(FileName),
      FExclusive(Exclusive),
      FReadOnly(ReadOnly),
      FInMemory(InMemory),
      FPartitionSize(PartitionSize),
      FPartitionDataSize(PartitionSize - HFPHeaderSize),
      FStubSize(StubSize) {
  platform::BDAssert(PartitionSize > HFPHeaderSize, "TSFSHugeFile.Create - partition size too small");
}

TSFSHugeFile::~TSFSHugeFile() = default;

std::unique_ptr<TSFSAbstractFile> TSFSHugeFile::MakePart(const std::string& Name) {
  std::unique_ptr<TSFSAbstractFile> part;
  if (FInMemory)
    part = std::make_unique<TSFSMemoryFile>(Name, FReadOnly, FExclusive);
  else
    part = std::make_unique<TSFSDiskFile>(Name, FReadOnly, FExclusive);
  if (FFaultPlan) part = std::make_unique<TSFSFaultFile>(std::move(part), FFaultPlan);
  part->SetGrowthLimit(FPartitionSize);  // a part never grows past a full one
  return part;
}

const std::vector<uint8_t>* TSFSHugeFile::MemoryImage() const {
  if (!FInMemory || PartFiles.empty()) return nullptr;
  TSFSAbstractFile* f = PartFiles[0].get();
  if (auto* fault = dynamic_cast<TSFSFaultFile*>(f)) f = &fault->Inner();
  auto* mem = dynamic_cast<TSFSMemoryFile*>(f);
  return mem ? mem->Data() : nullptr;
}

void TSFSHugeFile::GetFileNoAndOffset(int64_t Position, int32_t& FileNo, int64_t& Offset) const {
  const int64_t t = Position + FStubSize;
  const int64_t no = t / FPartitionDataSize;
  Offset = t - no * FPartitionDataSize;
  FileNo = static_cast<int32_t>(no);
  if (FileNo == 0) Offset -= FStubSize;
}

void TSFSHugeFile::InitPartHeader(TSFSHugeFilePartitionHeader& Header) const {
  std::memset(&Header, 0, sizeof(Header));
  std::memcpy(Header.Signature, HFSignature, HFSignatureSize);
  Header.PartitionSize = FPartitionSize;
}

bool TSFSHugeFile::AppendPartFile() {
  std::string name;
  const size_t count = PartFiles.size();
  if (count == 0) {
    name = FFileName;
  } else {
    for (size_t i = count;; ++i) {
      name = FFileName + std::to_string(i);
      if (FInMemory || !FileExistsOnDisk(name)) break;
    }
  }
  PartFiles.push_back(MakePart(name));
  TSFSAbstractFile& part = *PartFiles.back();
  // A part that cannot be created leaves no slot behind, so the chain stays as it was.
  if (!part.Open(true)) {
    PartFiles.pop_back();
    return false;
  }
  TSFSHugeFilePartitionHeader header;
  InitPartHeader(header);
  if (count == 0) part.SetPosition(FStubSize);
  if (part.Write(&header, HFPHeaderSize) != HFPHeaderSize) return false;
  if (count > 0) {
    TSFSAbstractFile& prev = *PartFiles[count - 1];
    const int64_t pos = prev.GetPosition();
    const std::string next = BaseName(name);
    std::memcpy(header.NextFileName, next.data(), std::min<size_t>(next.size(), sizeof(header.NextFileName) - 1));
    prev.SetPosition(PartHeaderPos(static_cast<int32_t>(count - 1)));
    const bool ok = prev.Write(&header, HFPHeaderSize) == HFPHeaderSize;
    prev.SetPosition(pos);
    if (!ok) return false;
  }
  IsFileOpen = true;
  return true;
}

void TSFSHugeFile::DeleteLastPartFile() {
  if (PartFiles.size() <= 1) throw platform::Exception("TSFSHugeFile.DeleteLastPartFile - No parts to delete.");
  const std::string name = PartFiles.back()->FileName();
  PartFiles.pop_back();
  if (!FInMemory) ::unlink(name.c_str());
  TSFSAbstractFile& last = *PartFiles.back();
  const int64_t pos = last.GetPosition();
  TSFSHugeFilePartitionHeader header;
  InitPartHeader(header);
  last.SetPosition(PartHeaderPos(static_cast<int32_t>(PartFiles.size() - 1)));
  last.Write(&header, HFPHeaderSize);
  last.SetPosition(pos);
}

bool TSFSHugeFile::CreateFilesChain(const std::vector<uint8_t>& Stub) {
  PartFiles.clear();
  FSize = 0;
  FPosition = 0;
  if (static_cast<int64_t>(Stub.size()) != FStubSize) return false;
  if (!AppendPartFile()) return false;
  if (!Stub.empty()) {
    TSFSAbstractFile& part = *PartFiles[0];
    part.SetPosition(0);
    if (part.Write(Stub.data(), static_cast<int32_t>(Stub.size())) != static_cast<int32_t>(Stub.size())) return false;
  }
  IsFileOpen = true;
  return true;
}

bool TSFSHugeFile::ReadPartHeader(TSFSAbstractFile& File, int64_t Pos, TSFSHugeFilePartitionHeader& Header) {
  File.SetPosition(Pos);
  if (File.Read(&Header, HFPHeaderSize) != HFPHeaderSize) return false;
  return std::memcmp(Header.Signature, HFSignature, HFSignatureSize) == 0;
}

int64_t TSFSHugeFile::CalculateStubSize(TSFSAbstractFile& File, const char* ContainerSignature) {
  const int64_t size = File.GetSize();
  constexpr int64_t cChunk = 1 << 20;
  const int64_t need = HFPHeaderSize + SignatureSize;
  std::vector<uint8_t> buf;
  for (int64_t start = 0; start + need <= size; start += cChunk) {
    const int64_t len = std::min<int64_t>(cChunk + need, size - start);
    buf.resize(static_cast<size_t>(len));
    File.SetPosition(start);
    if (File.Read(buf.data(), static_cast<int32_t>(len)) != len) return -1;
    for (int64_t i = 0; i + need <= len && i < cChunk; ++i) {
      const uint8_t* p = buf.data() + i;
      if (p[0] == 'A' && std::memcmp(p, HFSignature, HFSignatureSize) == 0 &&
          std::memcmp(p + HFPHeaderSize, ContainerSignature, SignatureSize) == 0)
        return start + i;
    }
  }
  return -1;
}

void TSFSHugeFile::OpenFilesChain() {
  PartFiles.clear();
  IsFileOpen = false;
  PartFiles.push_back(MakePart(FFileName));
  if (!PartFiles[0]->Open(false))
    throw platform::Exception("TSFSHugeFile.OpenFilesChain - cannot open file \"" + FFileName + "\"");
  const int64_t stub = CalculateStubSize(*PartFiles[0], SingleFileSystemSignature);
  if (stub < 0) throw platform::Exception("TSFSHugeFile.OpenFilesChain - not a container file: \"" + FFileName + "\"");
  FStubSize = stub;
  TSFSHugeFilePartitionHeader header;
  if (!ReadPartHeader(*PartFiles[0], FStubSize, header))
    throw platform::Exception("TSFSHugeFile.OpenFilesChain - invalid part header");
  if (header.PartitionSize <= HFPHeaderSize + FStubSize)
    throw platform::Exception("TSFSHugeFile.OpenFilesChain - invalid part size");
  FPartitionSize = header.PartitionSize;
  FPartitionDataSize = FPartitionSize - HFPHeaderSize;
  PartFiles[0]->SetGrowthLimit(FPartitionSize);
  const std::string dir = DirName(FFileName);
  std::set<std::string> seen{BaseName(FFileName)};
  for (;;) {
    if (memchr(header.NextFileName, 0, sizeof(header.NextFileName)) == nullptr)
      throw platform::Exception("TSFSHugeFile.OpenFilesChain - invalid next part name");
    const std::string next(header.NextFileName);
    if (next.empty()) break;
    if (next.find('/') != std::string::npos || next == "." || next == ".." || !seen.insert(next).second ||
        PartFiles.size() >= static_cast<size_t>(cMaxPartCount))
      throw platform::Exception("TSFSHugeFile.OpenFilesChain - invalid next part name \"" + next + "\"");
    if (FInMemory) throw platform::Exception("TSFSHugeFile.OpenFilesChain - a memory image has one part only");
    PartFiles.push_back(MakePart(dir + next));
    if (!PartFiles.back()->Open(false))
      throw platform::Exception("TSFSHugeFile.OpenFilesChain - cannot open part file \"" + dir + next + "\"");
    if (!ReadPartHeader(*PartFiles.back(), 0, header) || header.PartitionSize != FPartitionSize)
      throw platform::Exception("TSFSHugeFile.OpenFilesChain - invalid part header in \"" + dir + next + "\"");
  }
  // Every part but the last is full; the logical size is what the parts hold.
  FSize = 0;
  for (size_t i = 0; i < PartFiles.size(); ++i) {
    const int64_t phys = PartFiles[i]->GetSize();
    const int64_t hdr = PartHeaderPos(static_cast<int32_t>(i)) + HFPHeaderSize;
    if (i + 1 < PartFiles.size() && phys != FPartitionSize)
      throw platform::Exception("TSFSHugeFile.OpenFilesChain - part file has a wrong size: \"" +
                                PartFiles[i]->FileName() + "\"");
    if (phys < hdr || phys > FPartitionSize) throw platform::Exception("TSFSHugeFile.OpenFilesChain - part file has a wrong size: \"" +
                                PartFiles[i]->FileName() + "\"");
    FSize += phys - hdr;
  }
  FPosition = 0;
  IsFileOpen = true;
}

void TSFSHugeFile::OpenFromImage(std::vector<uint8_t> Image) {
  platform::BDAssert(FInMemory, "TSFSHugeFile.OpenFromImage - not in memory");
  PartFiles.clear();
  auto mem = std::make_unique<TSFSMemoryFile>(FFileName, FReadOnly, FExclusive);
  mem->Open(true);
  mem->Load(std::move(Image));
  std::unique_ptr<TSFSAbstractFile> part = std::move(mem);
  if (FFaultPlan) part = std::make_unique<TSFSFaultFile>(std::move(part), FFaultPlan);
  PartFiles.push_back(std::move(part));
  // Same checks as for a chain on disk, with the memory part already in place.
  const int64_t stub = CalculateStubSize(*PartFiles[0], SingleFileSystemSignature);
  if (stub < 0) throw platform::Exception("TSFSHugeFile.OpenFilesChain - not a container file: \"" + FFileName + "\"");
  FStubSize = stub;
  TSFSHugeFilePartitionHeader header;
  if (!ReadPartHeader(*PartFiles[0], FStubSize, header) || header.PartitionSize <= HFPHeaderSize + FStubSize)
    throw platform::Exception("TSFSHugeFile.OpenFilesChain - invalid part header");
  if (memchr(header.NextFileName, 0, sizeof(header.NextFileName)) == nullptr || header.NextFileName[0] != 0)
    throw platform::Exception("TSFSHugeFile.OpenFilesChain - a memory image has one part only");
  FPartitionSize = header.PartitionSize;
  FPartitionDataSize = FPartitionSize - HFPHeaderSize;
  const int64_t phys = PartFiles[0]->GetSize();
  if (phys > FPartitionSize) throw platform::Exception("TSFSHugeFile.OpenFilesChain - part file has a wrong size");
  FSize = phys - FStubSize - HFPHeaderSize;
  FPosition = 0;
  IsFileOpen = true;
}

void TSFSHugeFile::SetSize(int64_t NewSize) {
  int32_t fileNo = 0;
  int64_t offset = 0;
  GetFileNoAndOffset(NewSize, fileNo, offset);
  if (NewSize > FSize) {
    while (PartCount() - 1 < fileNo) {
      PartFiles.back()->SetSize(FPartitionSize);
      if (!AppendPartFile()) throw platform::Exception("TSFSHugeFile.SetSize - cannot create part file");
    }
    PartFiles[static_cast<size_t>(fileNo)]->SetSize(PhysicalPos(fileNo, offset));
  } else if (NewSize < FSize) {
    while (PartCount() - 1 > fileNo) DeleteLastPartFile();
    PartFiles[static_cast<size_t>(fileNo)]->SetSize(PhysicalPos(fileNo, offset));
  }
  FSize = NewSize;
  FPosition = NewSize;
}

int64_t TSFSHugeFile::Seek(int64_t Offset, uint16_t Origin) {
  switch (Origin) {
    case 0:
      if (Offset < 0) throw platform::Exception("TSFSHugeFile.Seek - Offset < 0 from file beginning.");
      FPosition = Offset;
      break;
    case 1: FPosition += Offset; break;
    default: FPosition = FSize + Offset; break;
  }
  return FPosition;
}

int32_t TSFSHugeFile::Read(void* Buffer, int32_t Count) {
  if (FPosition > FSize) throw platform::Exception("TSFSHugeFile.Read - Stream read error.");
  int32_t done = 0;
  while (Count > 0 && done < Count) {
    int32_t fileNo = 0;
    int64_t offset = 0;
    GetFileNoAndOffset(FPosition, fileNo, offset);
    if (FPosition < 0 || fileNo >= PartCount()) break;
    int64_t room = FPartitionDataSize - offset;
    if (fileNo == 0) room -= FStubSize;
    const int32_t portion = static_cast<int32_t>(std::min<int64_t>(Count - done, room));
    TSFSAbstractFile& part = *PartFiles[static_cast<size_t>(fileNo)];
    part.SetPosition(PhysicalPos(fileNo, offset));
    const int32_t got = std::max(0, part.Read(static_cast<char*>(Buffer) + done, portion));
    done += got;
    FPosition += got;
    if (got != portion) break;
  }
  return done;
}

int32_t TSFSHugeFile::Write(const void* Buffer, int32_t Count) {
  if (Count <= 0) return 0;
  if (FPosition > FSize) {
    const int64_t p = FPosition;
    SetPosition(0);
    SetSize(p);
    SetPosition(p);
    if (GetPosition() != p) return 0;
  }
  int32_t done = 0;
  while (done < Count) {
    int32_t fileNo = 0;
    int64_t offset = 0;
    GetFileNoAndOffset(FPosition, fileNo, offset);
    if (FPosition < 0) break;
    if (fileNo >= PartCount()) {
      if (fileNo > PartCount() || !AppendPartFile()) break;
    }
    int64_t room = FPartitionDataSize - offset;
    if (fileNo == 0) room -= FStubSize;
    const int32_t portion = static_cast<int32_t>(std::min<int64_t>(Count - done, room));
    TSFSAbstractFile& part = *PartFiles[static_cast<size_t>(fileNo)];
    part.SetPosition(PhysicalPos(fileNo, offset));
    const int32_t got = std::max(0, part.Write(static_cast<const char*>(Buffer) + done, portion));
    done += got;
    FPosition += got;
    if (FPosition > FSize) FSize = FPosition;
    if (got != portion) break;
  }
  return done;
}

namespace {
int64_t TotalLength(const iovec* Pieces, int32_t Count) {
  int64_t n = 0;
  for (int32_t i = 0; i < Count; ++i) n += static_cast<int64_t>(Pieces[i].iov_len);
  return n;
}
}  // namespace

TSFSAbstractFile* TSFSHugeFile::PartHolding(int64_t Length) {
  int32_t f0 = 0, f1 = 0;
  int64_t o0 = 0, o1 = 0;
  GetFileNoAndOffset(FPosition, f0, o0);
  GetFileNoAndOffset(FPosition + Length - 1, f1, o1);
  if (Length <= 0 || f0 != f1 || f0 >= PartCount() || FPosition < 0) return nullptr;
  TSFSAbstractFile& part = *PartFiles[static_cast<size_t>(f0)];
  part.SetPosition(PhysicalPos(f0, o0));
  return &part;
}

int32_t TSFSHugeFile::ReadV(const iovec* Pieces, int32_t Count) {
  if (FPosition > FSize) throw platform::Exception("TSFSHugeFile.Read - Stream read error.");
  TSFSAbstractFile* part = PartHolding(TotalLength(Pieces, Count));
  if (part == nullptr) {
    int32_t done = 0;
    for (int32_t i = 0; i < Count; ++i) {
      const int32_t got = Read(Pieces[i].iov_base, static_cast<int32_t>(Pieces[i].iov_len));
      done += got;
      if (got != static_cast<int32_t>(Pieces[i].iov_len)) break;
    }
    return done;
  }
  const int32_t got = std::max(0, part->ReadV(Pieces, Count));
  FPosition += got;
  return got;
}

bool TSFSHugeFile::VisitBytes(int64_t Count, const TBytesVisitor& Visit) {
  if (FPosition + Count > FSize) return false;
  TSFSAbstractFile* part = PartHolding(Count);
  if (part == nullptr || !part->VisitBytes(Count, Visit)) return false;
  FPosition += Count;
  return true;
}

int32_t TSFSHugeFile::WriteV(const iovec* Pieces, int32_t Count) {
  TSFSAbstractFile* part = FPosition > FSize ? nullptr : PartHolding(TotalLength(Pieces, Count));
  if (part == nullptr) {
    int32_t done = 0;
    for (int32_t i = 0; i < Count; ++i) {
      if (Pieces[i].iov_len == 0) continue;
      const int32_t put = Write(Pieces[i].iov_base, static_cast<int32_t>(Pieces[i].iov_len));
      done += put;
      if (put != static_cast<int32_t>(Pieces[i].iov_len)) break;
    }
    return done;
  }
  const int32_t put = std::max(0, part->WriteV(Pieces, Count));
  FPosition += put;
  if (FPosition > FSize) FSize = FPosition;
  return put;
}

void TSFSHugeFile::WriteBuffer(const void* Buffer, int32_t Count) {
  if (Count != 0 && Write(Buffer, Count) < Count)
    throw platform::Exception("TSFSHugeFile.WriteBuffer - Stream write error");
}

void TSFSHugeFile::FlushBuffers() {
  for (auto& part : PartFiles) part->FlushBuffers();
}

}  // namespace sfs
