// The configuration window: the background picture, the result lines and symbols of the tests,
// the question panel of the media tests, the video frame, the display choice and the OK button,
// and the timer-driven test sequence that fills them.
//
// The window reads the process-wide configuration (TConfigState) that the entry filled and that
// must outlive it; OKButtonClick releases the configuration readers and the registry object and
// closes the window. The question dialog must exist before the window is shown and outlive it.
// Every handler keeps the name of the event it serves. User-interface thread only.
#pragma once

#include <QCheckBox>
#include <QFrame>
#include <QLabel>
#include <QPushButton>
#include <QWidget>

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "app/MediaPlayer.h"
#include "app/PostedTimer.h"
#include "app/SoundOutput.h"
#include "app/uGlobal.h"
#include "controls/BDRadioButtonCharset.h"
#include "display/ScreenSwitcher.h"

class QProgressBar;
class QTimer;

namespace app {

class TQuestionForm;

// A label that reports clicks (the help lines).
class TClickLabel : public QLabel {
  Q_OBJECT
 public:
  using QLabel::QLabel;
 signals:
  void clicked();

 protected:
  void mouseReleaseEvent(QMouseEvent* event) override;
};

// What the window takes from its surroundings; the defaults are those of the program.
struct TFormServices {
  int ms100Interval = 100;
  int loopInterval = 5000;
  int guardInterval = 250;
  // Creates the sound player (default: the sound player thread).
  std::function<std::unique_ptr<TSoundOutput>()> CreateSoundPlayer;
  // The Flash control's version value; throws when the control cannot be created (always so on
  // this platform unless a probe is given).
  std::function<int64_t()> FlashVersion;
  // Clock of the screen switcher's settle wait (empty: the real clock).
  std::function<int64_t()> SwitcherClock;
};

class TForm1 : public QWidget {
  Q_OBJECT
 public:
  TForm1(TConfigState& config, TFormServices services, QWidget* parent = nullptr);
  ~TForm1() override;  // FormDestroy

  void SetQuestionForm(TQuestionForm* form) { QuestionForm = form; }

  // --- controls (object names as given here) ---
  QLabel* bgImage;
  QLabel* PrgName;
  QLabel* Image1;
  QLabel* Image2;
  QLabel* Question;
  QLabel* Actual;
  QLabel* Programm;
  QLabel* Recommend;
  TClickLabel* ColResHelp;
  TClickLabel* AudioHelp;
  TClickLabel* VideoHelp;
  TClickLabel* DirectXHelp;
  QLabel* Audio;
  QLabel* Video;
  QLabel* DirectX;
  QLabel* ColRes;
  QLabel* AudioImg;
  QLabel* VideoImg;
  QLabel* DirectXImg;
  QLabel* ColResImg;
  QPushButton* OKButton;
  QFrame* Panel4;
  controls::TBDRadioButtonCharset* AufloesungRadioButton;
  QCheckBox* AllProgramsCheckBox;
  controls::TBDRadioButtonCharset* VollbildRadioButton;
  QFrame* Panel1;
  TVideoPanel* Panel2;
  QFrame* Panel3;
  QFrame* Panel5;
  QLabel* Label1;
  QPushButton* Button2;
  QPushButton* Button3;
  QProgressBar* CountDown;
  TMediaPlayer* MediaPlayer1;
  TPostedTimer ms100;
  QTimer* LoopTimer;
  QTimer* NoneBefruchtungsTimer;

  // --- state ---
  std::unique_ptr<TSoundOutput> SoundPlayer;
  std::unique_ptr<display::TScreenSwitcher> screenSwitcher;
  TQuestionForm* QuestionForm = nullptr;
  bool RadioButtonSet = false;
  bool allowClose = false;
  bool audioCheck = true;
  bool videoCheck = true;
  bool playing = false;
  bool questRes = false;
  int32_t CurrentIndex = 0;
  int32_t MaxIndex = 0;
  int Charset = 1;
  int32_t checkStat = 0;

  // Which picture a result symbol shows ("OK.bmp", "Fail.bmp" or empty).
  static QString SymbolOf(const QLabel* image);
  // The red recommendation marker.
  bool RecommendIsRed() const;
  // Whether the sequence has reached one of its end states.
  bool SequenceDone() const { return FSequenceDone; }

  // --- handlers ---
  void StartUpTimerTimer();
  void StartTests();
  void OggTimer();
  void MP3Timer();
  void WavTimer();
  void AviTimer();
  void MpegTimer();
  void ContinueTests();
  void CountDownTimerTimer();
  void CheckOgg();
  void CheckMp3();
  void CheckWav();
  void CheckAvi();
  void CheckMpeg();
  int32_t CheckDirectX();
  int32_t CheckFlash();
  void Button2Click();
  void Button3Click();
  void LoopTimerTimer();
  void AudioHelpClick();
  void VideoHelpClick();
  void DirectXHelpClick();
  void ColResHelpClick();
  void AufloesungRadioButtonClick();
  void VollbildRadioButtonClick();
  void NoneBefruchtungsTimerTimer();
  void OKButtonClick();
  void InsertCompatibilityIntoRegistry();

 signals:
  void Closed();

 protected:
  void showEvent(QShowEvent* event) override;
  void closeEvent(QCloseEvent* event) override;  // FormCloseQuery

 private:
  void BuildControls();
  void FormCreate();
  void FormShow();
  void PlaceWindow();
  void Install(void (TForm1::*step)());
  void StartAudio(const char* file, const char* questionKey, void (TForm1::*finisher)());
  void StartVideo(const char* file, const char* questionKey, void (TForm1::*finisher)());
  void FinishAudio(const char* setting, bool settingDefault, bool judge, const char* nextSetting,
                   bool nextDefault, void (TForm1::*next)(), void (TForm1::*nextFinisher)());
  bool FinishVideo(const char* setting, bool judge);
  void ShowQuestion(const char* questionKey);
  void SetSymbol(QLabel* image, const char* file);
  void SetText(QLabel* label, const std::string& bytes);
  void SetRecommendRed(const std::string& bytes);
  void EndTrial();
  bool Setting(const char* key, bool defaultValue) const;
  std::string Text(const char* key) const;
  std::string Para(const char* key) const;
  void TextDialog(const std::string& text) const;
  QSize ScreenSize() const;
  int32_t ScreenCaps(int32_t index) const;

  TConfigState& FConfig;
  TFormServices FServices;
  std::string FPrgName;  // program name as 8-bit text (the PrgName label's text)
  bool FSequenceDone = false;
  bool FShown = false;
};

}  // namespace app
