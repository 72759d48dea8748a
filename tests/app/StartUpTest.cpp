#include <gtest/gtest.h>

#include "AppTestSupport.h"
#include "app/Config.h"
#include "platform/IniFile.h"

namespace {

using apptest::TRecordingDialogs;
using apptest::TTestInstall;
using apptest::WriteFile;

class StartUpTest : public ::testing::Test {
 protected:
  app::TStartupResult Run(const std::vector<std::string>& args = {}) {
    app::TStartupServices services;
    services.ScreenSize = [this] { return screen; };
    services.CheckResolution = [this](const app::TConfigState& s) {
      ++checks;
      seenReq = {s.reqHorzRes, s.reqVertRes};
      return verdict;
    };
    services.Dialogs = &dialogs;
    return app::StartUp(state, exe.empty() ? inst.exe : exe, args, services);
  }
  void StoreAllPrograms(const std::string& pair, bool value) {
    platform::TRegistry reg(platform::KEY_ALL_ACCESS);
    ASSERT_TRUE(reg.OpenKey(app::cConfigKey, true));
    reg.WriteBool(std::string(app::cAllPrograms) + pair + "SettingsForAllPrograms", value);
  }
  std::string OnlyMessage() {
    EXPECT_EQ(dialogs.shown.size(), 1u);
    return dialogs.shown.empty() ? std::string() : dialogs.shown.front().text;
  }

