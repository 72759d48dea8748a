// TFreeSpaceManager: which pages of the container are free, and handing them out.
//
// Pages after the header page are grouped into extents of ExtentPageCount pages. Three bitmaps
// describe them: PFS (a bit per page, 1 = free), GAM (a bit per extent, 1 = free) and SGAM (a bit
// per extent, 1 = mixed: shared, its free pages may go to any file). They live in memory while the
// container is open and every change is written to the map pages before GetPages / FreePages
// return, or, for allocations made in a TBatch, when the batch commits. Allocation is first fit
// by extent number, trying the caller's preferred extent first; the scans work a 64-bit word at a
// time but choose exactly the pages a bit-by-bit scan chooses.
#pragma once

#include <algorithm>
#include <cstdint>
#include <memory>
#include <vector>

#include "sfs/ContainerFormat.h"
#include "sfs/IntegerArray.h"

namespace sfs {

class TPageFileManager;

// A bitmap stored as little-endian 64-bit words: bit n is bit n mod 8 of byte n div 8, the same
// bytes as on disk. It also remembers how many of its first words are known to be zero, so that
// a scan for set bits from the start need not walk them again.
class TBitmap {
 public:
  int64_t ByteSize() const { return FBytes; }
  const uint8_t* Bytes() const { return reinterpret_cast<const uint8_t*>(FWords.data()); }
  // Adds AddBytes bytes of Fill at the end and returns where they start, for the caller to fill
  // in further.
  uint8_t* Grow(int64_t AddBytes, uint8_t Fill);
  void Truncate(int64_t NewBytes);
  bool Get(int64_t n) const { return (FWords[static_cast<size_t>(n >> 6)] >> (n & 63)) & 1u; }
  void Set(int64_t n, bool v) {
    const size_t w = static_cast<size_t>(n >> 6);
    const uint64_t m = uint64_t{1} << (n & 63);
    if (v) {
      FWords[w] |= m;
      FZeroWords = std::min(FZeroWords, w);
    } else {
      FWords[w] &= ~m;
    }
  }
  uint64_t Word(size_t i) const { return FWords[i]; }
  size_t WordCount() const { return FWords.size(); }
  // Every word below this one is zero.
  size_t ZeroWords() const { return FZeroWords; }
  // A scan found words 0 .. Count - 1 zero.
  void NoteZeroWords(size_t Count) const { FZeroWords = std::max(FZeroWords, Count); }

 private:
  std::vector<uint64_t> FWords;
  int64_t FBytes = 0;
  mutable size_t FZeroWords = 0;
};

class TFreeSpaceManager {
 public:
  // Builds the maps of an open container: reads PFSPageCount PFS pages and GAMPageCount GAM/SGAM
  // pairs and derives the extent counters. Throws "TFreeSpaceManager.Create - ..." on maps that
  // do not fit the header.
  explicit TFreeSpaceManager(TPageFileManager& PFM);
  ~TFreeSpaceManager();

  bool GetPages(int32_t PageCount, int32_t StartPageNo, TIntegerArray& pages, bool bUniform);

  // Allocations whose map pages go to the disk together. While a batch is open, GetPages changes
  // the maps in memory only; Commit writes every map page the batch changed, and the header if
  // the page space grew (a failure there restores the maps and throws as GetPages would). A batch
  // that ends without Commit, or whose Commit failed, leaves the maps as they were before it.
  // Batches do not nest, and FreePages does not belong inside one.
  class TBatch {
   public:
    explicit TBatch(TFreeSpaceManager& FSM);
    TBatch(const TBatch&) = delete;
    TBatch& operator=(const TBatch&) = delete;
    ~TBatch();
    void Commit();

   private:
    TFreeSpaceManager& FFSM;
  };

  void FreePages(TIntegerArray& pages);
  int32_t GetLastUsedPageNo() const;
  int32_t GetGAMPageNo(int32_t extentNo) const { return extentNo / FGAMExtentsPerPage; }
  int32_t GetPFSPageNo(int32_t extentNo) const { return extentNo / FPFSExtentsPerPage; }
  // Writes the map pages marked 1 in GAMpages (a GAM page and its SGAM page each) and in
  // PFSPages, neighbouring pages in one transfer. Throws "TFreeSpaceManager.SaveGAM - ..." or
  // "TFreeSpaceManager.SavePFS - ..." naming the first page it could not write.
  void SaveMaps(const TIntegerArray& GAMpages, const TIntegerArray& PFSPages);

  // Queries for the integrity checker and tests.
  bool IsPageFree(int32_t PageNo) const;  // PFS bit of a page after the header
  bool IsExtentFree(int32_t e) const { return GAM.Get(e); }
  bool IsExtentMixed(int32_t e) const { return SGAM.Get(e); }
  int32_t ExtentCount() const { return FExtentCount; }
  int32_t FreeExtentCount() const { return FFreeExtentCount; }
  int32_t MixedExtentCount() const { return FMixedExtentCount; }
  int64_t GetFreePageCount() const;
  const TIntegerArray& PFSPageMap() const { return FPFSPageMap; }
  const TIntegerArray& GAMPageMap() const { return FGAMPageMap; }
  int32_t PFSPageSize() const { return FPFSPageSize; }
  int32_t GAMPageSize() const { return FGAMPageSize; }

 private:
  struct TUndo;
  struct TPending;
  TUndo Snapshot() const;
  void Rollback(const TUndo& undo);
  void SaveAllocation(const TIntegerArray& GAMpages, const TIntegerArray& PFSPages, bool grown, const TUndo& undo);
  void UseExtent(int32_t CurExtent, int32_t PageCount, TIntegerArray& pages, bool bUniform, TIntegerArray& PFSPages,
                 TIntegerArray& GAMpages, TUndo* undo);
  int32_t AddExtents(int32_t restPages, bool bUniform, TIntegerArray& PFSPages, TIntegerArray& GAMpages,
                     TUndo* undo);
  void FreeExtent(int32_t e, TIntegerArray& GAMpages);
  int32_t NextCandidate(int32_t From, bool bUniform) const;
  void SetBit(TBitmap& map, int64_t n, bool v, TUndo* undo);
  void LoadMaps();

  TPageFileManager& PFMHandle;
  TBitmap PFS, GAM, SGAM;
  TIntegerArray FPFSPageMap;
  TIntegerArray FGAMPageMap;
  int32_t FPageSize;
  int32_t FGAMPageSize;
  int32_t FGAMExtentsPerPage;
  int32_t FPFSExtentsPerPage;
  int32_t FPFSPageSize;
  int32_t FExtentPageCount;
  int32_t FFreeExtentCount = 0;
  int32_t FMixedExtentCount = 0;
  int32_t FExtentCount = 0;
  std::unique_ptr<TPending> FPending;  // the open batch
};

}  // namespace sfs
