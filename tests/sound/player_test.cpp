// The sound player end to end: requests through the queue, the library on SDL's disk driver
// (about real time), finished events delivered to this thread, which plays the user-interface
// thread.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <fstream>
#include <mutex>
#include <thread>

#include "sfs/FileAccess.h"
#include "sound/GlobalPlayer.h"
#include "sound/SoundTestSupport.h"

namespace sound {
namespace {

using namespace soundtest;

const std::string cWav = MediaPath("tone440.wav");
const std::string cOgg = MediaPath("tone660.ogg");
const std::string cMp3 = MediaPath("tone880.mp3");
const std::string cSteps = MediaPath("steps.ogg");
const std::string cMissing = MediaPath("missing.wav");

struct TEvent {
  std::string Tag;
  int32_t Position;
  std::string FileName;
  std::thread::id Thread;
};

class Player : public ::testing::Test {
 protected:
  void SetUp() override { sfs::SFSCreate(); }
  void TearDown() override {
    FPlayer.reset();
    sfs::SFSFree();
  }

  // Output first, then the player (its library opens the device).
  void Start(int diskDelayMs = -1, const std::string& lib = SoundLibPath()) {
    FOut = std::make_unique<TDiskOutput>(diskDelayMs);
    FPlayer = std::make_unique<TGlobalPlayer>("Test", &FSync, lib);
  }
  void StartActive(int diskDelayMs = -1) {
    Start(diskDelayMs);
    ASSERT_TRUE(WaitUntil([&] { return !FPlayer->Deactivated(); }));
  }
  // Ends the player (closing the device) and returns what was played.
  std::vector<float> Finish() {
    FPlayer.reset();
    return FOut->Left();
  }

  TPlayingFinishedEvent Handler(const std::string& tag, std::function<void()> also = {}) {
    return [this, tag, also](TGlobalPlayer* sender, int32_t position, const std::string& name) {
      EXPECT_EQ(sender, FPlayer.get());
      {
        std::lock_guard g(FLock);
        FEvents.push_back({tag, position, name, std::this_thread::get_id()});
      }
      if (also) also();
    };
  }
  size_t EventCount() {
    std::lock_guard g(FLock);
    return FEvents.size();
  }
  // Serves finished events until `count` have arrived.
  bool PumpEvents(size_t count, int timeoutMs = 15000) {
    return Pump([&] { return EventCount() >= count; }, timeoutMs);
  }
  bool Pump(const std::function<bool()>& done, int timeoutMs = 15000) {
    const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    while (!done()) {
      if (std::chrono::steady_clock::now() > end) return false;
      FSync.WaitAndCheckSynchronize(2);
    }
    return true;
  }
  void PumpFor(int ms) {
    Pump([] { return false; }, ms);
  }

