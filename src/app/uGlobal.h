// Process-wide configuration state of the tool and the small helpers around it: the pair string,
// the command-line words, the multi-line texts of the language file, the path algebra of an
// installation and the texts that are composed from several caption keys.
//
// Everything here is plain data and plain functions, so the start-up decisions can be checked
// without a window. Strings are 8-bit texts in the installation's code page; they are decoded
// only where they are shown (DecodeText).
#pragma once

#include <QString>

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "platform/IniFile.h"
#include "platform/Registry.h"

namespace app {

// The state the entry reads and the window uses. One instance lives for the whole run
// (TheConfig()); tests build their own.
struct TConfigState {
  std::string ProgramPath;  // installation folder, trailing "/"
  std::string TempStr;      // ProgramPath + "bin/program.ini"
  std::string ConfigPath;   // language folder: ProgramPath followed directly by "ConfigIniPath"
  std::string ExePath;      // the running executable (its folder holds the tool's own program.ini)
  std::unique_ptr<platform::TCustomIniFile> progIni;
  std::unique_ptr<platform::TCustomIniFile> settingsIni;
  std::unique_ptr<platform::TCustomIniFile> captionsIni;
  std::unique_ptr<platform::TRegistry> t;
  int32_t reqHorzRes = 800;
  int32_t reqVertRes = 600;
  int32_t reqColorBits = 16;
  int32_t reqFreqMax = 0;
  bool reqUseLowerFreq = false;
  std::string PairString;
  bool silentMode = false;
  bool checkStartAtInstall = false;
  bool setSettingsForAllBDPrograms = false;
};

TConfigState& TheConfig();

// Registry key of the family and the compatibility key.
inline constexpr const char* cConfigKey = "Software\\Brindel\\Config";
inline constexpr const char* cDirectXKey = "SoftWare\\Microsoft\\DirectX";
inline constexpr const char* cLayersKey =
    "Software\\Microsoft\\Windows NT\\CurrentVersion\\AppCompatFlags\\Layers";
inline constexpr const char* cCompatibilityData = "$ DWM8And16BitMitigation Win7RTM";
inline constexpr const char* cAllPrograms = "_AllPrograms";
inline constexpr const char* cDefaultAllProgramsText =
    "<Einstellung f\xFCr alle Brindel-Programme verwenden>";  // code page 1252
// Section of the tool's own program.ini that names the educational program's executable.
inline constexpr const char* cExeNameSection = "Program";
inline constexpr char CR = '\r';

// Current width, height, required width, required height, joined without separators.
std::string MakePairString(int32_t curWidth, int32_t curHeight, int32_t reqWidth,
                           int32_t reqHeight);

// The run mode asked for by the command line (only the first argument counts).
enum class TCommandWord { None, Silent, Install };
TCommandWord ParseCommandLine(const std::vector<std::string>& args);

// Installation folder of an executable: the parent of the executable's folder, trailing "/".
// An executable in the root folder gives the root itself.
std::string ProgramPathFromExe(const std::string& exePath);
// Folder of a file with trailing "/".
std::string ExtractFilePath(const std::string& path);
// An ini value that becomes part of a path: backslashes become "/". Nothing is inserted or
// removed, so a value without a trailing separator is glued to the next file name.
std::string IniValueToPath(std::string_view value);

// Title of dialogs shown before the application title is set: the executable's file name without
// extension, first letter unchanged, the rest in lower case.
std::string TitleFromExe(const std::string& exePath);
// The application title used by every dialog (initially empty: TitleFromExe of the executable).
const std::string& ApplicationTitle();
void SetApplicationTitle(std::string title);

// Keys name1, name2, ... of one section, read up to the first missing or empty one, joined with CR.
std::string ReadParagraph(const platform::TCustomIniFile& ini, std::string_view section,
                          std::string_view key, std::string_view defaultValue = {});
// One line of section "Texte".
std::string Caption(const platform::TCustomIniFile* ini, std::string_view key,
                    std::string_view defaultValue = {});
std::string Paragraph(const platform::TCustomIniFile* ini, std::string_view key);

// "Charset" of section "Charset": 0..255, default 1; a value outside the range falls back to 1.
int ReadCharset(const platform::TCustomIniFile* captions);
// 8-bit text of a font character set, decoded for display; CR line breaks become "\n".
QString DecodeText(std::string_view bytes, int charset);
// A file-system path or fixed message (UTF-8 on this platform).
QString LocalText(std::string_view bytes);

// Texts composed from caption keys.
std::string MinReqFailText(const platform::TCustomIniFile* captions, int32_t w, int32_t h,
                           int32_t bits);
std::string LessColResStartText(const platform::TCustomIniFile* captions, int32_t w, int32_t h,
                                int32_t bits);
std::string ChangeColResText(const platform::TCustomIniFile* captions, int32_t w, int32_t h,
                             int32_t bits);

}  // namespace app
