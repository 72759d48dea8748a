// The display driver seam: display modes, device capabilities and the visible top-level windows.
//
// Everything above this header (screen checker, screen switcher, the configuration window) talks
// to the screen only through TDisplayDriver, whose operations carry the names and the result
// conventions of the classic display-settings calls (EnumDisplaySettings, ChangeDisplaySettings,
// GetDeviceCaps, the top-level window walk). Three back ends exist:
//
//  - TX11DisplayDriver: a real X server with RandR 1.2 or later. The modes are those of the
//    primary output (or of the first connected output with a CRTC), one entry per mode for the
//    pixel depth of the root window; X cannot change the depth at run time, so only that depth is
//    offered and a change to another depth fails. The current mode comes from the output's CRTC,
//    the refresh rate from the mode timings rounded to whole Hz (0 when the timings are missing).
//    A change grows the screen before the CRTC change and shrinks it after, waits for the
//    server's change notification and gives the screen back its physical size when it returns to
//    the size it had when the driver was opened.
//  - TSimulatedDisplayDriver: a mode list held in memory (from code or a small text file); for
//    tests and demonstrations. Changes only alter its state.
//  - TFixedDisplayDriver: only the current screen; every change (and every test of a change)
//    fails. Used where neither of the others applies.
//
// Choosing a back end: CreateDisplayDriver() (and CurrentDisplayDriver() on first use) picks
//  1. BD_DISPLAY_MODES=<file>   a simulated driver read from <file> (format: see
//                               TSimulatedDisplayDriver::FromFile); an unreadable file throws;
//  2. BD_DISPLAY_DRIVER=fixed   the fixed driver (for demonstrations without mode changes);
//  3. the X11 driver when $DISPLAY names an X server with RandR >= 1.2;
//  4. the fixed driver otherwise: on an X server without RandR 1.2 it reports the root window's
//     size and depth, without any X server it reports `fallbackScreen` (all zero when none is
//     given; the caller may pass the screen geometry its toolkit knows).
//
// Threads: every driver serialises its operations with its own mutex, so the mode-restoring
// path that runs when the process is ended by a signal (see ModeRestore.h) may use a driver that
// the user-interface thread uses as well. Apart from that, a driver is meant for one thread.
#pragma once

#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

namespace display {

// dmFields bits.
inline constexpr uint32_t DM_DISPLAYORIENTATION = 0x00000080;
inline constexpr uint32_t DM_BITSPERPEL = 0x00040000;
inline constexpr uint32_t DM_PELSWIDTH = 0x00080000;
inline constexpr uint32_t DM_PELSHEIGHT = 0x00100000;
inline constexpr uint32_t DM_DISPLAYFLAGS = 0x00200000;
inline constexpr uint32_t DM_DISPLAYFREQUENCY = 0x00400000;

// dmDisplayOrientation values.
inline constexpr uint32_t DMDO_DEFAULT = 0;
inline constexpr uint32_t DMDO_90 = 1;
inline constexpr uint32_t DMDO_180 = 2;
inline constexpr uint32_t DMDO_270 = 3;

// Mode numbers of EnumDisplaySettings.
inline constexpr uint32_t ENUM_CURRENT_SETTINGS = 0xFFFFFFFFu;

// ChangeDisplaySettings flags (0 is a dynamic change that is not remembered anywhere).
inline constexpr uint32_t CDS_TEST = 0x00000002;

// ChangeDisplaySettings results.
inline constexpr int32_t DISP_CHANGE_SUCCESSFUL = 0;
inline constexpr int32_t DISP_CHANGE_RESTART = 1;
inline constexpr int32_t DISP_CHANGE_FAILED = -1;
inline constexpr int32_t DISP_CHANGE_BADMODE = -2;
inline constexpr int32_t DISP_CHANGE_BADPARAM = -5;

// GetDeviceCaps indices.
inline constexpr int32_t HORZRES = 8;
inline constexpr int32_t VERTRES = 10;
inline constexpr int32_t BITSPIXEL = 12;
inline constexpr int32_t PLANES = 14;
inline constexpr int32_t VREFRESH = 116;

// One display mode. Width and height are those seen on the screen (a mode rotated by 90 or 270
// degrees reports them swapped).
struct DEVMODE {
  uint16_t dmSize = sizeof(DEVMODE);
  uint32_t dmFields = 0;
  uint32_t dmDisplayOrientation = DMDO_DEFAULT;
  uint32_t dmBitsPerPel = 0;
  uint32_t dmPelsWidth = 0;
  uint32_t dmPelsHeight = 0;
  uint32_t dmDisplayFlags = 0;
  uint32_t dmDisplayFrequency = 0;
  // Identity of the mode inside the back end that enumerated it (the RandR mode id, the index + 1
  // of a simulated mode); 0 for a record built by hand, which the back ends match by its fields.
  uint64_t dmDriverMode = 0;
};

// A record with width, height, depth and refresh set and flagged in dmFields.
DEVMODE MakeDevMode(uint32_t width, uint32_t height, uint32_t bitsPerPel, uint32_t frequency);

// Window handles are 32 bits wide (X11 window ids fit).
using TWindowHandle = uint32_t;

// A rectangle in screen coordinates; Right and Bottom lie just outside.
struct TRect {
  int32_t Left = 0;
  int32_t Top = 0;
  int32_t Right = 0;
  int32_t Bottom = 0;
  friend bool operator==(const TRect&, const TRect&) = default;
};

class TDisplayDriver {
 public:
  virtual ~TDisplayDriver() = default;
  TDisplayDriver() = default;
  TDisplayDriver(const TDisplayDriver&) = delete;
  TDisplayDriver& operator=(const TDisplayDriver&) = delete;

