#include "crypto/StringFormat.h"

#include <algorithm>
#include <cctype>
#include <map>

namespace crypto {

namespace {

// The character tables; the text after the alphabet lists characters a text may also hold.
constexpr std::string_view cHEXTable = "0123456789ABCDEFX$ abcdefhHx()[]{},;:-_/\\*+\"'\t\n\r";
constexpr std::string_view cHEXLTable = "0123456789abcdefX$ ABCDEFhHx()[]{},;:-_/\\*+\"'\t\n\r";
constexpr std::string_view cMIME64Table =
    "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/= $()[]{},;:-_\\*\"'\t\n\r";
constexpr std::string_view cUUTable = "`!\"#$%&'()*+,-./0123456789:;<=>?@ABCDEFGHIJKLMNOPQRSTUVWXYZ[\\]^_ \t\n\r";
constexpr std::string_view cXXTable = "+-0123456789ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz \"()[]'\t\n\r";

constexpr int32_t cUULineBytes = 45;

// Position of c in Table (first occurrence), or -1.
int Position(std::string_view Table, char c) {
  const auto pos = Table.find(c);
  return pos == std::string_view::npos ? -1 : static_cast<int>(pos);
}

bool AllInTable(std::string_view Table, const char* Value, int32_t Len) {
  for (int32_t i = 0; i < Len; ++i)
    if (Position(Table, Value[i]) < 0) return false;
  return true;
}

char Upper(char c) { return static_cast<char>(std::toupper(static_cast<unsigned char>(c))); }

struct TFormatRegistry {
  std::map<int32_t, const TStringFormat*> Formats;
  int32_t Default = fmtMIME64;
};

TFormatRegistry& Registry() {
  static const TStringFormat copyFormat;
  static const TStringFormat_HEX hexFormat;
  static const TStringFormat_HEXL hexlFormat;
  static const TStringFormat_MIME64 mime64Format;
  static const TStringFormat_UU uuFormat;
  static const TStringFormat_XX xxFormat;
  static TFormatRegistry registry = [] {
    TFormatRegistry r;
    for (const TStringFormat* f : {static_cast<const TStringFormat*>(&copyFormat),
                                   static_cast<const TStringFormat*>(&hexFormat),
                                   static_cast<const TStringFormat*>(&hexlFormat),
                                   static_cast<const TStringFormat*>(&mime64Format),
                                   static_cast<const TStringFormat*>(&uuFormat),
                                   static_cast<const TStringFormat*>(&xxFormat)})
      r.Formats[f->Format()] = f;
    return r;
  }();
  return registry;
}

const TStringFormat& LookUp(int32_t Format) {
  const TStringFormat* f = StringFormat(Format);
  if (f == nullptr) throw EStringFormat("String Format \"" + std::to_string(Format) + "\" not exists.");
  return *f;
}

}  // namespace

// --- copy ---

std::string TStringFormat::ToStr(const char* Value, int32_t Len) const {
  return Len > 0 ? std::string(Value, static_cast<size_t>(Len)) : std::string();
}

std::string TStringFormat::StrTo(const char* Value, int32_t Len) const {
  return Len > 0 ? std::string(Value, static_cast<size_t>(Len)) : std::string();
}

bool TStringFormat::IsValid(const char* Value, int32_t Len, bool ToStr) const {
  // Any bytes can be turned into text; text must consist of characters of the table.
  if (!ToStr || CharTable().empty()) return true;
  return AllInTable(CharTable(), Value, Len);
}

// --- HEX, HEXL ---

std::string_view TStringFormat_HEX::CharTable() const { return cHEXTable; }
std::string_view TStringFormat_HEXL::CharTable() const { return cHEXLTable; }

std::string TStringFormat_HEX::StrTo(const char* Value, int32_t Len) const {
  const std::string_view table = CharTable();
  std::string text;
  text.reserve(2 * static_cast<size_t>(std::max(Len, 0)));
  for (int32_t i = 0; i < Len; ++i) {
    const auto b = static_cast<uint8_t>(Value[i]);
    text += table[b >> 4];
    text += table[b & 15];
  }
  return text;
}

std::string TStringFormat_HEX::ToStr(const char* Value, int32_t Len) const {
  // The nibble alphabet and the two prefix characters, compared in upper case so that both
  // tables accept either case of the letters.
  char digits[18];
  const std::string_view table = CharTable();
  for (int i = 0; i < 18; ++i) digits[i] = Upper(table[static_cast<size_t>(i)]);
  const std::string_view alphabet(digits, 18);

  std::string bytes;
  bool prefixSeen = false;
  int high = -1;
  for (int32_t i = 0; i < Len; ++i) {
    const int pos = Position(alphabet, Upper(Value[i]));
    if (pos < 0) continue;
    if (pos >= 16) {
      if (!prefixSeen) {
        prefixSeen = true;
        bytes.clear();
        high = -1;
      }
      continue;
    }
    if (high < 0) {
      high = pos;
    } else {
      bytes += static_cast<char>((high << 4) | pos);
      high = -1;
    }
  }
  return bytes;
}

bool TStringFormat_HEX::IsValid(const char* Value, int32_t Len, bool ToStr) const {
  return !ToStr || AllInTable(CharTable(), Value, Len);
}

// --- MIME64 ---

std::string_view TStringFormat_MIME64::CharTable() const { return cMIME64Table; }

std::string TStringFormat_MIME64::StrTo(const char* Value, int32_t Len) const {
  const std::string_view table = CharTable();
  std::string text;
  text.reserve(static_cast<size_t>((std::max(Len, 0) + 2) / 3 * 4));
  const auto* p = reinterpret_cast<const uint8_t*>(Value);
  int32_t i = 0;
  for (; i + 3 <= Len; i += 3) {
    const uint32_t v = (uint32_t{p[i]} << 16) | (uint32_t{p[i + 1]} << 8) | p[i + 2];
    text += table[(v >> 18) & 63];
    text += table[(v >> 12) & 63];
    text += table[(v >> 6) & 63];
    text += table[v & 63];
  }
  const int32_t rest = Len - i;
  if (rest > 0) {
    uint32_t v = uint32_t{p[i]} << 16;
    if (rest == 2) v |= uint32_t{p[i + 1]} << 8;
    text += table[(v >> 18) & 63];
    text += table[(v >> 12) & 63];
    text += rest == 2 ? table[(v >> 6) & 63] : '=';
    text += '=';
  }
  return text;
}

std::string TStringFormat_MIME64::ToStr(const char* Value, int32_t Len) const {
  const std::string_view table = CharTable();
  // Every "=" stands for six zero bits and takes one byte off the end; missing "=" are implied.
  // The padding is counted over the alphabet characters only, so that line breaks and blanks in
  // the text do not shorten the result.
  std::string bytes;
  bytes.reserve(static_cast<size_t>(std::max(Len, 0)) / 4 * 3 + 3);
  uint32_t bits = 0;
  int count = 0;
  size_t pads = 0;
  size_t symbols = 0;
  auto take = [&](int pos) {
    if (pos == 64) ++pads;
    ++symbols;
    bits = (bits << 6) | static_cast<uint32_t>(pos & 63);
    count += 6;
    if (count >= 8) {
      count -= 8;
      bytes += static_cast<char>((bits >> count) & 0xFF);
    }
  };
  for (int32_t i = 0; i < Len; ++i) {
    const int pos = Position(table, Value[i]);
    if (pos >= 0 && pos <= 64) take(pos);
  }
  while (symbols % 4 != 0) take(64);
  bytes.resize(bytes.size() - std::min(pads, bytes.size()));
  return bytes;
}

bool TStringFormat_MIME64::IsValid(const char* Value, int32_t Len, bool ToStr) const {
  return !ToStr || AllInTable(CharTable(), Value, Len);
}

// --- UU, XX ---

std::string_view TStringFormat_UU::CharTable() const { return cUUTable; }
std::string_view TStringFormat_XX::CharTable() const { return cXXTable; }

std::string TStringFormat_UU::StrTo(const char* Value, int32_t Len) const {
  const std::string_view table = CharTable();
  const auto* p = reinterpret_cast<const uint8_t*>(Value);
  std::string text;
  for (int32_t start = 0; start < Len; start += cUULineBytes) {
    const int32_t n = std::min(cUULineBytes, Len - start);
    text += table[static_cast<size_t>(n)];
    for (int32_t g = 0; g < n; g += 3) {
      uint32_t v = uint32_t{p[start + g]} << 16;
      if (g + 1 < n) v |= uint32_t{p[start + g + 1]} << 8;
      if (g + 2 < n) v |= p[start + g + 2];
      text += table[(v >> 18) & 63];
      text += table[(v >> 12) & 63];
      text += table[(v >> 6) & 63];
      text += table[v & 63];
    }
  }
  return text;
}

namespace {

// Walks UU/XX text line by line. Characters at table positions 64 and above (blanks, line
// breaks) separate lines and are skipped. Every line is a length character (0..45) followed by
// 4 characters for every started group of 3 bytes. Returns false on a bad length character or a
// line cut short; Out (when given) receives the bytes.
bool WalkUU(std::string_view Table, const char* Value, int32_t Len, std::string* Out) {
  int32_t i = 0;
  auto next = [&](int& pos) {
    while (i < Len) {
      pos = Position(Table, Value[i++]);
      if (pos < 0) return false;
      if (pos < 64) return true;
    }
    return false;
  };
  while (true) {
    int length = -1;
    // Skip separators before the length character; the end of the text ends the walk.
    while (i < Len) {
      length = Position(Table, Value[i]);
      if (length < 0 || length < 64) break;
      ++i;
    }
    if (i >= Len) return true;
    ++i;
    if (length < 0 || length > cUULineBytes) return false;
    for (int g = 0; g < length; g += 3) {
      int c[4];
      for (int k = 0; k < 4; ++k)
        if (!next(c[k])) return false;
      const uint32_t v = (static_cast<uint32_t>(c[0]) << 18) | (static_cast<uint32_t>(c[1]) << 12) |
                         (static_cast<uint32_t>(c[2]) << 6) | static_cast<uint32_t>(c[3]);
      if (Out != nullptr) {
        const int take = std::min(3, length - g);
        for (int k = 0; k < take; ++k) *Out += static_cast<char>((v >> (16 - 8 * k)) & 0xFF);
      }
    }
  }
}

}  // namespace

std::string TStringFormat_UU::ToStr(const char* Value, int32_t Len) const {
  std::string bytes;
  if (!WalkUU(CharTable(), Value, Len, &bytes))
    throw EStringFormat("Input is not an valid " + Name() + " Format.");
  return bytes;
}

bool TStringFormat_UU::IsValid(const char* Value, int32_t Len, bool ToStr) const {
  if (!ToStr) return true;
  return AllInTable(CharTable(), Value, Len) && WalkUU(CharTable(), Value, Len, nullptr);
}

// --- registry and conversions ---

void RegisterStringFormats(const std::vector<const TStringFormat*>& Formats) {
  auto& registry = Registry();
  for (const TStringFormat* f : Formats)
    if (f != nullptr) registry.Formats[f->Format()] = f;
}

const TStringFormat* StringFormat(int32_t Format) {
  auto& registry = Registry();
  if (Format == fmtDEFAULT) Format = registry.Default;
  const auto it = registry.Formats.find(Format);
  return it == registry.Formats.end() ? nullptr : it->second;
}

int32_t DefaultStringFormat() { return Registry().Default; }

void SetDefaultStringFormat(int32_t Format) { Registry().Default = Format; }

std::string StrToFormat(const char* Value, int32_t Len, int32_t Format) {
  if (Len <= 0 || Format == fmtNONE) return {};
  const TStringFormat& f = LookUp(Format);
  if (!f.IsValid(Value, Len, false)) throw EStringFormat("Input can not be convert to " + f.Name() + " Format.");
  return f.StrTo(Value, Len);
}

std::string StrToFormat(const std::string& Value, int32_t Format) {
  return StrToFormat(Value.data(), static_cast<int32_t>(Value.size()), Format);
}

std::string FormatToStr(const char* Value, int32_t Len, int32_t Format) {
  if (Len <= 0 || Format == fmtNONE) return {};
  const TStringFormat& f = LookUp(Format);
  if (!f.IsValid(Value, Len, true)) throw EStringFormat("Input is not an valid " + f.Name() + " Format.");
  return f.ToStr(Value, Len);
}

std::string FormatToStr(const std::string& Value, int32_t Format) {
  return FormatToStr(Value.data(), static_cast<int32_t>(Value.size()), Format);
}

std::string InsertCR(const std::string& Value, int32_t BlockSize) {
  if (BlockSize <= 0 || static_cast<size_t>(BlockSize) >= Value.size()) return Value;
  std::string result;
  result.reserve(Value.size() + Value.size() / static_cast<size_t>(BlockSize) * 2);
  for (size_t i = 0; i < Value.size(); i += static_cast<size_t>(BlockSize)) {
    if (i > 0) result += "\r\n";
    result.append(Value, i, static_cast<size_t>(BlockSize));
  }
  return result;
}

std::string DeleteCR(const std::string& Value) {
  std::string result;
  result.reserve(Value.size());
  for (char c : Value)
    if (c != '\r' && c != '\n') result += c;
  return result;
}

}  // namespace crypto
