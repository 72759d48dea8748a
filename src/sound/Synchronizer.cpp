#include "sound/Synchronizer.h"

#include <chrono>
#include <exception>
#include <utility>

namespace sound {

struct TQueuedSynchronizer::TCall {
  const std::function<void()>* Method;
  bool Done = false;
  std::exception_ptr Error;
};

TQueuedSynchronizer::TQueuedSynchronizer(std::function<void()> wakeUp) : FWakeUp(std::move(wakeUp)) {}

TQueuedSynchronizer::~TQueuedSynchronizer() = default;

void TQueuedSynchronizer::Synchronize(const std::function<void()>& method) {
  TCall call{&method, false, nullptr};
  {
    std::lock_guard lock(FLock);
    FCalls.push_back(&call);
  }
  FQueued.notify_all();
  if (FWakeUp) FWakeUp();
  std::unique_lock lock(FLock);
  FDone.wait(lock, [&] { return call.Done; });
  if (call.Error) std::rethrow_exception(call.Error);
}

void TQueuedSynchronizer::CheckSynchronize() {
  std::unique_lock lock(FLock);
  while (!FCalls.empty()) {
    TCall* call = FCalls.front();
    FCalls.pop_front();
    lock.unlock();
    try {
      (*call->Method)();
    } catch (...) {
      call->Error = std::current_exception();
    }
    lock.lock();
    call->Done = true;
    FDone.notify_all();
  }
}

bool TQueuedSynchronizer::WaitAndCheckSynchronize(int ms) {
  {
    std::unique_lock lock(FLock);
    if (!FQueued.wait_for(lock, std::chrono::milliseconds(ms), [this] { return !FCalls.empty(); }))
      return false;
  }
  CheckSynchronize();
  return true;
}

}  // namespace sound
