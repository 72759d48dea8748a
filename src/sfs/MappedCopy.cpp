#include "sfs/MappedCopy.h"

#include <csetjmp>
#include <csignal>
#include <cstring>
#include <mutex>

namespace sfs {

namespace {

// Where a guarded copy on this thread resumes after a bus error; null outside one.
[[gnu::tls_model("initial-exec")]] thread_local sigjmp_buf* tResume = nullptr;
struct sigaction gPrevious {};

void OnBusError(int Signal, siginfo_t* Info, void* Context) {
  if (sigjmp_buf* resume = tResume) siglongjmp(*resume, 1);
  // Not a guarded copy: whatever was there before takes it.
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
[[gnu::noinline]] void CopyPieces(const uint8_t* From, const iovec* Pieces, int32_t Count) {
  for (int32_t i = 0; i < Count; ++i) {
    std::memcpy(Pieces[i].iov_base, From, Pieces[i].iov_len);
    From += Pieces[i].iov_len;
  }
}

}  // namespace

bool CopyFromMapping(const uint8_t* From, const iovec* Pieces, int32_t Count) {
  InstallHandler();
  sigjmp_buf resume;
  if (sigsetjmp(resume, 0) != 0) {
    tResume = nullptr;
    return false;
  }
  tResume = &resume;
  CopyPieces(From, Pieces, Count);
  tResume = nullptr;
  return true;
}

}  // namespace sfs
