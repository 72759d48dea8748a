// The directory: one flat table of 512-byte records (files and folders) kept in memory with two
// sorted indexes, and TDIRManager, which keeps the table and its chain of directory pages in step.
//
// A record names its parent by item number (the record's index; -1 is the root). Records are
// never removed: a deleted record is marked and its slot goes to the next record added (the
// lowest deleted slot first). Page failures inside AddItem / WriteItem throw platform::Exception;
// running out of space makes AddItem return false with FLastError erDiskFull.
#pragma once

#include <cstdint>
#include <set>
#include <string>
#include <string_view>
#include <vector>

#include "sfs/BlockedIndex.h"
#include "sfs/ContainerFormat.h"
#include "sfs/IntegerArray.h"

namespace sfs {

class TPageFileManager;
class TFreeSpaceManager;

// 512 zero bytes.
void InitDirectoryElement(TDirectoryElement& Element);
// Stores Name cut to 259 characters, NUL-terminated.
void SetFileName(std::string_view Name, TDirectoryElement& Element);
// The name of a record (never more than 259 characters, even for a damaged record).
std::string_view ElementName(const TDirectoryElement& Element);
// Now as a file time (100-ns units since 1601-01-01 UTC), at two-second resolution.
void SetCurrentTime(uint64_t& fTime);
uint64_t NowFileTime();  // the same value, for the packed record fields
// Splits "a/b/c" into "a/b" and "c" (a trailing separator is dropped first: "a/b/" gives "a" and
// "b"); a name directly under a leading separator gives the path "\". False without a separator.
bool ExtractPathAndPattern(std::string_view InPath, std::string& OutPath, std::string& Pattern);

class TDIRArray {
 public:
  void SetSize(int32_t newSize);
  // Binary search of an index for the key of value (bByName: file name, else ParentID). With
  // bInsert a position that keeps the order (after the entries of an equal key); without it the
  // position of an equal entry, the first of its run when bFirst, or -1. Among equal keys the
  // indexes keep ascending item numbers.
  int32_t FindPositionForInsert(const TDirectoryElement& value, bool bByName, bool bInsert, bool bFirst) const;
  int32_t FindFileByName(std::string_view FileName, int32_t startDir) const;
  void AppendItem(const TDirectoryElement& value);
  void UpdateItem(const TDirectoryElement& value, int32_t itemNo);
  void ReadItem(int32_t itemNo, TDirectoryElement& value) const;
  // Rebuilds both indexes from the live records.
  void BuildIndexes();

  int32_t ItemCount() const { return static_cast<int32_t>(Items.size()); }
  const TDirectoryElement& Item(int32_t i) const { return Items[static_cast<size_t>(i)]; }

  std::vector<TDirectoryElement> Items;
  TBlockedIndex NameIndex;
  TBlockedIndex ParentIndex;
  int32_t IndexElementsCount = 0;

 private:
  int32_t FindFile(std::string_view FileName, int32_t currentDir) const;
  int Compare(const TDirectoryElement& a, const TDirectoryElement& b, bool bByName) const;
  int32_t FindIndexEntry(const TBlockedIndex& index, const TDirectoryElement& value, bool bByName, int32_t itemNo) const;
  int32_t LowerBound(const TBlockedIndex& index, const TDirectoryElement& value, bool bByName, int32_t itemNo) const;
};

class TDIRManager {
 public:
  // Loads the directory of an open container: DIRPageCount pages from DIRFirstPageNo along the
  // chain, the first DIRElementsCount records. Throws "TDIRManager.Load - ..." on a damaged chain.
  TDIRManager(TPageFileManager& PFM, TFreeSpaceManager& FSM);

  bool AddItem(const TDirectoryElement& item, int32_t& itemNo);
  void ReadItem(int32_t ItemNo, TDirectoryElement& item) const { FDIR.ReadItem(ItemNo, item); }
  void WriteItem(int32_t ItemNo, const TDirectoryElement& item);
  int32_t FindByName(std::string_view FileName) const { return FDIR.FindFileByName(FileName, CurrentDir); }
  int32_t FileCreate(const std::string& FileName, const std::string& Password, const std::string& Question,
                     const std::string& Answer);
  int32_t FileOpen(const std::string& FileName, const std::string& Password, std::string& Key);
  void FileClose(int32_t ItemNo);
  int32_t GetOpenFiles(int32_t ItemNo) const;
  bool IsPasswordValid(const std::string& FileName, const std::string& Password) const;

  int32_t ItemCount() const { return FDIR.ItemCount(); }
  const TDIRArray& DIR() const { return FDIR; }
  const TIntegerArray& DIRPageMap() const { return FDIRPageMap; }
  int32_t ElementsPerPage() const { return FDIRElementsPerPage; }

  int32_t FLastError = 0;
  std::string CurrentPath;
  int32_t CurrentDir = rootID;

 private:
  void WriteDirPage(int32_t PageIndex, TFFPage& Page, const char* Method);
  void SaveRecordPage(int32_t PageIndex, TFFPage& Page, bool bReadHeader, const char* Method);

  TFreeSpaceManager& FSMHandle;
  TIntegerArray FDIRPageMap;
  int32_t FDIRElementsPerPage;
  int32_t FDIRPageSize;
  TPageFileManager& PFMHandle;
  TDIRArray FDIR;
  TIntegerArray FOpenedFiles;
  std::set<int32_t> FDeletedSlots;  // deleted records, lowest first
  // Pages whose records in memory may differ from the disk: a write failed, or loading mended a
  // record. Writing a record as it already stands is skipped only on the other pages.
  std::set<int32_t> FUnsavedPages;
};

}  // namespace sfs
