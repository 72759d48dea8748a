#include "display/ModeRestore.h"

#include <fcntl.h>
#include <poll.h>
#include <pthread.h>
#include <signal.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstdlib>
#include <mutex>
#include <thread>
#include <vector>

namespace display {

namespace {

struct Entry {
  const void* owner;
  std::shared_ptr<TDisplayDriver> driver;
  DEVMODE mode;
};

struct State {
  std::mutex lock;
  std::vector<Entry> entries;
  pid_t pid = 0;  // the process the entries belong to
};

// Never destroyed: the atexit handler and the watcher thread may still use it while static
// objects are being torn down.
State& TheState() {
  static State* state = new State;
  return *state;
}

constexpr int cSignals[] = {SIGINT,  SIGTERM, SIGHUP, SIGQUIT, SIGABRT,
                            SIGSEGV, SIGBUS,  SIGFPE, SIGILL};
constexpr int cAbortWaitMs = 3000;

// Signals whose handler must not simply return (abort() and faults): it waits for the restore.
bool MustWait(int sig) {
  return sig == SIGABRT || sig == SIGSEGV || sig == SIGBUS || sig == SIGFPE || sig == SIGILL;
}

std::atomic<int> gArmedCount{0};
std::atomic<pid_t> gWatcherPid{0};
int gWakePipe[2] = {-1, -1};
int gDonePipe[2] = {-1, -1};
struct sigaction gPrevious[NSIG];
bool gHandlersInstalled = false;
bool gAtExitRegistered = false;

// Hands the signal on to what was installed before us (in the handler's context).
void DeliverToPrevious(int sig, siginfo_t* info, void* context) {
  const struct sigaction& prev = gPrevious[sig];
  if (prev.sa_flags & SA_SIGINFO) {
    if (prev.sa_sigaction) prev.sa_sigaction(sig, info, context);
    return;
  }
  if (prev.sa_handler == SIG_IGN) return;
  if (prev.sa_handler == SIG_DFL) {
    struct sigaction dfl = {};
    dfl.sa_handler = SIG_DFL;
    sigemptyset(&dfl.sa_mask);
    sigaction(sig, &dfl, nullptr);
    raise(sig);  // not blocked: installed with SA_NODEFER
    return;
  }
  prev.sa_handler(sig);
}

void OnSignal(int sig, siginfo_t* info, void* context) {
  const int savedErrno = errno;
  if (gArmedCount.load() > 0 && gWatcherPid.load() == getpid()) {
    const unsigned char byte = static_cast<unsigned char>(sig);
    if (write(gWakePipe[1], &byte, 1) == 1) {
      if (!MustWait(sig)) {
        errno = savedErrno;
        return;  // the watcher restores the screen and delivers the signal again
      }
      // abort() and faults must not return: wait here for the watcher.
      pollfd pfd{gDonePipe[0], POLLIN, 0};
      if (poll(&pfd, 1, cAbortWaitMs) > 0) {
        unsigned char done = 0;
        [[maybe_unused]] const ssize_t n = read(gDonePipe[0], &done, 1);
      }
    }
  }
  DeliverToPrevious(sig, info, context);
  errno = savedErrno;
}

void WatcherLoop() {
  for (;;) {
    unsigned char byte = 0;
    const ssize_t n = read(gWakePipe[0], &byte, 1);
    if (n < 0 && errno == EINTR) continue;
    if (n != 1) return;
    const int sig = byte;
    TModeRestore::RestoreAll();
    if (MustWait(sig)) {
      const unsigned char done = 1;
      [[maybe_unused]] const ssize_t w = write(gDonePipe[1], &done, 1);
      continue;
    }
    // Deliver the signal again, now to the handling that was in place before ours.
    sigaction(sig, &gPrevious[sig], nullptr);
    kill(getpid(), sig);
  }
}

void RestoreAtExit() { TModeRestore::RestoreAll(); }

// Called with the state lock held.
void EnsureInstalledLocked() {
  if (!gAtExitRegistered) {
    gAtExitRegistered = std::atexit(RestoreAtExit) == 0;
  }
  const pid_t self = getpid();
  if (gWatcherPid.load() != self) {
    // First arming in this process (or in a forked child, which has no watcher thread).
    if (pipe2(gWakePipe, O_CLOEXEC) != 0 || pipe2(gDonePipe, O_CLOEXEC) != 0) return;
    sigset_t all, old;
    sigfillset(&all);
    pthread_sigmask(SIG_SETMASK, &all, &old);  // the watcher inherits a mask blocking every signal
    try {
      std::thread(WatcherLoop).detach();
    } catch (...) {
      pthread_sigmask(SIG_SETMASK, &old, nullptr);
      return;
    }
    pthread_sigmask(SIG_SETMASK, &old, nullptr);
    gWatcherPid.store(self);
  }
  if (!gHandlersInstalled) {
    gHandlersInstalled = true;
    for (const int sig : cSignals) {
      struct sigaction prev = {};
      if (sigaction(sig, nullptr, &prev) != 0) continue;
      if (!(prev.sa_flags & SA_SIGINFO) && prev.sa_handler == SIG_IGN) continue;
      gPrevious[sig] = prev;
      struct sigaction ours = {};
      ours.sa_sigaction = OnSignal;
      ours.sa_flags = SA_SIGINFO | SA_NODEFER | SA_RESTART;
      sigemptyset(&ours.sa_mask);
      sigaction(sig, &ours, nullptr);
    }
  }
}

}  // namespace

void TModeRestore::Arm(const void* owner, std::shared_ptr<TDisplayDriver> driver,
                       const DEVMODE& mode) {
  State& s = TheState();
  std::lock_guard guard(s.lock);
  if (s.pid != getpid()) {
    // Entries inherited from a parent process are not ours to restore.
    s.entries.clear();
    s.pid = getpid();
  }
  EnsureInstalledLocked();
  const bool known = std::any_of(s.entries.begin(), s.entries.end(),
                                 [owner](const Entry& e) { return e.owner == owner; });
  if (!known) s.entries.push_back(Entry{owner, std::move(driver), mode});
  gArmedCount.store(static_cast<int>(s.entries.size()));
}

void TModeRestore::Disarm(const void* owner) {
  State& s = TheState();
  std::lock_guard guard(s.lock);
  if (s.pid != getpid()) return;
  std::erase_if(s.entries, [owner](const Entry& e) { return e.owner == owner; });
  gArmedCount.store(static_cast<int>(s.entries.size()));
}

bool TModeRestore::IsArmed(const void* owner) {
  State& s = TheState();
  std::lock_guard guard(s.lock);
  if (s.pid != getpid()) return false;
  return std::any_of(s.entries.begin(), s.entries.end(),
                     [owner](const Entry& e) { return e.owner == owner; });
}

void TModeRestore::RestoreAll() {
  std::vector<Entry> entries;
  {
    State& s = TheState();
    std::lock_guard guard(s.lock);
    if (s.pid != getpid()) return;
    entries.swap(s.entries);
    gArmedCount.store(0);
  }
  // Newest first, so that nested changes unwind to the oldest mode.
  for (auto it = entries.rbegin(); it != entries.rend(); ++it) {
    try {
      it->driver->ChangeDisplaySettings(it->mode, 0);
    } catch (...) {
      // Nothing more can be done on the way out.
    }
  }
}

}  // namespace display
