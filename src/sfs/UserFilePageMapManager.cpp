#include "sfs/UserFilePageMapManager.h"

#include <algorithm>
#include <cstring>
#include <memory>
#include <set>

#include "platform/Exception.h"
#include "sfs/FreeSpaceManager.h"
#include "sfs/PageFileManager.h"

namespace sfs {

namespace {
constexpr int32_t cMaxCachedFiles = 100;
}

TUserFilePageMapManager::TUserFilePageMapManager(TPageFileManager& PFM, TFreeSpaceManager& FSM)
    : PFMHandle(PFM), FSMHandle(FSM), FPagesPerMapPage(PFM.GetPageDataSize() / 4) {}

int32_t TUserFilePageMapManager::GetCoverPageCount(int64_t Size) const {
  const int64_t d = PFMHandle.GetPageDataSize();
  const int64_t n = Size / d + (Size % d != 0 ? 1 : 0);
  if (Size < 0 || n > INT32_MAX) throw platform::Exception("TUserFilePageMapManager.GetCoverPageCount - invalid size");
  return static_cast<int32_t>(n);
}

int32_t TUserFilePageMapManager::MapPagesFor(int32_t DataPages) const {
  return DataPages / FPagesPerMapPage + (DataPages % FPagesPerMapPage != 0 ? 1 : 0);
}

void TUserFilePageMapManager::ClearCaches() {
  UFPMMaps.Clear();
  UFMaps.Clear();
}

void TUserFilePageMapManager::GetMaps(const TDirectoryElement& FileRec, TIntegerArray*& UFPMMap, TIntegerArray*& UFMap) {
  const int32_t first = FileRec.FirstMapPageNo;
  if (first == -1) throw platform::Exception("TUserFilePageMapManager.GetMaps - Invalid parameter FileRec.FirstMapPageNo");
  // A cache past its limit is dropped as a whole, except for the file asked for: its cached map
  // may already list pages its record's FileSize does not cover yet (a write in progress), and
  // reading the chain back would lose them.
  auto trim = [first](TSortedPtrArray<TIntegerArray>& cache) {
    if (cache.ItemCount() <= cMaxCachedFiles) return;
    std::unique_ptr<TIntegerArray> keep = cache.Take(first);
    cache.Clear();
    if (keep) cache.Insert(first, std::move(keep));
  };
  trim(UFPMMaps);
  trim(UFMaps);
  UFPMMap = UFPMMaps.Find(first);
  UFMap = UFMaps.Find(first);
  if (UFPMMap == nullptr) {
    auto pm = std::make_unique<TIntegerArray>(0, 10, 25);
    auto dm = std::make_unique<TIntegerArray>(0, 10, 25);
    const int32_t P = GetCoverPageCount(FileRec.FileSize);
    const int32_t M = MapPagesFor(P);
    if (M == 0) {
      pm->Append(first);
    } else {
      TPageBuffer page(PFMHandle.GetPageDataSize());
      std::set<int32_t> seen;
      int32_t no = first;
      for (int32_t i = 0; i < M; ++i) {
        // A chain that visits a page twice is as broken as one that ends early.
        if (no == -1 || !seen.insert(no).second)
          throw platform::Exception("TUserFilePageMapManager.GetMaps - Invalid page No in map chain.");
        if (!PFMHandle.ReadPage(page, no, false, {}, -1) || page.PageHeader.PageType != UFPMPage)
          throw platform::Exception("TUserFilePageMapManager.GetMaps - Error on reading map page.");
        pm->Append(no);
        const int32_t take = std::min(FPagesPerMapPage, P - dm->ItemCount());
        const size_t old = dm->Items.size();
        dm->Items.resize(old + static_cast<size_t>(take));
        std::memcpy(dm->Items.data() + old, page.pData, static_cast<size_t>(take) * 4);
        no = page.PageHeader.NextPageNo;
        if (no == -1 && dm->ItemCount() < P)
          throw platform::Exception("TUserFilePageMapManager.GetMaps - Invalid page No in map chain.");
      }
    }
    // An existing data-page entry belongs to the old (trimmed) state; both are rebuilt together.
    if (UFMaps.Find(first)) UFMaps.Delete(first);
    UFPMMap = UFPMMaps.Insert(first, std::move(pm));
    UFMap = UFMaps.Insert(first, std::move(dm));
  }
  if (UFPMMap == nullptr) throw platform::Exception("TUserFilePageMapManager.GetMaps - Cannot find UFPM page map");
  if (UFMap == nullptr) throw platform::Exception("TUserFilePageMapManager.GetMaps - Cannot find user file page map");
  if (UFPMMap->ItemCount() == 0 || (*UFPMMap)[0] != first)
    throw platform::Exception("TUserFilePageMapManager.GetMaps - UFPMMap.Items[0] <> FirstMapPageNo");
}

bool TUserFilePageMapManager::AppendPages(TDirectoryElement& FileRec, int32_t PageCount, bool bWriteAppendedPages) {
  if (PageCount <= 0) throw platform::Exception("TUserFilePageMapManager.AppendPages - PageCount <= 0.");
  FLastError = erOk;
  TIntegerArray* pm = nullptr;
  TIntegerArray* dm = nullptr;
  int32_t saveFrom = 0, saveCount = 0;
  int32_t newMapPages = 0;  // map pages taken by this call, at the end of the map-page array
  // The map pages and the data pages: one write of the free-space maps.
  TFreeSpaceManager::TBatch allocation(FSMHandle);
  if (FileRec.FirstMapPageNo == -1) {
    const int32_t mapPages = MapPagesFor(PageCount);
    TIntegerArray maps;
    if (!FSMHandle.GetPages(mapPages, 1, maps, false)) {
      FLastError = erDiskFull;
      return false;
    }
    FileRec.FirstMapPageNo = maps[0];
    auto npm = std::make_unique<TIntegerArray>(0, 10, 25);
    npm->Items = maps.Items;
    if (UFPMMaps.Find(maps[0])) UFPMMaps.Delete(maps[0]);
    if (UFMaps.Find(maps[0])) UFMaps.Delete(maps[0]);
    pm = UFPMMaps.Insert(maps[0], std::move(npm));
    dm = UFMaps.Insert(maps[0], std::make_unique<TIntegerArray>(0, 10, 25));
    saveFrom = 0;
    saveCount = mapPages;
    newMapPages = mapPages;
  } else {
    GetMaps(FileRec, pm, dm);
    const int32_t pc = MapPagesFor(dm->ItemCount() + PageCount) - pm->ItemCount();
    if (pc <= 0) {
      saveFrom = pm->ItemCount() - 1;
      saveCount = 1;
    } else {
      if (!FSMHandle.GetPages(pc, pm->Last() + 1, TempPages, false)) {
        FLastError = erDiskFull;
        return false;
      }
      saveFrom = pm->ItemCount() - 1;
      saveCount = pc + 1;
      newMapPages = pc;
      for (int32_t i = 0; i < TempPages.ItemCount(); ++i) pm->Append(TempPages[i]);
    }
  }
  const int32_t DesiredPageNo = dm->ItemCount() > 0 ? dm->Last() + 1 : 1;
  const bool IsUniform = PFMHandle.FHeader.ExtentPageCount < dm->ItemCount() + PageCount;
  // Should the data pages or the maps' write fail, the map pages taken above give way again (the
  // batch frees them in the maps): a map that listed them would leave them to no one or break the
  // chain at the next append.
  const auto dropNewMapPages = [&] {
    if (newMapPages == pm->ItemCount()) {
      UFPMMaps.Delete(FileRec.FirstMapPageNo);
      UFMaps.Delete(FileRec.FirstMapPageNo);
      FileRec.FirstMapPageNo = -1;
    } else {
      pm->SetSize(pm->ItemCount() - newMapPages);
    }
  };
  if (!FSMHandle.GetPages(PageCount, DesiredPageNo, TempPages, IsUniform)) {
    dropNewMapPages();
    FLastError = erDiskFull;
    return false;
  }
  try {
    allocation.Commit();
  } catch (...) {
    dropNewMapPages();
    throw;
  }
  const int32_t firstNew = dm->ItemCount();
  for (int32_t i = 0; i < TempPages.ItemCount(); ++i) dm->Append(TempPages[i]);
  SaveMapPages(saveFrom, saveCount, *dm, *pm);
  if (bWriteAppendedPages) {
    const int64_t d = PFMHandle.GetPageDataSize();
    TPageHeader zeroHeader{};
    zeroHeader.NextPageNo = -1;
    zeroHeader.PageType = UFPage;
    const std::vector<uint8_t> zeros(static_cast<size_t>(d), 0);
    std::vector<const uint8_t*> sources;
    for (int32_t i = firstNew; i < dm->ItemCount();) {
      if ((int64_t{i} + 1) * d > FWholeFrom && int64_t{i} * d < FWholeTo) {
        ++i;
        continue;
      }
      // Runs of pages that follow one another go out in one transfer.
      int32_t run = 1;
      while (i + run < dm->ItemCount() && run < 256 && (*dm)[i + run] == (*dm)[i] + run &&
             !((int64_t{i + run} + 1) * d > FWholeFrom && int64_t{i + run} * d < FWholeTo))
        ++run;
      sources.assign(static_cast<size_t>(run), zeros.data());
      PFMHandle.WritePages((*dm)[i], run, sources.data(), zeroHeader, {});
      i += run;
    }
  }
  return true;
}

void TUserFilePageMapManager::SaveMapPages(int32_t SaveItemNo, int32_t SaveItemCount, const TIntegerArray& UFMap,
                                           const TIntegerArray& UFPMMap) {
  TPageBuffer page(PFMHandle.GetPageDataSize());
  for (int32_t i = SaveItemNo; i < SaveItemNo + SaveItemCount && i < UFPMMap.ItemCount(); ++i) {
    if (i < 0) continue;
    page.Zero();
    page.PageHeader = TPageHeader{};
    page.PageHeader.PageType = UFPMPage;
    page.PageHeader.NextPageNo = i + 1 < UFPMMap.ItemCount() ? UFPMMap[i + 1] : -1;
    const int64_t from = int64_t{i} * FPagesPerMapPage;
    const int64_t to = std::min<int64_t>(UFMap.ItemCount(), from + FPagesPerMapPage);
    if (to > from) std::memcpy(page.pData, UFMap.Data() + from, static_cast<size_t>(to - from) * 4);
    PFMHandle.WritePage(page, UFPMMap[i], {}, -1);
  }
}

void TUserFilePageMapManager::DeletePagesFromEOF(TDirectoryElement& FileRec, int32_t DeletePageCount) {
  if (FileRec.FirstMapPageNo == -1)
    throw platform::Exception("TUserFilePageMapManager.DeletePagesFromEOF - File map not exists.");
  TIntegerArray* pm = nullptr;
  TIntegerArray* dm = nullptr;
  GetMaps(FileRec, pm, dm);
  DeletePageCount = std::min(DeletePageCount, dm->ItemCount());
  const int32_t newMapPageCount = MapPagesFor(dm->ItemCount() - DeletePageCount);
  TempPages.Clear();
  for (int32_t i = newMapPageCount; i < pm->ItemCount(); ++i) TempPages.Append((*pm)[i]);
  pm->SetSize(newMapPageCount);
  for (int32_t i = dm->ItemCount() - DeletePageCount; i < dm->ItemCount(); ++i) TempPages.Append((*dm)[i]);
  dm->SetSize(dm->ItemCount() - DeletePageCount);
  const int32_t first = FileRec.FirstMapPageNo;
  if (newMapPageCount < 1) {
    UFPMMaps.Delete(first);
    UFMaps.Delete(first);
    FileRec.FirstMapPageNo = -1;
  } else {
    SaveMapPages(newMapPageCount - 1, 1, *dm, *pm);
  }
  // The shortened map reaches the disk before its pages can go to another file.
  FSMHandle.FreePages(TempPages);
}

bool TUserFilePageMapManager::GetPages(TDirectoryElement& FileRec, bool IsAllocateAllowed, int64_t Offset, int64_t Size,
                                       TIntegerArray& pages) {
  bool Result = true;
  TIntegerArray* pm = nullptr;
  TIntegerArray* dm = nullptr;
  if (FileRec.FirstMapPageNo != -1) {
    GetMaps(FileRec, pm, dm);
  } else if (IsAllocateAllowed) {
    Result = SetSize(FileRec, true, Offset + Size);
  }
  if (Result && IsAllocateAllowed && Offset + Size > FileRec.FileSize && FileRec.FirstMapPageNo != -1)
    Result = SetSize(FileRec, true, Offset + Size);
  if (!Result) return false;
  pages.Clear();
  if (FileRec.FirstMapPageNo == -1) return true;
  GetMaps(FileRec, pm, dm);
  const int64_t d = PFMHandle.GetPageDataSize();
  const int64_t first = Offset / d;
  const int64_t last = (Offset + Size) / d;
  for (int64_t i = first; i <= last && i < dm->ItemCount(); ++i) pages.Append((*dm)[static_cast<int32_t>(i)]);
  return true;
}

bool TUserFilePageMapManager::SetSize(TDirectoryElement& FileRec, bool bWriteAppendedPages, int64_t NewSize) {
  FLastError = erOk;
  if (FileRec.FirstMapPageNo == -1) {
    if (NewSize == 0) return true;
    return AppendPages(FileRec, GetCoverPageCount(NewSize), bWriteAppendedPages);
  }
  TIntegerArray* pm = nullptr;
  TIntegerArray* dm = nullptr;
  GetMaps(FileRec, pm, dm);
  const int32_t N = GetCoverPageCount(NewSize);
  if (NewSize == FileRec.FileSize) return true;
  if (NewSize < FileRec.FileSize) {
    if (dm->ItemCount() > N) DeletePagesFromEOF(FileRec, dm->ItemCount() - N);
    return true;
  }
  if (N > dm->ItemCount()) return AppendPages(FileRec, N - dm->ItemCount(), bWriteAppendedPages);
  return true;
}

}  // namespace sfs
