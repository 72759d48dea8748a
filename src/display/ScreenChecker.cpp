#include "display/ScreenChecker.h"

namespace display {

int32_t TScreenChecker::ConfigCheckScreen(int32_t ScreenWidth, int32_t ScreenHeight,
                                          int32_t ColorDepth) {
  const auto driver = CurrentDisplayDriver();
  return ConfigCheckScreen(*driver, ScreenWidth, ScreenHeight, ColorDepth);
}

int32_t TScreenChecker::ConfigCheckScreen(TDisplayDriver& driver, int32_t ScreenWidth,
                                          int32_t ScreenHeight, int32_t ColorDepth) {
  bool sysReq = false;
  DEVMODE mode;
  uint32_t i = 0;
  // Find the first mode deep enough ...
  bool deepEnough = false;
  while (driver.EnumDisplaySettings(i, mode)) {
    if (static_cast<int64_t>(mode.dmBitsPerPel) >= ColorDepth) {
      deepEnough = true;
      break;
    }
    ++i;
  }
  // ... and from there on look for the size, at any depth.
  if (deepEnough) {
    for (; driver.EnumDisplaySettings(i, mode); ++i) {
      if (static_cast<int64_t>(mode.dmPelsWidth) == ScreenWidth &&
          static_cast<int64_t>(mode.dmPelsHeight) == ScreenHeight) {
        sysReq = true;
      }
    }
  }

  const int32_t width = driver.GetDeviceCaps(HORZRES);
  const int32_t height = driver.GetDeviceCaps(VERTRES);
  const int32_t bits = driver.GetDeviceCaps(BITSPIXEL);
  if (width < ScreenWidth || height < ScreenHeight || bits < ColorDepth) {
    return sysReq ? VideoModeSupportedButTooLow : VideoModeNotSupported;
  }
  if (width > ScreenWidth || height > ScreenHeight) {
    return sysReq ? VideoModeSupportedButTooHigh : VideoModeNotSupportedAndTooHigh;
  }
  return VideoModeSupportedAndEqual;
}

}  // namespace display
