#include <gtest/gtest.h>

#include <QTest>

#include "WindowTestSupport.h"
#include "app/FormLogic.h"

namespace {

using apptest::TWindowRun;
using apptest::Mode;

// Screen 1024x768 with two 800x600 candidates (72 Hz first, then 60 Hz) for the default
// requirement of 800x600.
constexpr const char* cPair = "1024768800600";

std::string Sym(const QLabel* image) { return app::TForm1::SymbolOf(image).toStdString(); }

TEST(WindowRunTest, SilentRunStoresOnlyDirectXFlashAndCompatibility) {
  TWindowRun run;
  run.Install("Silent=1\nDirectX=1\nFlash=1\nDirectXVersion=904\n");
  std::filesystem::remove(run.inst.root / "deutsch" / "captions.ini");
  ASSERT_TRUE(run.Run());
  EXPECT_TRUE(run.dialogs.empty());
  EXPECT_LT(run.form->x(), 0);  // off the screen
  EXPECT_LT(run.form->y(), 0);
  EXPECT_TRUE(run.sound->plays.empty());
  EXPECT_EQ(run.Reg("LesenDirectX"), 0);
  EXPECT_EQ(run.Reg("LesenDirectXInstalled"), 0);
  EXPECT_EQ(run.Reg("LesenFlash"), 0);
  EXPECT_EQ(run.Reg("LesenFlashInstalled"), 0);
  EXPECT_EQ(run.Compat(run.inst.Folder() + "bin/lesen"), app::cCompatibilityData);
  const std::string store = run.inst.StoreText();
  EXPECT_EQ(store.find("Switch"), std::string::npos) << store;
  EXPECT_EQ(store.find("TargetIndex"), std::string::npos);
  EXPECT_TRUE(run.form->DirectXHelp->isVisibleTo(run.form.get()));  // shown even off the screen
  EXPECT_EQ(Sym(run.form->DirectXImg), "");
  EXPECT_EQ(run.state.t, nullptr);  // released by the OK action
}

TEST(WindowRunTest, AllMediaOffAndNoDisplayCheck) {
  TWindowRun run;
  run.Install("MP3=0\nWAV=0\nRes=0\n");
  ASSERT_TRUE(run.Run());
  ASSERT_EQ(run.dialogs.size(), 1u);
  EXPECT_EQ(run.dialogs[0], "TextDialog: StartUp");
  EXPECT_TRUE(run.sound->plays.empty());
  EXPECT_TRUE(run.form->Audio->isHidden());
  EXPECT_TRUE(run.form->Video->isHidden());
  EXPECT_TRUE(run.form->Actual->isHidden());
  EXPECT_EQ(Sym(run.form->AudioImg), "");
  EXPECT_EQ(Sym(run.form->ColResImg), "");
  EXPECT_EQ(run.form->checkStat, 0);
  EXPECT_EQ(run.Reg(std::string("_AllPrograms") + cPair + "Switch"), 0);
  EXPECT_EQ(run.Reg(std::string("Lesen") + cPair + "Switch"), 0);
  EXPECT_EQ(run.Reg(std::string("_AllPrograms") + cPair + "TargetIndex"), 0);
  EXPECT_EQ(run.Reg(std::string("Lesen") + cPair + "MaxIndex"), 0);
  EXPECT_EQ(run.Reg(std::string("_AllPrograms") + cPair + "SettingsForAllPrograms"), 1);
}

TEST(WindowRunTest, EqualScreenShowsTheOptimalLine) {
  TWindowRun run;
  run.SetModes({Mode(800, 600, 32, 60), Mode(1024, 768, 32, 60)}, 0);
  run.Install("WAV=0\n");
  ASSERT_TRUE(run.Run());
  EXPECT_EQ(run.sound->plays, std::vector<std::string>{run.inst.Folder() + "deutsch/test.mp3"});
  EXPECT_EQ(run.mediaQuestions, std::vector<std::string>{"Question3"});
  EXPECT_EQ(run.form->checkStat, 0);
  EXPECT_EQ(run.form->Programm->text().toStdString(), "Optimal1 Lesen Optimal2");
  EXPECT_EQ(run.form->Programm->palette().color(QPalette::WindowText), QColor(Qt::blue));
  EXPECT_EQ(run.form->Actual->text().toStdString(), "Act1 800x600 Act2 32 Act3");
  EXPECT_TRUE(run.form->Recommend->isHidden());
  EXPECT_EQ(Sym(run.form->AudioImg), "OK.bmp");
  EXPECT_EQ(Sym(run.form->ColResImg), "OK.bmp");
  EXPECT_TRUE(run.form->AufloesungRadioButton->isChecked());
  EXPECT_EQ(run.Reg("_AllPrograms800600800600Switch"), 0);
}

TEST(WindowRunTest, LargerScreenWithoutTheModeNeedsNoChoice) {
  TWindowRun run;
  run.SetModes({Mode(1024, 768, 32, 60), Mode(640, 480, 32, 60)}, 0);
  run.Install("MP3=0\nWAV=0\n");
  ASSERT_TRUE(run.Run());
  EXPECT_EQ(run.form->checkStat, 2);
  EXPECT_TRUE(run.form->Recommend->isHidden());
  EXPECT_EQ(Sym(run.form->ColResImg), "OK.bmp");
  EXPECT_EQ(run.trials, 0);
  EXPECT_EQ(run.Reg(std::string("Lesen") + cPair + "Switch"), 0);
}

// The screen shrinks while the start text is open, so the check at the end of the tests sees it
// below the requirement.
TEST(WindowRunTest, ScreenBelowTheRequirementAtTheEnd) {
  struct Case {
    const char* name;
    int32_t verdict;
    const char* options;
    const char* dialog;
  };
  for (const Case& c : {Case{"offered", -1, "xRes=1024\nyRes=768\n", "TextDialog: LessColRes"},
                        Case{"not offered", -2, "xRes=900\nyRes=700\n",
                             "TextDialog: MinReqFail1 (900x700)\nMinReqFail2 (16) MinReqFail3"}}) {
    SCOPED_TRACE(c.name);
    TWindowRun run;
    run.Install(std::string("MP3=0\nWAV=0\n") + c.options);
    run.onDialog = [](TWindowRun& r, const std::string& text) {
      if (text == "StartUp") r.driver->ChangeDisplaySettings(Mode(800, 600, 32, 60), 0);
    };
    ASSERT_TRUE(run.Run());
    EXPECT_EQ(run.form->checkStat, c.verdict);
    EXPECT_TRUE(run.DialogShown(c.dialog)) << run.dialogs.back();
    EXPECT_EQ(Sym(run.form->ColResImg), "Fail.bmp");
    EXPECT_FALSE(run.form->AufloesungRadioButton->isEnabled());
    EXPECT_FALSE(run.form->AufloesungRadioButton->isChecked());
    EXPECT_EQ(run.form->RecommendIsRed(), c.verdict == -2);
    const std::string pair = std::string("1024768") + (c.verdict == -1 ? "1024768" : "900700");
    EXPECT_EQ(run.Reg("_AllPrograms" + pair + "Switch"), -1);
    EXPECT_EQ(run.Reg("Lesen" + pair + "Switch"), -1);
  }
}

class TrialTest : public ::testing::Test {
 protected:
  void SetUp() override {
    run.Install("MP3=0\nWAV=0\nFreqMax=75\n");
    // Mode numbers: 1 = 800x600 at 60 Hz, 2 = 800x600 at 72 Hz (tried first).
  }
  int32_t Target() { return run.Reg(std::string("_AllPrograms") + cPair + "TargetIndex").value_or(-99); }
  void ExpectScreenBack() {
    EXPECT_EQ(run.driver->CurrentIndex(), 0);
    EXPECT_FALSE(run.form->screenSwitcher->displayChanged);
  }
  TWindowRun run;
};

TEST_F(TrialTest, FirstCandidateConfirmed) {
  run.trialAnswer = [](int) { return app::mrYes; };
  ASSERT_TRUE(run.Run());
  EXPECT_EQ(run.trials, 1);
  ASSERT_EQ(run.questionTexts.size(), 1u);
  EXPECT_EQ(run.questionTexts[0], "800 x 600         1 / 2\nQuestion2");
  EXPECT_EQ(run.driver->ChangeHistory(), (std::vector<int32_t>{2, 0}));
  ExpectScreenBack();
  EXPECT_TRUE(run.DialogShown("TextDialog: Change2Full"));
  EXPECT_TRUE(run.DialogShown("TextDialog: FullScreenInfo"));
  EXPECT_FALSE(run.form->Image1->isHidden());
  EXPECT_FALSE(run.form->Panel4->isHidden());
  EXPECT_TRUE(run.form->VollbildRadioButton->isChecked());
  EXPECT_FALSE(run.form->AufloesungRadioButton->isChecked());
  EXPECT_EQ(Sym(run.form->ColResImg), "OK.bmp");
  EXPECT_TRUE(run.form->isEnabled());
  EXPECT_EQ(Target(), 2);
  EXPECT_EQ(run.Reg(std::string("Lesen") + cPair + "TargetIndex"), 2);
  EXPECT_EQ(run.Reg(std::string("_AllPrograms") + cPair + "MaxIndex"), 4);
  EXPECT_EQ(run.Reg(std::string("_AllPrograms") + cPair + "Switch"), 1);
  EXPECT_EQ(run.Reg(std::string("Lesen") + cPair + "Switch"), 1);
}

TEST_F(TrialTest, AllCandidatesRejectedKeepsTheResolution) {
  run.trialAnswer = [](int) { return app::mrNo; };
  ASSERT_TRUE(run.Run());
  EXPECT_EQ(run.trials, 2);
  EXPECT_EQ(run.questionTexts[1], "800 x 600         2 / 2\nQuestion2");
  EXPECT_EQ(run.driver->ChangeHistory(), (std::vector<int32_t>{2, 0, 1, 0}));
  ExpectScreenBack();
  EXPECT_EQ(run.form->CurrentIndex, -1);
  EXPECT_TRUE(run.form->AufloesungRadioButton->isChecked());
  EXPECT_FALSE(run.form->VollbildRadioButton->isChecked());
  EXPECT_EQ(Sym(run.form->ColResImg), "Fail.bmp");
  EXPECT_EQ(run.form->Recommend->text().toStdString(), "NoFullScreenInfo");
  EXPECT_EQ(Target(), -1);
  EXPECT_EQ(run.Reg(std::string("_AllPrograms") + cPair + "Switch"), 0);
}

TEST_F(TrialTest, CountdownRunsOutThenSecondConfirmed) {
  run.trialAnswer = [](int trial) { return trial == 1 ? app::mrNone : app::mrYes; };
  ASSERT_TRUE(run.Run());
  EXPECT_EQ(run.trials, 2);
  ExpectScreenBack();
  EXPECT_EQ(Target(), 1);
  EXPECT_EQ(run.Reg(std::string("Lesen") + cPair + "Switch"), 1);
}

TEST_F(TrialTest, YesAtTheEndOfTheCountdownDoesNotConfirm) {
  bool clicked = false;
  run.trialAnswer = [](int) { return app::mrNone; };
  run.onCountDown = [&clicked](TWindowRun& r, int value) {
    if (value == 150 && !clicked) {
      clicked = true;
      r.question->yesButton->click();
    }
  };
  ASSERT_TRUE(run.Run());
  EXPECT_TRUE(clicked);
  EXPECT_EQ(run.trials, 2);  // the second candidate ran out as well
  EXPECT_EQ(Target(), -1);
  EXPECT_TRUE(run.form->AufloesungRadioButton->isChecked());
  ExpectScreenBack();
}

// A tick that the dialog's loop delivers after the answer but before the loop has ended must not
// reopen the question or lose the answer.
TEST_F(TrialTest, TickBetweenTheAnswerAndTheEndOfTheDialogLoop) {
  run.trialAnswer = [this](int trial) {
    if (trial == 1) {
      run.question->yesButton->click();
      run.form->CountDownTimerTimer();  // as if the tick had been queued just before the click
      EXPECT_FALSE(run.question->isVisible());
    }
    return trial == 1 ? app::mrNone : app::mrNo;
  };
  ASSERT_TRUE(run.Run());
  EXPECT_EQ(run.trials, 1);
  EXPECT_EQ(Target(), 2);
  int infos = 0;
  for (const auto& d : run.dialogs) infos += d == "TextDialog: FullScreenInfo";
  EXPECT_EQ(infos, 1);
  ExpectScreenBack();
}

TEST_F(TrialTest, CandidateTheDriverRejectsGetsNoQuestion) {
  run.driver->RejectChange(2);
  run.trialAnswer = [](int) { return app::mrYes; };
  ASSERT_TRUE(run.Run());
  EXPECT_EQ(run.trials, 1);
  EXPECT_EQ(run.questionTexts.at(0), "800 x 600         2 / 2\nQuestion2");
  EXPECT_EQ(Target(), 1);
  ExpectScreenBack();
}

TEST_F(TrialTest, QuestionDialogIsCentredOnTheSwitchedScreenAndEnterAnswersNo) {
  run.trialAnswer = [this](int) {
    EXPECT_EQ(run.question->pos(), QPoint((800 - 384) / 2, (600 - 92) / 2));
    EXPECT_EQ(run.form->pos(), QPoint(0, 0));
    EXPECT_FALSE(run.form->isEnabled());
    EXPECT_EQ(run.question->focusWidget(), run.question->noButton);  // the dialog's own focus
    return app::mrNone;
  };
  run.onCountDown = [](TWindowRun& r, int value) {
    if (value == 3 && r.question->isVisible()) {
      QTest::keyClick(r.question->focusWidget(), Qt::Key_Return);
    }
  };
  ASSERT_TRUE(run.Run());
  EXPECT_EQ(run.trials, 2);
  EXPECT_EQ(Target(), -1);
}

TEST(WindowRunTest, FailedAudioTestHidesTheOptimalLine) {
  TWindowRun run;
  run.SetModes({Mode(800, 600, 32, 60)}, 0);
  run.Install("");
  run.mediaAnswer = [](TWindowRun&, const std::string& q) { return std::optional<bool>(q == "Question3"); };
  ASSERT_TRUE(run.Run());
  EXPECT_EQ(run.mediaQuestions, (std::vector<std::string>{"Question3", "Question4"}));
  EXPECT_EQ(Sym(run.form->AudioImg), "Fail.bmp");
  EXPECT_FALSE(run.form->AudioHelp->isHidden());
  EXPECT_FALSE(run.form->audioCheck);
  EXPECT_EQ(run.form->Programm->text().toStdString(), "Lesen Prg1 800x600 Prg2 16 Prg3");
  EXPECT_EQ(Sym(run.form->ColResImg), "OK.bmp");
  EXPECT_EQ(run.sound->stops, 3);  // after each of the three sound steps
}

TEST(WindowRunTest, DeactivatedSoundFailsAudioWithoutAQuestion) {
  TWindowRun run;
  run.SetModes({Mode(800, 600, 32, 60)}, 0);
  run.soundDeactivated = true;
  run.Install("OGG=1\n");
  ASSERT_TRUE(run.Run());
  EXPECT_TRUE(run.mediaQuestions.empty());
  EXPECT_TRUE(run.sound->plays.empty());
  EXPECT_EQ(Sym(run.form->AudioImg), "Fail.bmp");
  EXPECT_FALSE(run.form->AudioHelp->isHidden());
}

TEST(WindowRunTest, MissingDirectXMarksTheRecommendation) {
  TWindowRun run;
  run.SetModes({Mode(800, 600, 32, 60)}, 0);
  run.Install("MP3=0\nWAV=0\nDirectX=1\nDirectXVersion=904\nDirectXAnzeige=DX9\n");
  ASSERT_TRUE(run.Run());
  EXPECT_TRUE(run.DialogShown("TextDialog: DX9 DirectX1"));
  EXPECT_TRUE(run.form->RecommendIsRed());
  EXPECT_FALSE(run.form->Recommend->isHidden());
  EXPECT_EQ(run.form->Recommend->text().toStdString(), "IDK");
  EXPECT_EQ(Sym(run.form->DirectXImg), "Fail.bmp");
  EXPECT_FALSE(run.form->DirectXHelp->isHidden());
  EXPECT_EQ(run.Reg("LesenDirectX"), 0);
  EXPECT_EQ(run.Reg("LesenDirectXInstalled"), 0);
}

TEST(WindowRunTest, DirectXAndFlashVersions) {
  struct Case {
    const char* version;  // nullptr: no value stored
    const char* required;
    int32_t directX, installed;
  };
  for (const Case& c : {Case{"4.09.00.0904", "DirectXVersion=904\n", 1, 904},
                        Case{"4.09.00.0905", "DirectXVersion=904\n", 1, 905},
                        Case{"4.09.00.0903", "DirectXVersion=904\n", 0, 903},
                        Case{"4.09.00.0904", "", 0, 904},
                        Case{"4.09", "DirectXVersion=0\n", 0, 0},
                        Case{"4.09.00.x", "DirectXVersion=0\n", 0, 0},
                        Case{nullptr, "DirectXVersion=0\n", 0, 0}}) {
    SCOPED_TRACE(c.version ? c.version : "(missing)");
    TWindowRun run;
    run.Install(std::string("Silent=1\nDirectX=1\nFlash=1\nFlashVersion=9\n") + c.required);
    run.flashVersion = [] { return int64_t{0x000A0000}; };
    if (c.version != nullptr) {
      platform::TRegistry reg(platform::KEY_ALL_ACCESS);
      ASSERT_TRUE(reg.OpenKey(app::cDirectXKey, true));
      reg.WriteString("Version", c.version);
    }
    ASSERT_TRUE(run.Run());
    EXPECT_EQ(run.Reg("LesenDirectX"), c.directX);
    EXPECT_EQ(run.Reg("LesenDirectXInstalled"), c.installed);
    EXPECT_EQ(run.form->DirectXHelp->isHidden(), c.directX == 1);
    EXPECT_EQ(run.Reg("LesenFlash"), 1);
    EXPECT_EQ(run.Reg("LesenFlashInstalled"), 10);
  }
}

TEST(FormLogicTest, DirectXBuildAndOutcomes) {
  int32_t installed = -5;
  EXPECT_TRUE(app::ParseDirectXBuild("4.09.00.0904", installed));
  EXPECT_EQ(installed, 904);
  EXPECT_TRUE(app::ParseDirectXBuild("904", installed));  // no third dot: the whole string
  EXPECT_EQ(installed, 904);
  for (const char* bad : {"", "4.09", "4.09.00.", "4.09.00.09a", "a.b.c.d"}) {
    EXPECT_FALSE(app::ParseDirectXBuild(bad, installed)) << bad;
    EXPECT_EQ(installed, 0);
    EXPECT_LT(app::DirectXOutcome(bad, -100, installed), 0) << bad;
  }
  EXPECT_EQ(app::FlashMajorVersion(0x000A0000), 10);
  EXPECT_EQ(app::FlashMajorVersion(0x0009FFFF), 9);
}

TEST(FormLogicTest, SwitchTable) {
  const struct {
    int32_t checkStat;
    bool keep;
    int32_t expected;
  } cases[] = {{-2, false, -1}, {-1, true, -1}, {0, false, 0}, {2, false, 0}, {1, true, 0}, {1, false, 1}};
  for (const auto& c : cases)
    EXPECT_EQ(app::SwitchValue(c.checkStat, c.keep), c.expected) << c.checkStat << c.keep;
}

TEST(WindowRunTest, CyrillicCaptionsDecodeWithCharset204) {
  TWindowRun run;
  run.SetModes({Mode(800, 600, 32, 60)}, 0);
  // "Звук", "Да", "Нет", "Старт" in code page 1251.
  run.Install("MP3=0\nWAV=0\n", "[Charset]\nCharset=204\n[Texte]\nAudio=\xc7\xe2\xf3\xea\nJaButton=\xc4\xe0\n"
                                "NeinButton=\xcd\xe5\xf2\nStartUp1=\xd1\xf2\xe0\xf0\xf2\n");
  ASSERT_TRUE(run.Run());
  EXPECT_EQ(run.form->Charset, 204);
  EXPECT_EQ(run.form->Audio->text(), QString::fromUtf8("Звук"));
  EXPECT_EQ(run.form->Button2->text(), QString::fromUtf8("Да"));
  EXPECT_EQ(run.question->noButton->text(), QString::fromUtf8("Нет"));
  EXPECT_EQ(run.dialogs.at(0), "TextDialog: Старт");
  // "AllPrograms" is missing: the default text with its angle brackets.
  EXPECT_EQ(run.form->AllProgramsCheckBox->text(),
            QString::fromUtf8("<Einstellung f\xc3\xbcr alle Brindel-Programme verwenden>"));
}

TEST(WindowRunTest, UncheckedAllProgramsStillWritesBothScopes) {
  TWindowRun run;
  run.Install("MP3=0\nWAV=0\n");
  run.trialAnswer = [](int) { return app::mrYes; };
  run.beforeOk = [](TWindowRun& r) { r.form->AllProgramsCheckBox->setChecked(false); };
  ASSERT_TRUE(run.Run());
  EXPECT_EQ(run.Reg(std::string("_AllPrograms") + cPair + "SettingsForAllPrograms"), 0);
  EXPECT_EQ(run.Reg(std::string("_AllPrograms") + cPair + "Switch"), 1);
  // Without FreqMax only the current refresh rate qualifies: mode 1 (800x600 at 60 Hz).
  EXPECT_EQ(run.Reg(std::string("_AllPrograms") + cPair + "TargetIndex"), 1);
  EXPECT_EQ(run.Reg(std::string("Lesen") + cPair + "TargetIndex"), 1);
}

TEST(WindowRunTest, MissingPictureEndsAfterTheCompatibilityEntry) {
  TWindowRun run;
  run.Install("");
  std::filesystem::remove(run.inst.root / "deutsch" / "Bildrechts.bmp");
  ASSERT_TRUE(run.Run());
  ASSERT_EQ(run.dialogs.size(), 1u);
  EXPECT_EQ(run.dialogs[0], "PlainMessage: Bilder-Pfade im ini-File sind falsch gesetzt!");
  EXPECT_TRUE(run.Compat(run.inst.Folder() + "bin/lesen").has_value());
  EXPECT_EQ(run.inst.StoreText().find("Switch"), std::string::npos);
}

// A silent run shows no dialog at all, this message included.
TEST(WindowRunTest, MissingExeNameStillWritesTheEntry) {
  for (const bool silent : {false, true}) {
    SCOPED_TRACE(silent ? "silent" : "normal");
    TWindowRun run;
    run.Install(silent ? "Silent=1\n" : "MP3=0\nWAV=0\nRes=0\n");
    apptest::WriteFile(run.inst.root / "bin" / "program.ini", "[Language]\nConfigIniPath=deutsch\\\n");
    ASSERT_TRUE(run.Run());
    if (silent) {
      EXPECT_TRUE(run.dialogs.empty());
    } else {
      EXPECT_EQ(run.dialogs.at(0), "PlainMessage: Exename not found for Compatibility entry");
    }
    EXPECT_EQ(run.Compat(run.inst.Folder() + "bin/"), app::cCompatibilityData);
  }
}

}  // namespace
