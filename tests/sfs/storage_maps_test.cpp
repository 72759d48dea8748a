// Free-space maps and file page maps.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <memory>
#include <random>

#include "platform/Exception.h"
#include "sfs/AbstractFile.h"
#include "sfs/FreeSpaceManager.h"
#include "sfs/PageFileManager.h"
#include "sfs/SingleFileSystem.h"
#include "sfs/UserFilePageMapManager.h"
#include "storage_support.h"

using namespace sfs;

namespace {

std::vector<int32_t> Pages(const TIntegerArray& a) { return a.Items; }

TSFSCreateOptions Geometry(int32_t pageSize, int32_t extent = 8) {
  TSFSCreateOptions o;
  o.PageSize = pageSize;
  o.ExtentPageCount = extent;
  return o;
}

// A bit-by-bit model of the allocation rules, with the counters kept as the rules state them.
struct TModel {
  int32_t E, pfsExt, gamExt;
  std::vector<bool> pfs, gam, sgam;  // pfs per internal page, gam/sgam per extent (covered range)
  int32_t freeExt = 0, mixedExt = 0, extents = 0, pfsPages = 0, gamPages = 0, total = 1;

  TModel(int32_t pageSize, int32_t e) : E(e) {
    const TMapGeometry g = ComputeGeometry(pageSize, e);
    pfsExt = g.PFSExtentsPerPage;
    gamExt = g.GAMExtentsPerPage;
  }
  void Use(int32_t x, int32_t count, std::vector<int32_t>& out, bool uniform) {
    const int32_t first = x * E;
    for (int32_t k = first; k < first + E && static_cast<int32_t>(out.size()) < count; ++k) {
      if (!pfs[static_cast<size_t>(k)]) continue;
      pfs[static_cast<size_t>(k)] = false;
      out.push_back(k + 1);
      if (k == first) {
        if (freeExt > 0 && gam[static_cast<size_t>(x)] && !sgam[static_cast<size_t>(x)]) --freeExt;
        gam[static_cast<size_t>(x)] = false;
        if (uniform) {
          sgam[static_cast<size_t>(x)] = false;
        } else {
          sgam[static_cast<size_t>(x)] = true;
          ++mixedExt;
        }
      }
      if (k == first + E - 1) {
        if (sgam[static_cast<size_t>(x)]) --mixedExt;
        gam[static_cast<size_t>(x)] = sgam[static_cast<size_t>(x)] = false;
      }
    }
  }
  std::vector<int32_t> Get(int32_t count, int32_t start, bool uniform) {
    std::vector<int32_t> out;
    int32_t cur = (start - 1) / E;
    if (cur < extents) Use(cur, count, out, uniform); else cur = 0;
    auto scan = [&] {
      for (; cur < extents && static_cast<int32_t>(out.size()) < count; ++cur)
        if (gam[static_cast<size_t>(cur)] || (sgam[static_cast<size_t>(cur)] && !uniform)) Use(cur, count, out, uniform);
    };
    if ((uniform && freeExt > 0) || (!uniform && (mixedExt > 0 || freeExt > 0))) {
      cur = 0;
      scan();
    }
    if (static_cast<int32_t>(out.size()) < count) {
      const int32_t rest = count - static_cast<int32_t>(out.size());
      int32_t newPages = 0, added = 0;
      while (newPages < rest) {
        const int32_t x = extents + added;
        pfs.resize(static_cast<size_t>((x + 1) * E + E * 4), true);
        gam.resize(static_cast<size_t>(x + 8), true);
        sgam.resize(static_cast<size_t>(x + 8), false);
        const bool bPFS = x == pfsExt * pfsPages, bGAM = x == gamExt * gamPages;
        if (bPFS || bGAM) {
          ++pfsPages;
          pfs[static_cast<size_t>(x * E)] = false;
          if (bGAM) {
            ++gamPages;
            pfs[static_cast<size_t>(x * E + 1)] = pfs[static_cast<size_t>(x * E + 2)] = false;
          }
          const int32_t n = bGAM ? 3 : 1, whole = n / E, part = n % E, used = whole + (part > 0);
          for (int32_t y = x; y <= x + used - 2; ++y) gam[static_cast<size_t>(y)] = sgam[static_cast<size_t>(y)] = false;
          const int32_t last = x + whole - (part == 0 ? 1 : 0);
          gam[static_cast<size_t>(last)] = false;
          sgam[static_cast<size_t>(last)] = part > 0;
          if (part > 0) {
            ++mixedExt;
            if (!uniform) newPages += E - part;
          }
          added += used;
        } else {
          newPages += E;
          ++freeExt;
          ++added;
        }
      }
      extents += added;
      total += added * E;
      scan();
    }
    return out;
  }
  void Free(std::vector<int32_t> pages) {
    std::vector<int32_t> touched;
    for (int32_t p : pages) {
      pfs[static_cast<size_t>(p - 1)] = true;
      touched.push_back((p - 1) / E);
    }
    for (int32_t x : touched) {
      bool all = true;
      for (int32_t k = x * E; k < x * E + E; ++k) all = all && pfs[static_cast<size_t>(k)];
      if (all && !gam[static_cast<size_t>(x)]) {
        if (sgam[static_cast<size_t>(x)]) --mixedExt;
        gam[static_cast<size_t>(x)] = true;
        sgam[static_cast<size_t>(x)] = false;
        ++freeExt;
      }
    }
  }
};

}  // namespace

