// The directory: name lookup, records, slots and directory pages; the name comparison.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <memory>
#include <random>
#include <vector>

#include "platform/Exception.h"
#include "platform/Stream.h"
#include "sfs/AbstractFile.h"
#include "sfs/BlockedIndex.h"
#include "sfs/DIRManager.h"
#include "sfs/PageFileManager.h"
#include "sfs/SingleFileSystem.h"
#include "sfs/StrFunc.h"

using namespace sfs;

namespace {

class StorageDirectoryTest : public ::testing::Test {
 protected:
  void SetUp() override {
    fs.CreateInMemory();
    docs = fs.ForceDirectories("Docs");
    sub = fs.ForceDirectories("Docs/Sub");
    readme = fs.FileCreate("Docs/readme.txt");
    subReadme = fs.FileCreate("Docs/Sub/readme.txt");
    top = fs.FileCreate("top.bin");
    ASSERT_GE(docs, 0);
    ASSERT_GE(top, 0);
  }
  TSingleFileSystem fs;
  int32_t docs = -9, sub = -9, readme = -9, subReadme = -9, top = -9;
};

}  // namespace

TEST_F(StorageDirectoryTest, NameLookupRules) {
  const std::vector<std::pair<std::string, int32_t>> cases = {
      {"\\", rootID},
      {"/", rootID},
      {"Docs", docs},
      {"/Docs", docs},
      {"\\Docs\\Sub", sub},
      {"Docs/", docs},                      // a trailing separator is ignored
      {"Docs//Sub", erInvalidPath},         // two separators in a row
      {"DOCS/SUB/README.TXT", subReadme},   // case-insensitive
      {"docs/readme.txt", readme},          // the same name in another folder
      {"Docs/Sub/../readme.txt", readme},
      {"Docs/../top.bin", top},
      {"..", rootID},                       // the root is its own parent
      {"nothing", erInvalidPath},
      {"Docs/top.bin", erInvalidCurrentDir},  // the name exists, but not in that folder
      {"", erInvalidPath},
  };
  for (const auto& [name, want] : cases) EXPECT_EQ(fs.FindByName(name), want) << '"' << name << '"';
  // Relative names start at the current folder; a leading separator at the root.
  fs.DM().CurrentDir = docs;
  EXPECT_EQ(fs.FindByName("readme.txt"), readme);
  EXPECT_EQ(fs.FindByName("Sub/readme.txt"), subReadme);
  EXPECT_EQ(fs.FindByName("/top.bin"), top);
  EXPECT_EQ(fs.FindByName("top.bin"), erInvalidCurrentDir);
}

TEST_F(StorageDirectoryTest, DeletedSlotIsReusedWithoutGrowth) {
  ASSERT_TRUE(fs.DeleteFile("Docs/readme.txt"));
  EXPECT_FALSE(fs.FileExists("Docs/readme.txt"));
  const int32_t count = fs.Header().DIRElementsCount;
  EXPECT_EQ(fs.FileCreate("new.txt"), readme);
  EXPECT_EQ(+fs.Header().DIRElementsCount, count);
  EXPECT_EQ(fs.FindByName("new.txt"), readme);
  // The lowest deleted slot goes first.
  ASSERT_TRUE(fs.DeleteFile("top.bin"));
  ASSERT_TRUE(fs.DeleteFile("Docs/Sub/readme.txt"));
  EXPECT_EQ(fs.FileCreate("a"), subReadme);
  EXPECT_EQ(fs.FileCreate("b"), top);
  EXPECT_TRUE(fs.CheckIntegrity().empty());
}

TEST(StorageDirectory, PageFillsThenTheNextRecordLinksANewPage) {
  TSingleFileSystem fs;
  fs.CreateInMemory();
  const int32_t per = ComputeGeometry(4096, 8).DIRElementsPerPage;
  for (int32_t i = 0; i < per; ++i) ASSERT_EQ(fs.FileCreate("f" + std::to_string(i)), i);
  EXPECT_EQ(+fs.Header().DIRPageCount, 1);
  const int32_t first = fs.Header().DIRFirstPageNo;
  ASSERT_EQ(fs.FileCreate("next"), per);
  EXPECT_EQ(+fs.Header().DIRPageCount, 2);
  const int32_t second = fs.DM().DIRPageMap()[1];
  TPageBuffer page(fs.PageDataSize());
  ASSERT_TRUE(fs.PFM().ReadPage(page, first, false, {}, 0));
  EXPECT_EQ(+page.PageHeader.NextPageNo, second);
  ASSERT_TRUE(fs.PFM().ReadPage(page, second, false, {}, 0));
  EXPECT_EQ(+page.PageHeader.NextPageNo, -1);
  EXPECT_EQ(+page.PageHeader.PageType, DIRPage);
  // The chain reloads in order.
  TSingleFileSystem again;
  again.OpenFromImage(fs.SaveToImage());
  EXPECT_EQ(again.FindByName("next"), per);
  EXPECT_EQ(again.FindByName("f0"), 0);
}

