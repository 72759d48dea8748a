// A timer that behaves like a posted timer message: its timeout only queues the current step,
// and the step runs from the event loop. A step that opens a modal dialog therefore sees further
// ticks from inside the dialog's nested loop, each running the step installed at that moment
// (re-entry). At most one tick is waiting at a time, and a tick that is still waiting when the
// timer is stopped is dropped.
//
// The step may replace itself (SetOnTimer) or stop the timer while it runs: the running step is
// a copy and stays alive until it returns. User-interface thread only.
#pragma once

#include <QTimer>

#include <functional>

namespace app {

class TPostedTimer {
 public:
  // `context` is the object the queued steps are delivered to (they are dropped if it is gone).
  TPostedTimer(QObject* context, int intervalMs);
  TPostedTimer(const TPostedTimer&) = delete;
  TPostedTimer& operator=(const TPostedTimer&) = delete;

  void SetOnTimer(std::function<void()> step) { FOnTimer = std::move(step); }
  void SetEnabled(bool enabled);
  bool Enabled() const { return FTimer.isActive(); }
  void SetInterval(int intervalMs) { FTimer.setInterval(intervalMs); }
  int Interval() const { return FTimer.interval(); }

 private:
  void Tick();
  void RunStep();

  QObject* FContext;
  QTimer FTimer;
  std::function<void()> FOnTimer;
  bool FQueued = false;
};

}  // namespace app