  TQueuedSynchronizer FSync;
  std::unique_ptr<TDiskOutput> FOut;
  std::unique_ptr<TGlobalPlayer> FPlayer;
  std::mutex FLock;
  std::vector<TEvent> FEvents;
};

// The frequency at `ms` after the start of the first sound (over +-40 ms).
double ToneAt(const std::vector<float>& s, double ms) {
  const auto spans = Spans(s);
  if (spans.empty()) return 0;
  const auto centre = spans[0].First + static_cast<size_t>(ms * cRate / 1000.0);
  const auto half = static_cast<size_t>(0.040 * cRate);
  if (centre + half > s.size()) return 0;
  return Frequency(s, centre - half, centre + half);
}

struct TFormatCase {
  const char* Name;
  const char* File;
  double Frequency;
  double LengthMs;  // as the decoder reports it
  double LengthTolerance;
};

class PlayerFormats : public Player, public ::testing::WithParamInterface<TFormatCase> {};

TEST_P(PlayerFormats, PlaysTheToneAndReportsItsEnd) {
  const TFormatCase& c = GetParam();
  StartActive();
  FPlayer->Play(MediaPath(c.File), false, Handler("end"));
  ASSERT_TRUE(PumpEvents(1));
  const auto left = Finish();
  ASSERT_EQ(FEvents.size(), 1u);
  EXPECT_EQ(FEvents[0].FileName, MediaPath(c.File));
  EXPECT_NEAR(FEvents[0].Position, c.LengthMs, c.LengthTolerance);
  EXPECT_EQ(FEvents[0].Thread, std::this_thread::get_id());

  const auto spans = Spans(left);
  ASSERT_EQ(spans.size(), 1u);
  EXPECT_NEAR(spans[0].Ms(), 500, 25);
  EXPECT_NEAR(SpanFrequency(left, spans[0], 50, 450), c.Frequency, c.Frequency * 0.01);
  const size_t mid = spans[0].First + static_cast<size_t>(0.1 * cRate);
  EXPECT_NEAR(Rms(left, mid, mid + static_cast<size_t>(0.3 * cRate)), 0.5 / std::sqrt(2.0), 0.03);
}

INSTANTIATE_TEST_SUITE_P(Media, PlayerFormats,
                         // The decoder counts an MP3's encoder delay and padding too.
                         ::testing::Values(TFormatCase{"Wav", "tone440.wav", 440, 500, 10},
                                           TFormatCase{"Ogg", "tone660.ogg", 660, 500, 10},
                                           TFormatCase{"Mp3", "tone880.mp3", 880, 540, 30}),
                         [](const auto& info) { return std::string(info.param.Name); });

TEST_F(Player, LoopingSoundRepeatsUntilStopped) {
  StartActive();
  FPlayer->Play(cOgg, true, Handler("loop"));
  ASSERT_TRUE(FOut->WaitForSeconds(1.8));
  FPlayer->StopAll(false);
  PumpFor(100);
  const auto left = Finish();
  EXPECT_EQ(FEvents.size(), 0u);
  const auto spans = Spans(left);
  ASSERT_EQ(spans.size(), 1u);
  EXPECT_GT(spans[0].Ms(), 1200);
  EXPECT_NEAR(SpanFrequency(left, spans[0], 100, 1100), 660, 7);
}

TEST_F(Player, ConnectedChainPlaysItsPiecesBackToBack) {
  StartActive();
  FPlayer->PlayConnected({cWav, cMissing, cOgg, cMp3}, false, Handler("chain"));
  ASSERT_TRUE(PumpEvents(1));
  PumpFor(100);
  const auto left = Finish();
  // One event, for the last piece.
  ASSERT_EQ(FEvents.size(), 1u);
  EXPECT_EQ(FEvents[0].FileName, cMp3);
  EXPECT_NEAR(FEvents[0].Position, 540, 30);
  // Pieces follow within a few device buffers (each 23 ms), however busy the machine.
  const auto spans = Spans(left, 100);
  ASSERT_EQ(spans.size(), 1u);
  EXPECT_GT(spans[0].Ms(), 1480);
  EXPECT_LT(spans[0].Ms(), 1750);
  EXPECT_NEAR(ToneAt(left, 250), 440, 5);
  EXPECT_NEAR(ToneAt(left, 780), 660, 7);
  EXPECT_NEAR(ToneAt(left, 1310), 880, 9);
}

TEST_F(Player, LoopingChainWrapsToItsFirstPiece) {
  StartActive();
  FPlayer->PlayConnected({cWav, cOgg}, true, Handler("chain"));
  ASSERT_TRUE(FOut->WaitForSeconds(2.6));
  FPlayer->StopAll(true);
  PumpFor(100);
  const auto left = Finish();
  // Every piece of a looping chain hands over to the next: none reports an end.
  EXPECT_EQ(FEvents.size(), 0u);
  const auto spans = Spans(left, 80);
  ASSERT_EQ(spans.size(), 1u);
  EXPECT_GT(spans[0].Ms(), 1900);
  EXPECT_NEAR(ToneAt(left, 250), 440, 5);
  EXPECT_NEAR(ToneAt(left, 760), 660, 7);
  EXPECT_NEAR(ToneAt(left, 1270), 440, 5);
  EXPECT_NEAR(ToneAt(left, 1780), 660, 7);
}

TEST_F(Player, SegmentStopsAtItsEndPoint) {
  StartActive();
  FPlayer->PlayFromTo(cSteps, 300, 600, false, Handler("segment"));
  ASSERT_TRUE(PumpEvents(1));
  const auto left = Finish();
  ASSERT_EQ(FEvents.size(), 1u);
  EXPECT_GE(FEvents[0].Position, 590);
  EXPECT_LT(FEvents[0].Position, 750);
  const auto spans = Spans(left);
  ASSERT_EQ(spans.size(), 1u);
  EXPECT_GT(spans[0].Ms(), 290);
  EXPECT_LT(spans[0].Ms(), 450);  // the end point plus the player's reaction
  EXPECT_NEAR(SpanFrequency(left, spans[0], 10, 280), 880, 9);
}

TEST_F(Player, RepeatedSegmentReturnsToItsStart) {
  StartActive();
  FPlayer->PlayFromTo(cSteps, 0, 300, true, Handler("segment"));
  ASSERT_TRUE(FOut->WaitForSeconds(1.5));
  FPlayer->StopAll(true);
  ASSERT_TRUE(PumpEvents(1));
  const auto left = Finish();
  EXPECT_LT(FEvents[0].Position, 420);
  const auto spans = Spans(left);
  ASSERT_FALSE(spans.empty());
  EXPECT_GT(spans[0].Ms(), 1000);
  // Mostly the first step; the second is heard only for the moment the player takes to react.
  int low = 0;
  int high = 0;
  for (double ms = 25; ms + 25 < spans[0].Ms(); ms += 50) {
    const double f = ToneAt(left, ms);
    if (std::abs(f - 440) < 10) ++low;
    if (std::abs(f - 1320) < 30) ++high;
  }
  EXPECT_GT(low, 16);
  EXPECT_EQ(high, 0);
}

TEST_F(Player, SegmentWhoseEndIsNeverReachedStaysUntilStopped) {
  StartActive();
  FPlayer->PlayFromTo(cWav, 0, 2000, false, Handler("segment"));
  ASSERT_TRUE(FOut->WaitForSeconds(1.0));
  PumpFor(50);
  EXPECT_EQ(EventCount(), 0u);
  FPlayer->StopAll(true);
  ASSERT_TRUE(PumpEvents(1));
  EXPECT_NEAR(FEvents[0].Position, 500, 10);
}

// The player thread waits while a finished event is served, so a handler sees the queue stand
// still: what it queues is ordered exactly as it queues it.
TEST_F(Player, StopAllTakesWhatIsAheadOfItFirstAndNothingBehindIt) {
  StartActive();
  FPlayer->Play(cMissing, false, Handler("gate", [&] {
                  FPlayer->Play(cWav, false, Handler("ahead"));
                  FPlayer->StopAll(true);
                  FPlayer->Play(cOgg, false, Handler("behind"));
                }));
  ASSERT_TRUE(PumpEvents(3));
  const auto left = Finish();
  ASSERT_EQ(FEvents.size(), 3u);
  EXPECT_EQ(FEvents[0].Tag, "gate");
  EXPECT_EQ(FEvents[0].Position, 0);
  EXPECT_EQ(FEvents[1].Tag, "ahead");  // removed before it could start
  EXPECT_EQ(FEvents[1].Position, 0);
  EXPECT_EQ(FEvents[2].Tag, "behind");  // played to its end
  EXPECT_NEAR(FEvents[2].Position, 500, 10);
  const auto spans = Spans(left);
  ASSERT_EQ(spans.size(), 1u);
  EXPECT_NEAR(SpanFrequency(left, spans[0], 50, 450), 660, 7);
}

TEST_F(Player, StopByNameAndCount) {
  StartActive();
  FPlayer->Play(cMissing, false, Handler("gate", [&] {
                  FPlayer->Play(cWav, true, Handler("wav1"));
                  FPlayer->Play(cWav, true, Handler("wav2"));
                  FPlayer->Play(cOgg, true, Handler("ogg"));
                  FPlayer->Stop(cWav, true, 1);
                }));
  ASSERT_TRUE(PumpEvents(2));
  EXPECT_EQ(FEvents[1].Tag, "wav1");
  EXPECT_EQ(FEvents[1].Position, 0);
  ASSERT_TRUE(FOut->WaitForSeconds(0.8));
  FPlayer->Stop("", true);  // stops nothing but itself
  PumpFor(150);
  EXPECT_EQ(EventCount(), 2u);
  FPlayer->Stop(cOgg, true);
  ASSERT_TRUE(PumpEvents(3));
  EXPECT_EQ(FEvents[2].Tag, "ogg");
  EXPECT_GE(FEvents[2].Position, 0);
  EXPECT_LT(FEvents[2].Position, 500);
  FPlayer->StopAll(false);  // wav2 goes without an event
  PumpFor(150);
  Finish();
  EXPECT_EQ(FEvents.size(), 3u);
}

TEST_F(Player, StopWithoutEventSuppressesEventsStillOnTheirWay) {
  StartActive();
  // The gate's event is delivered while a StopAll(false) waits behind it.
  FPlayer->Play(cMissing, false, Handler("gate", [&] {
                  FPlayer->Play(cWav, true, Handler("wav"));
                }));
  ASSERT_TRUE(PumpEvents(1));
  ASSERT_TRUE(FOut->WaitForSeconds(0.5));
  FPlayer->SetOnPlayingFinished(Handler("default"));
  FPlayer->Play(cMissing, false);  // reports through the player's handler
  ASSERT_TRUE(PumpEvents(2));
  EXPECT_EQ(FEvents[1].Tag, "default");
  FPlayer->StopAll(false);
  PumpFor(150);
  Finish();
  EXPECT_EQ(FEvents.size(), 2u);
}

TEST_F(Player, DeactivatedPlayerFinishesEveryRequestAtOnce) {
  Start(-1, "/nonexistent/folder/libbdsound.so");
  EXPECT_TRUE(FPlayer->Deactivated());
  FPlayer->Play(cWav, false, Handler("play", [] { throw std::runtime_error("swallowed"); }));
  FPlayer->PlayConnected({cWav, cOgg}, false, Handler("chain"));
  FPlayer->PlayFromTo(cSteps, 0, 300, true, Handler("segment"));
  FPlayer->PlayIfFree(cOgg, true, Handler("iffree"));
  ASSERT_TRUE(PumpEvents(4));
  EXPECT_TRUE(FPlayer->Deactivated());
  std::vector<std::string> tags;
  for (const TEvent& e : FEvents) {
    tags.push_back(e.Tag);
    EXPECT_EQ(e.Position, 0) << e.Tag;
  }
  EXPECT_EQ(tags, (std::vector<std::string>{"play", "chain", "segment", "iffree"}));
  EXPECT_EQ(FEvents[0].FileName, cWav);
  EXPECT_EQ(FEvents[1].FileName, "");  // a chain request has no name of its own
}

TEST_F(Player, LibraryTooOldLeavesThePlayerDeactivated) {
  Start(-1, BD_OLD_SOUND_LIB);
  FPlayer->Play(cWav, false, Handler("play"));
  ASSERT_TRUE(PumpEvents(1));
  EXPECT_TRUE(FPlayer->Deactivated());
  EXPECT_EQ(FEvents[0].Position, 0);
}

TEST_F(Player, EndingThePlayerWhileAnEventWaitsDoesNotHang) {
  Start(-1, "/nonexistent/folder/libbdsound.so");
  FPlayer->Play(cMissing, false, Handler("waiting"));
  // The player thread now waits for this thread to take the event; this thread does not pump.
  std::this_thread::sleep_for(std::chrono::milliseconds(100));
  FPlayer.reset();
  // The event ran inside the destructor's wait, or was dropped for the StopAll(false) it
  // queues: either way at most once, and on this thread.
  ASSERT_LE(FEvents.size(), 1u);
  if (!FEvents.empty()) {
    EXPECT_EQ(FEvents[0].Thread, std::this_thread::get_id());
  }
}

TEST_F(Player, WithoutSyncEventsHandlersRunOnThePlayerThread) {
  Start(-1, "/nonexistent/folder/libbdsound.so");
  FPlayer->SetSyncEvents(false);
  FPlayer->Play(cMissing, false, Handler("direct"));
  ASSERT_TRUE(WaitUntil([&] { return EventCount() == 1; }));
  EXPECT_NE(FEvents[0].Thread, std::this_thread::get_id());
}

TEST_F(Player, MissingAndUndecodableFilesFinishAtOnce) {
  char junk[] = "/tmp/bd-junk-XXXXXX";
  const int fd = mkstemp(junk);
  ASSERT_GE(fd, 0);
  const std::string text(3000, 'j');
  ASSERT_EQ(write(fd, text.data(), text.size()), static_cast<ssize_t>(text.size()));
  close(fd);
  StartActive();
  FPlayer->Play(cMissing, false, Handler("missing"));
  FPlayer->Play(junk, true, Handler("junk"));
  FPlayer->PlayConnected({cMissing, junk}, false, Handler("chain"));
  ASSERT_TRUE(PumpEvents(3));
  std::remove(junk);
  for (const TEvent& e : FEvents) EXPECT_EQ(e.Position, 0) << e.Tag;
  EXPECT_EQ(FEvents[0].Tag, "missing");
  EXPECT_EQ(FEvents[1].Tag, "junk");
  EXPECT_EQ(FEvents[2].Tag, "chain");
  // The player is still working.
  FPlayer->Play(cOgg, false, Handler("ogg"));
  ASSERT_TRUE(PumpEvents(4));
  EXPECT_NEAR(FEvents[3].Position, 500, 10);
}

TEST_F(Player, PlayIfFreeIsDroppedWhileSomethingPlays) {
  StartActive();
  FPlayer->Play(cOgg, true, Handler("loop"));
  FPlayer->PlayIfFree(cWav, false, Handler("other"), true);  // only this one: free
  FPlayer->PlayIfFree(cWav, false, Handler("busy"));          // something plays: dropped
  ASSERT_TRUE(PumpEvents(2));
  PumpFor(100);
  FPlayer->StopAll(false);
  const auto left = Finish();
  ASSERT_EQ(FEvents.size(), 2u);
  EXPECT_EQ(FEvents[0].Tag, "busy");
  EXPECT_EQ(FEvents[0].Position, 0);
  EXPECT_EQ(FEvents[1].Tag, "other");
  EXPECT_NEAR(FEvents[1].Position, 500, 10);
}

TEST_F(Player, RequestsWaitForAFreeChannel) {
  StartActive();
  for (int i = 0; i < cChannels; ++i) FPlayer->Play(cOgg, true);
  FPlayer->Play(cWav, false, Handler("single"));
  FPlayer->PlayConnected({cMp3}, false, Handler("chain"));  // its piece cannot start either
  PumpFor(300);
  EXPECT_EQ(EventCount(), 0u);
  FPlayer->Stop(cOgg, false, 2);
  ASSERT_TRUE(PumpEvents(2));
  EXPECT_EQ(FEvents[0].Tag, "single");
  EXPECT_NEAR(FEvents[0].Position, 500, 10);
  EXPECT_EQ(FEvents[1].Tag, "chain");
  EXPECT_NEAR(FEvents[1].Position, 540, 30);
  FPlayer->StopAll(false);
}

TEST_F(Player, PlayWaitReturnsWhenTheSoundHasEnded) {
  StartActive();
  FPlayer->SetPlayWait(true);
  FPlayer->Play(cWav, false, Handler("never"));  // events are off while callers wait
  // Had Play returned early, ending the player now would cut the tone short.
  const auto left = Finish();
  EXPECT_EQ(FEvents.size(), 0u);
  const auto spans = Spans(left);
  ASSERT_EQ(spans.size(), 1u);
  EXPECT_NEAR(spans[0].Ms(), 500, 25);
}

}  // namespace
}  // namespace sound