TEST(StorageFreeSpace, FirstAllocationInAnEmptyContainer) {
  TSingleFileSystem fs;
  fs.CreateInMemory();
  TIntegerArray pages;
  ASSERT_TRUE(fs.FSM().GetPages(1, 1, pages, false));
  EXPECT_EQ(Pages(pages), std::vector<int32_t>({4}));  // pages 1-3 are the PFS, GAM and SGAM pages
  EXPECT_EQ(fs.FSM().PFSPageMap()[0], 1);
  EXPECT_EQ(fs.FSM().GAMPageMap()[0], 2);
  EXPECT_TRUE(fs.FSM().IsExtentMixed(0));
  EXPECT_EQ(fs.FSM().MixedExtentCount(), 1);
  EXPECT_EQ(+fs.Header().TOTALPageCount, 9);
  EXPECT_EQ(+fs.Header().PFSPageCount, 1);
  EXPECT_EQ(+fs.Header().GAMPageCount, 1);
  // The extent's other free pages served a larger first request too: 4 more fit.
  ASSERT_TRUE(fs.FSM().GetPages(4, 1, pages, false));
  EXPECT_EQ(Pages(pages), std::vector<int32_t>({5, 6, 7, 8}));
  EXPECT_FALSE(fs.FSM().IsExtentMixed(0));  // its last page went: full
  EXPECT_EQ(fs.FSM().MixedExtentCount(), 0);
  EXPECT_EQ(+fs.Header().TOTALPageCount, 9);
}

TEST(StorageFreeSpace, UniformAndMixedExtents) {
  TSingleFileSystem fs;
  fs.CreateInMemory();
  TIntegerArray pages;
  // A uniform first request skips the mixed map extent and takes a whole new extent.
  ASSERT_TRUE(fs.FSM().GetPages(2, 1000, pages, true));
  EXPECT_EQ(Pages(pages), std::vector<int32_t>({9, 10}));
  EXPECT_FALSE(fs.FSM().IsExtentFree(1));
  EXPECT_FALSE(fs.FSM().IsExtentMixed(1));  // full, although six of its pages are free
  EXPECT_TRUE(fs.FSM().IsPageFree(11));
  // A mixed request now takes the map extent's free pages, never the reserved extent's.
  ASSERT_TRUE(fs.FSM().GetPages(6, 1000, pages, false));
  EXPECT_EQ(Pages(pages), std::vector<int32_t>({4, 5, 6, 7, 8, 17}));
  EXPECT_TRUE(fs.FSM().IsExtentMixed(2));  // a free extent that gave a page becomes mixed
  // The preferred extent is tried first, whatever its state: the reserved extent's free pages.
  ASSERT_TRUE(fs.FSM().GetPages(2, 11, pages, true));
  EXPECT_EQ(Pages(pages), std::vector<int32_t>({11, 12}));
}

