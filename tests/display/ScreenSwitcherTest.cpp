#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <limits>
#include <sstream>

#include "display/ModeRestore.h"
#include "display/ScreenSwitcher.h"
#include "platform/Registry.h"

namespace display {
namespace {

namespace fs = std::filesystem;
using ::testing::ElementsAre;
using ::testing::ElementsAreArray;

DEVMODE M(uint32_t w, uint32_t h, uint32_t bits, uint32_t hz) {
  return MakeDevMode(w, h, bits, hz);
}

// A clock that moves `step` ms on every reading, starting at `start` (wrapping like the hardware
// counter would).
struct FakeClock {
  uint64_t now;
  uint64_t step;
  std::vector<int64_t> readings;
  std::function<int64_t()> Fn() {
    return [this] {
      const auto value = static_cast<int64_t>(now);
      readings.push_back(value);
      now += step;
      return value;
    };
  }
};

class ScreenSwitcherTest : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string pattern = (fs::temp_directory_path() / "bd-switcher-XXXXXX").string();
    FDir = mkdtemp(pattern.data());
    if (const char* old = std::getenv("XDG_CONFIG_HOME")) FOldXdg = old;
    setenv("XDG_CONFIG_HOME", (FDir / "config").c_str(), 1);
    FCaptions = FDir / "captions.ini";
    std::ofstream(FCaptions) << "[ScreenSwitcher]\nTargetVideoModeNotFound=Kein passender Modus\n";
  }
  void TearDown() override {
    if (FOldXdg.empty()) {
      unsetenv("XDG_CONFIG_HOME");
    } else {
      setenv("XDG_CONFIG_HOME", FOldXdg.c_str(), 1);
    }
    fs::remove_all(FDir);
  }

  std::unique_ptr<TScreenSwitcher> Create(std::shared_ptr<TSimulatedDisplayDriver> driver,
                                          int32_t resX, int32_t resY, int32_t bits, int32_t freq,
                                          bool useLowerFreq) {
    TScreenSwitcherHooks hooks;
    hooks.Driver = std::move(driver);
    hooks.ShowMessage = [this](const std::string& text) { FMessages.push_back(text); };
    hooks.SetScreenCursor = [this](int32_t cursor) { FCursors.push_back(cursor); };
    hooks.TickCount = FClock.Fn();
    return TScreenSwitcher::ConfigCreateAndWait(resX, resY, bits, freq, useLowerFreq,
                                                FCaptions.string(), FReturnValue, std::move(hooks));
  }

  static std::vector<int32_t> Indices(const TScreenSwitcher& sw) {
    std::vector<int32_t> result;
    for (const auto& e : sw.ConfigDevmodList) result.push_back(e.Object.index);
    return result;
  }
  static std::vector<uint32_t> Depths(const TScreenSwitcher& sw) {
    std::vector<uint32_t> result;
    for (const auto& e : sw.ConfigDevmodList) result.push_back(e.Object.devm.dmBitsPerPel);
    return result;
  }

  void StoreChoice(const std::string& pair, int32_t target, int32_t max) {
    platform::TRegistry reg(platform::KEY_ALL_ACCESS);
    ASSERT_TRUE(reg.OpenKey("Software\\Brindel\\Config", true));
    reg.WriteInteger("_AllPrograms" + pair + "TargetIndex", target);
    reg.WriteInteger("_AllPrograms" + pair + "MaxIndex", max);
  }

  fs::path FDir;
  fs::path FCaptions;
  std::string FOldXdg;
  FakeClock FClock{1000, 100, {}};
  int32_t FReturnValue = -99;
  std::vector<std::string> FMessages;
  std::vector<int32_t> FCursors;
};

TEST_F(ScreenSwitcherTest, TwoPassesOrderedByFallingRate) {
  auto driver = std::make_shared<TSimulatedDisplayDriver>(
      std::vector<DEVMODE>{M(800, 600, 16, 60), M(800, 600, 32, 75), M(800, 600, 16, 75),
                           M(800, 600, 32, 60), M(800, 600, 16, 60), M(1024, 768, 32, 60),
                           M(800, 600, 24, 85), M(640, 480, 16, 75)},
      5);
  auto sw = Create(driver, 800, 600, 16, 100, false);
  EXPECT_EQ(FReturnValue, VideoModeChangedSuccessfully);
  // 16-bit candidates first (75 before the two 60s, which keep enumeration order), then 32-bit.
  EXPECT_THAT(Indices(*sw), ElementsAre(2, 0, 4, 1, 3));
  std::vector<std::string> texts;
  for (const auto& e : sw->ConfigDevmodList) texts.push_back(e.Text);
  EXPECT_THAT(texts, ElementsAre("75", "60", "60", "75", "60"));
  EXPECT_EQ(sw->ConfigMaxIndex, 8);
  EXPECT_EQ(sw->ConfigCurrentPos, -1);
  EXPECT_TRUE(FMessages.empty());
}

