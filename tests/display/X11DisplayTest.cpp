// The switcher against a real X server: Xorg on the dummy video driver, started by this test as
// its own child process (it dies with the test process, whatever happens to the test).
#include <gtest/gtest.h>
// After gtest: Xlib's macros (None, Bool, ...) clash with its templates.
#include <X11/Xlib.h>
#include <X11/extensions/Xrandr.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <thread>

#include "display/DisplayDriver.h"
#include "display/ScreenChecker.h"
#include "display/ScreenSwitcher.h"

namespace display {
namespace {

namespace fs = std::filesystem;

// The process id written into the lock file of display :n, or -1.
pid_t LockOwner(int n) {
  std::ifstream lock("/tmp/.X" + std::to_string(n) + "-lock");
  long pid = -1;
  if (!(lock >> pid)) return -1;
  return static_cast<pid_t>(pid);
}

class PrivateXServer {
 public:
  // Starts Xorg on the first free display from :60 on; false (with the reason) if it fails.
  bool Start(std::string& why) {
    const char* source = std::getenv("BD_SOURCE_DIR");
    const fs::path config =
        fs::path(source && *source ? source : BD_TEST_SOURCE_DIR) / "scripts/xorg/dummy.conf";
    if (!fs::exists(config)) {
      why = "missing " + config.string();
      return false;
    }
    std::string pattern = (fs::temp_directory_path() / "bd-xorg-test-XXXXXX").string();
    FDir = mkdtemp(pattern.data());
    fs::create_directory(FDir / "conf.d");
    for (int n = 60; n < 100; ++n) {
      if (fs::exists("/tmp/.X" + std::to_string(n) + "-lock") ||
          fs::exists("/tmp/.X11-unix/X" + std::to_string(n)))
        continue;
      FDisplay = ":" + std::to_string(n);
      const std::string log = (FDir / "Xorg.log").string();
      const std::string confd = (FDir / "conf.d").string();
      const pid_t parent = getpid();
      FPid = fork();
      if (FPid < 0) {
        why = "fork failed";
        return false;
      }
      if (FPid == 0) {
        prctl(PR_SET_PDEATHSIG, SIGTERM);
        if (getppid() != parent) _exit(127);
        const int out = open((FDir / "out").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        if (out >= 0) {
          dup2(out, 1);
          dup2(out, 2);
        }
        const int null = open("/dev/null", O_RDONLY);
        if (null >= 0) dup2(null, 0);
        execlp("Xorg", "Xorg", FDisplay.c_str(), "-config", config.c_str(), "-configdir",
               confd.c_str(), "-logfile", log.c_str(), "-noreset", "-nolisten", "tcp",
               "-novtswitch", "-sharevts", "-keeptty", static_cast<char*>(nullptr));
        _exit(127);
      }
      for (int i = 0; i < 200; ++i) {
        int status = 0;
        if (waitpid(FPid, &status, WNOHANG) == FPid) {
          FPid = -1;
          break;
        }
        // Ready when it accepts connections and the display's lock names our process (and not
        // a server another test started on the same number at the same moment).
        if (LockOwner(n) == FPid) {
          if (Display* d = XOpenDisplay(FDisplay.c_str())) {
            XCloseDisplay(d);
            return true;
          }
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
      }
      if (FPid > 0) {
        why = "Xorg did not accept connections on " + FDisplay + " within 10 s";
        return false;
      }
      std::ifstream out(FDir / "out");
      std::string text((std::istreambuf_iterator<char>(out)), std::istreambuf_iterator<char>());
      if (text.find("already active") == std::string::npos) {
        why = "Xorg failed to start: " + text.substr(text.size() > 1500 ? text.size() - 1500 : 0);
        return false;
      }
    }
    why = "no free display number";
    return false;
  }

  ~PrivateXServer() {
    if (FPid > 0) {
      kill(FPid, SIGTERM);
      int status = 0;
      for (int i = 0; i < 100 && waitpid(FPid, &status, WNOHANG) == 0; ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
      if (waitpid(FPid, &status, WNOHANG) == 0) {
        kill(FPid, SIGKILL);
        waitpid(FPid, &status, 0);
      }
    }
    if (!FDir.empty()) fs::remove_all(FDir);
  }

  const std::string& Name() const { return FDisplay; }

 private:
  pid_t FPid = -1;
  fs::path FDir;
  std::string FDisplay;
};

bool HaveXorgDummy() {
  return fs::exists("/usr/lib/xorg/modules/drivers/dummy_drv.so") &&
         (fs::exists("/usr/bin/Xorg") || fs::exists("/usr/lib/xorg/Xorg"));
}

// Screen size in pixels and millimetres, as a fresh client sees it.
struct ScreenSize {
  int width, height, mmWidth, mmHeight;
};
ScreenSize SizeSeenBy(const std::string& name) {
  Display* d = XOpenDisplay(name.c_str());
  if (!d) return {0, 0, 0, 0};
  ScreenSize s{DisplayWidth(d, 0), DisplayHeight(d, 0), DisplayWidthMM(d, 0),
               DisplayHeightMM(d, 0)};
  XCloseDisplay(d);
  return s;
}

// A plain window of another client.
class OtherClient {
 public:
  explicit OtherClient(const std::string& name) : FDisplay(XOpenDisplay(name.c_str())) {}
  ~OtherClient() {
    if (FDisplay) XCloseDisplay(FDisplay);
  }
  bool Ok() const { return FDisplay != nullptr; }
  Window Create(int x, int y, unsigned w, unsigned h) {
    XSetWindowAttributes attr{};
    attr.background_pixel = BlackPixel(FDisplay, 0);
    const Window win =
        XCreateWindow(FDisplay, RootWindow(FDisplay, 0), x, y, w, h, 0, CopyFromParent, InputOutput,
                      CopyFromParent, CWBackPixel, &attr);
    XMapWindow(FDisplay, win);
    XSync(FDisplay, False);
    return win;
  }
  void Move(Window win, int x, int y) {
    XMoveWindow(FDisplay, win, x, y);
    XSync(FDisplay, False);
  }
  void Position(Window win, int& x, int& y) {
    XWindowAttributes a{};
    XGetWindowAttributes(FDisplay, win, &a);
    x = a.x;
    y = a.y;
  }

 private:
  Display* FDisplay;
};

class X11Display : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!HaveXorgDummy()) GTEST_SKIP() << "Xorg with the dummy video driver is not installed";
    // Xorg on Linux always takes hold of a virtual terminal (it shares the active one here).
    if (!fs::exists("/dev/tty0")) GTEST_SKIP() << "no virtual terminals (/dev/tty0) for Xorg";
    std::string why;
    ASSERT_TRUE(FServer.Start(why)) << why;
    std::string pattern = (fs::temp_directory_path() / "bd-x11-cfg-XXXXXX").string();
    FConfig = mkdtemp(pattern.data());
    setenv("XDG_CONFIG_HOME", FConfig.c_str(), 1);
  }
  void TearDown() override {
    if (!FConfig.empty()) fs::remove_all(FConfig);
  }

