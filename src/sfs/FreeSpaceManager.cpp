#include "sfs/FreeSpaceManager.h"

#include <algorithm>
#include <bit>
#include <cstring>
#include <string>

#include "platform/Exception.h"
#include "sfs/PageFileManager.h"

namespace sfs {

// What GetPages changed, so that a failed allocation leaves the maps as they were.
struct TFreeSpaceManager::TUndo {
  struct TBit {
    TBitmap* map;
    int64_t n;
    bool old;
  };
  std::vector<TBit> bits;
  int64_t pfsBytes, gamBytes;
  int32_t pfsPages, gamPages, freeExt, mixedExt, extCount, pfsCount, gamCount, totalPages;
};

// The allocations of an open batch: what to undo, which map pages to write, whether the page
// space grew.
struct TFreeSpaceManager::TPending {
  TUndo undo;
  TIntegerArray PFSPages, GAMpages;
  bool grown = false;
};

uint8_t* TBitmap::Grow(int64_t AddBytes, uint8_t Fill) {
  const int64_t newBytes = FBytes + AddBytes;
  FWords.resize(static_cast<size_t>((newBytes + 7) / 8), 0);
  uint8_t* added = reinterpret_cast<uint8_t*>(FWords.data()) + FBytes;
  std::memset(added, Fill, static_cast<size_t>(AddBytes));
  // The caller may set any of the new bytes.
  FZeroWords = std::min(FZeroWords, static_cast<size_t>(FBytes / 8));
  FBytes = newBytes;
  return added;
}

void TBitmap::Truncate(int64_t NewBytes) {
  FWords.resize(static_cast<size_t>((NewBytes + 7) / 8));
  FBytes = NewBytes;
  // Bits past the end stay zero so word scans need no mask.
  if (NewBytes % 8) std::memset(reinterpret_cast<uint8_t*>(FWords.data()) + NewBytes, 0, static_cast<size_t>(8 - NewBytes % 8));
}

TFreeSpaceManager::TFreeSpaceManager(TPageFileManager& PFM) : PFMHandle(PFM) {
  const TSingleFileHeader& h = PFM.FHeader;
  const TMapGeometry g = ComputeGeometry(h.PageSize, h.ExtentPageCount);
  FPageSize = h.PageSize;
  FExtentPageCount = h.ExtentPageCount;
  FPFSExtentsPerPage = g.PFSExtentsPerPage;
  FPFSPageSize = g.PFSPageSize;
  FGAMExtentsPerPage = g.GAMExtentsPerPage;
  FGAMPageSize = g.GAMPageSize;
  LoadMaps();
}

TFreeSpaceManager::~TFreeSpaceManager() = default;

void TFreeSpaceManager::LoadMaps() {
  const TSingleFileHeader& h = PFMHandle.FHeader;
  auto fail = [](const std::string& text) { throw platform::Exception("TFreeSpaceManager.Create - " + text); };
  // The extents the page space holds; the maps must cover exactly their range.
  const int64_t extents = (int64_t{h.TOTALPageCount} - h.HDRPageCount) / FExtentPageCount;
  const int64_t pfsNeed = (extents + FPFSExtentsPerPage - 1) / FPFSExtentsPerPage;
  const int64_t gamNeed = (extents + FGAMExtentsPerPage - 1) / FGAMExtentsPerPage;
  if (h.PFSPageCount != pfsNeed || h.GAMPageCount != gamNeed) fail("map page counts do not fit the page space.");
  FExtentCount = static_cast<int32_t>(extents);
  TPageBuffer page(PFMHandle.GetPageDataSize());
  for (int32_t i = 0; i < h.PFSPageCount; ++i) {
    const int32_t no = 1 + i * FPFSExtentsPerPage * FExtentPageCount;
    if (!PFMHandle.ReadPage(page, no, false, {}, FPFSPageSize) || page.PageHeader.PageType != PFSPage)
      fail("can not load PFS page, pageNo = " + std::to_string(no));
    FPFSPageMap.Append(no);
    std::memcpy(PFS.Grow(FPFSPageSize, 0), page.pData, static_cast<size_t>(FPFSPageSize));
  }
  for (int32_t i = 0; i < h.GAMPageCount; ++i) {
    const int32_t no = 2 + i * FGAMExtentsPerPage * FExtentPageCount;
    if (!PFMHandle.ReadPage(page, no, false, {}, FGAMPageSize) || page.PageHeader.PageType != GAMPage)
      fail("can not load GAM page, pageNo = " + std::to_string(no));
    FGAMPageMap.Append(no);
    std::memcpy(GAM.Grow(FGAMPageSize, 0), page.pData, static_cast<size_t>(FGAMPageSize));
    if (!PFMHandle.ReadPage(page, no + 1, false, {}, FGAMPageSize) || page.PageHeader.PageType != SGAMPage)
      fail("can not load SGAM page, pageNo = " + std::to_string(no + 1));
    std::memcpy(SGAM.Grow(FGAMPageSize, 0), page.pData, static_cast<size_t>(FGAMPageSize));
  }
  for (int32_t e = 0; e < FExtentCount; ++e) {
    if (GAM.Get(e)) {
      // A free extent has no used page and is not mixed; anything else is a damaged map.
      if (SGAM.Get(e)) fail("extent " + std::to_string(e) + " is both free and mixed.");
      ++FFreeExtentCount;
    } else if (SGAM.Get(e)) {
      ++FMixedExtentCount;
    }
  }
}

void TFreeSpaceManager::SetBit(TBitmap& map, int64_t n, bool v, TUndo* undo) {
  if (undo) undo->bits.push_back({&map, n, map.Get(n)});
  map.Set(n, v);
}

bool TFreeSpaceManager::IsPageFree(int32_t PageNo) const {
  const int64_t k = int64_t{PageNo} - PFMHandle.FHeader.HDRPageCount;
  if (k < 0) return false;
  if (k >= PFS.ByteSize() * 8) return true;
  return PFS.Get(k);
}

int64_t TFreeSpaceManager::GetFreePageCount() const {
  int64_t n = 0;
  const int64_t pages = int64_t{FExtentCount} * FExtentPageCount;
  for (int64_t k = 0; k < pages; ++k) n += PFS.Get(k) ? 1 : 0;
  return n;
}

int32_t TFreeSpaceManager::NextCandidate(int32_t From, bool bUniform) const {
  if (From >= FExtentCount) return FExtentCount;
  // The words every candidate bitmap has zero are skipped; a scan that starts below them learns
  // where the first set word is, so the next scan from the start begins there.
  const size_t zero = bUniform ? GAM.ZeroWords() : std::min(GAM.ZeroWords(), SGAM.ZeroWords());
  const size_t from = static_cast<size_t>(From) >> 6;
  const size_t words = static_cast<size_t>((int64_t{FExtentCount} + 63) / 64);
  size_t w = std::max(from, zero);
  if (w >= words) return FExtentCount;
  // The scan covers every bit from the first word not known to be zero on.
  const bool fromZeroWords = from < zero || (from == zero && (From & 63) == 0);
  uint64_t word = GAM.Word(w) | (bUniform ? 0 : SGAM.Word(w));
  if (w == from) word &= ~uint64_t{0} << (From & 63);
  while (word == 0 && ++w < words) word = GAM.Word(w) | (bUniform ? 0 : SGAM.Word(w));
  if (fromZeroWords) {
    GAM.NoteZeroWords(w);
    if (!bUniform) SGAM.NoteZeroWords(w);
  }
  if (word == 0) return FExtentCount;
  const int64_t e = static_cast<int64_t>(w) * 64 + std::countr_zero(word);
  return e < FExtentCount ? static_cast<int32_t>(e) : FExtentCount;
}

void TFreeSpaceManager::UseExtent(int32_t CurExtent, int32_t PageCount, TIntegerArray& pages, bool bUniform,
                                  TIntegerArray& PFSPages, TIntegerArray& GAMpages, TUndo* undo) {
  const int64_t first = int64_t{CurExtent} * FExtentPageCount;
  const int32_t hdr = PFMHandle.FHeader.HDRPageCount;
  for (int64_t k = first; k < first + FExtentPageCount && pages.ItemCount() < PageCount; ++k) {
    if (!PFS.Get(k)) continue;
    PFSPages[GetPFSPageNo(CurExtent)] = 1;
    SetBit(PFS, k, false, undo);
    pages.Append(static_cast<int32_t>(k + hdr));
    if (k == first) {
      const bool wasFree = GAM.Get(CurExtent);
      const bool wasMixed = SGAM.Get(CurExtent);
      if (FFreeExtentCount > 0 && wasFree && !wasMixed) --FFreeExtentCount;
      SetBit(GAM, CurExtent, false, undo);
      if (bUniform) {
        // Full: reserved for this file.
        if (wasMixed) --FMixedExtentCount;
        SetBit(SGAM, CurExtent, false, undo);
      } else {
        if (!wasMixed) ++FMixedExtentCount;
        SetBit(SGAM, CurExtent, true, undo);
      }
      GAMpages[GetGAMPageNo(CurExtent)] = 1;
    }
    if (k == first + FExtentPageCount - 1) {
      if (SGAM.Get(CurExtent)) --FMixedExtentCount;
      SetBit(GAM, CurExtent, false, undo);
      SetBit(SGAM, CurExtent, false, undo);
      GAMpages[GetGAMPageNo(CurExtent)] = 1;
    }
  }
}

int32_t TFreeSpaceManager::AddExtents(int32_t restPages, bool bUniform, TIntegerArray& PFSPages,
                                      TIntegerArray& GAMpages, TUndo* undo) {
  TSingleFileHeader& h = PFMHandle.FHeader;
  const int32_t oldExtents = FExtentCount;
  int64_t newPages = 0;
  int32_t newExtents = 0;
  while (newPages < restPages) {
    const int32_t e = oldExtents + newExtents;
    const bool bPFS = int64_t{e} == int64_t{FPFSExtentsPerPage} * h.PFSPageCount;
    const bool bGAM = int64_t{e} == int64_t{FGAMExtentsPerPage} * h.GAMPageCount;
    if (bPFS || bGAM) {
      const int64_t k0 = int64_t{e} * FExtentPageCount;
      h.PFSPageCount += 1;
      PFS.Grow(FPFSPageSize, 0xFF);
      FPFSPageMap.Append(FPFSPageMap.ItemCount() == 0 ? 1 : FPFSPageMap.Last() + FPFSExtentsPerPage * FExtentPageCount);
      PFSPages.Append(1);
      PFS.Set(k0, false);
      if (bGAM) {
        h.GAMPageCount += 1;
        GAM.Grow(FGAMPageSize, 0xFF);
        SGAM.Grow(FGAMPageSize, 0x00);
        PFS.Set(k0 + 1, false);
        PFS.Set(k0 + 2, false);
        FGAMPageMap.Append(FGAMPageMap.ItemCount() == 0 ? 2 : FGAMPageMap.Last() + FGAMExtentsPerPage * FExtentPageCount);
        GAMpages.Append(1);
      }
      const int32_t n = bGAM ? 3 : 1;
      const int32_t whole = n / FExtentPageCount;
      const int32_t part = n % FExtentPageCount;
      const int32_t used = whole + (part > 0 ? 1 : 0);
      for (int32_t x = e; x <= e + used - 2; ++x) {
        SetBit(GAM, x, false, undo);
        SetBit(SGAM, x, false, undo);
      }
      const int32_t last = e + whole - (part == 0 ? 1 : 0);
      SetBit(GAM, last, false, undo);
      SetBit(SGAM, last, part > 0, undo);
      if (part > 0) {
        ++FMixedExtentCount;
        if (!bUniform) newPages += FExtentPageCount - part;
      }
      newExtents += used;
    } else {
      newPages += FExtentPageCount;
      ++FFreeExtentCount;
      newExtents += 1;
    }
  }
  FExtentCount = oldExtents + newExtents;
  return newExtents;
}

TFreeSpaceManager::TUndo TFreeSpaceManager::Snapshot() const {
  const TSingleFileHeader& h = PFMHandle.FHeader;
  return {{}, PFS.ByteSize(), GAM.ByteSize(), FPFSPageMap.ItemCount(), FGAMPageMap.ItemCount(), FFreeExtentCount,
          FMixedExtentCount, FExtentCount, h.PFSPageCount, h.GAMPageCount, h.TOTALPageCount};
}

void TFreeSpaceManager::Rollback(const TUndo& undo) {
  TSingleFileHeader& h = PFMHandle.FHeader;
  for (auto it = undo.bits.rbegin(); it != undo.bits.rend(); ++it) it->map->Set(it->n, it->old);
  PFS.Truncate(undo.pfsBytes);
  GAM.Truncate(undo.gamBytes);
  SGAM.Truncate(undo.gamBytes);
  FPFSPageMap.SetSize(undo.pfsPages);
  FGAMPageMap.SetSize(undo.gamPages);
  FFreeExtentCount = undo.freeExt;
  FMixedExtentCount = undo.mixedExt;
  FExtentCount = undo.extCount;
  h.PFSPageCount = undo.pfsCount;
  h.GAMPageCount = undo.gamCount;
  h.TOTALPageCount = undo.totalPages;
}

// The header reaches the disk after the map pages, so a failure in between leaves the old
// header describing the old, complete maps; any failure restores the maps in memory.
void TFreeSpaceManager::SaveAllocation(const TIntegerArray& GAMpages, const TIntegerArray& PFSPages, bool grown,
                                       const TUndo& undo) {
  try {
    SaveMaps(GAMpages, PFSPages);
    if (grown) PFMHandle.SaveSFHeader();
  } catch (...) {
    Rollback(undo);
    throw;
  }
}

TFreeSpaceManager::TBatch::TBatch(TFreeSpaceManager& FSM) : FFSM(FSM) {
  const TSingleFileHeader& h = FSM.PFMHandle.FHeader;
  FSM.FPending = std::make_unique<TPending>(
      TPending{FSM.Snapshot(), TIntegerArray(h.PFSPageCount), TIntegerArray(h.GAMPageCount)});
}

TFreeSpaceManager::TBatch::~TBatch() {
  if (!FFSM.FPending) return;  // committed
  const std::unique_ptr<TPending> pending = std::move(FFSM.FPending);
  FFSM.Rollback(pending->undo);
}

void TFreeSpaceManager::TBatch::Commit() {
  const std::unique_ptr<TPending> pending = std::move(FFSM.FPending);
  FFSM.SaveAllocation(pending->GAMpages, pending->PFSPages, pending->grown, pending->undo);
}

bool TFreeSpaceManager::GetPages(int32_t PageCount, int32_t StartPageNo, TIntegerArray& pages, bool bUniform) {
  TSingleFileHeader& h = PFMHandle.FHeader;
  pages.Clear();
  if (PageCount <= 0) return true;
  TIntegerArray PFSPages(h.PFSPageCount), GAMpages(h.GAMPageCount);
  TUndo undo = Snapshot();

  int32_t CurExtent = (StartPageNo - h.HDRPageCount) / FExtentPageCount;
  if (CurExtent >= 0 && CurExtent < FExtentCount)
    UseExtent(CurExtent, PageCount, pages, bUniform, PFSPages, GAMpages, &undo);
  else
    CurExtent = 0;

  auto scan = [&] {
    // Only extents whose GAM bit (or, for a mixed request, SGAM bit) is set can give pages.
    for (CurExtent = NextCandidate(CurExtent, bUniform); CurExtent < FExtentCount && pages.ItemCount() < PageCount;
         CurExtent = NextCandidate(CurExtent + 1, bUniform))
      UseExtent(CurExtent, PageCount, pages, bUniform, PFSPages, GAMpages, &undo);
  };
  if ((bUniform && FFreeExtentCount > 0) || (!bUniform && (FMixedExtentCount > 0 || FFreeExtentCount > 0))) {
    CurExtent = 0;
    scan();
  }

  bool Result = true;
  bool grown = false;
  if (pages.ItemCount() < PageCount) {
    const int32_t restPages = PageCount - pages.ItemCount();
    const int32_t newExtents = AddExtents(restPages, bUniform, PFSPages, GAMpages, &undo);
    if (newExtents == 0) {
      Rollback(undo);
      throw platform::Exception("TFreeSpaceManager.GetPages - AddExtents does not append any extents.");
    }
    // The file grows here; the header reaches the disk after the map pages (SaveAllocation).
    const int64_t newTotal = int64_t{h.TOTALPageCount} + int64_t{newExtents} * FExtentPageCount;
    if (newTotal > INT32_MAX || !PFMHandle.EnsurePhysicalPages(static_cast<int32_t>(newTotal - 1))) {
      Result = false;
    } else {
      h.TOTALPageCount = static_cast<int32_t>(newTotal);
      grown = true;
      scan();
      if (pages.ItemCount() < PageCount) {
        Rollback(undo);
        throw platform::Exception("TFreeSpaceManager.GetPages - AddExtents appends too small pages.");
      }
    }
  }
  if (Result) {
    int32_t highest = 0;
    for (int32_t i = 0; i < pages.ItemCount(); ++i) highest = std::max(highest, pages[i]);
    if (highest > h.TOTALPageCount - 1) {
      h.TOTALPageCount = highest + 1;
      grown = true;
    }
    // Pages past a cut made by FreePages have no bytes on disk: give them bytes now, so that a
    // full disk shows here as a failed allocation.
    Result = PFMHandle.EnsurePhysicalPages(highest);
  }
  if (!Result) {
    Rollback(undo);
    pages.Clear();
    return false;
  }
  if (FPending) {
    // Written when the batch commits; undone with it.
    TPending& p = *FPending;
    p.undo.bits.insert(p.undo.bits.end(), undo.bits.begin(), undo.bits.end());
    p.PFSPages.SetSize(std::max(p.PFSPages.ItemCount(), PFSPages.ItemCount()));  // the maps may have grown
    p.GAMpages.SetSize(std::max(p.GAMpages.ItemCount(), GAMpages.ItemCount()));
    for (int32_t i = 0; i < PFSPages.ItemCount(); ++i) p.PFSPages[i] |= PFSPages[i];
    for (int32_t i = 0; i < GAMpages.ItemCount(); ++i) p.GAMpages[i] |= GAMpages[i];
    p.grown = p.grown || grown;
    return true;
  }
  try {
    SaveAllocation(GAMpages, PFSPages, grown, undo);
  } catch (...) {
    pages.Clear();
    throw;
  }
  return true;
}

void TFreeSpaceManager::FreeExtent(int32_t e, TIntegerArray& GAMpages) {
  const int64_t first = int64_t{e} * FExtentPageCount;
  for (int64_t k = first; k < first + FExtentPageCount; ++k)
    if (!PFS.Get(k)) return;
  if (GAM.Get(e)) return;  // already free
  if (SGAM.Get(e)) --FMixedExtentCount;
  GAM.Set(e, true);
  SGAM.Set(e, false);
  GAMpages[GetGAMPageNo(e)] = 1;
  ++FFreeExtentCount;
}

int32_t TFreeSpaceManager::GetLastUsedPageNo() const {
  const TSingleFileHeader& h = PFMHandle.FHeader;
  int64_t k = std::min<int64_t>(int64_t{h.TOTALPageCount} - h.HDRPageCount - 1, PFS.ByteSize() * 8 - 1);
  while (k >= 0) {
    // Whole words of free pages are skipped at once.
    if ((k & 63) == 63 && PFS.Word(static_cast<size_t>(k >> 6)) == ~uint64_t{0}) {
      k -= 64;
      continue;
    }
    if (!PFS.Get(k)) return static_cast<int32_t>(k + h.HDRPageCount);
    --k;
  }
  return 0;
}

void TFreeSpaceManager::FreePages(TIntegerArray& pages) {
  const TSingleFileHeader& h = PFMHandle.FHeader;
  std::vector<int32_t> freeExtents;
  TIntegerArray PFSPages(h.PFSPageCount), GAMpages(h.GAMPageCount);
  int32_t LastPageNo = GetLastUsedPageNo();
  const int32_t OldLastPageNo = LastPageNo;
  pages.Sort(false);
  for (int32_t i = 0; i < pages.ItemCount(); ++i) {
    const int32_t p = pages[i];
    if (p >= LastPageNo) LastPageNo = p - 1;
    const int64_t k = int64_t{p} - h.HDRPageCount;
    if (p < h.TOTALPageCount && k >= 0 && k < int64_t{FExtentCount} * FExtentPageCount) {
      PFS.Set(k, true);
      const int32_t e = static_cast<int32_t>(k / FExtentPageCount);
      if (freeExtents.empty() || freeExtents.back() != e) freeExtents.push_back(e);
      PFSPages[GetPFSPageNo(e)] = 1;
    }
  }
  std::sort(freeExtents.begin(), freeExtents.end());
  freeExtents.erase(std::unique(freeExtents.begin(), freeExtents.end()), freeExtents.end());
  for (int32_t e : freeExtents) FreeExtent(e, GAMpages);
  SaveMaps(GAMpages, PFSPages);
  if (LastPageNo < OldLastPageNo) {
    try {
      PFMHandle.SFSFile().SetSize((int64_t{std::max(LastPageNo, 0)} + 1) * FPageSize);
    } catch (const platform::Exception&) {
      // The file keeps its length; the pages past the last used one are free all the same.
    }
  }
}

void TFreeSpaceManager::SaveMaps(const TIntegerArray& GAMpages, const TIntegerArray& PFSPages) {
  if (GAMpages.ItemCount() != FGAMPageMap.ItemCount())
    throw platform::Exception("TFreeSpaceManager.SaveGAM - pages.ItemCount <> GAMPageMap.ItemCount!");
  if (PFSPages.ItemCount() != FPFSPageMap.ItemCount())
    throw platform::Exception("TFreeSpaceManager.SavePFS - pages.ItemCount <> PFSPageMap.ItemCount!");
  std::vector<TPageWrite> batch;
  const auto add = [&batch](int32_t PageNo, uint8_t Type, const uint8_t* Data, int32_t Size) {
    TPageWrite& w = batch.emplace_back();
    w.PageNo = PageNo;
    w.Header.NextPageNo = -1;
    w.Header.PageType = Type;
    w.Data = Data;
    w.DataSize = Size;
  };
  for (int32_t i = 0; i < GAMpages.ItemCount(); ++i) {
    if (GAMpages[i] != 1) continue;
    add(FGAMPageMap[i], GAMPage, GAM.Bytes() + int64_t{i} * FGAMPageSize, FGAMPageSize);
    add(FGAMPageMap[i] + 1, SGAMPage, SGAM.Bytes() + int64_t{i} * FGAMPageSize, FGAMPageSize);
  }
  for (int32_t i = 0; i < PFSPages.ItemCount(); ++i)
    if (PFSPages[i] == 1) add(FPFSPageMap[i], PFSPage, PFS.Bytes() + int64_t{i} * FPFSPageSize, FPFSPageSize);
  // In page order, so that neighbours (the first PFS, GAM and SGAM pages are) go out together.
  std::sort(batch.begin(), batch.end(), [](const TPageWrite& a, const TPageWrite& b) { return a.PageNo < b.PageNo; });
  const int32_t written = PFMHandle.WritePageBatch(batch);
  if (written == static_cast<int32_t>(batch.size())) return;
  const TPageWrite& failed = batch[static_cast<size_t>(written)];
  switch (failed.Header.PageType) {
    case GAMPage:
      throw platform::Exception("TFreeSpaceManager.SaveGAM - can not save page, pageNo = " + std::to_string(failed.PageNo));
    case SGAMPage:
      throw platform::Exception("TFreeSpaceManager.SaveGAM - can not save SGAM page, pageNo = " +
                                std::to_string(failed.PageNo - 1));
    default:
      throw platform::Exception("TFreeSpaceManager.SavePFS - can not save page, pageNo = " + std::to_string(failed.PageNo));
  }
}

}  // namespace sfs
