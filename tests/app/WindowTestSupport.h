// Whole runs of the configuration window under the offscreen platform: a simulated display, a
// fake or real sound player, dialogs answered by the test from inside their own modal loops.
#pragma once

#include <QApplication>
#include <QCheckBox>
#include <QEventLoop>
#include <QMessageBox>
#include <QProgressBar>
#include <QPushButton>
#include <QTimer>

#include <deque>
#include <functional>
#include <optional>

#include "AppTestSupport.h"
#include "app/Config.h"
#include "app/Dialogs.h"
#include "app/Unit1.h"
#include "app/uQuestion.h"
#include "display/DisplayDriver.h"
#include "display/ScreenChecker.h"

namespace apptest {

inline void EnsureApplication() {
  if (QApplication::instance() != nullptr) return;
  qputenv("QT_MEDIA_BACKEND", "ffmpeg");
  static int argc = 1;
  static char name[] = "app_tests";
  static char* argv[] = {name, nullptr};
  new QApplication(argc, argv);  // lives for the whole test program
  QApplication::setQuitOnLastWindowClosed(false);
}

// Records what the window asked the sound player to do.
class TFakeSound : public app::TSoundOutput {
 public:
  explicit TFakeSound(bool deactivated) : FDeactivated(deactivated) {}
  bool Deactivated() const override { return FDeactivated; }
  void Play(const std::string& fileName, bool playForever) override {
    plays.push_back(fileName);
    EXPECT_TRUE(playForever);
  }
  void StopAll(bool) override { ++stops; }
  std::vector<std::string> plays;
  int stops = 0;

 private:
  bool FDeactivated;
};

inline display::DEVMODE Mode(uint32_t w, uint32_t h, uint32_t bits, uint32_t hz) {
  return display::MakeDevMode(w, h, bits, hz);
}

// Caption file whose every text is its own key name (paragraphs: name1=name), so a test can see
// which texts were used.
inline std::string KeyNameCaptions(int charset = 1) {
  std::string text = "[Charset]\nCharset=" + std::to_string(charset) + "\n[ScreenSwitcher]\nTargetVideoModeNotFound=NoMode\n[Texte]\n";
  for (const char* line : {"MinReqFail1", "MinReqFail2", "MinReqFail3", "Prg1", "Prg2", "Prg3",
                           "ChangeColRes1", "ChangeColRes2", "ChangeColRes3", "ChangeColRes4",
                           "ChangeColRes5", "Audio", "Video", "ColRes", "ActualRes", "Fullscreen",
                           "AudioHelp_Caption", "VideoHelp_Caption", "ColREsHelp_Caption",
                           "DirectXHelp_Caption", "JaButton", "NeinButton", "Question2",
                           "Question3", "Question4", "Question5", "Question6", "Question7",
                           "DirectX1", "Act1", "Act2", "Act3", "Optimal1", "Optimal2",
                           "DirectXHelp1", "DirectXHelp2"})
    text += std::string(line) + "=" + line + "\n";
  for (const char* para : {"LessColRes", "StartUp", "IDK", "Rec", "RecLess", "Change2Full",
                           "FullScreenInfo", "NoFullScreenInfo", "AudioHelp", "VideoHelp"})
    text += std::string(para) + "1=" + para + "\n";
  return text;
}

class TWindowRun {
 public:
  TWindowRun() {
    EnsureApplication();
    const fs::path demo = fs::path(std::getenv("BD_SOURCE_DIR")) / "demo" / "deutsch";
    fs::create_directories(inst.root / "deutsch");
    for (const char* f : {"Hintergrund.bmp", "Bildlinks.bmp", "Bildrechts.bmp", "OK.bmp", "Fail.bmp"})
      fs::copy_file(demo / f, inst.root / "deutsch" / f, fs::copy_options::overwrite_existing);
    SetModes({Mode(1024, 768, 32, 60), Mode(800, 600, 32, 60), Mode(800, 600, 32, 72),
              Mode(640, 480, 32, 60)},
             0);
  }
  ~TWindowRun() {
    form.reset();
    question.reset();
    app::SetDialogService(nullptr);
    display::SetCurrentDisplayDriver(nullptr);
  }

  void SetModes(std::vector<display::DEVMODE> modes, int32_t current) {
    driver = std::make_shared<display::TSimulatedDisplayDriver>(std::move(modes), current);
    display::SetCurrentDisplayDriver(driver);
  }
  // settings.ini options (one "key=value" a line) below PrgName=Lesen; captions as given.
  void Install(const std::string& options, const std::string& captions = KeyNameCaptions()) {
    inst.MakeStandard(options, captions);
    WriteFile(inst.root / "bin" / "program.ini",
              "[Language]\nConfigIniPath=deutsch\\\n[Program]\nExeName=lesen\n");
  }
  void CopyMedia(const std::vector<std::string>& files) {
    const fs::path demo = fs::path(std::getenv("BD_SOURCE_DIR")) / "demo" / "deutsch";
    for (const auto& f : files)
      fs::copy_file(demo / f, inst.root / "deutsch" / f, fs::copy_options::overwrite_existing);
  }

