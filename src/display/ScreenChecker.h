// Judges the screen as it is now against a required resolution and colour depth, and tells
// whether the display driver offers the required resolution at all.
#pragma once

#include <cstdint>

#include "display/DisplayDriver.h"

namespace display {

// Verdicts of ConfigCheckScreen: whether the screen is too small (or has too few colours), fits,
// or is larger, and whether the driver offers the required resolution.
inline constexpr int32_t VideoModeNotSupported = -2;           // too small; not offered
inline constexpr int32_t VideoModeSupportedButTooLow = -1;     // too small; offered
inline constexpr int32_t VideoModeSupportedAndEqual = 0;       // fits (offer not considered)
inline constexpr int32_t VideoModeSupportedButTooHigh = 1;     // larger; offered
inline constexpr int32_t VideoModeNotSupportedAndTooHigh = 2;  // larger; not offered

class TScreenChecker {
 public:
  // "Offered" means: some mode at or after the first enumerated mode whose depth reaches
  // ColorDepth has exactly ScreenWidth x ScreenHeight (that later mode's depth is not checked).
  // The screen is too small when its width, height or bits per pixel lie below the requirement;
  // it is larger when it is not too small and wider or taller. Negative sizes match no mode; a
  // negative depth is reached by every mode.
  static int32_t ConfigCheckScreen(int32_t ScreenWidth, int32_t ScreenHeight, int32_t ColorDepth);
  // The same against a given driver instead of CurrentDisplayDriver().
  static int32_t ConfigCheckScreen(TDisplayDriver& driver, int32_t ScreenWidth,
                                   int32_t ScreenHeight, int32_t ColorDepth);
};

}  // namespace display
