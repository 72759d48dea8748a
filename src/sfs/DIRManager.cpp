#include "sfs/DIRManager.h"

#include <algorithm>
#include <chrono>
#include <climits>
#include <cstring>

#include "platform/Exception.h"
#include "sfs/FreeSpaceManager.h"
#include "sfs/PageFileManager.h"
#include "sfs/PasswordLink.h"
#include "sfs/StrFunc.h"

namespace sfs {

namespace {

bool IsSeparator(char c) { return c == '/' || c == '\\'; }

std::string Quoted(std::string_view s) {
  std::string out = "\"";
  for (char c : s) {
    if (c == '"') out += '"';
    out += c;
  }
  return out + "\"";
}

}  // namespace

void InitDirectoryElement(TDirectoryElement& Element) { std::memset(&Element, 0, sizeof(Element)); }

void SetFileName(std::string_view Name, TDirectoryElement& Element) {
  const size_t n = std::min<size_t>(Name.size(), MaxFileNameLength);
  std::memset(Element.FileName, 0, sizeof(Element.FileName));
  std::memcpy(Element.FileName, Name.data(), n);
}

std::string_view ElementName(const TDirectoryElement& Element) {
  const void* nul = std::memchr(Element.FileName, 0, MaxFileNameLength);
  const size_t n = nul ? static_cast<size_t>(static_cast<const char*>(nul) - Element.FileName) : MaxFileNameLength;
  return std::string_view(Element.FileName, n);
}

void SetCurrentTime(uint64_t& fTime) { fTime = NowFileTime(); }

uint64_t NowFileTime() {
  using namespace std::chrono;
  // Seconds between 1601-01-01 and 1970-01-01.
  constexpr int64_t cEpochDelta = 11644473600LL;
  int64_t secs = duration_cast<seconds>(system_clock::now().time_since_epoch()).count();
  secs -= secs % 2;
  return static_cast<uint64_t>((secs + cEpochDelta) * 10000000LL);
}

bool ExtractPathAndPattern(std::string_view InPath, std::string& OutPath, std::string& Pattern) {
  if (InPath.size() < 2) return false;
  for (size_t i = InPath.size() - 1; i-- > 0;) {
    if (!IsSeparator(InPath[i])) continue;
    OutPath = i == 0 ? std::string("\\") : std::string(InPath.substr(0, i));
    std::string_view rest = InPath.substr(i + 1);
    if (!rest.empty() && IsSeparator(rest.back())) rest.remove_suffix(1);
    Pattern = std::string(rest);
    return true;
  }
  return false;
}

// ---- TDIRArray ----------------------------------------------------------------------------------

void TDIRArray::SetSize(int32_t newSize) {
  if (newSize == 0) {
    Items.clear();
    NameIndex.Clear();
    ParentIndex.Clear();
    IndexElementsCount = 0;
    return;
  }
  if (newSize < ItemCount())
    throw platform::Exception("TDIRArray.SetSize - newSize < itemCount error.  newSize = " + std::to_string(newSize) +
                              " itemCount = " + std::to_string(ItemCount()));
  TDirectoryElement zero;
  InitDirectoryElement(zero);
  Items.resize(static_cast<size_t>(newSize), zero);
}

int TDIRArray::Compare(const TDirectoryElement& a, const TDirectoryElement& b, bool bByName) const {
  if (bByName) return AnsiCompTextNoCase(ElementName(a), ElementName(b));
  return a.ParentID < b.ParentID ? -1 : (a.ParentID > b.ParentID ? 1 : 0);
}

// Both indexes are ordered by their key and, among equal keys, by item number, so that an
// entry is found by binary search however long the run of its key (all files of one folder share
// their ParentID).
int32_t TDIRArray::LowerBound(const TBlockedIndex& index, const TDirectoryElement& value, bool bByName,
                              int32_t itemNo) const {
  return index.LowerBound([&](int32_t at) {
    const int c = Compare(Item(at), value, bByName);
    return c < 0 || (c == 0 && at < itemNo);
  });
}

int32_t TDIRArray::FindPositionForInsert(const TDirectoryElement& value, bool bByName, bool bInsert, bool bFirst) const {
  const TBlockedIndex& index = bByName ? NameIndex : ParentIndex;
  const int32_t n = IndexElementsCount;
  if (n == 0) return bInsert ? 0 : -1;
  if (bInsert) return LowerBound(index, value, bByName, INT32_MAX);  // after the entries of an equal key
  const int32_t lo = LowerBound(index, value, bByName, INT32_MIN);
  if (lo >= n || Compare(Item(index[lo]), value, bByName) != 0) return -1;
  (void)bFirst;  // lo is the first entry of the run in either case
  return lo;
}

int32_t TDIRArray::FindFileByName(std::string_view FileName, int32_t startDir) const {
  if (FileName.empty() || startDir < -1 || startDir >= ItemCount()) return erInvalidPath;
  if (FileName == "\\" || FileName == "/") return rootID;
  return FindFile(FileName, startDir);
}

int32_t TDIRArray::FindFile(std::string_view FileName, int32_t currentDir) const {
  size_t start = 0;
  while (start < FileName.size()) {
    size_t end = start;
    while (end < FileName.size() && !IsSeparator(FileName[end])) ++end;
    const std::string_view comp = FileName.substr(start, end - start);
    int32_t curDir = currentDir;
    if (comp.empty()) {
      if (start != 0) return erInvalidPath;
      curDir = rootID;
    } else if (comp == "..") {
      if (currentDir >= ItemCount()) return erInvalidCurrentDir;
      // The root is its own parent.
      if (currentDir >= 0) curDir = Item(currentDir).ParentID;
      // A damaged record may name a parent that does not exist.
      if (curDir < rootID || curDir >= ItemCount()) return erInvalidCurrentDir;
    } else {
      TDirectoryElement key;
      InitDirectoryElement(key);
      SetFileName(comp, key);
      const int32_t j = FindPositionForInsert(key, true, false, true);
      if (j < 0) return erInvalidPath;
      int32_t found = -1;
      for (int32_t i = j; i < IndexElementsCount; ++i) {
        const TDirectoryElement& e = Item(NameIndex[i]);
        if (Compare(e, key, true) != 0) break;  // past the run of this name
        if (e.ParentID == currentDir) {
          found = NameIndex[i];
          break;
        }
      }
      if (found < 0) return erInvalidCurrentDir;
      curDir = found;
    }
    currentDir = curDir;
    start = end + 1;
  }
  return currentDir;
}

void TDIRArray::AppendItem(const TDirectoryElement& value) {
  const int32_t itemNo = ItemCount();
  Items.push_back(value);
  if (value.IsDeleted) return;
  const int32_t np = FindPositionForInsert(value, true, true, false);
  const int32_t pp = FindPositionForInsert(value, false, true, false);
  NameIndex.Insert(np, itemNo);
  ParentIndex.Insert(pp, itemNo);
  ++IndexElementsCount;
}

int32_t TDIRArray::FindIndexEntry(const TBlockedIndex& index, const TDirectoryElement& value, bool bByName,
                                  int32_t itemNo) const {
  const int32_t pos = LowerBound(index, value, bByName, itemNo);
  return pos < IndexElementsCount && index[pos] == itemNo ? pos : -1;
}

void TDIRArray::UpdateItem(const TDirectoryElement& value, int32_t itemNo) {
  if (itemNo < 0 || itemNo >= ItemCount())
    throw platform::Exception("TDIRArray.UpdateItem - invalid itemNo = " + std::to_string(itemNo));
  const TDirectoryElement oldValue = Items[static_cast<size_t>(itemNo)];
  if (oldValue.IsDeleted && value.IsDeleted) {
    Items[static_cast<size_t>(itemNo)] = value;
    return;
  }
  // Take the old entries out while the old record is still in place, then insert the new ones.
  if (!oldValue.IsDeleted) {
    const int32_t oldNamePos = FindIndexEntry(NameIndex, oldValue, true, itemNo);
    if (oldNamePos < 0)
      throw platform::Exception("TDIRArray.UpdateItem - old name position not found. Position = " +
                                std::to_string(itemNo) + ", ItemCount = " + std::to_string(ItemCount()) +
                                ", FileName = " + Quoted(ElementName(oldValue)));
    const int32_t oldParentPos = FindIndexEntry(ParentIndex, oldValue, false, itemNo);
    if (oldParentPos < 0)
      throw platform::Exception("TDIRArray.UpdateItem - old parentID position not found. Position = " +
                                std::to_string(itemNo) + ", ItemCount = " + std::to_string(ItemCount()) +
                                ", ParentID = " + std::to_string(oldValue.ParentID));
    const bool sameName = Compare(oldValue, value, true) == 0;
    const bool sameParent = oldValue.ParentID == value.ParentID;
    if (!value.IsDeleted && sameName && sameParent) {
      Items[static_cast<size_t>(itemNo)] = value;
      return;
    }
    NameIndex.Delete(oldNamePos);
    ParentIndex.Delete(oldParentPos);
    --IndexElementsCount;
  }
  Items[static_cast<size_t>(itemNo)] = value;
  if (!value.IsDeleted) {
    const int32_t np = LowerBound(NameIndex, value, true, itemNo);
    const int32_t pp = LowerBound(ParentIndex, value, false, itemNo);
    // The entry of itemNo is out of both indexes here, so the search never compares against the
    // record it is placing.
    NameIndex.Insert(np, itemNo);
    ParentIndex.Insert(pp, itemNo);
    ++IndexElementsCount;
  }
}

void TDIRArray::ReadItem(int32_t itemNo, TDirectoryElement& value) const {
  if (itemNo < 0 || itemNo >= ItemCount())
    throw platform::Exception("TDIRArray.ReadItem - invalid itemNo = " + std::to_string(itemNo));
  value = Items[static_cast<size_t>(itemNo)];
}

void TDIRArray::BuildIndexes() {
  std::vector<int32_t> live;
  for (int32_t i = 0; i < ItemCount(); ++i)
    if (!Item(i).IsDeleted) live.push_back(i);
  IndexElementsCount = static_cast<int32_t>(live.size());
  std::vector<int32_t> byName = live;
  std::stable_sort(byName.begin(), byName.end(),
                   [&](int32_t a, int32_t b) { return Compare(Item(a), Item(b), true) < 0; });
  NameIndex.Assign(byName);
  std::stable_sort(live.begin(), live.end(), [&](int32_t a, int32_t b) { return Item(a).ParentID < Item(b).ParentID; });
  ParentIndex.Assign(live);
}

// ---- TDIRManager --------------------------------------------------------------------------------

TDIRManager::TDIRManager(TPageFileManager& PFM, TFreeSpaceManager& FSM) : FSMHandle(FSM), PFMHandle(PFM) {
  const TSingleFileHeader& h = PFM.FHeader;
  const TMapGeometry g = ComputeGeometry(h.PageSize, h.ExtentPageCount);
  FDIRElementsPerPage = g.DIRElementsPerPage;
  FDIRPageSize = g.DIRPageSize;
  auto fail = [](const std::string& text) { throw platform::Exception("TDIRManager.Load - " + text); };
  TPageBuffer page(PFM.GetPageDataSize());
  std::set<int32_t> seen;
  int32_t no = h.DIRFirstPageNo;
  for (int32_t i = 0; i < h.DIRPageCount; ++i) {
    if (!seen.insert(no).second) fail("the directory chain runs in a circle at page " + std::to_string(no) + ".");
    if (!PFM.ReadPage(page, no, false, {}, FDIRPageSize) || page.PageHeader.PageType != DIRPage)
      fail("can not load page, pageNo = " + std::to_string(no));
    FDIRPageMap.Append(no);
    for (int32_t s = 0; s < FDIRElementsPerPage && FDIR.ItemCount() < h.DIRElementsCount; ++s) {
      TDirectoryElement e;
      std::memcpy(&e, page.pData + s * DirElementSize, DirElementSize);
      if (e.FileName[MaxFileNameLength] != 0) FUnsavedPages.insert(i);
      e.FileName[MaxFileNameLength] = 0;
      FDIR.Items.push_back(e);
    }
    no = page.PageHeader.NextPageNo;
  }
  if (FDIR.ItemCount() != h.DIRElementsCount) fail("the directory holds fewer records than the header says.");
  FDIR.BuildIndexes();
  FOpenedFiles.SetSize(FDIR.ItemCount());
  for (int32_t i = 0; i < FDIR.ItemCount(); ++i)
    if (FDIR.Item(i).IsDeleted) FDeletedSlots.insert(i);
}

void TDIRManager::WriteDirPage(int32_t PageIndex, TFFPage& Page, const char* Method) {
  const int32_t first = PageIndex * FDIRElementsPerPage;
  const int32_t count = std::min(FDIRElementsPerPage, FDIR.ItemCount() - first);
  std::memset(Page.pData, 0, static_cast<size_t>(FDIRPageSize));
  if (count > 0) std::memcpy(Page.pData, &FDIR.Items[static_cast<size_t>(first)], static_cast<size_t>(count) * DirElementSize);
  const int32_t no = FDIRPageMap[PageIndex];
  if (!PFMHandle.WritePage(Page, no, {}, FDIRPageSize))
    throw platform::Exception(std::string("TDIRManager.") + Method + " - can not save page, pageNo = " + std::to_string(no));
}

bool TDIRManager::AddItem(const TDirectoryElement& item, int32_t& itemNo) {
  FLastError = erOk;
  if (!FDeletedSlots.empty()) {
    itemNo = *FDeletedSlots.begin();
    WriteItem(itemNo, item);
    return true;
  }
  TSingleFileHeader& h = PFMHandle.FHeader;
  TPageBuffer page(PFMHandle.GetPageDataSize());
  page.PageHeader.PageType = DIRPage;
  page.PageHeader.EncType = h.EncMethod;
  page.PageHeader.CrcType = cCrcTypeFast;
  page.PageHeader.NextPageNo = -1;
  bool newPage = false;
  if (int64_t{h.DIRPageCount} * FDIRElementsPerPage == h.DIRElementsCount) {
    const bool bUniform = h.DIRPageCount > UNIFORM_MIN_PAGE_COUNT;
    const int32_t StartPage = FDIRPageMap.ItemCount() > 0 ? FDIRPageMap.Last() : h.HDRPageCount;
    TIntegerArray pages;
    if (!FSMHandle.GetPages(1, StartPage, pages, bUniform)) {
      FLastError = erDiskFull;
      return false;
    }
    const int32_t newNo = pages[0];
    if (FDIRPageMap.ItemCount() > 0) {
      TFFPage last;
      const int32_t lastNo = FDIRPageMap.Last();
      if (!PFMHandle.ReadPage(last, lastNo, false, {}, 0))
        throw platform::Exception("TDIRManager.AddItem - can not load last page, pageNo = " + std::to_string(lastNo));
      last.PageHeader.NextPageNo = newNo;
      if (!PFMHandle.WritePage(last, lastNo, {}, 0))
        throw platform::Exception("TDIRManager.AddItem - can not save last page, pageNo = " + std::to_string(lastNo));
    } else {
      h.DIRFirstPageNo = newNo;
    }
    FDIRPageMap.Append(newNo);
    h.DIRPageCount += 1;
    newPage = true;
  }
  h.DIRElementsCount += 1;
  FDIR.AppendItem(item);
  FOpenedFiles.Append(0);
  itemNo = FDIR.ItemCount() - 1;
  SaveRecordPage(itemNo / FDIRElementsPerPage, page, !newPage && itemNo % FDIRElementsPerPage != 0, "AddItem");
  PFMHandle.SaveSFHeader();
  if (item.IsDeleted) FDeletedSlots.insert(itemNo);
  return true;
}

void TDIRManager::WriteItem(int32_t ItemNo, const TDirectoryElement& item) {
  const int32_t pageIndex = ItemNo / FDIRElementsPerPage;
  // Opening a file stamps its access time, which counts in steps of two seconds: most opens
  // would write the page exactly as it stands.
  const bool unchanged = ItemNo >= 0 && ItemNo < FDIR.ItemCount() && !FUnsavedPages.contains(pageIndex) &&
                         std::memcmp(&FDIR.Item(ItemNo), &item, sizeof item) == 0;
  FDIR.UpdateItem(item, ItemNo);
  if (item.IsDeleted) {
    FOpenedFiles[ItemNo] = 0;
    FDeletedSlots.insert(ItemNo);
  } else {
    FDeletedSlots.erase(ItemNo);
  }
  if (unchanged) return;
  TPageBuffer page(PFMHandle.GetPageDataSize());
  SaveRecordPage(pageIndex, page, true, "WriteItem");
}

// Writes a page of records after they changed in memory; bReadHeader takes the page header from
// the disk. Until that succeeds, the page counts as unsaved.
void TDIRManager::SaveRecordPage(int32_t PageIndex, TFFPage& Page, bool bReadHeader, const char* Method) {
  FUnsavedPages.insert(PageIndex);
  const int32_t no = FDIRPageMap[PageIndex];
  if (bReadHeader && !PFMHandle.ReadPage(Page, no, false, {}, 0))
    throw platform::Exception(std::string("TDIRManager.") + Method +
                              " - can not load  page, pageNo = " + std::to_string(no));
  WriteDirPage(PageIndex, Page, Method);
  FUnsavedPages.erase(PageIndex);
}

int32_t TDIRManager::FileCreate(const std::string& FileName, const std::string& Password, const std::string& Question,
                                const std::string& Answer) {
  if (FileName.empty() || FileName == "\\" || FileName == "/") return -1;
  TDirectoryElement e;
  InitDirectoryElement(e);
  std::string path, name;
  int32_t folder = CurrentDir;
  if (ExtractPathAndPattern(FileName, path, name)) {
    folder = FDIR.FindFileByName(path, CurrentDir);
  } else {
    name = FileName;
    if (IsSeparator(name.back())) name.pop_back();
  }
  if (folder < -1 || name.empty()) return -1;
  SetFileName(name, e);
  e.ParentID = folder;
  if (!Password.empty()) {
    e.EncMethod = encRijndael;
    MakePasswordHeader(e.PasswordHeader, Password, Question, Answer);
    std::string key;
    CheckPasswordHeader(e.PasswordHeader, Password, key);
    MakeKeyCheck(key, reinterpret_cast<uint8_t*>(e.Reserved2));
  }
  e.FirstMapPageNo = -1;
  e.FileSize = 0;
  e.CreationTime = NowFileTime();
  e.LastModifiedTime = e.CreationTime;
  e.LastAccessTime = e.CreationTime;
  e.Attributes = 0;
  e.IsFolder = 0;
  int32_t itemNo = -1;
  if (!AddItem(e, itemNo)) return -1;
  return itemNo;
}

int32_t TDIRManager::FileOpen(const std::string& FileName, const std::string& Password, std::string& Key) {
  const int32_t item = FindByName(FileName);
  if (item < 0) return -1;
  TDirectoryElement e;
  FDIR.ReadItem(item, e);
  if (e.IsFolder) return -1;
  FOpenedFiles[item] += 1;
  Key.clear();
  if (e.EncMethod != 0) CheckPasswordHeader(e.PasswordHeader, Password, Key);
  if (!PFMHandle.ReadOnly()) {
    e.LastAccessTime = NowFileTime();
    WriteItem(item, e);
  }
  return item;
}

void TDIRManager::FileClose(int32_t ItemNo) {
  if (ItemNo >= 0 && ItemNo < FOpenedFiles.ItemCount() && FOpenedFiles[ItemNo] > 0) FOpenedFiles[ItemNo] -= 1;
}

int32_t TDIRManager::GetOpenFiles(int32_t ItemNo) const {
  if (ItemNo < 0 || ItemNo >= FOpenedFiles.ItemCount()) return -1;
  return FOpenedFiles[ItemNo];
}

bool TDIRManager::IsPasswordValid(const std::string& FileName, const std::string& Password) const {
  const int32_t item = FindByName(FileName);
  if (item < 0 || item >= FDIR.ItemCount()) return false;
  const TDirectoryElement& e = FDIR.Item(item);
  if (e.EncMethod == 0) return true;
  std::string key;
  return CheckPasswordHeader(e.PasswordHeader, Password, key) &&
         VerifyKeyCheck(key, reinterpret_cast<const uint8_t*>(e.Reserved2));
}

}  // namespace sfs
