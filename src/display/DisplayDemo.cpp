// bd_display_demo [WIDTH HEIGHT [BITS]]: shows what the display services do on this screen.
//
// Lists the modes of the display driver (chosen as CreateDisplayDriver describes; default
// requirement 800x600 at 16 bits per pixel), judges the screen against the requirement, and puts
// every candidate on the screen in turn, for the two-second settle, before switching back.
// Exit status 0 when every switch back restored the screen, 1 otherwise.
#include <cstdio>
#include <cstdlib>
#include <string>

#include "display/DisplayDriver.h"
#include "display/ScreenChecker.h"
#include "display/ScreenSwitcher.h"

namespace {

std::string Describe(const display::DEVMODE& m) {
  std::string text = std::to_string(m.dmPelsWidth) + "x" + std::to_string(m.dmPelsHeight) + ", " +
                     std::to_string(m.dmBitsPerPel) + " bpp, " +
                     std::to_string(m.dmDisplayFrequency) + " Hz";
  if ((m.dmFields & display::DM_DISPLAYORIENTATION) &&
      m.dmDisplayOrientation != display::DMDO_DEFAULT)
    text += ", turned " + std::to_string(m.dmDisplayOrientation * 90) + " degrees";
  return text;
}

const char* VerdictText(int32_t verdict) {
  switch (verdict) {
    case display::VideoModeNotSupported:
      return "screen too small, mode not offered";
    case display::VideoModeSupportedButTooLow:
      return "screen too small, mode offered";
    case display::VideoModeSupportedAndEqual:
      return "screen fits";
    case display::VideoModeSupportedButTooHigh:
      return "screen larger, mode offered";
    case display::VideoModeNotSupportedAndTooHigh:
      return "screen larger, mode not offered";
    default:
      return "?";
  }
}

std::string ScreenNow(display::TDisplayDriver& driver) {
  return std::to_string(driver.GetDeviceCaps(display::HORZRES)) + "x" +
         std::to_string(driver.GetDeviceCaps(display::VERTRES));
}

}  // namespace

int main(int argc, char** argv) {
  const int32_t width = argc > 2 ? std::atoi(argv[1]) : 800;
  const int32_t height = argc > 2 ? std::atoi(argv[2]) : 600;
  const int32_t bits = argc > 3 ? std::atoi(argv[3]) : 16;

  try {
    const auto driver = display::CreateDisplayDriver();
    std::printf("driver: %s\n", driver->Name().c_str());
    display::DEVMODE m;
    if (driver->EnumDisplaySettings(display::ENUM_CURRENT_SETTINGS, m))
      std::printf("current mode: %s\n", Describe(m).c_str());
    std::printf("modes:\n");
    for (uint32_t i = 0; driver->EnumDisplaySettings(i, m); ++i)
      std::printf("  %2u: %s\n", i, Describe(m).c_str());

    const int32_t verdict =
        display::TScreenChecker::ConfigCheckScreen(*driver, width, height, bits);
    std::printf("required %dx%d at %d bpp: verdict %d (%s)\n", width, height, bits, verdict,
                VerdictText(verdict));

    display::TScreenSwitcherHooks hooks;
    hooks.Driver = driver;
    hooks.ShowMessage = [](const std::string& text) {
      std::printf("message: %s\n", text.empty() ? "(no candidate mode)" : text.c_str());
    };
    hooks.SetScreenCursor = [](int32_t cursor) {
      std::printf(cursor == display::crHourGlass ? "  settling ...\n" : "  settled\n");
      std::fflush(stdout);
    };
    int32_t rv = 0;
    auto sw =
        display::TScreenSwitcher::ConfigCreateAndWait(width, height, bits, 0, false, "", rv, hooks);
    std::printf("candidates: %zu\n", sw->ConfigDevmodList.size());
    bool ok = true;
    int32_t currentIndex = -1, maxIndex = -1;
    while (sw->ConfigSwitchNext(currentIndex, maxIndex)) {
      const auto& entry = sw->ConfigDevmodList[static_cast<size_t>(sw->ConfigCurrentPos)];
      std::printf("candidate %d / %zu: mode %d (%s)\n", sw->ConfigCurrentPos + 1,
                  sw->ConfigDevmodList.size(), currentIndex, Describe(entry.Object.devm).c_str());
      if (!sw->displayChanged) {
        std::printf("  the driver refused it\n");
        continue;
      }
      std::printf("  screen now %s\n", ScreenNow(*driver).c_str());
      sw->ConfigSwitchBack();
      const std::string back = ScreenNow(*driver);
      std::printf("  switched back: screen now %s\n", back.c_str());
      ok = ok && back == std::to_string(sw->CurrentDevmod().dmPelsWidth) + "x" +
                             std::to_string(sw->CurrentDevmod().dmPelsHeight);
    }
    std::printf("mode count stored with an accepted mode: %d\n", maxIndex);
    return ok ? 0 : 1;
  } catch (const std::exception& e) {
    std::fprintf(stderr, "bd_display_demo: %s\n", e.what());
    return 1;
  }
}