struct DepthCase {
  int32_t bits;
  uint32_t currentRate;  // modes of 800x600 are all at 60 Hz
  std::vector<uint32_t> depths;
};

class SwitcherDepths : public ScreenSwitcherTest,
                       public ::testing::WithParamInterface<DepthCase> {};

TEST_P(SwitcherDepths, SecondPassAndRepetitionUseTheSwitchedDepth) {
  const DepthCase& c = GetParam();
  auto driver = std::make_shared<TSimulatedDisplayDriver>(
      std::vector<DEVMODE>{M(800, 600, 32, 60), M(800, 600, 24, 60), M(800, 600, 16, 60),
                           M(800, 600, 8, 60), M(1024, 768, 32, c.currentRate)},
      4);
  auto sw = Create(driver, 800, 600, c.bits, 0, false);
  EXPECT_THAT(Depths(*sw), ElementsAreArray(c.depths))
      << "bits " << c.bits << " at " << c.currentRate << " Hz";
}

INSTANTIATE_TEST_SUITE_P(
    Cases, SwitcherDepths,
    ::testing::Values(DepthCase{16, 60, {16, 32}}, DepthCase{32, 60, {32, 16}},
                      DepthCase{24, 60, {24, 16}}, DepthCase{8, 60, {8, 16}},
                      // Nothing at or above 75 Hz: the search repeats with lower rates allowed and
                      // the depth switched twice (16 and 32 stay, 24 becomes 32).
                      DepthCase{16, 75, {16, 32}}, DepthCase{32, 75, {32, 16}},
                      DepthCase{24, 75, {32, 16}}));

TEST_F(ScreenSwitcherTest, RefreshRateWindow) {
  const std::vector<DEVMODE> modes{M(800, 600, 16, 60), M(800, 600, 16, 75), M(800, 600, 16, 85),
                                   M(1024, 768, 16, 75)};
  // freq below the current rate: only the current rate qualifies.
  auto sw = Create(std::make_shared<TSimulatedDisplayDriver>(modes, 3), 800, 600, 16, 60, false);
  EXPECT_THAT(Indices(*sw), ElementsAre(1));
  // Lower rates allowed from the start: up to max(freq, current).
  sw = Create(std::make_shared<TSimulatedDisplayDriver>(modes, 3), 800, 600, 16, 60, true);
  EXPECT_THAT(Indices(*sw), ElementsAre(1, 0));
  sw = Create(std::make_shared<TSimulatedDisplayDriver>(modes, 3), 800, 600, 16, 85, false);
  EXPECT_THAT(Indices(*sw), ElementsAre(2, 1));
  // Nothing at or above the current rate: one repetition with lower rates allowed.
  const std::vector<DEVMODE> slow{M(800, 600, 16, 60), M(800, 600, 16, 75), M(1024, 768, 16, 85)};
  sw = Create(std::make_shared<TSimulatedDisplayDriver>(slow, 2), 800, 600, 16, 0, false);
  EXPECT_THAT(Indices(*sw), ElementsAre(1, 0));
}

TEST_F(ScreenSwitcherTest, RotatedModesAreNeverCandidates) {
  DEVMODE rotated = M(800, 600, 16, 60);
  rotated.dmFields |= DM_DISPLAYORIENTATION;
  rotated.dmDisplayOrientation = DMDO_90;
  DEVMODE upright = rotated;
  upright.dmDisplayOrientation = DMDO_DEFAULT;
  DEVMODE unflagged = M(800, 600, 16, 60);
  unflagged.dmDisplayOrientation = DMDO_180;  // not flagged in dmFields: the value means nothing
  auto sw = Create(std::make_shared<TSimulatedDisplayDriver>(
                       std::vector<DEVMODE>{rotated, upright, unflagged, M(1024, 768, 16, 60)}, 3),
                   800, 600, 16, 60, false);
  EXPECT_THAT(Indices(*sw), ElementsAre(1, 2));
}

