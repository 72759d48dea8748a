#include "display/ScreenSwitcher.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <thread>

#include "display/ModeRestore.h"
#include "platform/IniFile.h"
#include "platform/Registry.h"

namespace display {

namespace {
constexpr int64_t cSettleMs = 2000;
constexpr uint32_t cProbeTimeoutMs = 2;
constexpr const char* cConfigKey = "Software\\Brindel\\Config";

int32_t OtherDepth(int32_t bits) { return bits == 16 ? 32 : 16; }
}  // namespace

int64_t BDGetTickCount64() {
  const int64_t ns = std::chrono::duration_cast<std::chrono::nanoseconds>(
                         std::chrono::steady_clock::now().time_since_epoch())
                         .count();
  int64_t ms = ns / 1000000;
  const int64_t rest = ns % 1000000;
  if (rest > 500000 || (rest == 500000 && (ms & 1) != 0)) ++ms;
  return ms;
}

TScreenSwitcher::TScreenSwitcher(TScreenSwitcherHooks hooks) : FHooks(std::move(hooks)) {
  FDriver = FHooks.Driver ? FHooks.Driver : CurrentDisplayDriver();
}

std::unique_ptr<TScreenSwitcher> TScreenSwitcher::ConfigCreateAndWait(
    int32_t resX, int32_t resY, int32_t bits, int32_t freq, bool useLowerFreq,
    const std::string& PathANDFile, int32_t& returnValue, TScreenSwitcherHooks hooks) {
  std::unique_ptr<TScreenSwitcher> self(new TScreenSwitcher(std::move(hooks)));
  TDisplayDriver& driver = *self->FDriver;

  const int32_t currentRefresh = driver.GetDeviceCaps(VREFRESH);
  const std::string pair = std::to_string(driver.GetDeviceCaps(HORZRES)) +
                           std::to_string(driver.GetDeviceCaps(VERTRES)) + std::to_string(resX) +
                           std::to_string(resY);
  if (driver.EnumDisplaySettings(ENUM_CURRENT_SETTINGS, self->currentDevmod)) self->currentDisp = 0;

  self->SearchCandidates(resX, resY, bits, currentRefresh, std::max(freq, currentRefresh),
                         useLowerFreq);
  self->ApplyPreferredMode(pair);

  if (self->currentDisp == -1) {
    DEVMODE& m = self->currentDevmod;
    m = MakeDevMode(
        static_cast<uint32_t>(driver.GetDeviceCaps(HORZRES)),
        static_cast<uint32_t>(driver.GetDeviceCaps(VERTRES)),
        static_cast<uint32_t>(driver.GetDeviceCaps(PLANES) * driver.GetDeviceCaps(BITSPIXEL)),
        static_cast<uint32_t>(currentRefresh));
  }

  if (!self->ConfigDevmodList.empty()) {
    returnValue = VideoModeChangedSuccessfully;
  } else {
    const platform::TIniFile captions(PathANDFile);
    const std::string text = captions.ReadString("ScreenSwitcher", "TargetVideoModeNotFound", "");
    if (self->FHooks.ShowMessage) {
      self->FHooks.ShowMessage(text);
    } else {
      std::fprintf(stderr, "%s\n", text.c_str());
    }
    returnValue = TargetVideoModeNotFound;
  }
  return self;
}

void TScreenSwitcher::SearchCandidates(int32_t resX, int32_t resY, int32_t bits,
                                       int32_t currentRefresh, int32_t freqMax, bool useLowerFreq) {
  uint32_t freqMin = static_cast<uint32_t>(currentRefresh);
  int32_t bitsperpixel = bits;
  do {
    if (useLowerFreq) freqMin = 0;
    useLowerFreq = true;  // a repetition always allows lower rates
    SearchPass(resX, resY, static_cast<uint32_t>(bitsperpixel), freqMin,
               static_cast<uint32_t>(freqMax), 0);
    const size_t firstPass = ConfigDevmodList.size();
    bitsperpixel = OtherDepth(bitsperpixel);
    SearchPass(resX, resY, static_cast<uint32_t>(bitsperpixel), freqMin,
               static_cast<uint32_t>(freqMax), firstPass);
    ConfigMaxIndex = FLastEnumEnd;
    bitsperpixel = OtherDepth(bitsperpixel);
  } while (ConfigDevmodList.empty() && freqMin != 0);
}

void TScreenSwitcher::SearchPass(int32_t resX, int32_t resY, uint32_t bitsPerPel, uint32_t freqMin,
                                 uint32_t freqMax, size_t startPos) {
  DEVMODE m;
  uint32_t i = 0;
  for (; FDriver->EnumDisplaySettings(i, m); ++i) {
    if (static_cast<int64_t>(m.dmPelsWidth) != resX || static_cast<int64_t>(m.dmPelsHeight) != resY)
      continue;
    if (m.dmBitsPerPel != bitsPerPel) continue;
    if (m.dmDisplayFrequency < freqMin || m.dmDisplayFrequency > freqMax) continue;
    if ((m.dmFields & DM_DISPLAYORIENTATION) && m.dmDisplayOrientation != DMDO_DEFAULT) continue;
    // Behind every entry of this pass with a rate not below this one.
    size_t pos = startPos;
    while (pos < ConfigDevmodList.size() &&
           ConfigDevmodList[pos].Object.devm.dmDisplayFrequency >= m.dmDisplayFrequency)
      ++pos;
    ConfigDevmodList.insert(
        ConfigDevmodList.begin() + static_cast<std::ptrdiff_t>(pos),
        TDevmodEntry{std::to_string(m.dmDisplayFrequency), TDevObject{static_cast<int32_t>(i), m}});
  }
  FLastEnumEnd = static_cast<int32_t>(i);
}

void TScreenSwitcher::ApplyPreferredMode(const std::string& pair) {
  int32_t storedTarget = -1;
  int32_t storedMax = -1;
  try {
    platform::TRegistry reg(platform::KEY_READ);
    reg.SetRootKey(platform::HKEY_CURRENT_USER);
    if (reg.OpenKey(cConfigKey, false)) {
      storedTarget = reg.ReadInteger("_AllPrograms" + pair + "TargetIndex");
      storedMax = reg.ReadInteger("_AllPrograms" + pair + "MaxIndex");
    }
  } catch (const std::exception&) {
    // No stored choice (or an unreadable store): no preferred mode.
  }
  if (ConfigMaxIndex != storedMax) return;
  const auto it = std::find_if(
      ConfigDevmodList.begin(), ConfigDevmodList.end(),
      [storedTarget](const TDevmodEntry& e) { return e.Object.index == storedTarget; });
  if (it != ConfigDevmodList.end()) std::rotate(ConfigDevmodList.begin(), it, it + 1);
}

TScreenSwitcher::~TScreenSwitcher() { Destroy(); }

void TScreenSwitcher::Destroy() {
  try {
    if (displayChanged) ReturnScreen();
  } catch (...) {
    // A destructor must not throw; the exit path retries the armed restore.
  }
  displayChanged = false;
}

bool TScreenSwitcher::ConfigSwitchNext(int32_t& CurrentIndex, int32_t& MaxIndex) {
  // Never leave a candidate on the screen behind the caller's back.
  if (displayChanged) ConfigSwitchBack();
  displayChanged = false;
  const auto count = static_cast<int32_t>(ConfigDevmodList.size());
  if (ConfigCurrentPos < count) ++ConfigCurrentPos;  // stops one past the last entry
  MaxIndex = ConfigMaxIndex;
  if (ConfigCurrentPos >= count) return false;

  const TDevObject& candidate = ConfigDevmodList[static_cast<size_t>(ConfigCurrentPos)].Object;
  targetDisp = candidate.index;
  targetDevmod = candidate.devm;
  if (targetDisp != -1 &&
      FDriver->ChangeDisplaySettings(targetDevmod, CDS_TEST) == DISP_CHANGE_SUCCESSFUL) {
    SaveWindows();
    TModeRestore::Arm(this, FDriver, currentDevmod);
    displayChanged = FDriver->ChangeDisplaySettings(targetDevmod, 0) == DISP_CHANGE_SUCCESSFUL;
    if (!displayChanged) TModeRestore::Disarm(this);
  }
  CurrentIndex = targetDisp;
  if (displayChanged) SettleWait();
  return true;
}

void TScreenSwitcher::SettleWait() {
  struct CursorGuard {
    const TScreenSwitcherHooks& hooks;
    explicit CursorGuard(const TScreenSwitcherHooks& h) : hooks(h) {
      if (hooks.SetScreenCursor) hooks.SetScreenCursor(crHourGlass);
    }
    ~CursorGuard() {
      if (hooks.SetScreenCursor) hooks.SetScreenCursor(crDefault);
    }
  } cursor(FHooks);
  const auto tick =
      FHooks.TickCount ? FHooks.TickCount : std::function<int64_t()>(BDGetTickCount64);
  // Elapsed time as an unsigned difference: correct across any wrap of the count.
  const auto start = static_cast<uint64_t>(tick());
  while (static_cast<uint64_t>(tick()) - start < static_cast<uint64_t>(cSettleMs)) {
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
}

void TScreenSwitcher::ReturnScreen() {
  if (FDriver->ChangeDisplaySettings(currentDevmod, 0) == DISP_CHANGE_SUCCESSFUL) {
    TModeRestore::Disarm(this);
  }
  RestoreWindows();
}

void TScreenSwitcher::ConfigSwitchBack() {
  if (displayChanged) ReturnScreen();
  displayChanged = false;
}

void TScreenSwitcher::SaveWindows() {
  windowList.clear();
  for (const TWindowHandle h : FDriver->GetTopLevelWindows()) {
    if (!FDriver->IsWindowVisible(h)) continue;
    TWindowPos pos;
    pos.Handle = h;
    if (FDriver->GetWindowRect(h, pos.WindowRect)) windowList.push_back(pos);
  }
}

void TScreenSwitcher::RestoreWindows() {
  for (const TWindowPos& w : windowList) {
    if (FDriver->IsWindowResponding(w.Handle, cProbeTimeoutMs))
      FDriver->SetWindowPos(w.Handle, w.WindowRect);
  }
  windowList.clear();
}

}  // namespace display
