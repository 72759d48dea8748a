#include <gtest/gtest.h>

#include <QTest>

#include <chrono>
#include <thread>

#include "WindowTestSupport.h"
#include "app/PostedTimer.h"
#include "sound/Synchronizer.h"

namespace {

using apptest::Mode;
using apptest::TWindowRun;

// A step that opens a nested loop keeps receiving ticks inside it, and replacing the step from
// inside the running one leaves the running code intact (ASan checks the latter).
TEST(PostedTimerTest, TicksReenterFromNestedLoopsAndStepsReplaceThemselves) {
  apptest::EnsureApplication();
  QObject context;
  app::TPostedTimer timer(&context, 2);
  int outer = 0, inner = 0, second = 0;
  bool insideOuter = false;
  std::function<void()> secondStep = [&] {
    ++second;
    timer.SetEnabled(false);
  };
  timer.SetOnTimer([&, big = std::string(4096, 'x')] {
    if (insideOuter) {
      ++inner;
      if (inner == 5) {
        timer.SetOnTimer(secondStep);  // destroys this lambda's stored copy while it runs
        EXPECT_EQ(big.size(), 4096u);  // the running copy is still alive
      }
      return;
    }
    ++outer;
    insideOuter = true;
    QEventLoop nested;
    QTimer::singleShot(3000, &nested, &QEventLoop::quit);
    QTimer poll;
    QObject::connect(&poll, &QTimer::timeout, [&] {
      if (second > 0 || !timer.Enabled()) nested.quit();
    });
    poll.start(1);
    nested.exec();
    insideOuter = false;
  });
  timer.SetEnabled(true);
  QTRY_VERIFY_WITH_TIMEOUT(!timer.Enabled(), 5000);
  EXPECT_EQ(outer, 1);
  EXPECT_EQ(inner, 5);
  EXPECT_EQ(second, 1);
}

TEST(FormPartsTest, CloseIsRefusedUntilOk) {
  TWindowRun run;
  run.SetModes({Mode(800, 600, 32, 60)}, 0);
  run.Install("MP3=0\nWAV=0\n");
  bool refused = false;
  run.beforeOk = [&](TWindowRun& r) {
    r.form->close();
    refused = r.form->isVisible();
  };
  ASSERT_TRUE(run.Run());
  EXPECT_TRUE(refused);
  EXPECT_FALSE(run.form->isVisible());
}

TEST(FormPartsTest, HelpLinesShowTheirTexts) {
  TWindowRun run;
  run.SetModes({Mode(1024, 768, 32, 60), Mode(800, 600, 32, 60)}, 0);
  run.Install("MP3=0\nWAV=0\nBits=24\n");
  run.trialAnswer = [](int) { return app::mrNo; };
  run.beforeOk = [](TWindowRun& r) {
    QTest::mouseClick(r.form->ColResHelp, Qt::LeftButton);
    r.form->AudioHelpClick();
    r.form->DirectXHelpClick();
  };
  ASSERT_TRUE(run.Run());
  EXPECT_TRUE(run.DialogShown("TextDialog: ChangeColRes1\nChangeColRes2\nChangeColRes3 800x600 ChangeColRes4 24 ChangeColRes5"));
  EXPECT_TRUE(run.DialogShown("TextDialog: AudioHelp"));
  EXPECT_TRUE(run.DialogShown("PlainMessage: DirectXHelp1\nDirectXHelp2"));
}

TEST(FormPartsTest, UserChoosesTheCurrentResolutionAfterConfirming) {
  TWindowRun run;
  run.Install("MP3=0\nWAV=0\n");
  run.trialAnswer = [](int) { return app::mrYes; };
  run.beforeOk = [](TWindowRun& r) {
    QTest::mouseClick(r.form->AufloesungRadioButton, Qt::LeftButton, {}, QPoint(6, 8));
  };
  ASSERT_TRUE(run.Run());
  EXPECT_TRUE(run.form->AufloesungRadioButton->isChecked());
  EXPECT_FALSE(run.form->VollbildRadioButton->isChecked());
  EXPECT_EQ(run.Reg("_AllPrograms1024768800600Switch"), 0);
  EXPECT_EQ(run.Reg("_AllPrograms1024768800600TargetIndex"), 1);
}

TEST(FormPartsTest, ControlsSitAtTheirPlaces) {
  TWindowRun run;
  run.Install("MP3=0\nWAV=0\nRes=0\n");
  ASSERT_TRUE(run.Run());
  const struct {
    const char* name;
    QRect rect;
  } places[] = {{"OKButton", {700, 495, 57, 41}},  {"Panel4", {16, 481, 417, 64}},
                {"Panel1", {223, 32, 325, 241}},   {"Panel2", {2, 2, 321, 237}},
                {"Panel3", {140, 354, 485, 89}},   {"CountDown", {96, 400, 321, 33}},
                {"Image1", {16, 305, 204, 153}},   {"Image2", {232, 305, 204, 153}},
                {"AudioImg", {704, 360, 20, 20}},  {"VideoImg", {704, 393, 20, 20}},
                {"DirectXImg", {704, 425, 20, 20}}, {"ColResImg", {704, 457, 20, 20}},
                {"Button2", {156, 48, 73, 25}},    {"Button3", {252, 48, 73, 25}},
                {"AufloesungRadioButton", {11, 8, 174, 17}},
                {"VollbildRadioButton", {252, 491, 117, 17}},
                {"AllProgramsCheckBox", {12, 35, 401, 25}}};
  for (const auto& p : places) {
    auto* w = run.form->findChild<QWidget*>(p.name);
    ASSERT_NE(w, nullptr) << p.name;
    EXPECT_EQ(w->geometry(), p.rect) << p.name;
  }
  EXPECT_EQ(run.form->size(), QSize(800, 600));
  EXPECT_EQ(run.form->pos(), QPoint((1024 - 800) / 2, (768 - 600) / 2));
  EXPECT_EQ(run.form->windowTitle(), "Config");
  EXPECT_TRUE(run.form->windowFlags() & Qt::WindowStaysOnTopHint);
  EXPECT_EQ(run.question->size(), QSize(384, 92));
  EXPECT_EQ(run.question->windowTitle(), "Config");
}

// The window as FormCreate leaves it, before it is shown: labels at their places in their fonts,
// help lines red and underlined, everything but the background, the program name, the empty
// result symbols and the disabled OK button hidden.
TEST(FormPartsTest, ControlsStartWithTheirFontsColoursAndVisibility) {
  TWindowRun run;
  run.Install("");
  ASSERT_EQ(app::StartUp(run.state, run.inst.exe, {}, app::DefaultStartupServices()),
            app::TStartupResult::OpenWindow);
  app::TFormServices services;
  services.CreateSoundPlayer = [] { return std::make_unique<apptest::TFakeSound>(false); };
  app::TForm1 form(run.state, services);

  const struct {
    const char* name;
    QPoint pos;
    int pixels;
    bool help;
  } labels[] = {{"PrgName", {0, 0}, 19, false},      {"Question", {32, 190}, 15, false},
                {"Actual", {32, 40}, 13, false},     {"Programm", {32, 72}, 13, false},
                {"Recommend", {32, 96}, 13, false},  {"ColResHelp", {8, 248}, 13, true},
                {"AudioHelp", {8, 152}, 13, true},   {"VideoHelp", {8, 184}, 13, true},
                {"DirectXHelp", {8, 216}, 13, true}, {"Audio", {456, 360}, 13, false},
                {"Video", {456, 392}, 13, false},    {"DirectX", {456, 424}, 13, false},
                {"ColRes", {456, 456}, 13, false}};
  for (const auto& l : labels) {
    SCOPED_TRACE(l.name);
    auto* label = form.findChild<QLabel*>(l.name);
    ASSERT_NE(label, nullptr);
    EXPECT_EQ(label->pos(), l.pos);
    EXPECT_EQ(label->font().family(), "Arial");
    EXPECT_EQ(label->font().pixelSize(), l.pixels);
    EXPECT_EQ(label->font().underline(), l.help);
    EXPECT_EQ(label->palette().color(QPalette::WindowText) == QColor(Qt::red), l.help);
    if (l.help) {
      EXPECT_EQ(label->cursor().shape(), Qt::PointingHandCursor);
    }
    EXPECT_EQ(label->isHidden(), std::string(l.name) != "PrgName");
  }
  for (const char* name : {"Image1", "Image2", "Panel1", "Panel3", "Panel4", "CountDown",
                           "VollbildRadioButton", "AllProgramsCheckBox"})
    EXPECT_TRUE(form.findChild<QWidget*>(name)->isHidden()) << name;
  for (const char* name : {"bgImage", "AudioImg", "VideoImg", "DirectXImg", "ColResImg", "OKButton"})
    EXPECT_FALSE(form.findChild<QWidget*>(name)->isHidden()) << name;
  EXPECT_FALSE(form.OKButton->isEnabled());
  EXPECT_TRUE(form.AllProgramsCheckBox->isChecked());
  EXPECT_EQ(form.AllProgramsCheckBox->font().pixelSize(), 12);
  for (const auto* radio : {form.AufloesungRadioButton, form.VollbildRadioButton}) {
    EXPECT_EQ(radio->Font().Name, "Arial");
    EXPECT_EQ(radio->Font().Height, -12);
    EXPECT_FALSE(radio->isChecked());
  }
  EXPECT_EQ(form.CountDown->minimum(), 0);
  EXPECT_EQ(form.CountDown->maximum(), 150);
  EXPECT_FALSE(form.ms100.Enabled());
  EXPECT_FALSE(form.LoopTimer->isActive());
  EXPECT_EQ(form.LoopTimer->interval(), 5000);
  EXPECT_EQ(form.NoneBefruchtungsTimer->interval(), 250);
  EXPECT_EQ(form.ms100.Interval(), 100);
}

// With no candidate confirmed the program fixes the choice to the current resolution and raises
// the guard, which its timer lowers. While it is raised a full-screen click is undone; after that
// a full-screen click unchecks the other button. (Both buttons are disabled by then, so the
// clicks arrive as notifications, not as clicks of the user.)
TEST(FormPartsTest, GuardOfTheFixedChoiceAndItsTimer) {
  TWindowRun run;
  run.Install("MP3=0\nWAV=0\n");
  run.trialAnswer = [](int) { return app::mrNo; };
  run.guardInterval = 600000;  // the test runs the guard timer's handler itself
  run.beforeOk = [](TWindowRun& r) {
    app::TForm1& f = *r.form;
    EXPECT_TRUE(f.RadioButtonSet);
    EXPECT_TRUE(f.NoneBefruchtungsTimer->isActive());
    EXPECT_FALSE(f.AufloesungRadioButton->isEnabled());
    EXPECT_FALSE(f.VollbildRadioButton->isEnabled());
    f.VollbildRadioButton->QRadioButton::setChecked(true);
    f.VollbildRadioButtonClick();
    EXPECT_FALSE(f.VollbildRadioButton->isChecked());
    EXPECT_TRUE(f.AufloesungRadioButton->isChecked());

    f.NoneBefruchtungsTimerTimer();
    EXPECT_FALSE(f.RadioButtonSet);
    EXPECT_FALSE(f.NoneBefruchtungsTimer->isActive());
    f.VollbildRadioButton->QRadioButton::setChecked(true);
    f.VollbildRadioButtonClick();
    EXPECT_TRUE(f.VollbildRadioButton->isChecked());
    EXPECT_FALSE(f.AufloesungRadioButton->isChecked());
    f.AufloesungRadioButton->SetChecked(true);  // runs its click handler: full screen off
    EXPECT_FALSE(f.VollbildRadioButton->isChecked());
  };
  ASSERT_TRUE(run.Run());
  EXPECT_TRUE(run.beforeOkDone);
  EXPECT_EQ(run.Reg("_AllPrograms1024768800600Switch"), 0);
}

// The file access facade asks on the thread that reads (the sound player's); the question runs
// on the user-interface thread while the reader waits.
TEST(FormPartsTest, RetryQuestionFromAnotherThreadRunsOnTheUserInterfaceThread) {
  apptest::EnsureApplication();
  app::SetApplicationTitle("Config");
  std::atomic<int> answer{-1};
  std::thread reader([&] { answer = app::AskRetryCancel("Read operation failed!\r/x/test.wav") ? 1 : 0; });
  QThread* uiThread = QThread::currentThread();
  bool askedOnUi = false;
  std::string text;
  // The box runs its own loop inside the one below; a timer answers it from there.
  QTimer answerer;
  QObject::connect(&answerer, &QTimer::timeout, [&] {
    if (auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget())) {
      askedOnUi = QThread::currentThread() == uiThread && box->thread() == uiThread;
      text = box->text().toStdString();
      box->button(QMessageBox::Retry)->click();
    }
  });
  answerer.start(2);
  QTRY_VERIFY_WITH_TIMEOUT(answer != -1, 5000);
  reader.join();
  EXPECT_TRUE(askedOnUi);
  EXPECT_EQ(text, "Read operation failed!\n/x/test.wav");
  EXPECT_EQ(answer, 1);
}

// A user-interface thread that waits for the reader without running its event loop, serving only
// the synchronizer (as the sound player does while it ends), still gets the question asked.
TEST(FormPartsTest, RetryQuestionIsServedWhileTheUserInterfaceThreadWaitsForTheReader) {
  apptest::EnsureApplication();
  std::atomic<int> answer{-1};
  std::thread reader([&] { answer = app::AskRetryCancel("Read operation failed!") ? 1 : 0; });
  QTimer answerer;
  QObject::connect(&answerer, &QTimer::timeout, [] {
    if (auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget()))
      box->button(QMessageBox::Cancel)->click();
  });
  answerer.start(2);
  const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(10);
  while (answer == -1 && std::chrono::steady_clock::now() < end) {
    app::UiSynchronizer().CheckSynchronize();
    std::this_thread::sleep_for(std::chrono::milliseconds(2));
  }
  EXPECT_EQ(answer, 0);
  QTRY_VERIFY_WITH_TIMEOUT(answer != -1, 5000);  // lets a reader that still waits finish
  reader.join();
}

}  // namespace
