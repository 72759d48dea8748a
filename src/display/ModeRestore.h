// Gives the screen back when the process ends while a trial mode is on it.
//
// TScreenSwitcher arms an entry (driver + the mode to return to) just before it changes the mode
// and disarms it once the old mode is back. While at least one entry is armed:
//  - exit() (and a return from main) restores every armed entry from an atexit handler;
//  - SIGINT, SIGTERM, SIGHUP and SIGQUIT: the handler only writes the signal number to a pipe
//    (async-signal-safe); a watcher thread wakes, restores every armed entry and then delivers the
//    signal again with the disposition that was in place before ours (by default: the process
//    ends with that signal);
//  - SIGABRT (abort(), an uncaught exception) and the faults SIGSEGV, SIGBUS, SIGFPE, SIGILL: the
//    handler waits up to three seconds for the watcher to restore, then hands the signal on to
//    the previous handler (by default: the process ends with that signal). A restore that cannot
//    run because the fault hit the driver itself gives up after the wait.
// The handlers are installed on the first Arm, once per process; a signal that was ignored when
// they are installed stays ignored. A forked child never restores its parent's entries. SIGKILL
// cannot be caught.
#pragma once

#include <memory>

#include "display/DisplayDriver.h"

namespace display {

class TModeRestore {
 public:
  // Remembers that `mode` is to be set on `driver` if the process ends before Disarm(owner).
  // A second Arm with the same owner keeps the first mode.
  static void Arm(const void* owner, std::shared_ptr<TDisplayDriver> driver, const DEVMODE& mode);
  static void Disarm(const void* owner);
  // Restores every armed entry now and disarms them (the exit and signal paths use this).
  static void RestoreAll();
  static bool IsArmed(const void* owner);
};

}  // namespace display
