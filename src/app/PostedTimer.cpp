#include "app/PostedTimer.h"

namespace app {

TPostedTimer::TPostedTimer(QObject* context, int intervalMs) : FContext(context) {
  FTimer.setInterval(intervalMs);
  QObject::connect(&FTimer, &QTimer::timeout, FContext, [this] { Tick(); });
}

void TPostedTimer::SetEnabled(bool enabled) {
  if (enabled && !FTimer.isActive()) FTimer.start();
  if (!enabled) FTimer.stop();
}

void TPostedTimer::Tick() {
  if (FQueued) return;
  FQueued = true;
  QMetaObject::invokeMethod(FContext, [this] { RunStep(); }, Qt::QueuedConnection);
}

void TPostedTimer::RunStep() {
  FQueued = false;
  if (!FTimer.isActive()) return;
  const std::function<void()> step = FOnTimer;  // the step may replace FOnTimer while it runs
  if (step) step();
}

}  // namespace app