TEST_F(ScreenSwitcherTest, StoredChoiceComesFirstWhileTheModeCountIsUnchanged) {
  const std::vector<DEVMODE> modes{M(800, 600, 32, 60), M(800, 600, 32, 75), M(800, 600, 32, 70),
                                   M(1024, 768, 32, 60)};
  const std::string pair = "1024768800600";
  auto sw = Create(std::make_shared<TSimulatedDisplayDriver>(modes, 3), 800, 600, 32, 100, false);
  EXPECT_THAT(Indices(*sw), ElementsAre(1, 2, 0));  // nothing stored

  StoreChoice(pair, 0, 4);
  sw = Create(std::make_shared<TSimulatedDisplayDriver>(modes, 3), 800, 600, 32, 100, false);
  EXPECT_THAT(Indices(*sw), ElementsAre(0, 1, 2));

  StoreChoice(pair, 2, 4);
  sw = Create(std::make_shared<TSimulatedDisplayDriver>(modes, 3), 800, 600, 32, 100, false);
  EXPECT_THAT(Indices(*sw), ElementsAre(2, 1, 0));

  // The driver now enumerates another number of modes: the stored number means nothing.
  StoreChoice(pair, 0, 5);
  sw = Create(std::make_shared<TSimulatedDisplayDriver>(modes, 3), 800, 600, 32, 100, false);
  EXPECT_THAT(Indices(*sw), ElementsAre(1, 2, 0));

  // Stored for another screen/requirement pair: not ours.
  StoreChoice("1280102480060", 0, 4);
  sw = Create(std::make_shared<TSimulatedDisplayDriver>(modes, 3), 800, 600, 32, 100, false);
  EXPECT_THAT(Indices(*sw), ElementsAre(1, 2, 0));
}

TEST_F(ScreenSwitcherTest, NoCandidateShowsTheCaptionAndEndsAtOnce) {
  auto driver = std::make_shared<TSimulatedDisplayDriver>(
      std::vector<DEVMODE>{M(1024, 768, 32, 60), M(640, 480, 32, 60)}, 0);
  auto sw = Create(driver, 800, 600, 16, 0, false);
  EXPECT_EQ(FReturnValue, TargetVideoModeNotFound);
  EXPECT_THAT(FMessages, ElementsAre("Kein passender Modus"));
  int32_t current = 77, max = 77;
  EXPECT_FALSE(sw->ConfigSwitchNext(current, max));
  EXPECT_EQ(current, 77);
  EXPECT_EQ(max, 2);
  EXPECT_FALSE(sw->displayChanged);
  EXPECT_EQ(driver->TestCount(), 0);

  // A missing caption file gives an empty text, not a failure.
  FMessages.clear();
  FCaptions = FDir / "missing.ini";
  sw = Create(driver, 800, 600, 16, 0, false);
  EXPECT_THAT(FMessages, ElementsAre(""));
}

TEST_F(ScreenSwitcherTest, TrialRoundTripPutsWindowsBack) {
  // The candidate is the driver's mode number 0.
  auto driver = std::make_shared<TSimulatedDisplayDriver>(
      std::vector<DEVMODE>{M(800, 600, 32, 60), M(1024, 768, 32, 60)}, 1);
  const TWindowHandle stranded = driver->AddWindow({900, 700, 1000, 760});
  const TWindowHandle hung = driver->AddWindow({850, 650, 950, 700});
  const TWindowHandle hidden = driver->AddWindow({10, 10, 20, 20}, false);
  auto sw = Create(driver, 800, 600, 16, 0, false);
  ASSERT_EQ(FReturnValue, VideoModeChangedSuccessfully);

  int32_t current = -5, max = -5;
  ASSERT_TRUE(sw->ConfigSwitchNext(current, max));
  EXPECT_TRUE(sw->displayChanged);
  EXPECT_EQ(current, 0);
  EXPECT_EQ(max, 2);
  EXPECT_EQ(sw->ConfigCurrentPos, 0);
  EXPECT_EQ(driver->CurrentIndex(), 0);
  EXPECT_TRUE(TModeRestore::IsArmed(sw.get()));
  // The settle wait: busy cursor around at least two seconds of the clock.
  EXPECT_THAT(FCursors, ElementsAre(crHourGlass, crDefault));
  ASSERT_GE(FClock.readings.size(), 2u);
  EXPECT_GE(FClock.readings.back() - FClock.readings.front(), 2000);
  // Visible windows were saved; the hidden one was not.
  ASSERT_EQ(sw->WindowList().size(), 2u);
  EXPECT_EQ(sw->WindowList()[0].Handle, hung);
  EXPECT_EQ(sw->WindowList()[1].Handle, stranded);
  EXPECT_NE(sw->WindowList()[0].Handle, hidden);

  driver->SetWindowResponding(hung, false);
  sw->ConfigSwitchBack();
  EXPECT_FALSE(sw->displayChanged);
  EXPECT_FALSE(TModeRestore::IsArmed(sw.get()));
  EXPECT_EQ(driver->CurrentIndex(), 1);
  TRect r;
  ASSERT_TRUE(driver->GetWindowRect(stranded, r));
  EXPECT_EQ(r, (TRect{900, 700, 1000, 760}));
  ASSERT_TRUE(driver->GetWindowRect(hung, r));
  EXPECT_EQ(r, (TRect{0, 0, 100, 50}));  // not responding: left where the desktop put it
  EXPECT_TRUE(sw->WindowList().empty());

  // Switching back again changes nothing.
  sw->ConfigSwitchBack();
  EXPECT_THAT(driver->ChangeHistory(), ElementsAre(0, 1));
  EXPECT_FALSE(sw->ConfigSwitchNext(current, max));
  EXPECT_EQ(current, 0);
  EXPECT_FALSE(sw->ConfigSwitchNext(current, max));
}