  TScreenSwitcherHooks FastHooks(std::shared_ptr<TDisplayDriver> driver) {
    TScreenSwitcherHooks hooks;
    hooks.Driver = std::move(driver);
    hooks.ShowMessage = [](const std::string&) {};
    auto clock = std::make_shared<int64_t>(0);
    hooks.TickCount = [clock] { return *clock += 250; };
    return hooks;
  }

  PrivateXServer FServer;
  fs::path FConfig;
};

TEST_F(X11Display, SwitchesTo800x600AndBackKeepingOtherWindows) {
  const ScreenSize before = SizeSeenBy(FServer.Name());
  ASSERT_EQ(before.width, 1024);
  ASSERT_EQ(before.height, 768);

  std::shared_ptr<TDisplayDriver> driver = TX11DisplayDriver::Open(FServer.Name().c_str());
  ASSERT_TRUE(driver);
  EXPECT_EQ(driver->GetDeviceCaps(HORZRES), 1024);
  EXPECT_EQ(driver->GetDeviceCaps(VERTRES), 768);
  EXPECT_EQ(driver->GetDeviceCaps(BITSPIXEL), 32);
  EXPECT_EQ(driver->GetDeviceCaps(VREFRESH), 60);
  DEVMODE current;
  ASSERT_TRUE(driver->EnumDisplaySettings(ENUM_CURRENT_SETTINGS, current));
  EXPECT_EQ(current.dmPelsWidth, 1024u);
  EXPECT_EQ(current.dmDisplayFrequency, 60u);
  // Other depths cannot be set on an X screen.
  DEVMODE sixteen = MakeDevMode(800, 600, 16, 60);
  EXPECT_EQ(driver->ChangeDisplaySettings(sixteen, CDS_TEST), DISP_CHANGE_BADMODE);
  EXPECT_EQ(TScreenChecker::ConfigCheckScreen(*driver, 800, 600, 16), VideoModeSupportedButTooHigh);
  EXPECT_EQ(TScreenChecker::ConfigCheckScreen(*driver, 1024, 768, 16), VideoModeSupportedAndEqual);
  EXPECT_EQ(TScreenChecker::ConfigCheckScreen(*driver, 1600, 1200, 16), VideoModeNotSupported);

  OtherClient other(FServer.Name());
  ASSERT_TRUE(other.Ok());
  const Window win = other.Create(700, 500, 200, 150);

  int32_t rv = -1;
  auto sw = TScreenSwitcher::ConfigCreateAndWait(800, 600, 16, 0, false, "", rv, FastHooks(driver));
  ASSERT_EQ(rv, VideoModeChangedSuccessfully);
  // 16 bits per pixel do not exist; the second pass finds the 32-bit 800x600 at the current 60 Hz.
  ASSERT_EQ(sw->ConfigDevmodList.size(), 1u);
  EXPECT_EQ(sw->ConfigDevmodList[0].Text, "60");

  int32_t currentIndex = -1, maxIndex = -1;
  ASSERT_TRUE(sw->ConfigSwitchNext(currentIndex, maxIndex));
  ASSERT_TRUE(sw->displayChanged);
  EXPECT_EQ(maxIndex, sw->ConfigMaxIndex);
  EXPECT_GT(maxIndex, currentIndex);
  const ScreenSize trial = SizeSeenBy(FServer.Name());
  EXPECT_EQ(trial.width, 800);
  EXPECT_EQ(trial.height, 600);
  EXPECT_EQ(driver->GetDeviceCaps(HORZRES), 800);
  bool saved = false;
  for (const TWindowPos& w : sw->WindowList()) saved = saved || w.Handle == win;
  EXPECT_TRUE(saved);

  // Something moves the window while the screen is small, as desktops do.
  other.Move(win, 5, 5);
  sw->ConfigSwitchBack();
  EXPECT_FALSE(sw->displayChanged);
  const ScreenSize after = SizeSeenBy(FServer.Name());
  EXPECT_EQ(after.width, 1024);
  EXPECT_EQ(after.height, 768);
  EXPECT_EQ(after.mmWidth, before.mmWidth);
  EXPECT_EQ(after.mmHeight, before.mmHeight);
  int x = 0, y = 0;
  other.Position(win, x, y);
  EXPECT_EQ(x, 700);
  EXPECT_EQ(y, 500);
}

TEST_F(X11Display, SignalDuringTrialRestoresTheServerMode) {
  // A fresh helper process (see RestoreChild.cpp) switches to 640x480 and is ended by SIGTERM.
  fflush(nullptr);
  const pid_t child = fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    execl(BD_RESTORE_CHILD, BD_RESTORE_CHILD, "x11", FServer.Name().c_str(), "SIGTERM",
          static_cast<char*>(nullptr));
    _exit(127);
  }
  int status = 0;
  ASSERT_EQ(waitpid(child, &status, 0), child);
  ASSERT_TRUE(WIFSIGNALED(status)) << "exit status " << WEXITSTATUS(status);
  EXPECT_EQ(WTERMSIG(status), SIGTERM);
  const ScreenSize after = SizeSeenBy(FServer.Name());
  EXPECT_EQ(after.width, 1024);
  EXPECT_EQ(after.height, 768);
}

}  // namespace
}  // namespace display
