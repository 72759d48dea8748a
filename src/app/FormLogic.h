// Decisions of the configuration window as plain functions, so they can be checked without one.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace app {

// -1 when installed < required, 0 when equal, 1 when greater.
int32_t CompareVersion(int32_t installed, int32_t required);

// The DirectX build of a version string: the part after the third dot ("4.09.00.0904" -> 904), or
// the whole string when it has fewer than three dots. False when that part is not a decimal
// number (an empty or missing string included); `installed` is then 0.
bool ParseDirectXBuild(std::string_view version, int32_t& installed);

// Result of CheckDirectX: a build that cannot be read counts as missing (-1).
int32_t DirectXOutcome(std::string_view version, int32_t required, int32_t& installed);

// Major version of the Flash control's version value (major number in the upper 16 bits).
int32_t FlashMajorVersion(int64_t flashVersion);

// Value of the "Switch" entries: -1 below the requirement, 1 for full screen, 0 otherwise.
int32_t SwitchValue(int32_t checkStat, bool keepCurrentResolution);

// Text of the trial question: "800 x 600", nine spaces, "1 / 3", CR, the question line.
std::string TrialQuestionText(int32_t reqHorzRes, int32_t reqVertRes, int32_t candidate,
                              int32_t candidates, std::string_view question2);

}  // namespace app
