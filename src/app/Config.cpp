#include "app/Config.h"

#include <filesystem>

#include "app/Dialogs.h"

namespace app {

namespace {

bool FileExists(const std::string& path) {
  std::error_code ec;
  return std::filesystem::is_regular_file(path, ec);
}

bool ReadSettingsForAll(const TConfigState& s, bool fallback) {
  try {
    return s.t->ReadBool(cAllPrograms + s.PairString + "SettingsForAllPrograms");
  } catch (const std::exception&) {
    return fallback;
  }
}

}  // namespace

TStartupResult StartUp(TConfigState& s, const std::string& exePath,
                       const std::vector<std::string>& args, const TStartupServices& services) {
  TDialogService& dialogs = *services.Dialogs;
  s.ExePath = exePath;
  s.ProgramPath = ProgramPathFromExe(exePath);
  s.TempStr = s.ProgramPath + "bin/program.ini";
  if (!FileExists(s.TempStr)) {
    dialogs.ShowPlainMessage(LocalText(s.TempStr + " not found! Please install the program again!"));
    return TStartupResult::End;
  }

  s.progIni = std::make_unique<platform::TIniFile>(s.TempStr);
  if (s.progIni->ReadString("Language", "ConfigIniPath", "").empty()) {
    dialogs.ShowPlainMessage(LocalText("No read access on " + s.TempStr +
                                       "Please contact your system administrator!"));
    s.progIni.reset();
    return TStartupResult::End;
  }
  s.ConfigPath = s.ProgramPath + IniValueToPath(s.progIni->ReadString("language", "ConfigIniPath", ""));

  const std::string settingsFile = s.ConfigPath + "settings.ini";
  if (!FileExists(settingsFile)) {
    dialogs.ShowPlainMessage(
        LocalText(s.ConfigPath + "settings.ini not found! Please install the program again!"));
    return TStartupResult::End;
  }
  s.settingsIni = std::make_unique<platform::TIniFile>(settingsFile);
  if (s.settingsIni->ReadString("Options", "PrgName", "").empty()) {
    dialogs.ShowPlainMessage(LocalText("No read access on " + settingsFile +
                                       "Please contact your system administrator!"));
    s.settingsIni.reset();
    return TStartupResult::End;
  }
  const platform::TCustomIniFile& settings = *s.settingsIni;
  s.silentMode = settings.ReadBool("Options", "Silent", false);

  s.t = std::make_unique<platform::TRegistry>(platform::KEY_READ);
  s.t->SetRootKey(platform::HKEY_CURRENT_USER);
  try {
    s.t->OpenKey(cConfigKey, false);
  } catch (const std::exception&) {
    // An unreadable store behaves like a missing key: every read falls back.
  }

  s.checkStartAtInstall = false;
  s.reqHorzRes = settings.ReadInteger("Options", "xRes", 800);
  s.reqVertRes = settings.ReadInteger("Options", "yRes", 600);
  s.reqColorBits = settings.ReadInteger("Options", "Bits", 16);
  s.reqFreqMax = settings.ReadInteger("Options", "FreqMax", 0);
  s.reqUseLowerFreq = settings.ReadBool("Options", "UseLowerThanActFreq", false);

  const TScreenSize screen = services.ScreenSize();
  s.PairString = MakePairString(screen.width, screen.height, s.reqHorzRes, s.reqVertRes);

  s.setSettingsForAllBDPrograms = ReadSettingsForAll(s, false);

  switch (ParseCommandLine(args)) {
    case TCommandWord::Silent: s.silentMode = true; break;
    case TCommandWord::Install: s.checkStartAtInstall = true; break;
    case TCommandWord::None: break;
  }

  // At installation, a screen/requirement pair already configured for all programs needs nothing.
  if (s.checkStartAtInstall && s.setSettingsForAllBDPrograms) return TStartupResult::End;

  s.setSettingsForAllBDPrograms = ReadSettingsForAll(s, true);
  s.t->CloseKey();

  const std::string captionsFile = s.ConfigPath + "captions.ini";
  if (!FileExists(captionsFile) && !s.silentMode) {
    dialogs.ShowPlainMessage(
        LocalText(s.ConfigPath + "captions.ini not found! Please install the program again!"));
    return TStartupResult::End;
  }
  s.captionsIni = std::make_unique<platform::TIniFile>(captionsFile);

  const int32_t checkStat = s.silentMode ? 0 : services.CheckResolution(s);
  const platform::TCustomIniFile* captions = s.captionsIni.get();
  switch (checkStat) {
    case -2:
      dialogs.ShowTextDialog(MinReqFailText(captions, s.reqHorzRes, s.reqVertRes, s.reqColorBits),
                             ReadCharset(captions));
      return TStartupResult::End;
    case -1:
      dialogs.ShowTextDialog(
          LessColResStartText(captions, s.reqHorzRes, s.reqVertRes, s.reqColorBits),
          ReadCharset(captions));
      dialogs.ShowTextDialog(
          ChangeColResText(captions, s.reqHorzRes, s.reqVertRes, s.reqColorBits),
          ReadCharset(captions));
      return TStartupResult::End;
    default:
      return TStartupResult::OpenWindow;
  }
}

}  // namespace app