TEST(StorageFreeSpace, FreeingReleasesExtentsAndShortensTheFile) {
  TSingleFileSystem fs;
  fs.CreateInMemory();
  TIntegerArray pages;
  ASSERT_TRUE(fs.FSM().GetPages(16, 1000, pages, true));  // extents 1 and 2, full
  EXPECT_EQ(+fs.Header().TOTALPageCount, 25);
  const int64_t fullSize = fs.PFM().SFSFile().GetSize();
  TIntegerArray some;
  some.Append(9);
  some.Append(10);
  fs.FSM().FreePages(some);
  EXPECT_TRUE(fs.FSM().IsPageFree(9));
  EXPECT_FALSE(fs.FSM().IsExtentFree(1));  // part of a full extent: the extent stays full
  TIntegerArray rest;
  for (int32_t p = 11; p <= 24; ++p) rest.Append(p);
  fs.FSM().FreePages(rest);
  EXPECT_TRUE(fs.FSM().IsExtentFree(1));
  EXPECT_TRUE(fs.FSM().IsExtentFree(2));
  EXPECT_EQ(fs.FSM().FreeExtentCount(), 2);
  // The file is cut below the freed pages (pages 9 and 10 were freed earlier and do not count:
  // the cut follows the pages freed in this call); the page space keeps its size.
  EXPECT_EQ(+fs.Header().TOTALPageCount, 25);
  EXPECT_EQ(fs.PFM().SFSFile().GetSize(), 11 * 4096);
  EXPECT_LT(fs.PFM().SFSFile().GetSize(), fullSize);
  // Pages past the cut are handed out again and get their bytes back.
  ASSERT_TRUE(fs.FSM().GetPages(1, 9, pages, true));
  EXPECT_EQ(Pages(pages), std::vector<int32_t>({9}));
  EXPECT_GE(fs.PFM().SFSFile().GetSize(), 10 * 4096);
  EXPECT_TRUE(fs.CheckIntegrity().size() == 1);  // page 9 belongs to no file here
}

TEST(StorageFreeSpace, SecondMapPagesWhenTheRangeGrows) {
  TSingleFileSystem fs;
  fs.CreateInMemory(Geometry(1024));  // 992 extents per PFS page, 7936 per GAM page
  const TMapGeometry g = ComputeGeometry(1024, 8);
  TIntegerArray pages;
  ASSERT_TRUE(fs.FSM().GetPages((g.PFSExtentsPerPage - 1) * 8, 1000000, pages, true));
  EXPECT_EQ(fs.FSM().ExtentCount(), g.PFSExtentsPerPage);
  EXPECT_EQ(+fs.Header().PFSPageCount, 1);
  ASSERT_TRUE(fs.FSM().GetPages(1, 1000000, pages, true));
  EXPECT_EQ(+fs.Header().PFSPageCount, 2);
  EXPECT_EQ(+fs.Header().GAMPageCount, 1);
  EXPECT_EQ(fs.FSM().PFSPageMap()[1], 1 + g.PFSExtentsPerPage * 8);
  EXPECT_FALSE(fs.FSM().IsPageFree(1 + g.PFSExtentsPerPage * 8));
  EXPECT_TRUE(fs.FSM().IsExtentMixed(g.PFSExtentsPerPage));
  // The maps reload from their pages as they were.
  const auto image = fs.SaveToImage();
  TSingleFileSystem again;
  again.OpenFromImage(image);
  EXPECT_EQ(again.FSM().ExtentCount(), fs.FSM().ExtentCount());
  EXPECT_EQ(again.FSM().MixedExtentCount(), fs.FSM().MixedExtentCount());
  EXPECT_EQ(again.FSM().FreeExtentCount(), fs.FSM().FreeExtentCount());
  EXPECT_EQ(again.FSM().GetFreePageCount(), fs.FSM().GetFreePageCount());
}