  // Runs start-up and, when it opens the window, the window until it closes or `timeoutMs`
  // passed. Returns true when the window opened and closed.
  bool Run(const std::vector<std::string>& args = {}, int timeoutMs = 20000) {
    app::TStartupServices services = app::DefaultStartupServices();
    services.Dialogs = &app::Dialogs();
    QTimer answerer;
    answerer.setInterval(2);
    QObject::connect(&answerer, &QTimer::timeout, [this] { Answer(); });
    answerer.start();
    if (app::StartUp(state, inst.exe, args, services) != app::TStartupResult::OpenWindow)
      return false;
    opened = true;
    app::SetApplicationTitle("Config");
    app::TFormServices fs;
    fs.ms100Interval = 5;
    fs.loopInterval = loopInterval;
    fs.guardInterval = guardInterval;
    if (realSound) {
      fs.CreateSoundPlayer = [this] { return app::CreateGlobalPlayerOutput(soundLib); };
    } else {
      fs.CreateSoundPlayer = [this] {
        auto s = std::make_unique<TFakeSound>(soundDeactivated);
        sound = s.get();
        return s;
      };
    }
    fs.FlashVersion = flashVersion;
    fs.SwitcherClock = [] {
      static int64_t now = 0;
      return now += 1000;
    };
    form = std::make_unique<app::TForm1>(state, fs);
    question = std::make_unique<app::TQuestionForm>(state, form->Charset, [this] {
      return QSize(driver->GetDeviceCaps(display::HORZRES), driver->GetDeviceCaps(display::VERTRES));
    });
    form->SetQuestionForm(question.get());
    if (onCountDown)
      QObject::connect(form->CountDown, &QProgressBar::valueChanged, [this](int v) { onCountDown(*this, v); });
    QEventLoop loop;
    bool closed = false;
    QObject::connect(form.get(), &app::TForm1::Closed, &loop, [&] {
      closed = true;
      loop.quit();
    });
    QTimer::singleShot(timeoutMs, &loop, &QEventLoop::quit);
    form->show();
    if (!closed) loop.exec();
    answerer.stop();
    return closed;
  }

  // Called from every nested loop: answers the dialog in front, the media question and finally
  // the OK button.
  void Answer() {
    QWidget* modal = QApplication::activeModalWidget();
    if (auto* box = qobject_cast<QMessageBox*>(modal)) {
      dialogs.push_back(box->objectName().toStdString() + ": " + box->text().toStdString());
      if (onDialog) onDialog(*this, box->text().toStdString());
      box->button(QMessageBox::Ok)->click();
      return;
    }
    if (question && modal == question.get()) {
      if (!questionSeen) {
        questionSeen = true;
        questionTexts.push_back(question->questionLabel->text().toStdString());
        ++trials;
        const int answer = trialAnswer ? trialAnswer(trials) : app::mrNo;
        if (answer == app::mrYes) question->yesButton->click();
        if (answer == app::mrNo) question->noButton->click();
      }
      return;
    }
    questionSeen = false;
    if (!form) return;
    if (form->playing && !form->Panel3->isHidden()) {
      const std::string q = form->Label1->text().toStdString();
      if (mediaAnswer) {
        const std::optional<bool> a = mediaAnswer(*this, q);
        if (!a) return;
        mediaQuestions.push_back(q);
        (*a ? form->Button2 : form->Button3)->click();
      } else {
        mediaQuestions.push_back(q);
        form->Button2->click();
      }
      return;
    }
    if (form->SequenceDone() && form->OKButton->isEnabled() && !okClicked) {
      if (beforeOk && !beforeOkDone) {
        // Runs from the event loop, not from this timer, so that dialogs it opens get answered.
        if (!beforeOkQueued) {
          beforeOkQueued = true;
          QMetaObject::invokeMethod(form.get(), [this] {
            beforeOk(*this);
            beforeOkDone = true;
          }, Qt::QueuedConnection);
        }
        return;
      }
      okClicked = true;
      form->OKButton->click();
    }
  }

  std::optional<int32_t> Reg(const std::string& name) const {
    platform::TRegistry reg(platform::KEY_READ);
    if (!reg.OpenKey(app::cConfigKey, false) || !reg.ValueExists(name)) return std::nullopt;
    return reg.ReadInteger(name);
  }
  std::optional<std::string> Compat(const std::string& name) const {
    platform::TRegistry reg(platform::KEY_READ);
    if (!reg.OpenKey(app::cLayersKey, false) || !reg.ValueExists(name)) return std::nullopt;
    return reg.ReadString(name);
  }
  bool DialogShown(const std::string& text) const {
    for (const auto& d : dialogs)
      if (d.find(text) != std::string::npos) return true;
    return false;
  }

  TTestInstall inst;
  std::shared_ptr<display::TSimulatedDisplayDriver> driver;
  app::TConfigState state;
  std::unique_ptr<app::TForm1> form;
  std::unique_ptr<app::TQuestionForm> question;
  TFakeSound* sound = nullptr;
  bool soundDeactivated = false;
  bool realSound = false;
  std::string soundLib;  // real sound: the library to load
  int loopInterval = 5000;
  int guardInterval = 10;
  std::function<int64_t()> flashVersion;
  std::function<int(int trial)> trialAnswer;
  std::function<std::optional<bool>(TWindowRun&, const std::string& question)> mediaAnswer;
  std::function<void(TWindowRun&, const std::string& text)> onDialog;
  std::function<void(TWindowRun&)> beforeOk;
  std::function<void(TWindowRun&, int value)> onCountDown;
  std::vector<std::string> dialogs;
  std::vector<std::string> questionTexts;
  std::vector<std::string> mediaQuestions;
  int trials = 0;
  bool questionSeen = false;
  bool okClicked = false;
  bool beforeOkQueued = false;
  bool beforeOkDone = false;
  bool opened = false;
};

}  // namespace apptest
