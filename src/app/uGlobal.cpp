#include "app/uGlobal.h"

#include <cctype>

#include "platform/CodePage.h"
#include "platform/StringUtil.h"

namespace app {

TConfigState& TheConfig() {
  static TConfigState state;
  return state;
}

std::string MakePairString(int32_t curWidth, int32_t curHeight, int32_t reqWidth,
                           int32_t reqHeight) {
  return std::to_string(curWidth) + std::to_string(curHeight) + std::to_string(reqWidth) +
         std::to_string(reqHeight);
}

TCommandWord ParseCommandLine(const std::vector<std::string>& args) {
  if (args.empty()) return TCommandWord::None;
  const std::string word = platform::AsciiUpperCase(args.front());
  if (word == "SILENT") return TCommandWord::Silent;
  if (word == "INSTALL") return TCommandWord::Install;
  return TCommandWord::None;
}

std::string ExtractFilePath(const std::string& path) {
  const size_t slash = path.rfind('/');
  if (slash == std::string::npos) return {};
  return path.substr(0, slash + 1);
}

std::string ProgramPathFromExe(const std::string& exePath) {
  std::string folder = ExtractFilePath(exePath);
  while (folder.size() > 1 && folder.back() == '/') folder.pop_back();
  if (folder.empty() || folder == "/") return "/";
  const std::string parent = ExtractFilePath(folder);
  return parent.empty() ? std::string("/") : parent;
}

std::string IniValueToPath(std::string_view value) {
  std::string out(value);
  for (char& c : out)
    if (c == '\\') c = '/';
  return out;
}

std::string TitleFromExe(const std::string& exePath) {
  std::string name = exePath.substr(exePath.rfind('/') == std::string::npos ? 0 : exePath.rfind('/') + 1);
  const size_t dot = name.rfind('.');
  if (dot != std::string::npos && dot > 0) name.resize(dot);
  for (size_t i = 1; i < name.size(); ++i)
    name[i] = static_cast<char>(std::tolower(static_cast<unsigned char>(name[i])));
  return name;
}

namespace {
std::string& TitleStorage() {
  static std::string title;
  return title;
}
}  // namespace

const std::string& ApplicationTitle() { return TitleStorage(); }
void SetApplicationTitle(std::string title) { TitleStorage() = std::move(title); }

std::string ReadParagraph(const platform::TCustomIniFile& ini, std::string_view section,
                          std::string_view key, std::string_view defaultValue) {
  std::string result;
  std::string line;
  int i = 1;
  do {
    line = ini.ReadString(section, std::string(key) + std::to_string(i), defaultValue);
    if (!line.empty() && i > 1) result += CR;
    result += line;
    ++i;
  } while (!line.empty());
  return result;
}

std::string Caption(const platform::TCustomIniFile* ini, std::string_view key,
                    std::string_view defaultValue) {
  if (ini == nullptr) return std::string(defaultValue);
  return ini->ReadString("Texte", key, defaultValue);
}

std::string Paragraph(const platform::TCustomIniFile* ini, std::string_view key) {
  if (ini == nullptr) return {};
  return ReadParagraph(*ini, "Texte", key, "");
}

int ReadCharset(const platform::TCustomIniFile* captions) {
  if (captions == nullptr) return 1;
  const int32_t value = captions->ReadInteger("Charset", "Charset", 1);
  return (value < 0 || value > 255) ? 1 : value;
}

QString DecodeText(std::string_view bytes, int charset) {
  QString text = QString::fromStdString(
      platform::DecodeCodePage(bytes, platform::CharsetToCodePage(charset)));
  text.replace(QChar('\r'), QChar('\n'));
  return text;
}

QString LocalText(std::string_view bytes) {
  QString text = QString::fromUtf8(bytes.data(), static_cast<qsizetype>(bytes.size()));
  text.replace(QChar('\r'), QChar('\n'));
  return text;
}

namespace {
std::string Num(int32_t v) { return std::to_string(v); }
}  // namespace

std::string MinReqFailText(const platform::TCustomIniFile* c, int32_t w, int32_t h,
                           int32_t bits) {
  return Caption(c, "MinReqFail1") + " (" + Num(w) + "x" + Num(h) + ")" + CR +
         Caption(c, "MinReqFail2") + " (" + Num(bits) + ") " + Caption(c, "MinReqFail3");
}

std::string LessColResStartText(const platform::TCustomIniFile* c, int32_t w, int32_t h,
                                int32_t bits) {
  return "Config " + Caption(c, "Prg1") + " " + Num(w) + "x" + Num(h) + " " + Caption(c, "Prg2") +
         " " + Num(bits) + " " + Caption(c, "Prg3") + CR + CR + Paragraph(c, "LessColRes");
}

std::string ChangeColResText(const platform::TCustomIniFile* c, int32_t w, int32_t h,
                             int32_t bits) {
  return Caption(c, "ChangeColRes1") + CR + Caption(c, "ChangeColRes2") + CR +
         Caption(c, "ChangeColRes3") + " " + Num(w) + "x" + Num(h) + " " +
         Caption(c, "ChangeColRes4") + " " + Num(bits) + " " + Caption(c, "ChangeColRes5");
}

}  // namespace app
