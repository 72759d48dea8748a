#include "app/uQuestion.h"

#include <QCloseEvent>
#include <QLabel>
#include <QPushButton>

#include "app/uGlobal.h"

namespace app {

TQuestionForm::TQuestionForm(const TConfigState& config, int charset,
                             std::function<QSize()> screenSize, QWidget* parent)
    : QDialog(parent), FCharset(charset), FScreenSize(std::move(screenSize)) {
  setObjectName("QuestionForm");
  setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                 Qt::WindowStaysOnTopHint | Qt::MSWindowsFixedSizeDialogHint);
  QFont base("MS Sans Serif");
  base.setPixelSize(11);
  setFont(base);

  questionLabel = new QLabel(this);
  questionLabel->setObjectName("questionLabel");
  questionLabel->setGeometry(0, 16, 393, 33);
  questionLabel->setAlignment(Qt::AlignHCenter | Qt::AlignTop);
  yesButton = new QPushButton(this);
  yesButton->setObjectName("yesButton");
  yesButton->setGeometry(112, 56, 73, 25);
  noButton = new QPushButton(this);
  noButton->setObjectName("noButton");
  noButton->setGeometry(208, 56, 73, 25);
  connect(yesButton, &QPushButton::clicked, this, [this] { yesButtonClick(); });
  connect(noButton, &QPushButton::clicked, this, [this] { noButtonClick(); });
  FormCreate(config);
}

void TQuestionForm::FormCreate(const TConfigState& config) {
  setFixedSize(384, 92);
  Centre();
  setWindowTitle("Config");
  if (!config.silentMode) {
    const platform::TCustomIniFile* c = config.captionsIni.get();
    questionLabel->setText(DecodeText(Caption(c, "Question2"), FCharset));
    yesButton->setText(DecodeText(Caption(c, "JaButton"), FCharset));
    noButton->setText(DecodeText(Caption(c, "NeinButton"), FCharset));
    for (QWidget* w : std::initializer_list<QWidget*>{questionLabel, yesButton, noButton}) {
      QFont f("Tahoma");
      f.setPixelSize(11);
      w->setFont(f);
    }
  }
}

void TQuestionForm::Centre() {
  const QSize screen = FScreenSize ? FScreenSize() : QSize(0, 0);
  move((screen.width() - width()) / 2, (screen.height() - height()) / 2);
}

void TQuestionForm::SetQuestion(const std::string& text) {
  questionLabel->setText(DecodeText(text, FCharset));
}

void TQuestionForm::SetModalResult(int result) {
  FModalResult = result;
  if (result != mrNone && isVisible()) done(result);
}

int TQuestionForm::ShowModal() {
  FModalResult = mrNone;
  FInModalLoop = true;
  exec();
  FInModalLoop = false;
  return FModalResult;
}

void TQuestionForm::showEvent(QShowEvent* event) {
  QDialog::showEvent(event);
  FormShow();
}

void TQuestionForm::FormShow() {
  Centre();
  noButton->setFocus();
}

void TQuestionForm::closeEvent(QCloseEvent* event) {
  // No title-bar buttons: only an answer ends the dialog.
  if (FModalResult == mrNone) event->ignore();
  else QDialog::closeEvent(event);
}

}  // namespace app