// Opening a file stamps its access time in steps of two seconds, so a second open usually
// leaves the record as it stands: nothing is written then. A page whose write failed is written
// again all the same, even when the record in memory did not change since.
TEST(StorageDirectory, RecordsWrittenAsTheyStandAreSkippedUnlessTheirPageIsUnsaved) {
  auto plan = std::make_shared<TSFSFaultPlan>();
  plan->Kinds = TSFSFaultPlan::fkWrite;
  plan->Sticky = false;
  plan->FailAt = INT64_MAX;  // counts, never fails
  TSingleFileSystem fs;
  fs.SetFaultPlan(plan);
  fs.CreateInMemory();
  fs.FileClose(fs.FileOpen("f", platform::fmCreate));
  auto accessTime = [&](const std::string& name) {
    TDirectoryElement e;
    EXPECT_TRUE(fs.GetFileInfo(name, e));
    return e.LastAccessTime;
  };
  bool sawUnchanged = false;
  for (int i = 0; i < 5 && !sawUnchanged; ++i) {
    const uint64_t before = accessTime("f");
    plan->Count = 0;
    fs.FileClose(fs.FileOpen("f", platform::fmOpenRead));
    if (accessTime("f") == before) {
      sawUnchanged = true;
      EXPECT_EQ(plan->Count, 0) << "an unchanged record was written";
    } else {
      EXPECT_GT(plan->Count, 0) << "a new access time was not written";
    }
  }
  EXPECT_TRUE(sawUnchanged);

  // The renaming write fails: memory says "g", the disk still "f". Opening "g" changes nothing
  // in memory, yet must bring the disk up to date.
  plan->Count = 0;
  plan->FailAt = 1;
  try {
    fs.RenameFile("f", "g");
  } catch (const platform::Exception&) {
  }
  ASSERT_EQ(plan->Failures, 1);
  plan->FailAt = INT64_MAX;
  ASSERT_TRUE(fs.FileExists("g"));
  fs.FileClose(fs.FileOpen("g", platform::fmOpenRead));
  TSingleFileSystem again;
  again.OpenFromImage(fs.SaveToImage());
  EXPECT_TRUE(again.FileExists("g"));
  EXPECT_FALSE(again.FileExists("f"));
}

TEST(StorageDirectory, LongNamesAreCut) {
  TSingleFileSystem fs;
  fs.CreateInMemory();
  const std::string name(300, 'n');
  const int32_t item = fs.FileCreate(name);
  ASSERT_GE(item, 0);
  TDirectoryElement e;
  ASSERT_TRUE(fs.GetFileInfo(name, e));  // the lookup cuts the same way
  EXPECT_EQ(std::string(ElementName(e)), name.substr(0, 259));
  EXPECT_EQ(fs.FindByName(name.substr(0, 259)), item);
}

TEST(StorageDirectory, PathSplitting) {
  struct Case {
    std::string in;
    bool ok;
    std::string path, pattern;
  } cases[] = {
      {"a/b/c", true, "a/b", "c"}, {"a\\b", true, "a", "b"},   {"/x", true, "\\", "x"},
      {"a/b/", true, "a", "b"},    {"name", false, "", ""},     {"", false, "", ""},
  };
  for (const auto& c : cases) {
    std::string path, pattern;
    EXPECT_EQ(ExtractPathAndPattern(c.in, path, pattern), c.ok) << c.in;
    if (c.ok) {
      EXPECT_EQ(path, c.path) << c.in;
      EXPECT_EQ(pattern, c.pattern) << c.in;
    }
  }
}

