#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>

#include "display/DisplayDriver.h"
#include "platform/Exception.h"

namespace display {
namespace {

namespace fs = std::filesystem;

class TempFolder {
 public:
  TempFolder() {
    std::string pattern = (fs::temp_directory_path() / "bd-display-XXXXXX").string();
    FPath = mkdtemp(pattern.data());
  }
  ~TempFolder() { fs::remove_all(FPath); }
  fs::path Write(const std::string& name, const std::string& text) const {
    std::ofstream(FPath / name) << text;
    return FPath / name;
  }

 private:
  fs::path FPath;
};

TEST(SimulatedDriver, ReadsAModeFile) {
  TempFolder dir;
  const auto file = dir.Write("modes.txt",
                              "# width height bits hz [orientation]\n"
                              "1024 768 32 60\n"
                              "\n"
                              "* 800 600 16 75\n"
                              "  768 1024 32 60 1\n");
  const auto driver = TSimulatedDisplayDriver::FromFile(file.string());
  DEVMODE m;
  ASSERT_TRUE(driver->EnumDisplaySettings(ENUM_CURRENT_SETTINGS, m));
  EXPECT_EQ(m.dmPelsWidth, 800u);
  EXPECT_EQ(m.dmBitsPerPel, 16u);
  EXPECT_EQ(m.dmDisplayFrequency, 75u);
  EXPECT_EQ(driver->GetDeviceCaps(HORZRES), 800);
  EXPECT_EQ(driver->GetDeviceCaps(VREFRESH), 75);
  ASSERT_TRUE(driver->EnumDisplaySettings(2, m));
  EXPECT_TRUE(m.dmFields & DM_DISPLAYORIENTATION);
  EXPECT_EQ(m.dmDisplayOrientation, DMDO_90);
  ASSERT_TRUE(driver->EnumDisplaySettings(0, m));
  EXPECT_FALSE(m.dmFields & DM_DISPLAYORIENTATION);
  EXPECT_FALSE(driver->EnumDisplaySettings(3, m));
}

TEST(SimulatedDriver, RejectsMalformedModeFiles) {
  TempFolder dir;
  for (const char* text : {"1024 768 32\n", "1024 768 32 60 7\n", "1024 768 x 60\n",
                           "1024 768 32 60 0 9\n", "# only a comment\n", "-800 600 16 60\n"}) {
    const auto file = dir.Write("bad.txt", text);
    EXPECT_THROW(TSimulatedDisplayDriver::FromFile(file.string()), platform::Exception) << text;
  }
  EXPECT_THROW(
      TSimulatedDisplayDriver::FromFile((fs::temp_directory_path() / "bd-no-such-file").string()),
      platform::Exception);
}

TEST(SimulatedDriver, ChangesModesAndMovesStrandedWindows) {
  TSimulatedDisplayDriver driver({MakeDevMode(1024, 768, 32, 60), MakeDevMode(800, 600, 32, 60)},
                                 0);
  const TWindowHandle inside = driver.AddWindow({10, 10, 110, 110});
  const TWindowHandle outside = driver.AddWindow({900, 100, 1000, 200});
  // A hand-made record is matched by its fields.
  EXPECT_EQ(driver.ChangeDisplaySettings(MakeDevMode(800, 600, 32, 60), CDS_TEST),
            DISP_CHANGE_SUCCESSFUL);
  EXPECT_EQ(driver.CurrentIndex(), 0);
  EXPECT_EQ(driver.ChangeDisplaySettings(MakeDevMode(800, 600, 16, 60), 0), DISP_CHANGE_BADMODE);
  ASSERT_EQ(driver.ChangeDisplaySettings(MakeDevMode(800, 600, 32, 60), 0), DISP_CHANGE_SUCCESSFUL);
  EXPECT_EQ(driver.CurrentIndex(), 1);
  TRect r;
  ASSERT_TRUE(driver.GetWindowRect(inside, r));
  EXPECT_EQ(r, (TRect{10, 10, 110, 110}));
  ASSERT_TRUE(driver.GetWindowRect(outside, r));
  EXPECT_EQ(r, (TRect{0, 0, 100, 100}));
  EXPECT_EQ(driver.GetTopLevelWindows(), (std::vector<TWindowHandle>{outside, inside}));
}

TEST(FixedDriver, ReportsOnlyTheScreenAndRefusesEveryChange) {
  const DEVMODE screen = MakeDevMode(1280, 1024, 32, 60);
  TFixedDisplayDriver driver(screen);
  DEVMODE m;
  ASSERT_TRUE(driver.EnumDisplaySettings(0, m));
  EXPECT_EQ(m.dmPelsWidth, 1280u);
  ASSERT_TRUE(driver.EnumDisplaySettings(ENUM_CURRENT_SETTINGS, m));
  EXPECT_FALSE(driver.EnumDisplaySettings(1, m));
  EXPECT_EQ(driver.ChangeDisplaySettings(screen, CDS_TEST), DISP_CHANGE_FAILED);
  EXPECT_EQ(driver.ChangeDisplaySettings(screen, 0), DISP_CHANGE_FAILED);
  EXPECT_EQ(driver.GetDeviceCaps(VERTRES), 1024);
  EXPECT_EQ(driver.GetDeviceCaps(BITSPIXEL), 32);
}

class ScopedEnv {
 public:
  ScopedEnv(const char* name, const char* value) : FName(name) {
    if (const char* old = std::getenv(name)) FOld = old;
    if (value) {
      setenv(name, value, 1);
    } else {
      unsetenv(name);
    }
  }
  ~ScopedEnv() {
    if (FOld.empty()) {
      unsetenv(FName);
    } else {
      setenv(FName, FOld.c_str(), 1);
    }
  }

