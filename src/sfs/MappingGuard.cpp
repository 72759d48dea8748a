#include "sfs/MappingGuard.h"

#include <csetjmp>
#include <csignal>
#include <mutex>

namespace sfs {

namespace {

// The guarded visit running on this thread; null outside one.
struct TGuard {
  const uint8_t* Begin;
  const uint8_t* End;
  sigjmp_buf Resume;
};
[[gnu::tls_model("initial-exec")]] thread_local TGuard* tGuard = nullptr;
struct sigaction gPrevious {};

// A fault the kernel raised for an access to the guarded bytes (not a signal someone sent).
bool Guarded(const TGuard* Guard, const siginfo_t* Info) {
  if (Guard == nullptr || Info->si_code <= 0) return false;
  const auto* at = static_cast<const uint8_t*>(Info->si_addr);
  return at >= Guard->Begin && at < Guard->End;
}

void OnBusError(int Signal, siginfo_t* Info, void* Context) {
  if (TGuard* guard = tGuard; Guarded(guard, Info)) siglongjmp(guard->Resume, 1);
  // Not a guarded access: whatever was there before takes it.
  if ((gPrevious.sa_flags & SA_SIGINFO) != 0 && gPrevious.sa_sigaction != nullptr) {
    gPrevious.sa_sigaction(Signal, Info, Context);
  } else if ((gPrevious.sa_flags & SA_SIGINFO) == 0 && gPrevious.sa_handler != SIG_DFL &&
             gPrevious.sa_handler != SIG_IGN) {
    gPrevious.sa_handler(Signal);
  } else {
    // The default action: back to it, and the faulting access, repeated on return, ends the process.
    sigaction(SIGBUS, &gPrevious, nullptr);
  }
}

void InstallHandler() {
  static std::once_flag once;
  std::call_once(once, [] {
    struct sigaction action {};
    action.sa_sigaction = OnBusError;
    // Not blocked while it runs: the jump out of the handler leaves the signal mask as it is.
    action.sa_flags = SA_SIGINFO | SA_NODEFER;
    sigemptyset(&action.sa_mask);
    sigaction(SIGBUS, &action, &gPrevious);
  });
}

// Apart from the frame that set the resume point, so that nothing in that frame changes after it.
[[gnu::noinline]] void Run(const uint8_t* From, const TBytesVisitor& Visit) { Visit(From); }

}  // namespace

bool VisitMapping(const uint8_t* From, size_t Length, const TBytesVisitor& Visit) {
  InstallHandler();
  TGuard guard{From, From + Length, {}};
  if (sigsetjmp(guard.Resume, 0) != 0) {
    tGuard = nullptr;
    return false;
  }
  tGuard = &guard;
  try {
    Run(From, Visit);
  } catch (...) {
    tGuard = nullptr;
    throw;
  }
  tGuard = nullptr;
  return true;
}

}  // namespace sfs
