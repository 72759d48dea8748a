// Finds the display modes that can serve a required resolution, puts them on the screen one
// after the other on request, and returns to the mode that was active before.
//
// Use (on one thread, the user-interface thread):
//   int32_t rv = 0;
//   auto sw = TScreenSwitcher::ConfigCreateAndWait(800, 600, 16, freqMax, useLowerFreq,
//                                                  captionsPath, rv, hooks);
//   while (sw->ConfigSwitchNext(currentIndex, maxIndex)) {
//     if (!sw->displayChanged) continue;     // the driver refused this candidate
//     ... ask the user ...
//     sw->ConfigSwitchBack();
//   }
//
// Candidates: modes of exactly resX x resY, unrotated, whose refresh rate lies between the current
// rate (0 once lower rates are allowed) and max(freq, current rate). A first pass looks for depth
// `bits`, a second for 32 bits when `bits` is 16 and for 16 bits otherwise; second-pass
// candidates follow all first-pass ones, and within a pass they are ordered by falling refresh
// rate (equal rates in enumeration order). When nothing is found and lower rates were not yet
// allowed, the search runs once more with them allowed (and with the depth switched twice, which
// turns 24 into 32). The mode accepted on an earlier run (registry values
// "_AllPrograms<pair>TargetIndex" and "...MaxIndex" under HKEY_CURRENT_USER
// "Software\Brindel\Config", <pair> = current width, height, resX, resY in decimal) is tried
// first when the driver still enumerates the same number of modes.
//
// The screen is always given back: ConfigSwitchBack, the destructor, and the end of the process
// by exit(), SIGINT, SIGTERM, SIGHUP, SIGQUIT, SIGABRT or a fault signal all return to the mode
// that was active when the switcher was created (see ModeRestore.h). Every candidate is put on the
// screen when the driver accepts it, including one whose driver mode number is 0 and one equal to
// the mode active now.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "display/DisplayDriver.h"

namespace display {

// Result codes of ConfigCreateAndWait.
inline constexpr int32_t TargetVideoModeNotFound = 0;
inline constexpr int32_t VideoModeChangedSuccessfully = 1;

// Screen cursors passed to TScreenSwitcherHooks::SetScreenCursor.
inline constexpr int32_t crDefault = 0;
inline constexpr int32_t crHourGlass = -11;

// Milliseconds from a monotonic high-resolution clock, rounded to the nearest millisecond (halves
// to even).
int64_t BDGetTickCount64();

// One candidate: the mode number under which the driver enumerates it and the record it returned.
struct TDevObject {
  int32_t index = -1;
  DEVMODE devm;
};

// One entry of ConfigDevmodList: the decimal refresh rate as text, and the candidate.
struct TDevmodEntry {
  std::string Text;
  TDevObject Object;
};

// One saved top-level window.
struct TWindowPos {
  TWindowHandle Handle = 0;
  TRect WindowRect;
};

// What the switcher needs from its surroundings. Every member may be left empty.
struct TScreenSwitcherHooks {
  // The driver to use; empty: CurrentDisplayDriver().
  std::shared_ptr<TDisplayDriver> Driver;
  // A plain message box (shown when no candidate exists). Empty: the text goes to stderr.
  std::function<void(const std::string& text)> ShowMessage;
  // The application's screen cursor: crHourGlass during the settle wait, then crDefault.
  std::function<void(int32_t cursor)> SetScreenCursor;
  // The clock of the settle wait; empty: BDGetTickCount64. Tests pass a fake clock.
  std::function<int64_t()> TickCount;
};

class TScreenSwitcher {
 public:
  // Builds the candidate list and returns at once (it does not wait). `PathANDFile` is the
  // caption ini file; its key "TargetVideoModeNotFound" of section "ScreenSwitcher" is the text
  // shown when no candidate exists. `returnValue` receives VideoModeChangedSuccessfully when at
  // least one candidate exists, else TargetVideoModeNotFound (the object is usable either way).
  static std::unique_ptr<TScreenSwitcher> ConfigCreateAndWait(
      int32_t resX, int32_t resY, int32_t bits, int32_t freq, bool useLowerFreq,
      const std::string& PathANDFile, int32_t& returnValue, TScreenSwitcherHooks hooks = {});
  // Returns the screen if a candidate is still on it (Destroy).
  ~TScreenSwitcher();
  TScreenSwitcher(const TScreenSwitcher&) = delete;
  TScreenSwitcher& operator=(const TScreenSwitcher&) = delete;

  // Selects the next candidate and tries to put it on the screen; true when a candidate was left
  // (whether or not the switch succeeded: see displayChanged). MaxIndex always receives
  // ConfigMaxIndex, CurrentIndex the candidate's mode number when the result is true. After a
  // successful switch it waits two seconds with the busy cursor for the screen to settle. A
  // candidate still on the screen from the call before is switched back first.
  bool ConfigSwitchNext(int32_t& CurrentIndex, int32_t& MaxIndex);
  // Returns to the mode active before the trial if a candidate is on the screen, and puts the
  // saved windows back. Clears displayChanged in every case.
  void ConfigSwitchBack();
  // Does what the destructor does; harmless when called more than once.
  void Destroy();

  // Saves the visible top-level windows and their rectangles / moves the responding ones back.
  void SaveWindows();
  void RestoreWindows();

  // The mode to return to (from the driver, or built from its device caps when the driver could
  // not report the current mode).
  const DEVMODE& CurrentDevmod() const { return currentDevmod; }
  const std::vector<TWindowPos>& WindowList() const { return windowList; }

  // True while a candidate is on the screen.
  bool displayChanged = false;
  // Position in ConfigDevmodList of the candidate selected last; -1 before the first selection.
  int32_t ConfigCurrentPos = -1;
  // Number of modes the driver enumerated while the candidates were searched; -1 until then.
  int32_t ConfigMaxIndex = -1;
  // The ordered candidates.
  std::vector<TDevmodEntry> ConfigDevmodList;

 private:
  explicit TScreenSwitcher(TScreenSwitcherHooks hooks);
  void SearchCandidates(int32_t resX, int32_t resY, int32_t bits, int32_t currentRefresh,
                        int32_t freqMax, bool useLowerFreq);
  void SearchPass(int32_t resX, int32_t resY, uint32_t bitsPerPel, uint32_t freqMin,
                  uint32_t freqMax, size_t startPos);
  void ApplyPreferredMode(const std::string& pair);
  void SettleWait();
  void ReturnScreen();

  TScreenSwitcherHooks FHooks;
  std::shared_ptr<TDisplayDriver> FDriver;
  int32_t currentDisp = -1;
  int32_t targetDisp = -1;
  DEVMODE currentDevmod;
  DEVMODE targetDevmod;
  std::vector<TWindowPos> windowList;
  int32_t FLastEnumEnd = 0;
};

}  // namespace display