  // Short name of the back end ("x11", "simulated", "fixed").
  virtual std::string Name() const = 0;

  // Mode number iModeNum = 0, 1, 2, ... (false past the last one), or ENUM_CURRENT_SETTINGS for
  // the mode on the screen now. The record is only written on success.
  virtual bool EnumDisplaySettings(uint32_t iModeNum, DEVMODE& devMode) = 0;
  // dwFlags CDS_TEST only tests whether the mode could be set; 0 sets it. Returns one of the
  // DISP_CHANGE_ values.
  virtual int32_t ChangeDisplaySettings(const DEVMODE& devMode, uint32_t dwFlags) = 0;
  // HORZRES, VERTRES, BITSPIXEL, PLANES or VREFRESH of the screen as it is now; 0 for any other
  // index.
  virtual int32_t GetDeviceCaps(int32_t nIndex) = 0;

  // The top-level windows, topmost first.
  virtual std::vector<TWindowHandle> GetTopLevelWindows() = 0;
  virtual bool IsWindowVisible(TWindowHandle hWnd) = 0;
  virtual bool GetWindowRect(TWindowHandle hWnd, TRect& rect) = 0;
  // Whether the window still exists and answers within timeoutMs (the X11 back end can only tell
  // whether the window still exists).
  virtual bool IsWindowResponding(TWindowHandle hWnd, uint32_t timeoutMs) = 0;
  // Moves and sizes the window to `rect` without changing the stacking order.
  virtual bool SetWindowPos(TWindowHandle hWnd, const TRect& rect) = 0;
};

// A mode list in memory. Mode numbers are positions in the list; dmDriverMode of an enumerated
// record is its position + 1. A change to a record with dmDriverMode 0 picks the first mode with
// the same width, height, depth, refresh rate (and orientation when DM_DISPLAYORIENTATION is set).
//
// Simulated windows: a change of mode moves every window whose top-left corner would lie outside
// the new screen to (0, 0), as a desktop does to keep windows reachable, so that a test can see
// whether the switcher puts them back.
class TSimulatedDisplayDriver : public TDisplayDriver {
 public:
  // `currentIndex` names the mode on the screen at start; it must be a position in `modes`.
  TSimulatedDisplayDriver(std::vector<DEVMODE> modes, int32_t currentIndex);

  // Reads a mode file: one mode a line as "width height bits hz [orientation]", the current mode
  // marked by a leading "*" (else the first one is current); blank lines and lines starting with
  // "#" are ignored. Throws platform::Exception for an unreadable or malformed file.
  static std::shared_ptr<TSimulatedDisplayDriver> FromFile(const std::string& path);

  std::string Name() const override { return "simulated"; }
  bool EnumDisplaySettings(uint32_t iModeNum, DEVMODE& devMode) override;
  int32_t ChangeDisplaySettings(const DEVMODE& devMode, uint32_t dwFlags) override;
  int32_t GetDeviceCaps(int32_t nIndex) override;
  std::vector<TWindowHandle> GetTopLevelWindows() override;
  bool IsWindowVisible(TWindowHandle hWnd) override;
  bool GetWindowRect(TWindowHandle hWnd, TRect& rect) override;
  bool IsWindowResponding(TWindowHandle hWnd, uint32_t timeoutMs) override;
  bool SetWindowPos(TWindowHandle hWnd, const TRect& rect) override;

  // --- controls and observations for tests ---
  // The mode on the screen (position in the list).
  int32_t CurrentIndex() const;
  DEVMODE Current() const;
  // ENUM_CURRENT_SETTINGS fails while set; the device caps still report the current mode.
  void SetCurrentUnreadable(bool unreadable);
  // CDS_TEST (or the real change, 0) of the mode at `modeNum` fails with DISP_CHANGE_BADMODE /
  // DISP_CHANGE_FAILED.
  void RejectTest(uint32_t modeNum);
  void RejectChange(uint32_t modeNum);
  // Mode numbers of the successful real changes, in order.
  std::vector<int32_t> ChangeHistory() const;
  int32_t TestCount() const;
  // Appends "<width>x<height>\n" to `path` with a plain write() after every successful change,
  // so that another process can see the changes made by one that was killed.
  void SetChangeLog(const std::string& path);

