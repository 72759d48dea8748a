#include "display/DisplayDriver.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <fstream>
#include <sstream>

#include "platform/Exception.h"

namespace display {

DEVMODE MakeDevMode(uint32_t width, uint32_t height, uint32_t bitsPerPel, uint32_t frequency) {
  DEVMODE m;
  m.dmFields = DM_PELSWIDTH | DM_PELSHEIGHT | DM_BITSPERPEL | DM_DISPLAYFREQUENCY;
  m.dmPelsWidth = width;
  m.dmPelsHeight = height;
  m.dmBitsPerPel = bitsPerPel;
  m.dmDisplayFrequency = frequency;
  return m;
}

// ---------------------------------------------------------------------------------------------
// Simulated driver

TSimulatedDisplayDriver::TSimulatedDisplayDriver(std::vector<DEVMODE> modes, int32_t currentIndex)
    : FModes(std::move(modes)), FCurrent(currentIndex) {
  platform::BDAssert(currentIndex >= 0 && static_cast<size_t>(currentIndex) < FModes.size(),
                     "TSimulatedDisplayDriver: the current mode must be one of the modes");
  for (size_t i = 0; i < FModes.size(); ++i) FModes[i].dmDriverMode = i + 1;
}

std::shared_ptr<TSimulatedDisplayDriver> TSimulatedDisplayDriver::FromFile(
    const std::string& path) {
  std::ifstream in(path);
  if (!in) throw platform::Exception("TSimulatedDisplayDriver.FromFile - cannot read " + path);
  std::vector<DEVMODE> modes;
  int32_t current = -1;
  std::string line;
  int lineNo = 0;
  while (std::getline(in, line)) {
    ++lineNo;
    const auto first = line.find_first_not_of(" \t\r");
    if (first == std::string::npos || line[first] == '#') continue;
    std::string body = line.substr(first);
    bool isCurrent = false;
    if (body[0] == '*') {
      isCurrent = true;
      body.erase(0, 1);
    }
    std::istringstream fields(body);
    long long v[5] = {0, 0, 0, 0, -1};
    int n = 0;
    while (n < 5 && fields >> v[n]) ++n;
    std::string rest;
    const bool trailing = static_cast<bool>(fields >> rest) && !rest.empty() && rest[0] != '#';
    bool ok = (n == 4 || n == 5) && !trailing;
    for (int i = 0; i < n && ok; ++i) ok = v[i] >= 0 && v[i] <= 0xFFFFFFFFll;
    if (ok && n == 5) ok = v[4] <= 3;
    if (!ok) {
      throw platform::Exception("TSimulatedDisplayDriver.FromFile - " + path + ":" +
                                std::to_string(lineNo) +
                                ": expected \"width height bits hz [orientation]\"");
    }
    DEVMODE m = MakeDevMode(static_cast<uint32_t>(v[0]), static_cast<uint32_t>(v[1]),
                            static_cast<uint32_t>(v[2]), static_cast<uint32_t>(v[3]));
    if (n == 5) {
      m.dmFields |= DM_DISPLAYORIENTATION;
      m.dmDisplayOrientation = static_cast<uint32_t>(v[4]);
    }
    if (isCurrent && current < 0) current = static_cast<int32_t>(modes.size());
    modes.push_back(m);
  }
  if (modes.empty())
    throw platform::Exception("TSimulatedDisplayDriver.FromFile - no modes in " + path);
  return std::make_shared<TSimulatedDisplayDriver>(std::move(modes), current < 0 ? 0 : current);
}

bool TSimulatedDisplayDriver::EnumDisplaySettings(uint32_t iModeNum, DEVMODE& devMode) {
  std::lock_guard guard(FLock);
  if (iModeNum == ENUM_CURRENT_SETTINGS) {
    if (FCurrentUnreadable) return false;
    devMode = FModes[static_cast<size_t>(FCurrent)];
    return true;
  }
  if (iModeNum >= FModes.size()) return false;
  devMode = FModes[iModeNum];
  return true;
}

int32_t TSimulatedDisplayDriver::FindModeLocked(const DEVMODE& devMode) const {
  if (devMode.dmDriverMode != 0) {
    return devMode.dmDriverMode <= FModes.size() ? static_cast<int32_t>(devMode.dmDriverMode - 1)
                                                 : -1;
  }
  for (size_t i = 0; i < FModes.size(); ++i) {
    const DEVMODE& m = FModes[i];
    if (m.dmPelsWidth != devMode.dmPelsWidth || m.dmPelsHeight != devMode.dmPelsHeight) continue;
    if ((devMode.dmFields & DM_BITSPERPEL) && m.dmBitsPerPel != devMode.dmBitsPerPel) continue;
    if ((devMode.dmFields & DM_DISPLAYFREQUENCY) &&
        m.dmDisplayFrequency != devMode.dmDisplayFrequency)
      continue;
    if ((devMode.dmFields & DM_DISPLAYORIENTATION) &&
        m.dmDisplayOrientation != devMode.dmDisplayOrientation)
      continue;
    return static_cast<int32_t>(i);
  }
  return -1;
}

int32_t TSimulatedDisplayDriver::ChangeDisplaySettings(const DEVMODE& devMode, uint32_t dwFlags) {
  std::lock_guard guard(FLock);
  if ((dwFlags & ~CDS_TEST) != 0) return DISP_CHANGE_BADPARAM;
  const int32_t index = FindModeLocked(devMode);
  if (index < 0) return DISP_CHANGE_BADMODE;
  const auto modeNum = static_cast<uint32_t>(index);
  if (dwFlags & CDS_TEST) {
    ++FTestCount;
    return std::count(FRejectTest.begin(), FRejectTest.end(), modeNum) ? DISP_CHANGE_BADMODE
                                                                       : DISP_CHANGE_SUCCESSFUL;
  }
  if (std::count(FRejectChange.begin(), FRejectChange.end(), modeNum)) return DISP_CHANGE_FAILED;
  FCurrent = index;
  FHistory.push_back(index);
  const DEVMODE& now = FModes[modeNum];
  for (Window& w : FWindows) {
    if (w.rect.Left >= static_cast<int64_t>(now.dmPelsWidth) ||
        w.rect.Top >= static_cast<int64_t>(now.dmPelsHeight)) {
      w.rect = TRect{0, 0, w.rect.Right - w.rect.Left, w.rect.Bottom - w.rect.Top};
    }
  }
  if (!FChangeLog.empty()) {
    const int fd = ::open(FChangeLog.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0644);
    if (fd >= 0) {
      const std::string text =
          std::to_string(now.dmPelsWidth) + "x" + std::to_string(now.dmPelsHeight) + "\n";
      [[maybe_unused]] const ssize_t written = ::write(fd, text.data(), text.size());
      ::close(fd);
    }
  }
  return DISP_CHANGE_SUCCESSFUL;
}

int32_t TSimulatedDisplayDriver::GetDeviceCaps(int32_t nIndex) {
  std::lock_guard guard(FLock);
  const DEVMODE& m = FModes[static_cast<size_t>(FCurrent)];
  switch (nIndex) {
    case HORZRES:
      return static_cast<int32_t>(m.dmPelsWidth);
    case VERTRES:
      return static_cast<int32_t>(m.dmPelsHeight);
    case BITSPIXEL:
      return static_cast<int32_t>(m.dmBitsPerPel);
    case PLANES:
      return 1;
    case VREFRESH:
      return static_cast<int32_t>(m.dmDisplayFrequency);
    default:
      return 0;
  }
}

std::vector<TWindowHandle> TSimulatedDisplayDriver::GetTopLevelWindows() {
  std::lock_guard guard(FLock);
  std::vector<TWindowHandle> result;
  for (const Window& w : FWindows) result.push_back(w.handle);
  return result;
}

TSimulatedDisplayDriver::Window* TSimulatedDisplayDriver::FindWindowLocked(TWindowHandle hWnd) {
  for (Window& w : FWindows) {
    if (w.handle == hWnd) return &w;
  }
  return nullptr;
}

bool TSimulatedDisplayDriver::IsWindowVisible(TWindowHandle hWnd) {
  std::lock_guard guard(FLock);
  const Window* w = FindWindowLocked(hWnd);
  return w && w->visible;
}

bool TSimulatedDisplayDriver::GetWindowRect(TWindowHandle hWnd, TRect& rect) {
  std::lock_guard guard(FLock);
  const Window* w = FindWindowLocked(hWnd);
  if (!w) return false;
  rect = w->rect;
  return true;
}

bool TSimulatedDisplayDriver::IsWindowResponding(TWindowHandle hWnd, uint32_t) {
  std::lock_guard guard(FLock);
  const Window* w = FindWindowLocked(hWnd);
  return w && w->responding;
}

bool TSimulatedDisplayDriver::SetWindowPos(TWindowHandle hWnd, const TRect& rect) {
  std::lock_guard guard(FLock);
  Window* w = FindWindowLocked(hWnd);
  if (!w) return false;
  w->rect = rect;
  ++FMoveCount;
  return true;
}

int32_t TSimulatedDisplayDriver::CurrentIndex() const {
  std::lock_guard guard(FLock);
  return FCurrent;
}

DEVMODE TSimulatedDisplayDriver::Current() const {
  std::lock_guard guard(FLock);
  return FModes[static_cast<size_t>(FCurrent)];
}

void TSimulatedDisplayDriver::SetCurrentUnreadable(bool unreadable) {
  std::lock_guard guard(FLock);
  FCurrentUnreadable = unreadable;
}

void TSimulatedDisplayDriver::RejectTest(uint32_t modeNum) {
  std::lock_guard guard(FLock);
  FRejectTest.push_back(modeNum);
}

void TSimulatedDisplayDriver::RejectChange(uint32_t modeNum) {
  std::lock_guard guard(FLock);
  FRejectChange.push_back(modeNum);
}

std::vector<int32_t> TSimulatedDisplayDriver::ChangeHistory() const {
  std::lock_guard guard(FLock);
  return FHistory;
}

int32_t TSimulatedDisplayDriver::TestCount() const {
  std::lock_guard guard(FLock);
  return FTestCount;
}

void TSimulatedDisplayDriver::SetChangeLog(const std::string& path) {
  std::lock_guard guard(FLock);
  FChangeLog = path;
}

TWindowHandle TSimulatedDisplayDriver::AddWindow(const TRect& rect, bool visible) {
  std::lock_guard guard(FLock);
  const TWindowHandle h = FNextHandle++;
  FWindows.insert(FWindows.begin(), Window{h, rect, visible, true});
  return h;
}

void TSimulatedDisplayDriver::SetWindowResponding(TWindowHandle hWnd, bool responding) {
  std::lock_guard guard(FLock);
  if (Window* w = FindWindowLocked(hWnd)) w->responding = responding;
}

void TSimulatedDisplayDriver::RemoveWindow(TWindowHandle hWnd) {
  std::lock_guard guard(FLock);
  std::erase_if(FWindows, [hWnd](const Window& w) { return w.handle == hWnd; });
}

int32_t TSimulatedDisplayDriver::MoveCount() const {
  std::lock_guard guard(FLock);
  return FMoveCount;
}

// ---------------------------------------------------------------------------------------------
// Fixed driver

TFixedDisplayDriver::TFixedDisplayDriver(const DEVMODE& screen) : FScreen(screen) {}

bool TFixedDisplayDriver::EnumDisplaySettings(uint32_t iModeNum, DEVMODE& devMode) {
  if (iModeNum != 0 && iModeNum != ENUM_CURRENT_SETTINGS) return false;
  devMode = FScreen;
  return true;
}

int32_t TFixedDisplayDriver::ChangeDisplaySettings(const DEVMODE&, uint32_t) {
  return DISP_CHANGE_FAILED;
}

int32_t TFixedDisplayDriver::GetDeviceCaps(int32_t nIndex) {
  switch (nIndex) {
    case HORZRES:
      return static_cast<int32_t>(FScreen.dmPelsWidth);
    case VERTRES:
      return static_cast<int32_t>(FScreen.dmPelsHeight);
    case BITSPIXEL:
      return static_cast<int32_t>(FScreen.dmBitsPerPel);
    case PLANES:
      return 1;
    case VREFRESH:
      return static_cast<int32_t>(FScreen.dmDisplayFrequency);
    default:
      return 0;
  }
}

// ---------------------------------------------------------------------------------------------
// Choice of back end

std::shared_ptr<TDisplayDriver> CreateDisplayDriver(const DEVMODE* fallbackScreen) {
  if (const char* file = std::getenv("BD_DISPLAY_MODES"); file && *file) {
    return TSimulatedDisplayDriver::FromFile(file);
  }
  const char* forced = std::getenv("BD_DISPLAY_DRIVER");
  const bool forceFixed = forced && std::string(forced) == "fixed";
  if (!forceFixed) {
    if (auto x11 = TX11DisplayDriver::Open()) return x11;
  }
  DEVMODE screen;
  if (!TX11DisplayDriver::RootScreenMode(nullptr, screen)) {
    screen = fallbackScreen ? *fallbackScreen : MakeDevMode(0, 0, 0, 0);
  }
  return std::make_shared<TFixedDisplayDriver>(screen);
}

namespace {
std::mutex gCurrentLock;
std::shared_ptr<TDisplayDriver>& CurrentSlot() {
  static std::shared_ptr<TDisplayDriver> slot;
  return slot;
}
}  // namespace

std::shared_ptr<TDisplayDriver> CurrentDisplayDriver() {
  std::lock_guard guard(gCurrentLock);
  auto& slot = CurrentSlot();
  if (!slot) slot = CreateDisplayDriver();
  return slot;
}

void SetCurrentDisplayDriver(std::shared_ptr<TDisplayDriver> driver) {
  std::lock_guard guard(gCurrentLock);
  CurrentSlot() = std::move(driver);
}

}  // namespace display