TEST_F(ScreenSwitcherTest, CandidateEqualToTheCurrentModeIsSwitchedTo) {
  auto driver =
      std::make_shared<TSimulatedDisplayDriver>(std::vector<DEVMODE>{M(800, 600, 16, 60)}, 0);
  auto sw = Create(driver, 800, 600, 16, 0, false);
  int32_t current = -1, max = -1;
  ASSERT_TRUE(sw->ConfigSwitchNext(current, max));
  EXPECT_TRUE(sw->displayChanged);
  EXPECT_EQ(current, 0);
  sw->ConfigSwitchBack();
  EXPECT_THAT(driver->ChangeHistory(), ElementsAre(0, 0));
}

TEST_F(ScreenSwitcherTest, RejectedChangesAreSkippedQuietly) {
  auto driver = std::make_shared<TSimulatedDisplayDriver>(
      std::vector<DEVMODE>{M(800, 600, 32, 75), M(800, 600, 32, 70), M(800, 600, 32, 60),
                           M(1024, 768, 32, 60)},
      3);
  driver->AddWindow({900, 700, 1000, 760});
  driver->RejectTest(0);
  driver->RejectChange(1);
  auto sw = Create(driver, 800, 600, 32, 100, false);
  ASSERT_THAT(Indices(*sw), ElementsAre(0, 1, 2));
  int32_t current = -1, max = -1;

  ASSERT_TRUE(sw->ConfigSwitchNext(current, max));  // the test change fails
  EXPECT_FALSE(sw->displayChanged);
  EXPECT_EQ(current, 0);
  EXPECT_TRUE(sw->WindowList().empty());  // windows are saved only after a successful test
  EXPECT_TRUE(FCursors.empty());

  ASSERT_TRUE(sw->ConfigSwitchNext(current, max));  // the real change fails
  EXPECT_FALSE(sw->displayChanged);
  EXPECT_EQ(current, 1);
  EXPECT_EQ(sw->WindowList().size(), 1u);
  EXPECT_FALSE(TModeRestore::IsArmed(sw.get()));
  EXPECT_TRUE(driver->ChangeHistory().empty());

  ASSERT_TRUE(sw->ConfigSwitchNext(current, max));
  EXPECT_TRUE(sw->displayChanged);
  EXPECT_EQ(current, 2);
  EXPECT_EQ(sw->ConfigCurrentPos, 2);
}

TEST_F(ScreenSwitcherTest, SwitchBackWithoutCandidateOnlyClearsTheFlag) {
  auto driver = std::make_shared<TSimulatedDisplayDriver>(
      std::vector<DEVMODE>{M(800, 600, 32, 60), M(1024, 768, 32, 60)}, 1);
  driver->AddWindow({900, 700, 1000, 760});
  driver->RejectChange(0);
  auto sw = Create(driver, 800, 600, 32, 0, false);
  sw->ConfigSwitchBack();  // before any candidate
  int32_t current = -1, max = -1;
  ASSERT_TRUE(sw->ConfigSwitchNext(current, max));  // windows saved, but the change failed
  ASSERT_FALSE(sw->displayChanged);
  sw->ConfigSwitchBack();
  EXPECT_FALSE(sw->displayChanged);
  EXPECT_TRUE(driver->ChangeHistory().empty());
  EXPECT_EQ(driver->CurrentIndex(), 1);
  EXPECT_EQ(driver->MoveCount(), 0);
}

