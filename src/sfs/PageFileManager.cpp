#include "sfs/PageFileManager.h"

#include <algorithm>
#include <cstring>

#include "crypto/Rijndael.h"
#include "platform/Exception.h"
#include "sfs/Checksum.h"

namespace sfs {

namespace {

// The XOR of the whole 32-bit words of Size bytes from From (crcFast), on four independent
// 16-byte lanes so that the loop runs on vector registers without a carried dependency; folded
// to 32 bits at the end. With Copy, every byte also goes to To in the same pass.
template <bool Copy>
uint32_t XorWords(const uint8_t* From, uint8_t* To, int32_t Size) {
  using TLane = uint64_t __attribute__((vector_size(16)));
  TLane a{}, b{}, c{}, d{};
  int32_t i = 0;
  for (; i + 64 <= Size; i += 64) {
    TLane w, x, y, z;
    std::memcpy(&w, From + i, 16);
    std::memcpy(&x, From + i + 16, 16);
    std::memcpy(&y, From + i + 32, 16);
    std::memcpy(&z, From + i + 48, 16);
    if constexpr (Copy) {
      std::memcpy(To + i, &w, 16);
      std::memcpy(To + i + 16, &x, 16);
      std::memcpy(To + i + 32, &y, 16);
      std::memcpy(To + i + 48, &z, 16);
    }
    a ^= w;
    b ^= x;
    c ^= y;
    d ^= z;
  }
  a ^= b ^ c ^ d;
  uint64_t x64 = a[0] ^ a[1];
  for (; i + 8 <= Size; i += 8) {
    uint64_t w;
    std::memcpy(&w, From + i, 8);
    if constexpr (Copy) std::memcpy(To + i, &w, 8);
    x64 ^= w;
  }
  uint32_t r = static_cast<uint32_t>(x64) ^ static_cast<uint32_t>(x64 >> 32);
  if (i + 4 <= Size) {
    uint32_t w;
    std::memcpy(&w, From + i, 4);
    r ^= w;
  }
  if constexpr (Copy) std::memcpy(To + i, From + i, static_cast<size_t>(Size - i));
  return r;
}

}  // namespace

uint32_t PageCRC(const void* Data, int32_t Size, uint8_t CrcType) {
  if (CrcType != crcFast || Size <= 0) return CountCRC(Data, Size, static_cast<TCRCMode>(CrcType));
  return XorWords<false>(static_cast<const uint8_t*>(Data), nullptr, Size);
}

uint32_t CopyWithPageCRC(const void* From, void* To, int32_t Size, uint8_t CrcType) {
  if (CrcType != crcFast || Size <= 0) {
    if (Size > 0) std::memcpy(To, From, static_cast<size_t>(Size));
    return PageCRC(To, Size, CrcType);
  }
  return XorWords<true>(static_cast<const uint8_t*>(From), static_cast<uint8_t*>(To), Size);
}

class TPageFileManager::TCipherCache {
 public:
  ~TCipherCache() {
    for (auto& e : FEntries) e.second->Protect();
  }
  crypto::TCipher_Rijndael& Get(const std::string& Key) {
    for (auto& e : FEntries)
      if (e.first == Key) return *e.second;
    if (FEntries.size() >= 4) {
      FEntries.front().second->Protect();
      FEntries.erase(FEntries.begin());
    }
    FEntries.emplace_back(Key, std::make_unique<crypto::TCipher_Rijndael>(Key));
    return *FEntries.back().second;
  }

