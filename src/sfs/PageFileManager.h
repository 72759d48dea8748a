// TPageFileManager: the page space of a container on top of its huge file.
//
// Page 0 holds the container header; every other page is a 32-byte page header and a data area
// of PageSize - 32 bytes. ReadPage and WritePage check and set the checksum of the data bytes as
// stored and decipher / encipher them (a fresh cipher per page, keyed from the key string). The
// header in FHeader is the single source of the page counts; the other managers change it and
// SaveSFHeader writes it. Page operations report by a false result and FLastError.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "sfs/ContainerFormat.h"
#include "sfs/HugeFile.h"

namespace sfs {

// A page buffer that owns its data bytes (PageDataSize of them, zero-filled).
class TPageBuffer : public TFFPage {
 public:
  explicit TPageBuffer(int32_t DataSize) : FData(static_cast<size_t>(DataSize), 0) {
    PageHeader.NextPageNo = -1;
    pData = FData.data();
  }
  TPageBuffer(const TPageBuffer&) = delete;
  TPageBuffer& operator=(const TPageBuffer&) = delete;
  void Zero() { std::fill(FData.begin(), FData.end(), uint8_t{0}); }
  int32_t Size() const { return static_cast<int32_t>(FData.size()); }

 private:
  std::vector<uint8_t> FData;
};

// The checksum of a page's data: CountCRC, with crcFast worked out sixteen bytes at a time (the
// same value: the XOR of all whole 32-bit words).
uint32_t PageCRC(const void* Data, int32_t Size, uint8_t CrcType);
// Copies Size bytes from From to To and returns PageCRC of them, in one pass for crcFast.
uint32_t CopyWithPageCRC(const void* From, void* To, int32_t Size, uint8_t CrcType);

// One page of a batch written by TPageFileManager::WritePageBatch.
struct TPageWrite {
  int32_t PageNo = -1;
  TPageHeader Header{};            // written with the checksum of Data, which is set here
  const uint8_t* Data = nullptr;   // null: the header alone is written
  int32_t DataSize = 0;            // the rest of the data area is written as zeros
};

class TPageFileManager {
 public:
  // Takes ownership of the huge file, which must be open (created or with its chain opened).
  TPageFileManager(std::unique_ptr<TSFSHugeFile> File, const std::string& FileName, bool ReadOnly, bool Exclusive);
  ~TPageFileManager();

  // Writes a fresh header for a new container: HDRPageCount 1, TOTALPageCount 1, no maps.
  void InitNewHeader(int32_t PageSize, int32_t ExtentPageCount, uint8_t CompressionLevel);
  // Reads page 0 and checks signature, checksum and the layout fields; throws
  // "TPageFileManager.LoadSFHeader - <what is wrong>".
  void LoadSFHeader();
  void SaveSFHeader();

  int64_t PageNoToOffset(int32_t PageNo) const { return int64_t{PageNo} * FHeader.PageSize; }
  int32_t GetPageDataSize() const { return FHeader.PageSize - PageHeaderSize; }
  int32_t PageDataSize() const { return GetPageDataSize(); }

  bool ReadPage(TFFPage& Page, int32_t PageNo, bool bIgnoreEncrypted, const std::string& Key = {}, int32_t DataSize = -1);
  bool WritePage(TFFPage& Page, int32_t PageNo, const std::string& Key = {}, int32_t DataSize = -1);
  // Count consecutive whole pages from FirstPageNo, as Count ReadPage calls of the full data size
  // would read them, in one transfer: the data of page i lands at Dests[i], its header in
  // Headers[i]. Returns the number of pages read, checked and deciphered before the first
  // failure (FLastError then says why); pages past the page space fail with
  // erReadPageHeaderError after the ones before them were read.
  int32_t ReadPages(int32_t FirstPageNo, int32_t Count, uint8_t* const* Dests, TPageHeader* Headers,
                    const std::string& Key);
  // Count consecutive whole pages from FirstPageNo under the header Header, as Count WritePage
  // calls would write them, in one transfer; the data of page i is Srcs[i] (several entries may
  // name the same bytes), which stay unchanged. Returns the number of pages written.
  int32_t WritePages(int32_t FirstPageNo, int32_t Count, const uint8_t* const* Srcs, const TPageHeader& Header,
                     const std::string& Key);
  // The pages, as WritePage calls in this order would write them without a key (each header
  // gets its checksum), those whose numbers follow one another in one transfer. Returns how many
  // of them, from the first, were written (FLastError says why the next was not).
  int32_t WritePageBatch(std::vector<TPageWrite>& Pages);
  bool AppendPages(int32_t qty);
  // Grows the file, when it is shorter, so that page LastPageNo has bytes on disk.
  bool EnsurePhysicalPages(int32_t LastPageNo);