TEST_F(ScreenSwitcherTest, ScreenIsGivenBackByDestroyAndBeforeTheNextCandidate) {
  auto driver = std::make_shared<TSimulatedDisplayDriver>(
      std::vector<DEVMODE>{M(800, 600, 32, 75), M(800, 600, 32, 60), M(1024, 768, 32, 60)}, 2);
  auto sw = Create(driver, 800, 600, 32, 100, false);
  int32_t current = -1, max = -1;
  ASSERT_TRUE(sw->ConfigSwitchNext(current, max));
  ASSERT_TRUE(sw->displayChanged);
  // The caller moves on without switching back: the old candidate leaves the screen first.
  ASSERT_TRUE(sw->ConfigSwitchNext(current, max));
  EXPECT_THAT(driver->ChangeHistory(), ElementsAre(0, 2, 1));
  const TScreenSwitcher* raw = sw.get();
  sw.reset();
  EXPECT_THAT(driver->ChangeHistory(), ElementsAre(0, 2, 1, 2));
  EXPECT_EQ(driver->CurrentIndex(), 2);
  EXPECT_FALSE(TModeRestore::IsArmed(raw));
}

TEST_F(ScreenSwitcherTest, UnreadableCurrentModeIsRebuiltFromTheDeviceCaps) {
  auto driver = std::make_shared<TSimulatedDisplayDriver>(
      std::vector<DEVMODE>{M(800, 600, 32, 60), M(1024, 768, 32, 72)}, 1);
  driver->SetCurrentUnreadable(true);
  auto sw = Create(driver, 800, 600, 32, 0, true);
  const DEVMODE& back = sw->CurrentDevmod();
  EXPECT_EQ(back.dmPelsWidth, 1024u);
  EXPECT_EQ(back.dmPelsHeight, 768u);
  EXPECT_EQ(back.dmBitsPerPel, 32u);
  EXPECT_EQ(back.dmDisplayFrequency, 72u);
  EXPECT_EQ(back.dmFields & (DM_PELSWIDTH | DM_PELSHEIGHT | DM_BITSPERPEL | DM_DISPLAYFREQUENCY),
            DM_PELSWIDTH | DM_PELSHEIGHT | DM_BITSPERPEL | DM_DISPLAYFREQUENCY);
  int32_t current = -1, max = -1;
  ASSERT_TRUE(sw->ConfigSwitchNext(current, max));
  EXPECT_TRUE(sw->displayChanged);
  EXPECT_EQ(current, 0);
  sw->ConfigSwitchBack();
  EXPECT_EQ(driver->CurrentIndex(), 1);
}

class SettleWait : public ScreenSwitcherTest, public ::testing::WithParamInterface<uint64_t> {};

TEST_P(SettleWait, LastsTwoSecondsWhateverTheCount) {
  FClock = FakeClock{GetParam(), 7, {}};
  auto driver = std::make_shared<TSimulatedDisplayDriver>(
      std::vector<DEVMODE>{M(800, 600, 32, 60), M(1024, 768, 32, 60)}, 1);
  auto sw = Create(driver, 800, 600, 32, 0, false);
  int32_t current = -1, max = -1;
  ASSERT_TRUE(sw->ConfigSwitchNext(current, max));
  ASSERT_TRUE(sw->displayChanged);
  ASSERT_GE(FClock.readings.size(), 2u);
  const uint64_t elapsed = static_cast<uint64_t>(FClock.readings.back()) -
                           static_cast<uint64_t>(FClock.readings.front());
  EXPECT_GE(elapsed, 2000u);
  EXPECT_LT(elapsed, 2007u);
}

INSTANTIATE_TEST_SUITE_P(Boundaries, SettleWait,
                         ::testing::Values(uint64_t{0x7FFFFFFF} - 500,          // 32-bit signed
                                           uint64_t{0xFFFFFFFF} - 500,          // 32-bit unsigned
                                           uint64_t{0x7FFFFFFFFFFFFFFF} - 500,  // 64-bit signed
                                           std::numeric_limits<uint64_t>::max() - 500));

