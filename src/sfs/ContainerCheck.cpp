// The integrity check of an open container: every page is read back and every map, record and
// page map is cross-checked against the others.
#include <algorithm>
#include <cstring>
#include <map>
#include <set>

#include "platform/Exception.h"
#include "sfs/DIRManager.h"
#include "sfs/FreeSpaceManager.h"
#include "sfs/PageFileManager.h"
#include "sfs/SingleFileSystem.h"
#include "sfs/StrFunc.h"
#include "sfs/UserFilePageMapManager.h"

namespace sfs {

namespace {

bool AllZero(const uint8_t* p, size_t n) {
  for (size_t i = 0; i < n; ++i)
    if (p[i]) return false;
  return true;
}

bool ReservedClear(const TPageHeader& h) { return h.reserved1 == 0 && AllZero(h.reserved2, sizeof(h.reserved2)); }

}  // namespace

std::vector<std::string> TSingleFileSystem::CheckIntegrity() {
  std::vector<std::string> problems;
  auto report = [&](const std::string& s) {
    if (problems.size() < 1000) problems.push_back(s);
  };
  TPageFileManager& pfm = *FPFM;
  const TSingleFileHeader& h = pfm.FHeader;
  const int32_t total = h.TOTALPageCount;
  const int32_t dataSize = pfm.GetPageDataSize();
  const TMapGeometry g = ComputeGeometry(h.PageSize, h.ExtentPageCount);
  TSFSHugeFile& file = pfm.SFSFile();

  // The header on disk is the header in memory, with a valid checksum and a clean rest of page 0.
  {
    std::vector<uint8_t> page0(static_cast<size_t>(h.PageSize), 0);
    file.SetPosition(0);
    const int32_t got = file.Read(page0.data(), h.PageSize);
    if (got < SingleFileHeaderSize || std::memcmp(page0.data(), &h, SingleFileHeaderSize) != 0)
      report("header: the container header on disk differs from the one in use");
    else if (!AllZero(page0.data() + SingleFileHeaderSize, static_cast<size_t>(got - SingleFileHeaderSize)))
      report("header: unused bytes of page 0 are not zero");
  }

  // Owner of every page: what refers to it.
  std::vector<std::string> owner(static_cast<size_t>(std::max(total, 1)));
  owner[0] = "the header";
  auto claim = [&](int32_t page, const std::string& who) -> bool {
    if (page < 1 || page >= total) {
      report(who + ": page " + std::to_string(page) + " lies outside the page space");
      return false;
    }
    std::string& o = owner[static_cast<size_t>(page)];
    if (!o.empty()) {
      report("page " + std::to_string(page) + " is used twice: by " + o + " and by " + who);
      return false;
    }
    o = who;
    if (FFSM->IsPageFree(page)) report("page " + std::to_string(page) + " is used by " + who + " but marked free");
    return true;
  };
  TPageBuffer page(dataSize);
  // Reads a page, checks its checksum, its type and the bytes a checksum does not cover.
  // Enc: the encryption type the page must carry; for data pages (enc = cDataPage + expected
  // type) a page never written since it was appended is zero and unenciphered.
  constexpr int cDataPage = 16;
  auto verify = [&](int32_t no, uint8_t type, int32_t size, const std::string& who, bool nextIsNone,
                    int enc) -> bool {
    bool read = false;
    try {
      read = pfm.ReadPage(page, no, true, {}, size);
    } catch (const platform::Exception&) {
      pfm.FLastError = erReadPageHeaderError;  // the page starts past the end of the file
    }
    if (!read) {
      report(who + ": page " + std::to_string(no) + " cannot be read back (error " + std::to_string(pfm.FLastError) + ")");
      return false;
    }
    bool ok = true;
    if (page.PageHeader.PageType != type) {
      report(who + ": page " + std::to_string(no) + " has page type " + std::to_string(page.PageHeader.PageType));
      ok = false;
    }
    bool encOk = page.PageHeader.EncType == enc;
    if (enc >= cDataPage) {
      const bool zero = AllZero(page.pData, static_cast<size_t>(size));
      encOk = enc == cDataPage + encNone ? page.PageHeader.EncType == encNone
                                         : (page.PageHeader.EncType == encRijndael && !zero) ||
                                               (page.PageHeader.EncType == encNone && zero);
    }
    if (page.PageHeader.CrcType != cCrcTypeFast || !ReservedClear(page.PageHeader) || !encOk ||
        (nextIsNone && page.PageHeader.NextPageNo != -1)) {
      report(who + ": page " + std::to_string(no) + " has a damaged page header");
      ok = false;
    }
    if (size < dataSize) {
      std::vector<uint8_t> tail(static_cast<size_t>(dataSize - size));
      file.SetPosition(pfm.PageNoToOffset(no) + PageHeaderSize + size);
      const int32_t got = file.Read(tail.data(), static_cast<int32_t>(tail.size()));
      if (!AllZero(tail.data(), static_cast<size_t>(std::max(got, 0)))) {
        report(who + ": page " + std::to_string(no) + " has bytes past its data");
        ok = false;
      }
    }
    return ok;
  };

  // Free-space maps: placement, content as loaded, and the extent states.
  const TIntegerArray& pfsMap = FFSM->PFSPageMap();
  for (int32_t i = 0; i < pfsMap.ItemCount(); ++i) {
    const std::string who = "PFS page " + std::to_string(i);
    if (claim(pfsMap[i], who)) verify(pfsMap[i], PFSPage, g.PFSPageSize, who, true, encNone);
  }
  const TIntegerArray& gamMap = FFSM->GAMPageMap();
  for (int32_t i = 0; i < gamMap.ItemCount(); ++i) {
    const std::string who = "GAM page " + std::to_string(i);
    if (claim(gamMap[i], who)) verify(gamMap[i], GAMPage, g.GAMPageSize, who, true, encNone);
    if (claim(gamMap[i] + 1, "SGAM page " + std::to_string(i)))
      verify(gamMap[i] + 1, SGAMPage, g.GAMPageSize, "SGAM page " + std::to_string(i), true, encNone);
  }
  for (int32_t e = 0; e < FFSM->ExtentCount(); ++e) {
    if (!FFSM->IsExtentFree(e)) continue;
    for (int32_t k = 0; k < h.ExtentPageCount; ++k) {
      const int32_t p = h.HDRPageCount + e * h.ExtentPageCount + k;
      if (!FFSM->IsPageFree(p)) {
        report("extent " + std::to_string(e) + " is marked free but page " + std::to_string(p) + " is in use");
        break;
      }
    }
  }

  // Directory pages and records.
  const TIntegerArray& dirMap = FDM->DIRPageMap();
  for (int32_t i = 0; i < dirMap.ItemCount(); ++i) {
    const std::string who = "directory page " + std::to_string(i);
    if (claim(dirMap[i], who) && verify(dirMap[i], DIRPage, g.DIRPageSize, who, false, h.EncMethod)) {
      const bool last = i + 1 == dirMap.ItemCount();
      if (!last && page.PageHeader.NextPageNo != dirMap[i + 1]) report(who + ": the directory chain is broken");
      if (last && page.PageHeader.NextPageNo != -1) report(who + ": the last directory page does not end the chain");
      if (last) {
        // Slots past the last record are zero. A record there is one whose creation stopped
        // after its page was written and before the header counted it: it is named.
        const int32_t used = h.DIRElementsCount - i * g.DIRElementsPerPage;  // 1 to a page, as loaded
        pfm.DecodeBuffer(page.pData, g.DIRPageSize, pfm.FKey, page.PageHeader.EncType);
        const uint8_t* rest = page.pData + used * DirElementSize;
        if (!AllZero(rest, static_cast<size_t>((g.DIRElementsPerPage - used) * DirElementSize))) {
          TDirectoryElement stray;
          std::memcpy(&stray, rest, DirElementSize);
          stray.FileName[MaxFileNameLength] = 0;
          report(who + ": slots past the last record are not empty (\"" + std::string(ElementName(stray)) + "\")");
        }
      }
    }
  }
  const TDIRArray& dir = FDM->DIR();
  std::set<std::pair<int32_t, std::string>> names;
  for (int32_t i = 0; i < dir.ItemCount(); ++i) {
    const TDirectoryElement& e = dir.Item(i);
    const std::string who = "record " + std::to_string(i) + " (\"" + std::string(ElementName(e)) + "\")";
    if (e.IsDeleted) {
      if (e.FirstMapPageNo != -1 || e.FileSize != 0) report(who + ": a deleted record still holds pages");
      continue;
    }
    if (ElementName(e).empty()) report(who + ": empty name");
    if (e.IsFolder > 1 || e.IsDeleted > 1 || e.EncMethod > encRijndael) report(who + ": invalid flags");
    if (e.ParentID < -1 || e.ParentID >= dir.ItemCount() || e.ParentID == i ||
        (e.ParentID >= 0 && (dir.Item(e.ParentID).IsDeleted || !dir.Item(e.ParentID).IsFolder)))
      report(who + ": its folder " + std::to_string(e.ParentID) + " is not a folder");
    else {
      // A folder further up with a parent out of range is reported as its own record.
      int32_t p = e.ParentID;
      int32_t steps = 0;
      for (; p >= 0 && p < dir.ItemCount() && steps <= dir.ItemCount(); ++steps) p = dir.Item(p).ParentID;
      if (p >= 0 && steps > dir.ItemCount()) report(who + ": its folders form a circle");
    }
    std::string upper;
    for (char c : ElementName(e)) upper += static_cast<char>(AnsiUpperChar(static_cast<uint8_t>(c)));
    if (!names.insert({e.ParentID, upper}).second) report(who + ": a second record of that name in the same folder");
    if (e.FileSize < 0) report(who + ": negative size");
    if (e.IsFolder) {
      if (e.FirstMapPageNo != -1 || e.FileSize != 0) report(who + ": a folder with content");
      continue;
    }
    // The page map: exactly the map pages the size needs, exactly the data pages it covers.
    const int64_t p64 = e.FileSize < 0 ? 0 : e.FileSize / dataSize + (e.FileSize % dataSize ? 1 : 0);
    if (p64 > INT32_MAX) continue;
    const int32_t P = static_cast<int32_t>(p64);
    const int32_t M = FUFM->MapPagesFor(P);
    if (e.FirstMapPageNo == -1) {
      if (P != 0) report(who + ": size " + std::to_string(e.FileSize) + " but no pages");
      continue;
    }
    std::vector<int32_t> data;
    int32_t no = e.FirstMapPageNo;
    int32_t chain = 0;
    bool broken = false;
    while (no != -1) {
      const std::string mwho = who + " map page " + std::to_string(chain);
      if (!claim(no, mwho) || !verify(no, UFPMPage, dataSize, mwho, false, encNone)) {
        broken = true;
        break;
      }
      ++chain;
      const int32_t take = std::min(FUFM->PagesPerMapPage(), P - static_cast<int32_t>(data.size()));
      for (int32_t k = 0; k < take; ++k) {
        int32_t v;
        std::memcpy(&v, page.pData + 4 * k, 4);
        data.push_back(v);
      }
      no = page.PageHeader.NextPageNo;
      // Entries past the file's pages are written as zero: a size too small shows here.
      if (no == -1 && take >= 0 &&
          !AllZero(page.pData + 4 * take, static_cast<size_t>(4 * (FUFM->PagesPerMapPage() - take))))
        report(who + ": size " + std::to_string(e.FileSize) + " does not match its page map (pages listed past its end)");
    }
    if (!broken && (chain != std::max(M, 1) || static_cast<int32_t>(data.size()) != P))
      report(who + ": size " + std::to_string(e.FileSize) + " does not match its page map (" + std::to_string(chain) +
             " map pages for " + std::to_string(data.size()) + " data pages)");
    for (size_t k = 0; k < data.size(); ++k) {
      const std::string dwho = who + " data page " + std::to_string(k);
      if (claim(data[k], dwho)) verify(data[k], UFPage, dataSize, dwho, true,
                                       cDataPage + (e.EncMethod != encNone ? e.EncMethod : h.EncMethod));
    }
  }

  // Pages marked used must belong to something.
  for (int32_t p = h.HDRPageCount; p < total; ++p)
    if (owner[static_cast<size_t>(p)].empty() && !FFSM->IsPageFree(p))
      report("page " + std::to_string(p) + " is marked used but belongs to nothing");
  return problems;
}

}  // namespace sfs
