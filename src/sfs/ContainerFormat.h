// On-disk layout of a container: constants, error codes, page types and the packed records.
//
// Everything that knows a byte offset of the container format lives here; the managers share
// these definitions and nothing else. docs/container-format.md describes the same layout in prose.
// All records are little-endian and packed; the static_asserts pin every offset.
#pragma once

#include <bit>
#include <cstddef>
#include <cstdint>

namespace sfs {

static_assert(std::endian::native == std::endian::little, "the container format is little-endian");

// ---- Sizes and defaults --------------------------------------------------------------------
inline constexpr int32_t DEFAULT_PAGE_SIZE = 4096;
inline constexpr int32_t DEFAULT_EXTENT_PAGE_COUNT = 8;
inline constexpr int32_t SingleFileHeaderSize = 256;
inline constexpr int32_t PageHeaderSize = 32;
inline constexpr int32_t SFSPageHeaderSize = PageHeaderSize;
inline constexpr int32_t DirElementSize = 512;
inline constexpr int32_t SFSDirectoryElementSize = DirElementSize;
inline constexpr int32_t UserFileHandleSize = 20;
inline constexpr int32_t SignatureSize = 8;
inline constexpr float SFSCurrentVersion = 2.6f;
inline constexpr float FormatVersion = 1.0f;
inline constexpr int32_t UNIFORM_MIN_PAGE_COUNT = 8;
inline constexpr int32_t PasswordHeaderSize = 172;
inline constexpr int32_t MaxFileNameLength = 259;  // FileName holds 260 bytes with its NUL

// The eight bytes that open page 0 of every container.
inline constexpr char SingleFileSystemSignature[SignatureSize + 1] = "BDSFSCT1";

// Page sizes a container may use: powers of two in this range (a directory page must hold at
// least one 512-byte record).
inline constexpr int32_t cMinPageSize = 1024;
inline constexpr int32_t cMaxPageSize = 65536;
inline constexpr int32_t cMaxExtentPageCount = 64;

// ---- Part files ------------------------------------------------------------------------------
inline constexpr char HFSignature[9] = "AAMVHFSS";
inline constexpr int32_t HFSignatureSize = 8;
inline constexpr int32_t HFPHeaderSize = 280;
// Part size written for a container that is not split: large enough that no logical position
// ever reaches a second part.
inline constexpr int64_t cUnsplitPartitionSize = int64_t{1} << 60;

// ---- Page types, encryption and checksum types -----------------------------------------------
enum TPageType : uint8_t { DIRPage = 1, GAMPage = 2, SGAMPage = 3, PFSPage = 4, UFPMPage = 5, UFPage = 6 };
enum TEncType : uint8_t { encNone = 0, encRijndael = 1 };
inline constexpr uint8_t cCrcTypeFast = 0;  // crcFast
inline constexpr uint8_t cCrcTypeFull = 1;  // crcFull

// ---- Error codes -------------------------------------------------------------------------------
enum : int32_t {
  erOk = 0,
  erInvalidPath = -2,
  erInvalidCurrentDir = -3,
  erInvalidSearchRec = -4,
  erFileNotFound = -5,
  erInvalidHandle = -6,
  erReadPageHeaderError = -7,
  erWritePageHeaderError = -8,
  erReadPageError = -9,
  erWritePageError = -10,
  erCRCError = -11,
  erDecodeError = -12,
  erEncodeError = -13,
  erNoMemory = -14,
  erRenameFileError = -15,
  erFileNotDeleted = -16,
  erDiskFull = -17,
  erInvalidUFMap = -18,
  erReadPageFailed = -19,
};

inline constexpr int32_t rootID = -1;
inline constexpr int32_t None = -1;

#pragma pack(push, 1)

// Starts every part file (after the stub in part 0).
struct TSFSHugeFilePartitionHeader {
  char Signature[8];
  int64_t PartitionSize;
  char NextFileName[261];
  uint8_t Padding[3];
};
static_assert(sizeof(TSFSHugeFilePartitionHeader) == HFPHeaderSize);
static_assert(offsetof(TSFSHugeFilePartitionHeader, Signature) == 0);
static_assert(offsetof(TSFSHugeFilePartitionHeader, PartitionSize) == 8);
static_assert(offsetof(TSFSHugeFilePartitionHeader, NextFileName) == 16);
static_assert(offsetof(TSFSHugeFilePartitionHeader, Padding) == 277);

// Page 0: the container header (raw bytes, no page header).
struct TSingleFileHeader {
  char Signature[8];
  uint32_t CRC;  // crcFast of bytes 12 .. 255
  float Version;
  int32_t PageSize;
  int32_t ExtentPageCount;
  int32_t HDRPageCount;
  int32_t GAMPageCount;
  int32_t PFSPageCount;
  int32_t DIRPageCount;
  int32_t DIRFirstPageNo;
  int32_t DIRElementsCount;
  int32_t TOTALPageCount;
  uint8_t PasswordHeader[PasswordHeaderSize];
  uint8_t EncMethod;
  uint8_t CompressionLevel;
  uint8_t Reserved[30];
};
static_assert(sizeof(TSingleFileHeader) == SingleFileHeaderSize);
static_assert(offsetof(TSingleFileHeader, Signature) == 0);
static_assert(offsetof(TSingleFileHeader, CRC) == 8);
static_assert(offsetof(TSingleFileHeader, Version) == 12);
static_assert(offsetof(TSingleFileHeader, PageSize) == 16);
static_assert(offsetof(TSingleFileHeader, ExtentPageCount) == 20);
static_assert(offsetof(TSingleFileHeader, HDRPageCount) == 24);
static_assert(offsetof(TSingleFileHeader, GAMPageCount) == 28);
static_assert(offsetof(TSingleFileHeader, PFSPageCount) == 32);
static_assert(offsetof(TSingleFileHeader, DIRPageCount) == 36);
static_assert(offsetof(TSingleFileHeader, DIRFirstPageNo) == 40);
static_assert(offsetof(TSingleFileHeader, DIRElementsCount) == 44);
static_assert(offsetof(TSingleFileHeader, TOTALPageCount) == 48);
static_assert(offsetof(TSingleFileHeader, PasswordHeader) == 52);
static_assert(offsetof(TSingleFileHeader, EncMethod) == 224);
static_assert(offsetof(TSingleFileHeader, CompressionLevel) == 225);
static_assert(offsetof(TSingleFileHeader, Reserved) == 226);
inline constexpr int32_t cHeaderCRCOffset = 12;  // the header checksum covers bytes 12 .. 255

// Starts every page except page 0.
struct TPageHeader {
  int32_t NextPageNo;
  uint32_t CRC;
  uint8_t PageType;
  uint8_t EncType;
  uint8_t CrcType;
  uint8_t reserved1;
  uint8_t reserved2[20];
};
static_assert(sizeof(TPageHeader) == PageHeaderSize);
static_assert(offsetof(TPageHeader, NextPageNo) == 0);
static_assert(offsetof(TPageHeader, CRC) == 4);
static_assert(offsetof(TPageHeader, PageType) == 8);
static_assert(offsetof(TPageHeader, EncType) == 9);
static_assert(offsetof(TPageHeader, CrcType) == 10);
static_assert(offsetof(TPageHeader, reserved1) == 11);
static_assert(offsetof(TPageHeader, reserved2) == 12);

// One directory record: a file or a folder.
struct TDirectoryElement {
  int32_t FirstMapPageNo;
  int64_t FileSize;
  uint64_t CreationTime;  // 100-ns units since 1601-01-01 UTC
  uint64_t LastModifiedTime;
  uint64_t LastAccessTime;
  uint32_t Attributes;
  int32_t ParentID;
  uint32_t FileCRC;
  uint8_t PasswordHeader[PasswordHeaderSize];
  uint8_t IsFolder;
  uint8_t IsDeleted;
  uint8_t EncMethod;
  uint8_t Reserved1;
  char FileName[260];
  uint32_t Reserved2[7];
};
static_assert(sizeof(TDirectoryElement) == DirElementSize);
static_assert(offsetof(TDirectoryElement, FirstMapPageNo) == 0);
static_assert(offsetof(TDirectoryElement, FileSize) == 4);
static_assert(offsetof(TDirectoryElement, CreationTime) == 12);
static_assert(offsetof(TDirectoryElement, LastModifiedTime) == 20);
static_assert(offsetof(TDirectoryElement, LastAccessTime) == 28);
static_assert(offsetof(TDirectoryElement, Attributes) == 36);
static_assert(offsetof(TDirectoryElement, ParentID) == 40);
static_assert(offsetof(TDirectoryElement, FileCRC) == 44);
static_assert(offsetof(TDirectoryElement, PasswordHeader) == 48);
static_assert(offsetof(TDirectoryElement, IsFolder) == 220);
static_assert(offsetof(TDirectoryElement, IsDeleted) == 221);
static_assert(offsetof(TDirectoryElement, EncMethod) == 222);
static_assert(offsetof(TDirectoryElement, Reserved1) == 223);
static_assert(offsetof(TDirectoryElement, FileName) == 224);
static_assert(offsetof(TDirectoryElement, Reserved2) == 484);

#pragma pack(pop)

// In-memory page buffer: the header and a pointer to the data bytes (owned by its allocator).
struct TFFPage {
  TPageHeader PageHeader{};
  uint8_t* pData = nullptr;
};

// Map geometry derived from the page size and the extent size. Fixed for a container: every
// reader computes the same values from the two header fields.
struct TMapGeometry {
  int32_t PageDataSize = 0;
  int32_t PFSExtentsPerPage = 0;  // extents covered by one PFS page
  int32_t PFSPageSize = 0;        // bitmap bytes per PFS page
  int32_t GAMExtentsPerPage = 0;  // extents covered by one GAM (and SGAM) page
  int32_t GAMPageSize = 0;        // bitmap bytes per GAM page
  int32_t DIRElementsPerPage = 0;
  int32_t DIRPageSize = 0;
  int32_t PagesPerMapPage = 0;
};

// True for a page size and extent size this library can read and write.
constexpr bool IsValidGeometry(int32_t PageSize, int32_t ExtentPageCount) {
  return PageSize >= cMinPageSize && PageSize <= cMaxPageSize && (PageSize & (PageSize - 1)) == 0 &&
         ExtentPageCount >= 1 && ExtentPageCount <= cMaxExtentPageCount;
}

constexpr TMapGeometry ComputeGeometry(int32_t PageSize, int32_t ExtentPageCount) {
  TMapGeometry g;
  g.PageDataSize = PageSize - PageHeaderSize;
  const int32_t bits = 8 * g.PageDataSize;
  // A PFS page holds one bit per page of the extents it covers.
  g.PFSExtentsPerPage = bits / ExtentPageCount;
  g.PFSPageSize = (g.PFSExtentsPerPage * ExtentPageCount + 7) / 8;
  // A GAM page covers a whole number of PFS ranges, so a new GAM page always starts together
  // with a new PFS page.
  g.GAMExtentsPerPage = (bits / g.PFSExtentsPerPage) * g.PFSExtentsPerPage;
  g.GAMPageSize = (g.GAMExtentsPerPage + 7) / 8;
  g.DIRElementsPerPage = g.PageDataSize / DirElementSize;
  g.DIRPageSize = g.DIRElementsPerPage * DirElementSize;
  g.PagesPerMapPage = g.PageDataSize / 4;
  return g;
}

static_assert(ComputeGeometry(4096, 8).PFSExtentsPerPage == 4064);
static_assert(ComputeGeometry(4096, 8).PFSPageSize == 4064);
static_assert(ComputeGeometry(4096, 8).GAMExtentsPerPage == 32512);
static_assert(ComputeGeometry(4096, 8).GAMPageSize == 4064);
static_assert(ComputeGeometry(4096, 8).DIRElementsPerPage == 7);
static_assert(ComputeGeometry(4096, 8).PagesPerMapPage == 1016);

}  // namespace sfs