TEST(BDGetTickCount64, CountsMillisecondsOfTheMonotonicClock) {
  const int64_t a = BDGetTickCount64();
  const auto before = std::chrono::steady_clock::now();
  std::this_thread::sleep_for(std::chrono::milliseconds(30));
  const auto after = std::chrono::steady_clock::now();
  const int64_t b = BDGetTickCount64();
  const auto slept = std::chrono::duration_cast<std::chrono::milliseconds>(after - before).count();
  EXPECT_GE(b - a, slept - 1);
  EXPECT_LE(b - a, slept + 50);
}

// The end of the process while a candidate is on the screen: a helper process (a fresh one, not
// a fork of this multi-threaded test) switches and then ends in one of the catchable ways; the
// simulated driver's change log shows what happened.
struct EndCase {
  const char* name;
  int signal;  // 0: exit(3); -1: a fault (which a sanitizer may report, ending with its own status)
};

int RunRestoreChild(const std::vector<std::string>& args) {
  std::vector<char*> argv;
  std::string program = BD_RESTORE_CHILD;
  argv.push_back(program.data());
  std::vector<std::string> copy = args;
  for (auto& a : copy) argv.push_back(a.data());
  argv.push_back(nullptr);
  fflush(nullptr);
  const pid_t child = fork();
  if (child == 0) {
    execv(argv[0], argv.data());
    _exit(127);
  }
  int status = -1;
  if (child < 0 || waitpid(child, &status, 0) != child) return -1;
  return status;
}

class ProcessEnd : public ScreenSwitcherTest, public ::testing::WithParamInterface<EndCase> {};

std::string ReadAll(const fs::path& file) {
  std::ifstream in(file);
  std::stringstream text;
  text << in.rdbuf();
  return text.str();
}

TEST_P(ProcessEnd, GivesTheScreenBack) {
  const fs::path log = FDir / "changes.log";
  const EndCase& c = GetParam();
  const int status = RunRestoreChild({"simulated", log.string(), c.name});
  if (c.signal == 0) {
    ASSERT_TRUE(WIFEXITED(status)) << status;
    EXPECT_EQ(WEXITSTATUS(status), 3);
  } else if (c.signal < 0) {
    const int code = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    EXPECT_TRUE(WIFSIGNALED(status)
                    ? WTERMSIG(status) == SIGSEGV
                    : code != 0 && code != 10 && code != 11 && code != 13 && code != 127)
        << status;
  } else {
    ASSERT_TRUE(WIFSIGNALED(status)) << "exit status " << WEXITSTATUS(status);
    EXPECT_EQ(WTERMSIG(status), c.signal);
  }
  EXPECT_EQ(ReadAll(log), "800x600\n1024x768\n");
}

TEST_F(ScreenSwitcherTest, SignalReachesTheProgramsOwnHandlerAfterTheRestore) {
  const fs::path log = FDir / "changes.log";
  const int status = RunRestoreChild({"simulated", log.string(), "SIGTERM-own"});
  ASSERT_TRUE(WIFEXITED(status)) << status;
  EXPECT_EQ(WEXITSTATUS(status), 5);
  EXPECT_EQ(ReadAll(log), "800x600\n1024x768\nown\n");
}

TEST_F(ScreenSwitcherTest, IgnoredSignalStaysIgnored) {
  const fs::path log = FDir / "changes.log";
  const int status = RunRestoreChild({"simulated", log.string(), "SIGHUP-ignored"});
  ASSERT_TRUE(WIFEXITED(status)) << status;
  EXPECT_EQ(WEXITSTATUS(status), 4);
  EXPECT_EQ(ReadAll(log), "800x600\n1024x768\n");  // given back by the exit path
}

INSTANTIATE_TEST_SUITE_P(Ways, ProcessEnd,
                         ::testing::Values(EndCase{"SIGTERM", SIGTERM}, EndCase{"SIGINT", SIGINT},
                                           EndCase{"SIGHUP", SIGHUP}, EndCase{"SIGQUIT", SIGQUIT},
                                           EndCase{"SIGABRT", SIGABRT}, EndCase{"exit", 0},
                                           EndCase{"fault", -1}),
                         [](const ::testing::TestParamInfo<EndCase>& info) {
                           return std::string(info.param.name);
                         });

}  // namespace
}  // namespace display
