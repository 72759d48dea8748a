// A process-local counting semaphore with a name for diagnostics.
//
// The player's queue lock, its wake-up count and the callers' wait handles are semaphores private
// to this process: the queue they guard is private too, so nothing outside the process has a
// reason to see them. The name only tells which semaphore is which in a debugger or a message.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <string>

namespace sound {

class TSemaphore {
 public:
  TSemaphore(std::string name, int32_t initialCount, int32_t maximumCount)
      : FName(std::move(name)), FCount(initialCount), FMaximum(maximumCount) {}
  TSemaphore(const TSemaphore&) = delete;
  TSemaphore& operator=(const TSemaphore&) = delete;

  const std::string& Name() const { return FName; }

  // Waits without time limit.
  void Acquire() {
    std::unique_lock lock(FLock);
    FChanged.wait(lock, [this] { return FCount > 0; });
    --FCount;
  }
  // Waits at most `ms` milliseconds; true when the count was taken.
  bool WaitFor(int32_t ms) {
    std::unique_lock lock(FLock);
    if (!FChanged.wait_for(lock, std::chrono::milliseconds(ms), [this] { return FCount > 0; }))
      return false;
    --FCount;
    return true;
  }
  // Adds one to the count; false (and no change) when it is at its maximum.
  bool Release() {
    {
      std::lock_guard lock(FLock);
      if (FCount >= FMaximum) return false;
      ++FCount;
    }
    FChanged.notify_one();
    return true;
  }

 private:
  const std::string FName;
  std::mutex FLock;
  std::condition_variable FChanged;
  int32_t FCount;
  const int32_t FMaximum;
};

}  // namespace sound
