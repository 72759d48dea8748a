#include "app/Dialogs.h"

#include <QFont>
#include <QMessageBox>
#include <QApplication>
#include <QThread>

#include "app/uGlobal.h"
#include "sound/Synchronizer.h"

namespace app {

namespace {

TDialogService*& Current() {
  static TDialogService* service = nullptr;
  return service;
}

void RunBox(const QString& text, bool textDialog) {
  QMessageBox box;
  box.setObjectName(textDialog ? "TextDialog" : "PlainMessage");
  box.setIcon(QMessageBox::NoIcon);
  box.setStandardButtons(QMessageBox::Ok);
  box.setWindowTitle(LocalText(ApplicationTitle()));
  box.setTextFormat(Qt::PlainText);
  box.setText(text);
  if (textDialog) {
    box.setWindowFlag(Qt::WindowStaysOnTopHint, true);
    box.setFont(QFont("Tahoma"));
  }
  box.exec();
}

}  // namespace

void TDialogService::ShowTextDialog(const std::string& text, int charset) {
  RunBox(DecodeText(text, charset), true);
}

void TDialogService::ShowPlainMessage(const QString& text) { RunBox(text, false); }

TDialogService& Dialogs() {
  static TDialogService qtDialogs;
  return Current() != nullptr ? *Current() : qtDialogs;
}

void SetDialogService(TDialogService* service) { Current() = service; }

namespace {
sound::TQueuedSynchronizer& UiSync() {
  // Queued calls wake the event loop; the application object outlives every waiting thread.
  static sound::TQueuedSynchronizer sync([] {
    if (QCoreApplication* app = QCoreApplication::instance())
      QMetaObject::invokeMethod(app, [] { UiSync().CheckSynchronize(); }, Qt::QueuedConnection);
  });
  return sync;
}
}  // namespace

sound::TSynchronizer& UiSynchronizer() { return UiSync(); }

bool AskRetryCancel(const std::string& text) {
  auto ask = [&text] {
    QMessageBox box;
    box.setObjectName("RetryQuestion");
    box.setIcon(QMessageBox::NoIcon);
    box.setWindowTitle(LocalText(ApplicationTitle()));
    box.setTextFormat(Qt::PlainText);
    box.setText(LocalText(text));
    box.setStandardButtons(QMessageBox::Retry | QMessageBox::Cancel);
    return box.exec() == QMessageBox::Retry;
  };
  QCoreApplication* app = QCoreApplication::instance();
  if (app == nullptr) return false;
  if (QThread::currentThread() == app->thread()) return ask();
  bool retry = false;
  UiSync().Synchronize([&] { retry = ask(); });
  return retry;
}

}  // namespace app