  // Adds a simulated top-level window on top of the others and returns its handle.
  TWindowHandle AddWindow(const TRect& rect, bool visible = true);
  // A window that does not respond (hung or gone) is listed but fails IsWindowResponding.
  void SetWindowResponding(TWindowHandle hWnd, bool responding);
  void RemoveWindow(TWindowHandle hWnd);
  // Number of SetWindowPos calls that moved a window.
  int32_t MoveCount() const;

 private:
  struct Window {
    TWindowHandle handle;
    TRect rect;
    bool visible;
    bool responding;
  };
  int32_t FindModeLocked(const DEVMODE& devMode) const;
  Window* FindWindowLocked(TWindowHandle hWnd);

  mutable std::mutex FLock;
  std::vector<DEVMODE> FModes;
  int32_t FCurrent;
  bool FCurrentUnreadable = false;
  std::vector<uint32_t> FRejectTest;
  std::vector<uint32_t> FRejectChange;
  std::vector<int32_t> FHistory;
  int32_t FTestCount = 0;
  std::string FChangeLog;
  std::vector<Window> FWindows;  // topmost first
  TWindowHandle FNextHandle = 0x100;
  int32_t FMoveCount = 0;
};

// Only the current screen: mode 0 and ENUM_CURRENT_SETTINGS report it, every change fails with
// DISP_CHANGE_FAILED, and there are no windows to keep in place.
class TFixedDisplayDriver : public TDisplayDriver {
 public:
  explicit TFixedDisplayDriver(const DEVMODE& screen);

  std::string Name() const override { return "fixed"; }
  bool EnumDisplaySettings(uint32_t iModeNum, DEVMODE& devMode) override;
  int32_t ChangeDisplaySettings(const DEVMODE& devMode, uint32_t dwFlags) override;
  int32_t GetDeviceCaps(int32_t nIndex) override;
  std::vector<TWindowHandle> GetTopLevelWindows() override { return {}; }
  bool IsWindowVisible(TWindowHandle) override { return false; }
  bool GetWindowRect(TWindowHandle, TRect&) override { return false; }
  bool IsWindowResponding(TWindowHandle, uint32_t) override { return false; }
  bool SetWindowPos(TWindowHandle, const TRect&) override { return false; }

 private:
  DEVMODE FScreen;
};

// The X11 RandR back end over its own connection to the server.
class TX11DisplayDriver : public TDisplayDriver {
 public:
  // Connects to `displayName` (nullptr: $DISPLAY). Returns nullptr when there is no server or it
  // lacks RandR 1.2 or an output with a CRTC.
  static std::unique_ptr<TX11DisplayDriver> Open(const char* displayName = nullptr);
  // Size, bits per pixel and refresh rate (0) of the root window of any X server, for the fixed
  // driver where RandR 1.2 is missing; false when there is no server.
  static bool RootScreenMode(const char* displayName, DEVMODE& mode);
  ~TX11DisplayDriver() override;

  std::string Name() const override { return "x11"; }
  bool EnumDisplaySettings(uint32_t iModeNum, DEVMODE& devMode) override;
  int32_t ChangeDisplaySettings(const DEVMODE& devMode, uint32_t dwFlags) override;
  int32_t GetDeviceCaps(int32_t nIndex) override;
  std::vector<TWindowHandle> GetTopLevelWindows() override;
  bool IsWindowVisible(TWindowHandle hWnd) override;
  bool GetWindowRect(TWindowHandle hWnd, TRect& rect) override;
  bool IsWindowResponding(TWindowHandle hWnd, uint32_t timeoutMs) override;
  bool SetWindowPos(TWindowHandle hWnd, const TRect& rect) override;

  struct Impl;

 private:
  explicit TX11DisplayDriver(std::unique_ptr<Impl> impl);
  std::unique_ptr<Impl> FImpl;
};

// Picks a back end as described at the top of this header.
std::shared_ptr<TDisplayDriver> CreateDisplayDriver(const DEVMODE* fallbackScreen = nullptr);

// The process-wide driver that TScreenChecker and TScreenSwitcher use unless they are given one.
// Created with CreateDisplayDriver() on first use; SetCurrentDisplayDriver replaces it (tests
// inject a TSimulatedDisplayDriver; nullptr makes the next call create one afresh).
std::shared_ptr<TDisplayDriver> CurrentDisplayDriver();
void SetCurrentDisplayDriver(std::shared_ptr<TDisplayDriver> driver);

}  // namespace display