 private:
  std::vector<std::pair<std::string, std::unique_ptr<crypto::TCipher_Rijndael>>> FEntries;
};

namespace {

uint32_t HeaderCRC(const TSingleFileHeader& h) {
  return CountCRC(reinterpret_cast<const uint8_t*>(&h) + cHeaderCRCOffset, SingleFileHeaderSize - cHeaderCRCOffset,
                  crcFast);
}

}  // namespace

TPageFileManager::TPageFileManager(std::unique_ptr<TSFSHugeFile> File, const std::string& FileName, bool ReadOnly,
                                   bool Exclusive)
    : FSFSFile(std::move(File)),
      FFileName(FileName),
      FInMemory(FSFSFile->InMemory()),
      FReadOnly(ReadOnly),
      FExclusive(Exclusive),
      FCiphers(std::make_unique<TCipherCache>()) {}

TPageFileManager::~TPageFileManager() = default;

bool TPageFileManager::EncodePages(uint8_t* const* Pages, int32_t Count, int32_t Size, const std::string& Key,
                                   uint8_t EncType) {
  if (EncType != encRijndael) throw platform::Exception("TPageFileManager.EncodeBuffer - Unknown encryption type");
  try {
    if (Key.empty()) return false;
    FCiphers->Get(Key).EncodeBuffers(Pages, Count, Size);
    return true;
  } catch (const std::exception&) {
    return false;
  }
}

bool TPageFileManager::Decipher(void* Buffer, int32_t Size, const std::string& Key, const void* Upcoming) {
  try {
    if (Key.empty()) return false;
    crypto::TCipher_Rijndael& cipher = FCiphers->Get(Key);
    cipher.Done();
    cipher.DecodeBuffer(Buffer, Buffer, Size, Upcoming);
    return true;
  } catch (const std::exception&) {
    return false;
  }
}

void TPageFileManager::InitNewHeader(int32_t PageSize, int32_t ExtentPageCount, uint8_t CompressionLevel) {
  std::memset(&FHeader, 0, sizeof(FHeader));
  std::memcpy(FHeader.Signature, SingleFileSystemSignature, SignatureSize);
  FHeader.Version = FormatVersion;
  FHeader.PageSize = PageSize;
  FHeader.ExtentPageCount = ExtentPageCount;
  FHeader.HDRPageCount = 1;
  FHeader.DIRFirstPageNo = -1;
  FHeader.TOTALPageCount = 1;
  FHeader.EncMethod = encNone;
  FHeader.CompressionLevel = CompressionLevel;
  // Page 0 is a whole page, so the first page after it starts at PageSize.
  FSFSFile->SetSize(PageSize);
  SaveSFHeader();
}

void TPageFileManager::LoadSFHeader() {
  auto fail = [](const std::string& text) { throw platform::Exception("TPageFileManager.LoadSFHeader - " + text); };
  if (FSFSFile->GetSize() < SingleFileHeaderSize) fail("the file is too short for a container header.");
  FSFSFile->SetPosition(0);
  if (FSFSFile->Read(&FHeader, SingleFileHeaderSize) != SingleFileHeaderSize) fail("cannot read the container header.");
  if (std::memcmp(FHeader.Signature, SingleFileSystemSignature, SignatureSize) != 0) fail("invalid signature.");
  if (FHeader.CRC != HeaderCRC(FHeader)) fail("header checksum error.");
  if (!(FHeader.Version >= 1.0f && FHeader.Version < 2.0f)) fail("unsupported format version.");
  if (!IsValidGeometry(FHeader.PageSize, FHeader.ExtentPageCount)) fail("invalid page or extent size.");
  const auto& h = FHeader;
  if (h.HDRPageCount != 1 || h.GAMPageCount < 0 || h.PFSPageCount < 0 || h.DIRPageCount < 0 ||
      h.DIRElementsCount < 0 || h.TOTALPageCount < 1 || h.EncMethod > encRijndael)
    fail("invalid page counts.");
  if (h.DIRPageCount > h.TOTALPageCount || h.PFSPageCount > h.TOTALPageCount || h.GAMPageCount > h.PFSPageCount)
    fail("invalid page counts.");
  // Map and directory pages hold bytes: there cannot be more of them than the file has pages.
  const int64_t physicalPages = FSFSFile->GetSize() / h.PageSize + 1;
  if (h.DIRPageCount > physicalPages || int64_t{h.PFSPageCount} + 2 * int64_t{h.GAMPageCount} > physicalPages)
    fail("invalid page counts.");
  const TMapGeometry g = ComputeGeometry(h.PageSize, h.ExtentPageCount);
  if (int64_t{h.DIRElementsCount} > int64_t{h.DIRPageCount} * g.DIRElementsPerPage ||
      int64_t{h.DIRElementsCount} <= int64_t{h.DIRPageCount - 1} * g.DIRElementsPerPage)
    fail("invalid directory counts.");
  if (h.DIRPageCount > 0 && (h.DIRFirstPageNo < 1 || h.DIRFirstPageNo >= h.TOTALPageCount))
    fail("invalid directory counts.");
}

void TPageFileManager::SaveSFHeader() {
  if (FReadOnly) return;
  ++FChanges;
  FHeader.CRC = HeaderCRC(FHeader);
  FSFSFile->SetPosition(0);
  FSFSFile->WriteBuffer(&FHeader, SingleFileHeaderSize);
}

bool TPageFileManager::ReadPage(TFFPage& Page, int32_t PageNo, bool bIgnoreEncrypted, const std::string& Key,
                                int32_t DataSize) {
  FLastError = erOk;
  const std::string& key = Key.empty() ? FKey : Key;
  if (DataSize < 0) DataSize = GetPageDataSize();
  // Page 0 is the container header and nothing lies past the page space: refuse such numbers
  // (a damaged map or record may carry them).
  if (PageNo < FHeader.HDRPageCount || PageNo >= FHeader.TOTALPageCount) {
    FLastError = erReadPageHeaderError;
    return false;
  }
  if (DataSize > GetPageDataSize()) {
    FLastError = erReadPageError;
    return false;
  }
  if (DataSize > 0 && Page.pData == nullptr) throw platform::Exception("TPageFileManager.ReadPage - pData is nil.");
  FSFSFile->SetPosition(PageNoToOffset(PageNo));
  TPageHeader header;
  const iovec pieces[2] = {{&header, PageHeaderSize}, {Page.pData, static_cast<size_t>(DataSize)}};
  const int32_t got = FSFSFile->ReadV(pieces, DataSize > 0 ? 2 : 1);
  if (got < PageHeaderSize) {
    FLastError = erReadPageHeaderError;
    return false;
  }
  Page.PageHeader = header;
  if (DataSize == 0) return true;
  if (got < PageHeaderSize + DataSize) {
    FLastError = erReadPageError;
    return false;
  }
  if (Page.PageHeader.CrcType <= crcFull && PageCRC(Page.pData, DataSize, Page.PageHeader.CrcType) != Page.PageHeader.CRC) {
    FLastError = erCRCError;
    return false;
  }
  if (!bIgnoreEncrypted && !DecodeBuffer(Page.pData, DataSize, key, Page.PageHeader.EncType)) {
    FLastError = erDecodeError;
    return false;
  }
  return true;
}

int32_t TPageFileManager::CheckWritable(int32_t PageNo, int32_t DataSize) const {
  if (PageNo < FHeader.HDRPageCount || PageNo >= FHeader.TOTALPageCount || FReadOnly) return erWritePageHeaderError;
  return DataSize > GetPageDataSize() ? erWritePageError : erOk;
}

bool TPageFileManager::WritePage(TFFPage& Page, int32_t PageNo, const std::string& Key, int32_t DataSize) {
  const std::string& key = Key.empty() ? FKey : Key;
  if (DataSize < 0) DataSize = GetPageDataSize();
  FLastError = CheckWritable(PageNo, DataSize);
  if (FLastError != erOk) return false;
  const bool withData = Page.pData != nullptr && DataSize > 0;
  if (withData && !EncodeBuffer(Page.pData, DataSize, key, Page.PageHeader.EncType)) {
    FLastError = erEncodeError;
    return false;
  }
  FBatch.assign(1, TPageWrite{PageNo, Page.PageHeader, withData ? Page.pData : nullptr, DataSize});
  const bool ok = WritePageBatch(FBatch) == 1;
  Page.PageHeader.CRC = FBatch[0].Header.CRC;
  return ok;
}

int32_t TPageFileManager::WritePageBatch(std::vector<TPageWrite>& Pages) {
  FLastError = erOk;
  const int32_t pageSize = FHeader.PageSize;
  const auto count = static_cast<int32_t>(Pages.size());
  int32_t valid = 0;
  int32_t refusal = erOk;
  while (valid < count && (refusal = CheckWritable(Pages[valid].PageNo, Pages[valid].DataSize)) == erOk) ++valid;
  if (valid == 0) {
    FLastError = refusal;
    return 0;
  }
  ++FChanges;
  // Each page goes out whole: header, data, and a zero tail, so that no stale bytes of an
  // earlier use of the page remain where no checksum covers them.
  const int32_t d = GetPageDataSize();
  if (static_cast<int32_t>(FZeros.size()) < d) FZeros.assign(static_cast<size_t>(d), 0);
  for (int32_t done = 0, run; done < valid; done += run) {
    // A run ends at a gap in the numbers and after a page written without its data.
    run = 1;
    while (done + run < valid && Pages[static_cast<size_t>(done + run - 1)].Data != nullptr &&
           Pages[static_cast<size_t>(done + run)].PageNo == Pages[static_cast<size_t>(done)].PageNo + run)
      ++run;
    FPieces.clear();
    int64_t length = 0;
    for (int32_t i = done; i < done + run; ++i) {
      TPageWrite& p = Pages[static_cast<size_t>(i)];
      FPieces.push_back({&p.Header, PageHeaderSize});
      length += PageHeaderSize;
      if (p.Data == nullptr) continue;
      p.Header.CRC = PageCRC(p.Data, p.DataSize, p.Header.CrcType);
      if (p.DataSize > 0) FPieces.push_back({const_cast<uint8_t*>(p.Data), static_cast<size_t>(p.DataSize)});
      if (p.DataSize < d) FPieces.push_back({FZeros.data(), static_cast<size_t>(d - p.DataSize)});
      length += d;
    }
    const int64_t put = PutPieces(Pages[static_cast<size_t>(done)].PageNo, length);
    if (put < length) return done + static_cast<int32_t>(put / pageSize);
  }
  FLastError = refusal;
  return valid;
}

bool TPageFileManager::AppendPages(int32_t qty) {
  ++FChanges;
  try {
    const int64_t newSize = (int64_t{FHeader.TOTALPageCount} + qty) * FHeader.PageSize;
    FSFSFile->SetSize(newSize);
    if (FSFSFile->GetSize() != newSize) return false;
    FHeader.TOTALPageCount += qty;
    SaveSFHeader();
    return true;
  } catch (const std::exception&) {
    return false;
  }
}

bool TPageFileManager::EnsurePhysicalPages(int32_t LastPageNo) {
  const int64_t need = (int64_t{LastPageNo} + 1) * FHeader.PageSize;
  if (FSFSFile->GetSize() >= need) return true;
  ++FChanges;
  try {
    FSFSFile->SetSize(need);
    return FSFSFile->GetSize() == need;
  } catch (const std::exception&) {
    return false;
  }
}

bool TPageFileManager::EncodeBuffer(void* Buffer, int32_t Size, const std::string& Key, uint8_t EncType) {
  if (EncType == encNone) return true;
  uint8_t* const page = static_cast<uint8_t*>(Buffer);
  return EncodePages(&page, 1, Size, Key, EncType);
}

bool TPageFileManager::DecodeBuffer(void* Buffer, int32_t Size, const std::string& Key, uint8_t EncType,
                                    const void* Upcoming) {
  if (EncType == encNone) return true;
  if (EncType != encRijndael) return false;
  return Decipher(Buffer, Size, Key, Upcoming);
}

int32_t TPageFileManager::FinishPage(uint8_t* Data, const TPageHeader& Header, uint32_t CRC, const std::string& Key,
                                     const uint8_t* Upcoming) {
  if (Header.CrcType <= crcFull && CRC != Header.CRC) return erCRCError;
  return DecodeBuffer(Data, GetPageDataSize(), Key, Header.EncType, Upcoming) ? erOk : erDecodeError;
}

int32_t TPageFileManager::ReadPages(int32_t FirstPageNo, int32_t Count, uint8_t* const* Dests, TPageHeader* Headers,
                                    const std::string& Key) {
  FLastError = erOk;
  const std::string& key = Key.empty() ? FKey : Key;
  const int32_t d = GetPageDataSize();
  const int32_t pageSize = FHeader.PageSize;
  if (Count <= 0) return 0;
  // Only pages inside the page space are read; a damaged map may name others.
  const int32_t inSpace = static_cast<int32_t>(std::min<int64_t>(Count, int64_t{FHeader.TOTALPageCount} - FirstPageNo));
  if (FirstPageNo < FHeader.HDRPageCount || inSpace <= 0) {
    FLastError = erReadPageHeaderError;
    return 0;
  }
  int32_t done = 0;
  int32_t error = erOk;
  // Where the file holds the pages in memory, each page is copied out and checksummed in one
  // pass, then deciphered while the next one is fetched. Only the copying touches the file's
  // bytes (the guard's rule); the deciphering works on the copy.
  const auto inPlace = [&](const uint8_t* Pages) {
    for (done = 0; done < inSpace; ++done) {
      const uint8_t* page = Pages + int64_t{done} * pageSize;
      std::memcpy(&Headers[done], page, PageHeaderSize);
      const uint32_t crc = CopyWithPageCRC(page + PageHeaderSize, Dests[done], d, Headers[done].CrcType);
      const uint8_t* upcoming = done + 1 < inSpace ? page + pageSize + PageHeaderSize : nullptr;
      error = FinishPage(Dests[done], Headers[done], crc, key, upcoming);
      if (error != erOk) return;
    }
  };
  FSFSFile->SetPosition(PageNoToOffset(FirstPageNo));
  if (!FSFSFile->VisitBytes(int64_t{inSpace} * pageSize, inPlace)) {
    FPieces.resize(static_cast<size_t>(2 * inSpace));
    for (int32_t i = 0; i < inSpace; ++i) {
      FPieces[static_cast<size_t>(2 * i)] = {&Headers[i], PageHeaderSize};
      FPieces[static_cast<size_t>(2 * i + 1)] = {Dests[i], static_cast<size_t>(d)};
    }
    const int32_t got = FSFSFile->ReadV(FPieces.data(), 2 * inSpace);
    const int32_t whole = got / pageSize;
    error = erOk;
    for (done = 0; done < inSpace; ++done) {
      if (done >= whole) {
        error = got - int64_t{done} * pageSize < PageHeaderSize ? erReadPageHeaderError : erReadPageError;
        break;
      }
      error = FinishPage(Dests[done], Headers[done], PageCRC(Dests[done], d, Headers[done].CrcType), key, nullptr);
      if (error != erOk) break;
    }
  }
  if (error != erOk) {
    FLastError = error;
    return done;
  }
  if (inSpace < Count) FLastError = erReadPageHeaderError;
  return inSpace;
}

int32_t TPageFileManager::WritePages(int32_t FirstPageNo, int32_t Count, const uint8_t* const* Srcs,
                                     const TPageHeader& Header, const std::string& Key) {
  FLastError = erOk;
  const std::string& key = Key.empty() ? FKey : Key;
  const int32_t d = GetPageDataSize();
  if (Count <= 0) return 0;
  if (FirstPageNo < FHeader.HDRPageCount || int64_t{FirstPageNo} + Count > FHeader.TOTALPageCount || FReadOnly) {
    FLastError = erWritePageHeaderError;
    return 0;
  }
  ++FChanges;
  FHeaders.assign(static_cast<size_t>(Count), Header);
  FPieces.resize(static_cast<size_t>(2 * Count));
  const bool encode = Header.EncType != encNone;
  if (encode) {
    // Enciphering works in place: on copies, so that the caller's bytes stay as they are; the
    // pages' chains run side by side (see crypto::TCipher::EncodeBuffers).
    FScratch.resize(static_cast<size_t>(int64_t{Count} * d));
    FCopies.resize(static_cast<size_t>(Count));
    for (int32_t i = 0; i < Count; ++i) {
      FCopies[static_cast<size_t>(i)] = FScratch.data() + int64_t{i} * d;
      std::memcpy(FCopies[static_cast<size_t>(i)], Srcs[i], static_cast<size_t>(d));
    }
    if (!EncodePages(FCopies.data(), Count, d, key, Header.EncType)) {
      FLastError = erEncodeError;
      return 0;
    }
  }
  for (int32_t i = 0; i < Count; ++i) {
    const uint8_t* data = encode ? FCopies[static_cast<size_t>(i)] : Srcs[i];
    FHeaders[static_cast<size_t>(i)].CRC = PageCRC(data, d, Header.CrcType);
    FPieces[static_cast<size_t>(2 * i)] = {&FHeaders[static_cast<size_t>(i)], PageHeaderSize};
    FPieces[static_cast<size_t>(2 * i + 1)] = {const_cast<uint8_t*>(data), static_cast<size_t>(d)};
  }
  return static_cast<int32_t>(PutPieces(FirstPageNo, int64_t{Count} * FHeader.PageSize) / FHeader.PageSize);
}

int64_t TPageFileManager::PutPieces(int32_t PageNo, int64_t Length) {
  FSFSFile->SetPosition(PageNoToOffset(PageNo));
  int64_t put = 0;
  try {
    put = FSFSFile->WriteV(FPieces.data(), static_cast<int32_t>(FPieces.size()));
  } catch (const platform::Exception&) {
    put = 0;  // growing the file failed
  }
  if (put < Length) {
    const int64_t inPage = put % FHeader.PageSize;
    FLastError = inPage < PageHeaderSize ? erWritePageHeaderError : erWritePageError;
  }
  return put;
}

}  // namespace sfs
