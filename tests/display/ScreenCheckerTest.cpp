#include <gtest/gtest.h>

#include <vector>

#include "display/ScreenChecker.h"

namespace display {
namespace {

struct CheckCase {
  const char* name;
  std::vector<DEVMODE> modes;
  int32_t current;
  int32_t width, height, depth;
  int32_t verdict;
};

DEVMODE M(uint32_t w, uint32_t h, uint32_t bits) { return MakeDevMode(w, h, bits, 60); }

class ScreenCheckerVerdicts : public ::testing::TestWithParam<CheckCase> {};

TEST_P(ScreenCheckerVerdicts, MatchesTheTable) {
  const CheckCase& c = GetParam();
  TSimulatedDisplayDriver driver(c.modes, c.current);
  EXPECT_EQ(TScreenChecker::ConfigCheckScreen(driver, c.width, c.height, c.depth), c.verdict);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, ScreenCheckerVerdicts,
    ::testing::Values(
        CheckCase{"SameSizeEnoughColours", {M(1024, 768, 32), M(800, 600, 32)}, 1, 800, 600, 16, 0},
        CheckCase{"SameSizeMoreColours", {M(800, 600, 32)}, 0, 800, 600, 24, 0},
        CheckCase{"LargerAndOffered", {M(1024, 768, 32), M(800, 600, 32)}, 0, 800, 600, 16, 1},
        CheckCase{"LargerNotOffered", {M(1024, 768, 32), M(640, 480, 32)}, 0, 800, 600, 16, 2},
        CheckCase{"SmallerAndOffered", {M(640, 480, 32), M(800, 600, 32)}, 0, 800, 600, 16, -1},
        CheckCase{"SmallerNotOffered", {M(640, 480, 32)}, 0, 800, 600, 16, -2},
        // Wider but not tall enough: too small wins.
        CheckCase{"WiderButLower", {M(1280, 500, 32), M(800, 600, 32)}, 0, 800, 600, 16, -1},
        CheckCase{"WiderButLowerNotOffered", {M(1280, 500, 32)}, 0, 800, 600, 16, -2},
        CheckCase{
            "SameSizeFewerColoursOffered", {M(800, 600, 16), M(800, 600, 32)}, 0, 800, 600, 32, -1},
        CheckCase{"SameSizeFewerColoursNotOffered", {M(800, 600, 16)}, 0, 800, 600, 32, -2},
        // The size exists only at a lower depth, enumerated after the first deep-enough mode:
        // offered, since the later modes' depth is not checked.
        CheckCase{"SizeAtLowerDepthAfterDeepMode",
                  {M(640, 480, 8), M(1024, 768, 32), M(800, 600, 16)},
                  1,
                  800,
                  600,
                  32,
                  1},
        // ... but a match before the first deep-enough mode does not count.
        CheckCase{
            "SizeOnlyBeforeDeepMode", {M(800, 600, 16), M(1024, 768, 32)}, 1, 800, 600, 32, 2},
        // No mode reaches the depth (current included): never offered.
        CheckCase{"NoModeDeepEnough", {M(1024, 768, 16), M(800, 600, 16)}, 0, 800, 600, 32, -2},
        CheckCase{
            "NegativeDepthReachedByAll", {M(800, 600, 8), M(1024, 768, 8)}, 1, 800, 600, -1, 1},
        CheckCase{"NegativeSizeMatchesNoMode", {M(1024, 768, 32)}, 0, -1, 600, 16, 2}),
    [](const ::testing::TestParamInfo<CheckCase>& info) { return std::string(info.param.name); });

TEST(ScreenChecker, UsesTheProcessWideDriver) {
  SetCurrentDisplayDriver(std::make_shared<TSimulatedDisplayDriver>(
      std::vector<DEVMODE>{M(1024, 768, 32), M(800, 600, 32)}, 0));
  EXPECT_EQ(TScreenChecker::ConfigCheckScreen(800, 600, 16), VideoModeSupportedButTooHigh);
  SetCurrentDisplayDriver(
      std::make_shared<TSimulatedDisplayDriver>(std::vector<DEVMODE>{M(640, 480, 32)}, 0));
  EXPECT_EQ(TScreenChecker::ConfigCheckScreen(800, 600, 16), VideoModeNotSupported);
  SetCurrentDisplayDriver(nullptr);
}

}  // namespace
}  // namespace display
