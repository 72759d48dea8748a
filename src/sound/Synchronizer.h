// Running a call on the user-interface thread from another thread, waiting until it returns.
//
// The player delivers its finished events through a TSynchronizer. TQueuedSynchronizer is a
// complete one for programs whose user-interface thread runs an event loop: Synchronize queues the
// call and asks the program (through the wake-up function) to run CheckSynchronize on its
// user-interface thread soon; the calling thread waits until the call has run there.
#pragma once

#include <condition_variable>
#include <deque>
#include <functional>
#include <mutex>

namespace sound {

class TSynchronizer {
 public:
  virtual ~TSynchronizer() = default;
  // Runs `method` on the user-interface thread; returns once it has returned. Exceptions of
  // `method` are passed back to the caller. Must not be called on the user-interface thread.
  virtual void Synchronize(const std::function<void()>& method) = 0;
  // Runs the calls waiting in Synchronize. Called on the user-interface thread, also by code that
  // waits there for another thread (so that neither waits for the other forever).
  virtual void CheckSynchronize() = 0;
};

class TQueuedSynchronizer : public TSynchronizer {
 public:
  // `wakeUp` is called (on the synchronising thread) each time a call is queued; it should make
  // the user-interface thread call CheckSynchronize, e.g. by posting an event to its loop.
  explicit TQueuedSynchronizer(std::function<void()> wakeUp = {});
  ~TQueuedSynchronizer() override;
  void Synchronize(const std::function<void()>& method) override;
  void CheckSynchronize() override;
  // Waits at most `ms` milliseconds for a queued call and runs what is queued; true when
  // something ran. For user-interface threads without an event loop (tests, tools).
  bool WaitAndCheckSynchronize(int ms);

 private:
  struct TCall;
  std::function<void()> FWakeUp;
  std::mutex FLock;
  std::condition_variable FQueued;
  std::condition_variable FDone;
  std::deque<TCall*> FCalls;
};

}  // namespace sound