TEST(StorageFreeSpace, ChoosesTheSamePagesAsABitByBitScan) {
  for (int32_t extent : {8, 3, 1}) {
    TSingleFileSystem fs;
    fs.CreateInMemory(Geometry(1024, extent));
    TModel model(1024, extent);
    std::mt19937 rng(static_cast<uint32_t>(extent));
    std::vector<int32_t> owned;
    // Enough steps with one-page extents that the maps span many words, freed and reused.
    for (int step = 0, steps = extent == 1 ? 1500 : 400; step < steps; ++step) {
      if (!owned.empty() && rng() % 3 == 0) {
        std::shuffle(owned.begin(), owned.end(), rng);
        const size_t n = 1 + rng() % std::min<size_t>(owned.size(), 40);
        std::vector<int32_t> give(owned.end() - static_cast<std::ptrdiff_t>(n), owned.end());
        owned.resize(owned.size() - n);
        TIntegerArray arr;
        for (int32_t p : give) arr.Append(p);
        fs.FSM().FreePages(arr);
        model.Free(give);
        continue;
      }
      const int32_t count = 1 + static_cast<int32_t>(rng() % 30);
      const bool uniform = rng() % 2 == 0;
      const int32_t start = 1 + static_cast<int32_t>(rng() % static_cast<uint32_t>(model.total + 10));
      TIntegerArray got;
      ASSERT_TRUE(fs.FSM().GetPages(count, start, got, uniform));
      const auto want = model.Get(count, start, uniform);
      ASSERT_EQ(Pages(got), want) << "extent " << extent << " step " << step;
      owned.insert(owned.end(), want.begin(), want.end());
    }
    EXPECT_EQ(+fs.Header().TOTALPageCount, model.total);
  }
}

TEST(StorageFreeSpace, FailedGrowthLeavesTheMapsAsTheyWere) {
  auto plan = std::make_shared<TSFSFaultPlan>();
  plan->Kinds = TSFSFaultPlan::fkSize;
  TSingleFileSystem fs;
  fs.SetFaultPlan(plan);
  fs.CreateInMemory();
  TIntegerArray pages;
  ASSERT_TRUE(fs.FSM().GetPages(3, 1, pages, false));
  const auto before = fs.SaveToImage();
  const int64_t freePages = fs.FSM().GetFreePageCount();
  plan->FailAt = plan->Count + 1;
  EXPECT_FALSE(fs.FSM().GetPages(40, 1, pages, true));
  EXPECT_EQ(pages.ItemCount(), 0);
  EXPECT_EQ(fs.FSM().GetFreePageCount(), freePages);
  EXPECT_EQ(fs.FSM().ExtentCount(), 1);
  EXPECT_EQ(+fs.Header().TOTALPageCount, 9);
  EXPECT_EQ(fs.SaveToImage(), before);
  plan->FailAt = -1;
  ASSERT_TRUE(fs.FSM().GetPages(2, 1, pages, false));
  EXPECT_EQ(Pages(pages), std::vector<int32_t>({7, 8}));
}

