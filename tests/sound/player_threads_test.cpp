// The player with requests from several threads while library callbacks fire: every play request
// ends in exactly one finished event, and nothing races (run under ThreadSanitizer too).
#include <gtest/gtest.h>

#include <atomic>
#include <map>
#include <mutex>
#include <thread>

#include "sfs/FileAccess.h"
#include "sound/GlobalPlayer.h"
#include "sound/SoundTestSupport.h"

namespace sound {
namespace {

using namespace soundtest;

TEST(PlayerThreads, RequestsFromSeveralThreadsEachFinishOnce) {
  sfs::SFSCreate();
  {
    TDiskOutput out(1);  // about twenty times real time
    TQueuedSynchronizer sync;
    TGlobalPlayer player("Threads", &sync, SoundLibPath());
    ASSERT_TRUE(WaitUntil([&] { return !player.Deactivated(); }));

    std::mutex lock;
    std::map<std::string, int> finished;  // request tag -> events
    std::atomic<int> events{0};
    auto handler = [&](const std::string& tag) -> TPlayingFinishedEvent {
      return [&, tag](TGlobalPlayer*, int32_t, const std::string&) {
        std::lock_guard g(lock);
        ++finished[tag];
        ++events;
      };
    };

    constexpr int cThreads = 4;
    constexpr int cRounds = 6;
    std::atomic<int> requests{0};
    std::vector<std::thread> threads;
    for (int t = 0; t < cThreads; ++t)
      threads.emplace_back([&, t] {
        for (int r = 0; r < cRounds; ++r) {
          const std::string tag = std::to_string(t) + "/" + std::to_string(r) + "/";
          // Stops by name only ever meet single sounds of the WAV file.
          player.Play(MediaPath("tone440.wav"), false, handler(tag + "wav"));
          player.PlayConnected({MediaPath("tone660.ogg"), MediaPath("tone880.mp3")}, false,
                               handler(tag + "chain"));
          player.PlayFromTo(MediaPath("steps.ogg"), 100, 250, false, handler(tag + "segment"));
          player.Play(MediaPath("missing.wav"), false, handler(tag + "missing"));
          requests += 4;
          if (r % 2 == 1) player.Stop(MediaPath("tone440.wav"), true, 1);
          if (t == 0 && r == cRounds / 2) player.StopAll(true);
          std::this_thread::sleep_for(std::chrono::milliseconds(5));
        }
      });
    // This thread serves the finished events meanwhile.
    const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(60);
    while ((events < requests || requests < cThreads * cRounds * 4) &&
           std::chrono::steady_clock::now() < end)
      sync.WaitAndCheckSynchronize(5);
    for (auto& th : threads) th.join();
    EXPECT_EQ(events, cThreads * cRounds * 4);
    std::lock_guard g(lock);
    EXPECT_EQ(finished.size(), static_cast<size_t>(cThreads * cRounds * 4));
    for (const auto& [tag, count] : finished) EXPECT_EQ(count, 1) << tag;
  }
  sfs::SFSFree();
}

}  // namespace
}  // namespace sound