 private:
  const char* FName;
  std::string FOld;
};

TEST(DriverFactory, HonoursTheOverrides) {
  TempFolder dir;
  const auto file = dir.Write("modes.txt", "640 480 16 60\n* 800 600 32 60\n");
  {
    ScopedEnv modes("BD_DISPLAY_MODES", file.c_str());
    const auto driver = CreateDisplayDriver();
    EXPECT_EQ(driver->Name(), "simulated");
    EXPECT_EQ(driver->GetDeviceCaps(HORZRES), 800);
  }
  {
    ScopedEnv modes("BD_DISPLAY_MODES", nullptr);
    ScopedEnv fixed("BD_DISPLAY_DRIVER", "fixed");
    ScopedEnv display("DISPLAY", nullptr);
    const DEVMODE fallback = MakeDevMode(1366, 768, 24, 0);
    const auto driver = CreateDisplayDriver(&fallback);
    EXPECT_EQ(driver->Name(), "fixed");
    EXPECT_EQ(driver->GetDeviceCaps(HORZRES), 1366);
  }
  {
    ScopedEnv modes("BD_DISPLAY_MODES", (fs::path(file).parent_path() / "missing.txt").c_str());
    EXPECT_THROW(CreateDisplayDriver(), platform::Exception);
  }
}

TEST(DriverFactory, FallsBackToTheFixedDriverWithoutAnXServer) {
  ScopedEnv modes("BD_DISPLAY_MODES", nullptr);
  ScopedEnv forced("BD_DISPLAY_DRIVER", nullptr);
  ScopedEnv display("DISPLAY", ":999");  // nothing listens there
  const auto driver = CreateDisplayDriver();
  EXPECT_EQ(driver->Name(), "fixed");
  EXPECT_EQ(driver->GetDeviceCaps(HORZRES), 0);
  EXPECT_EQ(driver->ChangeDisplaySettings(MakeDevMode(800, 600, 32, 60), CDS_TEST),
            DISP_CHANGE_FAILED);
}

}  // namespace
}  // namespace display