// Allocations in a batch change the maps in memory only; committing writes the same bytes as
// separate allocations in fewer writes, and a batch left without committing, or whose write
// failed, leaves the maps as they were in memory and on disk.
TEST(StorageFreeSpace, BatchWritesItsMapsOnceOrLeavesThemAsTheyWere) {
  TSingleFileSystem base;
  base.CreateInMemory();
  TIntegerArray pages;
  ASSERT_TRUE(base.FSM().GetPages(3, 1, pages, false));
  const auto image = base.SaveToImage();
  // A mixed page and a uniform run that makes the page space grow, as a new file takes them.
  const auto allocate = [](TSingleFileSystem& fs, std::vector<int32_t>& got) {
    TIntegerArray a, b;
    ASSERT_TRUE(fs.FSM().GetPages(1, 1, a, false));
    ASSERT_TRUE(fs.FSM().GetPages(20, 1, b, true));
    got = Pages(a);
    got.insert(got.end(), b.Items.begin(), b.Items.end());
  };
  auto plan = std::make_shared<TSFSFaultPlan>();
  plan->Kinds = TSFSFaultPlan::fkWrite;
  plan->FailAt = INT64_MAX;  // counts, never fails
  const auto open = [&] {
    auto fs = std::make_unique<TSingleFileSystem>();
    fs->SetFaultPlan(plan);
    fs->OpenFromImage(image);
    plan->Count = 0;
    return fs;
  };

  auto separate = open();
  std::vector<int32_t> separatePages;
  allocate(*separate, separatePages);
  const int64_t separateWrites = plan->Count;

  auto batched = open();
  std::vector<int32_t> batchedPages;
  {
    TFreeSpaceManager::TBatch batch(batched->FSM());
    allocate(*batched, batchedPages);
    EXPECT_EQ(plan->Count, 0) << "written before the commit";
    batch.Commit();
  }
  EXPECT_EQ(batchedPages, separatePages);
  EXPECT_LT(plan->Count, separateWrites);
  EXPECT_EQ(batched->SaveToImage(), separate->SaveToImage());

  // Left without committing, and with its write failing: as before, and it allocates the same
  // pages again.
  for (const bool commit : {false, true}) {
    auto fs = open();
    const int64_t freePages = fs->FSM().GetFreePageCount();
    plan->FailAt = commit ? 1 : INT64_MAX;
    {
      TFreeSpaceManager::TBatch batch(fs->FSM());
      std::vector<int32_t> got;
      allocate(*fs, got);
      if (commit) {
        EXPECT_THROW(batch.Commit(), platform::Exception);
      }
    }
    plan->FailAt = INT64_MAX;
    EXPECT_EQ(fs->FSM().GetFreePageCount(), freePages) << "commit " << commit;
    EXPECT_EQ(fs->FSM().ExtentCount(), 1) << "commit " << commit;
    EXPECT_EQ(+fs->Header().TOTALPageCount, 9) << "commit " << commit;
    // The file may have grown for the pages (zeros past the old end), its bytes are unchanged.
    auto after = fs->SaveToImage();
    ASSERT_GE(after.size(), image.size());
    EXPECT_TRUE(
        std::all_of(after.begin() + std::ptrdiff_t(image.size()), after.end(), [](uint8_t b) { return b == 0; }));
    after.resize(image.size());
    EXPECT_EQ(after, image) << "commit " << commit;
    std::vector<int32_t> again;
    allocate(*fs, again);
    EXPECT_EQ(again, separatePages) << "commit " << commit;
  }
}

// ---- File page maps -------------------------------------------------------------------------------

TEST(StoragePageMaps, NewFileGrowthShrinkAndRanges) {
  TSingleFileSystem fs;
  fs.CreateInMemory(Geometry(1024));
  TUserFilePageMapManager& ufm = fs.UFM();
  const int32_t d = fs.PageDataSize();
  TDirectoryElement rec{};
  rec.FirstMapPageNo = -1;
  ASSERT_TRUE(ufm.SetSize(rec, true, 1));
  EXPECT_EQ(+rec.FirstMapPageNo, 4);  // its map page; the data page follows
  rec.FileSize = 1;
  TIntegerArray* pm = nullptr;
  TIntegerArray* dm = nullptr;
  ufm.GetMaps(rec, pm, dm);
  EXPECT_EQ(pm->Items, std::vector<int32_t>({4}));
  EXPECT_EQ(dm->Items, std::vector<int32_t>({5}));
  // Exactly PagesPerMapPage data pages, then one more: a second map page, linked from the first.
  const int32_t per = ufm.PagesPerMapPage();
  ASSERT_TRUE(ufm.SetSize(rec, true, int64_t{per} * d));
  rec.FileSize = int64_t{per} * d;
  ufm.GetMaps(rec, pm, dm);
  EXPECT_EQ(pm->ItemCount(), 1);
  ASSERT_TRUE(ufm.SetSize(rec, true, int64_t{per} * d + 1));
  rec.FileSize = int64_t{per} * d + 1;
  ufm.GetMaps(rec, pm, dm);
  ASSERT_EQ(pm->ItemCount(), 2);
  TPageBuffer page(d);
  ASSERT_TRUE(fs.PFM().ReadPage(page, (*pm)[0], false));
  EXPECT_EQ(+page.PageHeader.NextPageNo, (*pm)[1]);
  ASSERT_TRUE(fs.PFM().ReadPage(page, (*pm)[1], false));
  EXPECT_EQ(+page.PageHeader.NextPageNo, -1);
  // A range that ends on a page boundary also gives the next page.
  TIntegerArray range;
  ASSERT_TRUE(ufm.GetPages(rec, false, 0, d, range));
  EXPECT_EQ(range.Items, std::vector<int32_t>({(*dm)[0], (*dm)[1]}));
  // The first pages came from the mixed map extent, the later ones from whole extents of their own.
  EXPECT_EQ((*dm)[0], 5);
  EXPECT_GE((*dm)[per - 1], 9);
  EXPECT_FALSE(fs.FSM().IsExtentMixed(((*dm)[per - 1] - 1) / 8));
  // Cutting to 0 gives everything back.
  const int64_t freeBefore = fs.FSM().GetFreePageCount();
  ASSERT_TRUE(ufm.SetSize(rec, true, 0));
  EXPECT_EQ(+rec.FirstMapPageNo, -1);
  EXPECT_EQ(fs.FSM().GetFreePageCount(), freeBefore + per + 1 + 2);
}

