// The work queue: ordering, the high-priority count, wake-ups, the if-free check, appends from
// several threads.
#include <gtest/gtest.h>

#include <set>
#include <thread>
#include <vector>

#include "sound/WorkList.h"

namespace sound {
namespace {

class WorkListTest : public ::testing::Test {
 protected:
  std::unique_ptr<TWorkObject> Item(TWorkType type, const std::string& name = {}) {
    auto item = std::make_unique<TWorkObject>(type);
    item->FileName = name;
    return item;
  }
  int WakeUps() {
    int n = 0;
    while (FExec.WaitFor(0)) ++n;
    return n;
  }
  TSemaphore FLock{"Test_Snd4_WorkListSem", 1, 2147483647};
  TSemaphore FExec{"Test_Snd4_ExecSem", 0, 2147483647};
  TWorkList FList{FLock, FExec};
};

TEST_F(WorkListTest, ItemDefaultsAndUniqueIds) {
  IDFactory = 0;
  TWorkObject a;
  TWorkObject b(wtPlay);
  EXPECT_EQ(a.ID, 0);
  EXPECT_EQ(b.ID, 1);
  EXPECT_EQ(a.WorkType, wtDefault);
  EXPECT_EQ(a.PlayFurther, -1);
  EXPECT_EQ(a.startp, -1);
  EXPECT_EQ(a.endp, -1);
  EXPECT_TRUE(a.StopEventWithOnPlayFin);
  EXPECT_EQ(a.StopCount, 2147483647);
  EXPECT_FALSE(a.ifFreeOnlyThisOne);
  EXPECT_FALSE(a.TerminateThread);
  // IDs stay non-negative 32-bit values past the 31-bit range.
  IDFactory = 2147483647;
  TWorkObject c;
  TWorkObject d;
  EXPECT_EQ(c.ID, 2147483647);
  EXPECT_EQ(d.ID, 0);
  IDFactory = 0;
}

TEST_F(WorkListTest, AddInsertDeleteRemoveKeepOrderCountAndWakeUps) {
  EXPECT_EQ(FList.WorkAdd(Item(wtPlay, "a")), 0);
  EXPECT_EQ(FList.WorkAdd(Item(wtStopAndFreeAll)), 1);
  EXPECT_EQ(FList.WorkInsert(1, Item(wtStopAndFreeIt, "b")), 1);
  EXPECT_EQ(FList.WorkInsert(0, Item(wtDeInitPlayer)), 0);
  EXPECT_EQ(FList.WorkInsert(9, Item(wtPlay)), -1);  // bad index: not queued
  EXPECT_EQ(FList.WorkAdd(nullptr), -1);
  EXPECT_EQ(WakeUps(), 4);
  ASSERT_EQ(FList.Count(), 4);
  EXPECT_EQ(FList.HighPrioCount(), 3);
  EXPECT_EQ(FList.Items(0)->WorkType, wtDeInitPlayer);
  EXPECT_EQ(FList.Items(1)->FileName, "a");
  EXPECT_EQ(FList.Items(2)->FileName, "b");
  EXPECT_EQ(FList.Items(4), nullptr);

  auto deleted = FList.WorkDelete(0);
  ASSERT_NE(deleted, nullptr);
  EXPECT_EQ(deleted->WorkType, wtDeInitPlayer);
  EXPECT_EQ(FList.HighPrioCount(), 2);
  EXPECT_EQ(FList.WorkDelete(7), nullptr);

  TWorkObject* b = FList.Items(1);
  int32_t former = -2;
  auto removed = FList.WorkRemove(b, &former);
  EXPECT_EQ(removed.get(), b);
  EXPECT_EQ(former, 1);
  EXPECT_EQ(FList.WorkRemove(b, &former), nullptr);
  EXPECT_EQ(former, -1);
  EXPECT_EQ(FList.HighPrioCount(), 1);
  EXPECT_EQ(FList.Count(), 2);
  EXPECT_EQ(FList.IndexOf(FList.Items(1)), 1);
  EXPECT_EQ(WakeUps(), 0);  // removing wakes nobody
}

// The if-free check of the last entry (the request itself) against what is queued ahead of it.
struct TIfFreeCase {
  const char* Name;
  std::vector<std::pair<TWorkType, std::string>> Ahead;
  bool OnlyThisOne;
  bool Expected;
};

class WorkPlayingTest : public WorkListTest, public ::testing::WithParamInterface<TIfFreeCase> {};

TEST_P(WorkPlayingTest, IfFreeCheck) {
  for (const auto& [type, name] : GetParam().Ahead) FList.WorkAdd(Item(type, name));
  auto own = Item(wtPlay, "me.wav");
  const int32_t id = own->ID;
  FList.WorkAdd(std::move(own));
  FList.WorkAdd(Item(wtPlaying, "me.wav"));  // behind it: never counts
  EXPECT_EQ(FList.WorkPlaying(id, GetParam().OnlyThisOne, "me.wav"), GetParam().Expected);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, WorkPlayingTest,
    ::testing::Values(
        TIfFreeCase{"EmptyQueue", {}, false, false},
        TIfFreeCase{"SomethingPlaying", {{wtPlaying, "x.wav"}}, false, true},
        TIfFreeCase{"StopItemLeavesIt", {{wtStopAndFreeIt, "x.wav"}}, false, false},
        TIfFreeCase{"StopItemKeepsTrue", {{wtPlaying, "x.wav"}, {wtStopAndFreeIt, ""}}, false, true},
        TIfFreeCase{"StopAllClears", {{wtPlaying, "x.wav"}, {wtStopAndFreeAll, ""}}, false, false},
        TIfFreeCase{"AfterStopAllCountsAgain",
                    {{wtStopAndFreeAll, ""}, {wtPlayingConnected, "y.wav"}}, false, true},
        TIfFreeCase{"OnlyThisOneOtherName", {{wtPlaying, "x.wav"}}, true, false},
        TIfFreeCase{"OnlyThisOneSameName", {{wtPlaying, "me.wav"}}, true, true},
        TIfFreeCase{"OnlyThisOneCaseSensitive", {{wtPlaying, "ME.wav"}}, true, false}),
    [](const auto& info) { return std::string(info.param.Name); });

TEST_F(WorkListTest, AppendsFromSeveralThreadsWhileOneReadsAndRemoves) {
  constexpr int cThreads = 4;
  constexpr int cPerThread = 200;
  std::vector<std::thread> threads;
  for (int t = 0; t < cThreads; ++t)
    threads.emplace_back([&, t] {
      for (int i = 0; i < cPerThread; ++i)
        FList.WorkAdd(Item(i % 3 == 0 ? wtStopAndFreeIt : wtPlay, "t" + std::to_string(t)));
    });
  // The consumer: like the player thread, it reads and removes while others append.
  std::set<int32_t> seen;
  int taken = 0;
  while (taken < cThreads * cPerThread) {
    if (!FExec.WaitFor(5000)) break;
    if (FList.HighPrioCount() < 0) break;
    TWorkObject* first = FList.Items(0);
    ASSERT_NE(first, nullptr);
    seen.insert(first->ID);
    auto item = FList.WorkRemove(first);
    ASSERT_NE(item, nullptr);
    ++taken;
  }
  for (auto& t : threads) t.join();
  EXPECT_EQ(taken, cThreads * cPerThread);
  EXPECT_EQ(seen.size(), static_cast<size_t>(cThreads * cPerThread));
  EXPECT_EQ(FList.Count(), 0);
  EXPECT_EQ(FList.HighPrioCount(), 0);
}

}  // namespace
}  // namespace sound