  bool EncodeBuffer(void* Buffer, int32_t Size, const std::string& Key, uint8_t EncType);
  // Upcoming: bytes read next, fetched into the cache while deciphering (see crypto::TCipher).
  bool DecodeBuffer(void* Buffer, int32_t Size, const std::string& Key, uint8_t EncType,
                    const void* Upcoming = nullptr);

  // Counts the calls that may have changed bytes of the page space (page writes, header saves,
  // growth): a copy of a page read while this number stayed the same is still what the page holds.
  uint64_t ChangeCount() const { return FChanges; }

  TSFSHugeFile& SFSFile() { return *FSFSFile; }
  bool InMemory() const { return FInMemory; }
  bool ReadOnly() const { return FReadOnly; }
  bool Exclusive() const { return FExclusive; }
  const std::string& FileName() const { return FFileName; }

  TSingleFileHeader FHeader{};
  std::string FKey;  // container key (empty when the container is not enciphered)
  int32_t FLastError = 0;

 private:
  std::unique_ptr<TSFSHugeFile> FSFSFile;
  std::string FFileName;
  bool FInMemory;
  bool FReadOnly;
  bool FExclusive;
  // A keyed cipher per key, restarted for every page: the same bytes as a fresh cipher per page
  // without repeating the key set-up.
  class TCipherCache;
  // One page deciphered in place under Key (see DecodeBuffer); false without a key or on failure.
  bool Decipher(void* Buffer, int32_t Size, const std::string& Key, const void* Upcoming);
  // Count pages of Size bytes enciphered in place under Key, each from a fresh chain, the chains
  // side by side where the cipher can (EncType not encNone; any other than encRijndael throws
  // "TPageFileManager.EncodeBuffer - Unknown encryption type").
  bool EncodePages(uint8_t* const* Pages, int32_t Count, int32_t Size, const std::string& Key, uint8_t EncType);
  // The last step of reading a page whose data is at Data and checksums to CRC: the check, then
  // the deciphering in place. erOk or the error.
  int32_t FinishPage(uint8_t* Data, const TPageHeader& Header, uint32_t CRC, const std::string& Key,
                     const uint8_t* Upcoming);
  // erOk when page PageNo may be written with DataSize bytes of data; else the error.
  int32_t CheckWritable(int32_t PageNo, int32_t DataSize) const;
  // Writes FPieces, Length bytes of pages from page PageNo on, in one transfer; returns the bytes
  // written, FLastError saying which part of a page a short transfer ended in.
  int64_t PutPieces(int32_t PageNo, int64_t Length);

  uint64_t FChanges = 0;
  std::vector<uint8_t> FScratch;  // the enciphered copies of a run
  std::vector<uint8_t*> FCopies;   // where each page of the run is in FScratch
  std::vector<TPageHeader> FHeaders;
  std::vector<TPageWrite> FBatch;  // WritePage's one page
  std::vector<uint8_t> FZeros;     // the zero tail of pages written with less data than they hold
  std::vector<iovec> FPieces;
  std::unique_ptr<TCipherCache> FCiphers;
};

}  // namespace sfs