TEST(StoragePageMaps, SizeBeyondTheChainIsRefused) {
  TSingleFileSystem fs;
  fs.CreateInMemory();
  TDirectoryElement rec{};
  rec.FirstMapPageNo = -1;
  ASSERT_TRUE(fs.UFM().SetSize(rec, true, 10));
  rec.FileSize = int64_t{fs.UFM().PagesPerMapPage()} * fs.PageDataSize() + 1;  // needs two map pages
  fs.UFM().ClearCaches();
  TIntegerArray* pm = nullptr;
  TIntegerArray* dm = nullptr;
  try {
    fs.UFM().GetMaps(rec, pm, dm);
    FAIL() << "no exception";
  } catch (const platform::Exception& e) {
    EXPECT_STREQ(e.what(), "TUserFilePageMapManager.GetMaps - Invalid page No in map chain.");
  }
}

// Growth that gets its new map page but not its data pages (they need the file to grow, which
// fails) gives the map page back: no page is left to no one, the record keeps its map, and a
// later growth links its map pages properly.
TEST(StoragePageMaps, FailedGrowthGivesItsMapPagesBack) {
  auto plan = std::make_shared<TSFSFaultPlan>();
  plan->Kinds = TSFSFaultPlan::fkSize;
  plan->Sticky = false;
  TSingleFileSystem fs;
  fs.SetFaultPlan(plan);
  fs.CreateInMemory(Geometry(1024));
  const int64_t full = int64_t{fs.UFM().PagesPerMapPage()} * fs.PageDataSize();  // one full map page
  // A file with a full map page, then a new file that needs more than an extent.
  for (const bool newFile : {false, true}) {
    const std::string name = newFile ? "new" : "grown";
    const int32_t h = fs.FileOpen(name, platform::fmCreate);
    if (!newFile) {
      ASSERT_EQ(fs.FileSetSize(h, full), full);
    }
    TDirectoryElement before;
    ASSERT_TRUE(fs.GetFileInfo(name, before));
    const int64_t failures = plan->Failures;
    plan->FailAt = plan->Count + 1;
    EXPECT_EQ(fs.FileSetSize(h, newFile ? 9 * 1000 : full + 1), erDiskFull) << name;
    EXPECT_EQ(plan->Failures, failures + 1) << name;
    TDirectoryElement after;
    ASSERT_TRUE(fs.GetFileInfo(name, after));
    EXPECT_EQ(after.FirstMapPageNo, before.FirstMapPageNo) << name;
    EXPECT_EQ(fs.CheckIntegrity(), std::vector<std::string>()) << name;
    plan->FailAt = -1;
    ASSERT_EQ(fs.FileSetSize(h, full + 1), full + 1) << name;
    fs.FileClose(h);
  }
  TSingleFileSystem back;
  back.OpenFromImage(fs.SaveToImage());
  EXPECT_EQ(back.CheckIntegrity(), std::vector<std::string>());
  for (const char* name : {"grown", "new"}) {
    TDirectoryElement e;
    ASSERT_TRUE(back.GetFileInfo(name, e));
    TIntegerArray* pm = nullptr;
    TIntegerArray* dm = nullptr;
    back.UFM().GetMaps(e, pm, dm);
    EXPECT_EQ(pm->ItemCount(), 2) << name;
  }
}