  TTestInstall inst;
  TRecordingDialogs dialogs;
  app::TConfigState state;
  app::TScreenSize screen{1024, 768};
  int32_t verdict = 0;
  int checks = 0;
  std::pair<int32_t, int32_t> seenReq{};
  std::string exe;
};

TEST_F(StartUpTest, MissingProgramIniEndsWithItsPath) {
  EXPECT_EQ(Run(), app::TStartupResult::End);
  EXPECT_EQ(OnlyMessage(), inst.Folder() + "bin/program.ini not found! Please install the program again!");
  EXPECT_FALSE(dialogs.shown[0].textDialog);
  EXPECT_EQ(inst.StoreText(), "");  // nothing written
}

TEST_F(StartUpTest, EmptyConfigIniPathEnds) {
  inst.MakeStandard();
  WriteFile(inst.root / "bin" / "program.ini", "[Language]\nConfigIniPath=\n");
  EXPECT_EQ(Run(), app::TStartupResult::End);
  EXPECT_EQ(OnlyMessage(), "No read access on " + inst.Folder() +
                               "bin/program.iniPlease contact your system administrator!");
  EXPECT_EQ(state.progIni, nullptr);
}

TEST_F(StartUpTest, ConfigIniPathWithoutSeparatorIsGluedToTheFileName) {
  inst.MakeStandard();
  WriteFile(inst.root / "bin" / "program.ini", "[language]\nconfiginipath=deutsch\n");
  EXPECT_EQ(Run(), app::TStartupResult::End);
  EXPECT_EQ(OnlyMessage(), inst.Folder() + "deutschsettings.ini not found! Please install the program again!");
}

TEST_F(StartUpTest, BackslashFolderValueBecomesAPath) {
  inst.MakeStandard();
  ASSERT_EQ(Run(), app::TStartupResult::OpenWindow);
  EXPECT_EQ(state.ConfigPath, inst.Folder() + "deutsch/");
  EXPECT_EQ(state.ProgramPath, inst.Folder());
  EXPECT_TRUE(dialogs.shown.empty());
}

TEST_F(StartUpTest, EmptyPrgNameEnds) {
  inst.MakeStandard();
  WriteFile(inst.root / "deutsch" / "settings.ini", "[Options]\nPrgName=\nxRes=640\n");
  EXPECT_EQ(Run(), app::TStartupResult::End);
  EXPECT_EQ(OnlyMessage(), "No read access on " + inst.Folder() +
                               "deutsch/settings.iniPlease contact your system administrator!");
  EXPECT_EQ(state.settingsIni, nullptr);
}

TEST_F(StartUpTest, MissingCaptionsEndsUnlessSilent) {
  inst.MakeStandard();
  std::filesystem::remove(inst.root / "deutsch" / "captions.ini");
  EXPECT_EQ(Run(), app::TStartupResult::End);
  EXPECT_EQ(OnlyMessage(), inst.Folder() + "deutsch/captions.ini not found! Please install the program again!");

  dialogs.shown.clear();
  app::TConfigState silentState;
  state = std::move(silentState);
  EXPECT_EQ(Run({"SILENT"}), app::TStartupResult::OpenWindow);
  EXPECT_TRUE(dialogs.shown.empty());
  EXPECT_TRUE(state.silentMode);
  EXPECT_EQ(checks, 0);  // a silent run has no display check
  ASSERT_NE(state.captionsIni, nullptr);
  EXPECT_EQ(app::Caption(state.captionsIni.get(), "Audio"), "");
}

TEST_F(StartUpTest, SilentSettingWithoutCaptionsOpensTheWindow) {
  inst.MakeStandard("Silent=1\n");
  std::filesystem::remove(inst.root / "deutsch" / "captions.ini");
  EXPECT_EQ(Run(), app::TStartupResult::OpenWindow);
  EXPECT_TRUE(dialogs.shown.empty());
}

TEST_F(StartUpTest, ExecutableInTheRootFolderLooksInTheRootBin) {
  EXPECT_EQ(app::ProgramPathFromExe("/config"), "/");
  EXPECT_EQ(app::ProgramPathFromExe("/bin/config"), "/");
  EXPECT_EQ(app::ProgramPathFromExe("/opt/x/bin/config"), "/opt/x/");
  if (std::filesystem::exists("/bin/program.ini")) GTEST_SKIP() << "/bin/program.ini exists here";
  exe = "/config";
  EXPECT_EQ(Run(), app::TStartupResult::End);
  EXPECT_EQ(OnlyMessage(), "/bin/program.ini not found! Please install the program again!");
}

TEST_F(StartUpTest, RequirementsAndPairString) {
  inst.MakeStandard("xRes=640\nyRes=480\nBits=32\nFreqMax=75\nUseLowerThanActFreq=1\n");
  ASSERT_EQ(Run(), app::TStartupResult::OpenWindow);
  EXPECT_EQ(state.PairString, "1024768640480");
  EXPECT_EQ(state.reqColorBits, 32);
  EXPECT_EQ(state.reqFreqMax, 75);
  EXPECT_TRUE(state.reqUseLowerFreq);
  EXPECT_EQ(seenReq, std::make_pair(640, 480));

  app::TConfigState defaults;
  state = std::move(defaults);
  inst.MakeStandard("xRes=abc\n");
  ASSERT_EQ(Run(), app::TStartupResult::OpenWindow);
  EXPECT_EQ(state.reqHorzRes, 800);
  EXPECT_EQ(state.reqVertRes, 600);
  EXPECT_EQ(state.reqColorBits, 16);
  EXPECT_FALSE(state.reqUseLowerFreq);
  EXPECT_EQ(state.PairString, "1024768800600");
}

TEST(CommandLineTest, OnlyTheFirstArgumentCountsInAnyCase) {
  using W = app::TCommandWord;
  const std::vector<std::pair<std::vector<std::string>, W>> cases = {
      {{}, W::None},
      {{"SILENT"}, W::Silent},
      {{"silent"}, W::Silent},
      {{"Install"}, W::Install},
      {{"other", "SILENT"}, W::None},
      {{"INSTALL", "SILENT"}, W::Install},
      {{"SILENTLY"}, W::None},
  };
  for (const auto& [args, expected] : cases)
    EXPECT_EQ(app::ParseCommandLine(args), expected) << (args.empty() ? "(none)" : args[0]);
}

TEST_F(StartUpTest, InstallEndsSilentlyWhenAllProgramsWereStored) {
  inst.MakeStandard();
  StoreAllPrograms("1024768800600", true);
  EXPECT_EQ(Run({"install"}), app::TStartupResult::End);
  EXPECT_TRUE(dialogs.shown.empty());
  EXPECT_EQ(checks, 0);
}

TEST_F(StartUpTest, InstallRunsWhenTheValueIsMissingOrFalse) {
  inst.MakeStandard();
  StoreAllPrograms("1280800800600", true);  // another screen/requirement pair
  EXPECT_EQ(Run({"INSTALL"}), app::TStartupResult::OpenWindow);
  EXPECT_TRUE(state.checkStartAtInstall);
  EXPECT_TRUE(state.setSettingsForAllBDPrograms);  // missing: the check box starts checked

  app::TConfigState again;
  state = std::move(again);
  StoreAllPrograms("1024768800600", false);
  EXPECT_EQ(Run({"INSTALL"}), app::TStartupResult::OpenWindow);
  EXPECT_FALSE(state.setSettingsForAllBDPrograms);
}

TEST_F(StartUpTest, SilentWordDoesNotSkipTheInstallCheckOfTheSetting) {
  inst.MakeStandard("Silent=1\n");
  StoreAllPrograms("1024768800600", true);
  EXPECT_EQ(Run({"INSTALL"}), app::TStartupResult::End);
  EXPECT_EQ(Run({"SILENT"}), app::TStartupResult::OpenWindow);
}

TEST_F(StartUpTest, VerdictMinus2ShowsTheMinimumRequirementText) {
  inst.MakeStandard("Bits=24\n");
  verdict = -2;
  EXPECT_EQ(Run(), app::TStartupResult::End);
  ASSERT_EQ(dialogs.shown.size(), 1u);
  EXPECT_TRUE(dialogs.shown[0].textDialog);
  EXPECT_EQ(dialogs.shown[0].text, "MR1 (800x600)\rMR2 (24) MR3");
  EXPECT_EQ(dialogs.shown[0].charset, 1);
}

TEST_F(StartUpTest, VerdictMinus1ShowsTwoDialogs) {
  inst.MakeStandard();
  verdict = -1;
  EXPECT_EQ(Run(), app::TStartupResult::End);
  ASSERT_EQ(dialogs.shown.size(), 2u);
  EXPECT_EQ(dialogs.shown[0].text, "Config P1 800x600 P2 16 P3\r\rL1\rL2");
  EXPECT_EQ(dialogs.shown[1].text, "C1\rC2\rC3 800x600 C4 16 C5");
  EXPECT_EQ(inst.StoreText(), "");
}

TEST_F(StartUpTest, OtherVerdictsOpenTheWindow) {
  inst.MakeStandard();
  for (int32_t v : {0, 1, 2}) {
    verdict = v;
    app::TConfigState fresh;
    state = std::move(fresh);
    EXPECT_EQ(Run(), app::TStartupResult::OpenWindow) << v;
  }
  EXPECT_TRUE(dialogs.shown.empty());
  EXPECT_EQ(checks, 3);
}

TEST_F(StartUpTest, StartUpTextDialogsUseTheLanguageCharset) {
  inst.MakeStandard("", "[Charset]\nCharset=204\n[Texte]\nMinReqFail1=\xcf\xf0\xe8\n");
  verdict = -2;
  Run();
  ASSERT_EQ(dialogs.shown.size(), 1u);
  EXPECT_EQ(dialogs.shown[0].charset, 204);
  EXPECT_EQ(app::DecodeText(dialogs.shown[0].text, 204).left(3), QString::fromUtf8("При"));
}

TEST(ReadParagraphTest, StopsAtTheFirstMissingOrEmptyLine) {
  TTestInstall inst;
  const struct {
    const char* lines;
    const char* expected;
  } cases[] = {
      {"LessColRes1=A\nLessColRes2=B\n", "A\rB"},
      {"LessColRes1=A\nLessColRes2=\nLessColRes3=C\n", "A"},
      {"LessColRes2=B\n", ""},
      {"LessColRes1=A\nLessColRes3=C\n", "A"},
  };
  for (const auto& c : cases) {
    WriteFile(inst.root / "c.ini", std::string("[Texte]\n") + c.lines);
    platform::TIniFile ini((inst.root / "c.ini").string());
    EXPECT_EQ(app::ReadParagraph(ini, "Texte", "LessColRes", ""), c.expected) << c.lines;
  }
}

TEST(TitleTest, ExecutableNameWithoutExtensionFirstLetterKept) {
  EXPECT_EQ(app::TitleFromExe("/a/b/CONFIG.EXE"), "Config");
  EXPECT_EQ(app::TitleFromExe("/a/b/config"), "config");
  EXPECT_EQ(app::TitleFromExe("Setup.Tool.bin"), "Setup.tool");
}

TEST(CharsetTest, OutOfRangeFallsBackToDefault) {
  TTestInstall inst;
  for (const auto& [value, expected] :
       std::vector<std::pair<std::string, int>>{{"204", 204}, {"0", 0}, {"256", 1}, {"-1", 1}, {"x", 1}}) {
    WriteFile(inst.root / "c.ini", "[Charset]\nCharset=" + value + "\n");
    platform::TIniFile ini((inst.root / "c.ini").string());
    EXPECT_EQ(app::ReadCharset(&ini), expected) << value;
  }
  EXPECT_EQ(app::ReadCharset(nullptr), 1);
}

}  // namespace
