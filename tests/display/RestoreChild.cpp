// Helper of the restore tests: puts a trial mode on the screen and then ends in the way named on
// the command line, without ever switching back itself.
//
//   display_restore_child simulated <change-log> <how>   (1024x768 screen, candidate 800x600)
//   display_restore_child x11 <display> <how>            (candidate 640x480)
//   how: SIGTERM, SIGINT, SIGHUP, SIGQUIT, SIGABRT, exit (exit status 3), fault (a write to an
//   inaccessible page), SIGTERM-own (the program has its own SIGTERM handler, which appends
//   "own" to the change log and ends with exit status 5) or SIGHUP-ignored (SIGHUP was ignored
//   before the trial; the program goes on and ends with exit status 4)
//
// Exit status 10: set-up failed; 11: the trial mode did not come up; 13: the signal did not end
// the process.
#include <fcntl.h>
#include <signal.h>
#include <sys/mman.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>

#include "display/DisplayDriver.h"
#include "display/ScreenSwitcher.h"

using namespace display;

// Deliberately never destroyed (but reachable, so no leak is reported): only the exit and
// signal paths may give the screen back.
static TScreenSwitcher* gTrial = nullptr;
static const char* gLog = nullptr;

extern "C" void OwnTermHandler(int) {
  const int fd = open(gLog, O_WRONLY | O_APPEND | O_CREAT, 0644);
  if (fd >= 0) {
    [[maybe_unused]] const ssize_t n = write(fd, "own\n", 4);
    close(fd);
  }
  _exit(5);
}

int main(int argc, char** argv) {
  if (argc != 4) return 10;
  const std::string kind = argv[1];
  const std::string how = argv[3];
  std::shared_ptr<TDisplayDriver> driver;
  int32_t resX = 800, resY = 600;
  if (kind == "simulated") {
    auto sim = std::make_shared<TSimulatedDisplayDriver>(
        std::vector<DEVMODE>{MakeDevMode(800, 600, 32, 60), MakeDevMode(1024, 768, 32, 60)}, 1);
    sim->SetChangeLog(argv[2]);
    driver = sim;
  } else if (kind == "x11") {
    driver = TX11DisplayDriver::Open(argv[2]);
    resX = 640;
    resY = 480;
  }
  if (!driver) return 10;
  gLog = argv[2];
  if (how == "SIGTERM-own") signal(SIGTERM, OwnTermHandler);
  if (how == "SIGHUP-ignored") signal(SIGHUP, SIG_IGN);

  TScreenSwitcherHooks hooks;
  hooks.Driver = driver;
  hooks.ShowMessage = [](const std::string&) {};
  auto clock = std::make_shared<int64_t>(0);
  hooks.TickCount = [clock] { return *clock += 500; };
  int32_t rv = 0, current = 0, max = 0;
  gTrial = TScreenSwitcher::ConfigCreateAndWait(resX, resY, 32, 0, true, "", rv, hooks).release();
  if (!gTrial->ConfigSwitchNext(current, max) || !gTrial->displayChanged) return 11;
  if (driver->GetDeviceCaps(HORZRES) != resX) return 11;

  if (how == "exit") std::exit(3);
  if (how == "SIGABRT") std::abort();
  if (how == "fault") {
    void* page = mmap(nullptr, 4096, PROT_NONE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (page == MAP_FAILED) return 10;
    *static_cast<volatile int*>(page) = 1;
  }
  if (how == "SIGHUP-ignored") {
    raise(SIGHUP);
    usleep(100000);
    std::exit(4);
  }
  const int sig = how == "SIGTERM" || how == "SIGTERM-own" ? SIGTERM
                  : how == "SIGINT"                        ? SIGINT
                  : how == "SIGHUP"                        ? SIGHUP
                  : how == "SIGQUIT"                       ? SIGQUIT
                                                           : 0;
  if (sig == 0) return 10;
  raise(sig);
  // The handler returns at once; the mode-restoring thread then ends the process.
  for (int i = 0; i < 500; ++i) usleep(10000);
  return 13;
}
