// The tool's two dialog styles behind one small seam, so tests can record or answer them.
//
// ShowTextDialog: every informational text: no icon, a single OK button, kept on top of all
// windows, font "Tahoma", text decoded from the given font character set, modal.
// ShowPlainMessage: fixed messages: the same box with the default font, not kept on top.
// Both carry ApplicationTitle() as their title. Called on the user-interface thread only.
#pragma once

#include <QString>

#include <string>

namespace app {

class TDialogService {
 public:
  virtual ~TDialogService() = default;
  virtual void ShowTextDialog(const std::string& text, int charset);
  virtual void ShowPlainMessage(const QString& text);
};

// The service in use (a Qt one unless SetDialogService replaced it; the caller keeps ownership
// of a replacement and restores nullptr before destroying it).
TDialogService& Dialogs();
void SetDialogService(TDialogService* service);

}  // namespace app

namespace sound {
class TSynchronizer;
}

namespace app {

// The user-interface thread's synchronizer: another thread (the sound player's, a reader of the
// file access facade) runs a call there and waits until it has returned. The call runs from the
// event loop, or earlier when code on the user-interface thread that waits for such a thread
// serves it with CheckSynchronize (the sound player does so while it ends).
sound::TSynchronizer& UiSynchronizer();

// The file access facade's Retry/Cancel question (true: Retry). May be called from any thread:
// off the user-interface thread it runs there through UiSynchronizer and the caller waits for the
// answer.
bool AskRetryCancel(const std::string& text);

}  // namespace app
