// TUserFilePageMapManager: the page maps of the files in a container.
//
// The data pages of a file are listed in file order by a chain of map pages starting at the
// FirstMapPageNo of its record; data page n holds file bytes n*D .. (n+1)*D - 1 (D = page data
// size). Maps are read once into two caches keyed by FirstMapPageNo (a cache that passes 100
// files is dropped as a whole). Operations that change FirstMapPageNo change it in the caller's
// record, which the caller writes back; none of them changes FileSize. Allocation failures
// return false with FLastError erDiskFull and leave the file's map as it was (map pages taken
// for the failed growth are given back); an inconsistent map chain throws.
#pragma once

#include <cstdint>

#include "sfs/ContainerFormat.h"
#include "sfs/IntegerArray.h"
#include "sfs/SortedPtrArray.h"

namespace sfs {

class TPageFileManager;
class TFreeSpaceManager;

class TUserFilePageMapManager {
 public:
  TUserFilePageMapManager(TPageFileManager& PFM, TFreeSpaceManager& FSM);

  int32_t GetCoverPageCount(int64_t Size) const;
  int32_t MapPagesFor(int32_t DataPages) const;
  // The cached maps of a file (owned by the caches; valid until the next call that may trim them).
  void GetMaps(const TDirectoryElement& FileRec, TIntegerArray*& UFPMMap, TIntegerArray*& UFMap);
  bool AppendPages(TDirectoryElement& FileRec, int32_t PageCount, bool bWriteAppendedPages);
  void DeletePagesFromEOF(TDirectoryElement& FileRec, int32_t DeletePageCount);
  void SaveMapPages(int32_t SaveItemNo, int32_t SaveItemCount, const TIntegerArray& UFMap, const TIntegerArray& UFPMMap);
  bool GetPages(TDirectoryElement& FileRec, bool IsAllocateAllowed, int64_t Offset, int64_t Size, TIntegerArray& pages);
  bool SetSize(TDirectoryElement& FileRec, bool bWriteAppendedPages, int64_t NewSize);
  // While set, appended data pages that overlap the byte range [From, To) are not written as
  // zero pages: the caller is about to write each of them whole (its bytes outside the range as
  // zeros).
  void SetWholeWriteRange(int64_t From, int64_t To) {
    FWholeFrom = From;
    FWholeTo = To;
  }
  // Drops both caches (after the maps on disk changed behind the manager's back, or to save memory).
  void ClearCaches();

  int32_t PagesPerMapPage() const { return FPagesPerMapPage; }
  int32_t FLastError = 0;

 private:
  TPageFileManager& PFMHandle;
  TFreeSpaceManager& FSMHandle;
  TSortedPtrArray<TIntegerArray> UFPMMaps;
  TSortedPtrArray<TIntegerArray> UFMaps;
  int32_t FPagesPerMapPage;
  TIntegerArray TempPages;
  int64_t FWholeFrom = 0, FWholeTo = 0;
};

}  // namespace sfs
