#include "platform/IniFile.h"

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <sstream>

#include "platform/StringUtil.h"

namespace platform {

namespace {

// Parses an integer the way the framework's ini reader does: optional sign, decimal digits, or
// hexadecimal after "$" or "0x"; nothing else may follow. Hexadecimal covers 32 bits and wraps
// into the signed range ("$FFFFFFFF" is -1); decimal outside the 32-bit range is no number.
bool ParseInt32(std::string_view text, int32_t& out) {
  if (text.empty()) return false;
  size_t i = 0;
  bool negative = false;
  if (text[i] == '+' || text[i] == '-') {
    negative = text[i] == '-';
    ++i;
  }
  int base = 10;
  if (i < text.size() && text[i] == '$') {
    base = 16;
    ++i;
  } else if (i + 1 < text.size() && text[i] == '0' && (text[i + 1] == 'x' || text[i + 1] == 'X')) {
    base = 16;
    i += 2;
  }
  if (i >= text.size()) return false;
  uint64_t value = 0;
  for (; i < text.size(); ++i) {
    const char c = text[i];
    int digit;
    if (c >= '0' && c <= '9')
      digit = c - '0';
    else if (base == 16 && c >= 'a' && c <= 'f')
      digit = c - 'a' + 10;
    else if (base == 16 && c >= 'A' && c <= 'F')
      digit = c - 'A' + 10;
    else
      return false;
    value = value * static_cast<uint64_t>(base) + static_cast<uint64_t>(digit);
    if (value > 0xFFFFFFFFull) return false;
  }
  if (base == 16) {
    auto bits = static_cast<uint32_t>(value);
    if (negative) bits = 0u - bits;
    out = static_cast<int32_t>(bits);
    return true;
  }
  if (negative) {
    if (value > 0x80000000ull) return false;
    out = static_cast<int32_t>(-static_cast<int64_t>(value));
  } else {
    if (value > 0x7FFFFFFFull) return false;
    out = static_cast<int32_t>(value);
  }
  return true;
}

}  // namespace

// --- TCustomIniFile ---

int32_t TCustomIniFile::ReadInteger(std::string_view section, std::string_view key,
                                    int32_t defaultValue) const {
  const std::string text = ReadString(section, key, "");
  int32_t value = 0;
  return ParseInt32(text, value) ? value : defaultValue;
}

bool TCustomIniFile::ReadBool(std::string_view section, std::string_view key,
                              bool defaultValue) const {
  return ReadInteger(section, key, defaultValue ? 1 : 0) != 0;
}

bool TCustomIniFile::SectionExists(std::string_view section) const {
  for (const Section& s : Current())
    if (SameText(s.name, section)) return true;
  return false;
}

bool TCustomIniFile::ValueExists(std::string_view section, std::string_view key) const {
  return Find(Current(), section, key) != nullptr;
}

TCustomIniFile::Content TCustomIniFile::Parse(std::string_view text) {
  Content content;
  if (text.substr(0, 3) == "\xEF\xBB\xBF") text.remove_prefix(3);  // a UTF-8 mark of an editor
  Section* current = nullptr;
  size_t pos = 0;
  while (pos < text.size()) {
    size_t end = text.find_first_of("\r\n", pos);
    if (end == std::string_view::npos) end = text.size();
    const std::string_view line = TrimBlanks(text.substr(pos, end - pos));
    pos = end;
    if (pos < text.size() && text[pos] == '\r') ++pos;
    if (pos < text.size() && text[pos] == '\n') ++pos;

    if (line.empty() || line.front() == ';') continue;
    if (line.front() == '[') {
      // Like the system's reader: the name runs to the last ']'; a header without one is
      // skipped and the lines below it stay with the section before.
      const size_t close = line.rfind(']');
      if (close == std::string_view::npos) continue;
      content.push_back(Section{std::string(TrimBlanks(line.substr(1, close - 1))), {}});
      current = &content.back();
      continue;
    }
    const size_t eq = line.find('=');
    if (current == nullptr || eq == std::string_view::npos) continue;  // no key without section
    current->values.emplace_back(std::string(TrimBlanks(line.substr(0, eq))),
                                 std::string(TrimBlanks(line.substr(eq + 1))));
  }
  return content;
}

TCustomIniFile::Content TCustomIniFile::Load(const std::string& fileName) {
  std::ifstream in(fileName, std::ios::binary);
  if (!in) return {};
  const std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  return Parse(text);
}

const std::string* TCustomIniFile::Find(const Content& content, std::string_view section,
                                        std::string_view key) {
  // The first section of a name is the one searched, and in it the first key of a name wins.
  for (const Section& s : content) {
    if (!SameText(s.name, section)) continue;
    for (const auto& [name, value] : s.values)
      if (SameText(name, key)) return &value;
    return nullptr;
  }
  return nullptr;
}

// --- TIniFile ---

std::string TIniFile::ReadString(std::string_view section, std::string_view key,
                                 std::string_view defaultValue) const {
  const std::string* value = Find(Current(), section, key);
  return value ? *value : std::string(defaultValue);
}

const TCustomIniFile::Content& TIniFile::Current() const {
  FCache = Load(FileName());
  return FCache;
}

// --- TMemIniFile ---

TMemIniFile::TMemIniFile(std::string fileName)
    : TCustomIniFile(std::move(fileName)), FContent(Load(FileName())) {}

std::string TMemIniFile::ReadString(std::string_view section, std::string_view key,
                                    std::string_view defaultValue) const {
  const std::string* value = Find(FContent, section, key);
  return value ? *value : std::string(defaultValue);
}

}  // namespace platform