TEST(StorageDirectory, NameComparisonIgnoresCaseOfWindows1252Letters) {
  EXPECT_EQ(AnsiCompTextNoCase("Readme.TXT", "readme.txt"), 0);
  EXPECT_EQ(AnsiCompTextNoCase("\xC4rger", "\xE4RGER"), 0);  // A/a with diaeresis
  EXPECT_EQ(AnsiCompTextNoCase("\x8A", "\x9A"), 0);          // S/s with caron
  EXPECT_EQ(AnsiCompTextNoCase("\x9F", "\xFF"), 0);          // Y/y with diaeresis
  EXPECT_NE(AnsiCompTextNoCase("\xD7", "\xF7"), 0);          // multiplication and division signs
  EXPECT_LT(AnsiCompTextNoCase("abc", "ABD"), 0);
  EXPECT_LT(AnsiCompTextNoCase("ab", "abc"), 0);
  EXPECT_GT(AnsiCompTextNoCase("b", "A"), 0);
}

TEST(StorageDirectory, IndexesFollowRenamesAndMoves) {
  TSingleFileSystem fs;
  fs.CreateInMemory();
  ASSERT_GE(fs.ForceDirectories("/a/b"), 0);
  ASSERT_GE(fs.FileCreate("a/b/file"), 0);
  for (int i = 0; i < 20; ++i) ASSERT_GE(fs.FileCreate("z" + std::to_string(i)), 0);
  ASSERT_TRUE(fs.RenameFile("a/b/file", "a/moved"));
  EXPECT_FALSE(fs.FileExists("a/b/file"));
  EXPECT_TRUE(fs.FileExists("A/MOVED"));
  EXPECT_FALSE(fs.RenameFile("z1", "z2"));          // the new name exists
  EXPECT_FALSE(fs.RenameFile("a", "a/b/inside"));   // a folder into its own subtree
  EXPECT_FALSE(fs.RenameFile("missing", "x"));
  ASSERT_TRUE(fs.RenameFile("z3", "a/b/z3"));
  EXPECT_TRUE(fs.FileExists("a/b/z3"));
  EXPECT_EQ(fs.ForceDirectories("z4/sub"), erInvalidPath);  // a file in the way
  EXPECT_TRUE(fs.CheckIntegrity().empty());
  // The indexes rebuilt from disk agree.
  TSingleFileSystem again;
  again.OpenFromImage(fs.SaveToImage());
  EXPECT_EQ(again.FindByName("a/moved"), fs.FindByName("a/moved"));
  EXPECT_EQ(again.FindByName("a/b/z3"), fs.FindByName("a/b/z3"));
}

// The directory's index against a plain vector: blocks of four entries split and empty out many
// times over; every position reads back, and lower bounds agree with the vector's.
TEST(StorageDirectory, BlockedIndexKeepsTheOrderOfAPlainList) {
  TBlockedIndex index(4);
  std::vector<int32_t> model;
  std::mt19937 rng(7);
  auto check = [&](int step) {
    ASSERT_EQ(index.Count(), static_cast<int32_t>(model.size())) << "step " << step;
    for (size_t i = 0; i < model.size(); ++i) ASSERT_EQ(index[static_cast<int32_t>(i)], model[i]) << "step " << step;
    for (int32_t key : {-1, 0, 250, 499, 1000}) {
      const auto want = std::lower_bound(model.begin(), model.end(), key) - model.begin();
      EXPECT_EQ(index.LowerBound([key](int32_t v) { return v < key; }), want) << "step " << step;
    }
  };
  for (int step = 0; step < 3000; ++step) {
    // Inserting in order keeps the list sorted, so lower bounds mean something; deletions run
    // in bursts that empty whole blocks.
    if (!model.empty() && (step / 500) % 2 == 1) {
      const auto pos = static_cast<int32_t>(rng() % model.size());
      index.Delete(pos);
      model.erase(model.begin() + pos);
    } else {
      const auto value = static_cast<int32_t>(rng() % 500);
      const auto pos = static_cast<int32_t>(std::upper_bound(model.begin(), model.end(), value) - model.begin());
      index.Insert(pos, value);
      model.insert(model.begin() + pos, value);
    }
    if (step % 50 == 0) check(step);
  }
  check(3000);
  index.Assign(model);
  check(3001);
  EXPECT_THROW(index.Insert(index.Count() + 1, 0), platform::Exception);
  EXPECT_THROW(index.Delete(index.Count()), platform::Exception);
  index.Clear();
  EXPECT_EQ(index.Count(), 0);
  EXPECT_EQ(index.LowerBound([](int32_t) { return true; }), 0);
}
