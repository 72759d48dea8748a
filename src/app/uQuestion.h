// The yes/no dialog of the trial switch: asks, while a display mode is on trial, whether the
// picture is fine. Created once after the configuration window and shown modally per trial.
//
// The answer is the dialog's modal result (mrNone, mrYes, mrNo), which the trial reads and writes
// directly: setting a result other than mrNone while the dialog is shown ends its modal loop.
// User-interface thread only.
#pragma once

#include <QDialog>

#include <cstdint>
#include <functional>

class QLabel;
class QPushButton;

namespace app {

inline constexpr int mrNone = 0;
inline constexpr int mrYes = 6;
inline constexpr int mrNo = 7;

struct TConfigState;

class TQuestionForm : public QDialog {
  Q_OBJECT
 public:
  // `charset`: the configuration window's character set. `screenSize` reports the screen as it
  // is now (it may have been switched since the dialog was created).
  TQuestionForm(const TConfigState& config, int charset,
                std::function<QSize()> screenSize, QWidget* parent = nullptr);

  int ModalResult() const { return FModalResult; }
  void SetModalResult(int result);
  // Shows the dialog modally; returns its modal result.
  int ShowModal();
  // True between an answer and the return of ShowModal: the dialog is hidden, but its modal loop
  // may still deliver queued events before it ends.
  bool ModalLoopEnding() const { return FInModalLoop && FModalResult != mrNone; }

  // The question as 8-bit text of the window's character set.
  void SetQuestion(const std::string& text);

  QLabel* questionLabel;
  QPushButton* yesButton;
  QPushButton* noButton;

 public slots:
  void reject() override {}  // no cancel: Escape does not answer

 protected:
  void showEvent(QShowEvent* event) override;
  void closeEvent(QCloseEvent* event) override;

 private:
  void FormCreate(const TConfigState& config);
  void FormShow();
  void Centre();
  void yesButtonClick() { SetModalResult(mrYes); }
  void noButtonClick() { SetModalResult(mrNo); }

  int FCharset;
  std::function<QSize()> FScreenSize;
  int FModalResult = mrNone;
  bool FInModalLoop = false;
};

}  // namespace app
