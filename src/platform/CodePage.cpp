#include "platform/CodePage.h"

#include <iconv.h>

#include <cerrno>
#include <string>

namespace platform {

namespace {

constexpr int cCodePageSymbol = 42;  // CP_SYMBOL of the system

// iconv name of a Windows code page; nullptr for one glibc does not convert.
const char* IconvName(int codePage) {
  switch (codePage) {
    case 437:
      return "CP437";
    case 874:
      return "CP874";
    case 932:
      return "CP932";
    case 936:
      return "CP936";
    case 949:
      return "CP949";
    case 950:
      return "CP950";
    case 1250:
      return "CP1250";
    case 1251:
      return "CP1251";
    case 1252:
      return "CP1252";
    case 1253:
      return "CP1253";
    case 1254:
      return "CP1254";
    case 1255:
      return "CP1255";
    case 1256:
      return "CP1256";
    case 1257:
      return "CP1257";
    case 1258:
      return "CP1258";
    case 1361:
      return "CP1361";
    default:
      return nullptr;
  }
}

void AppendUtf8(std::string& out, char32_t c) {
  if (c < 0x80) {
    out += static_cast<char>(c);
  } else if (c < 0x800) {
    out += static_cast<char>(0xC0 | (c >> 6));
    out += static_cast<char>(0x80 | (c & 0x3F));
  } else if (c < 0x10000) {
    out += static_cast<char>(0xE0 | (c >> 12));
    out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (c & 0x3F));
  } else {
    out += static_cast<char>(0xF0 | (c >> 18));
    out += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
    out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (c & 0x3F));
  }
}

constexpr const char* cReplacement = "\xEF\xBF\xBD";  // U+FFFD

// The symbol code page as the system decodes it: control bytes stay, every other byte goes to
// the private-use block U+F020..U+F0FF that symbol fonts map.
std::string DecodeSymbol(std::string_view bytes) {
  std::string out;
  out.reserve(bytes.size() * 3);
  for (const char b : bytes) {
    const auto u = static_cast<unsigned char>(b);
    AppendUtf8(out, u < 0x20 ? char32_t(u) : char32_t(0xF000 + u));
  }
  return out;
}

std::string DecodeIconv(std::string_view bytes, const char* name) {
  iconv_t cd = iconv_open("UTF-8", name);
  if (cd == reinterpret_cast<iconv_t>(-1)) return {};
  std::string out;
  std::string buffer(bytes.size() * 4 + 16, '\0');
  char* in = const_cast<char*>(bytes.data());  // iconv's interface is not const-correct
  size_t inLeft = bytes.size();
  while (inLeft > 0) {
    char* outPtr = buffer.data();
    size_t outLeft = buffer.size();
    const size_t rc = iconv(cd, &in, &inLeft, &outPtr, &outLeft);
    out.append(buffer.data(), buffer.size() - outLeft);
    if (rc != static_cast<size_t>(-1)) break;
    if (errno == E2BIG) continue;
    // EILSEQ (a byte the code page does not define) or EINVAL (a multi-byte sequence cut off
    // at the end): one replacement character for the first byte, then go on after it.
    {
      char* flushPtr = buffer.data();
      size_t flushLeft = buffer.size();
      iconv(cd, nullptr, nullptr, &flushPtr, &flushLeft);
      out.append(buffer.data(), buffer.size() - flushLeft);
    }
    out += cReplacement;
    ++in;
    --inLeft;
  }
  // Converters that combine characters (1255, 1258) hold the last one back until flushed.
  char* outPtr = buffer.data();
  size_t outLeft = buffer.size();
  iconv(cd, nullptr, nullptr, &outPtr, &outLeft);
  out.append(buffer.data(), buffer.size() - outLeft);
  iconv_close(cd);
  return out;
}

}  // namespace

int CharsetToCodePage(int charset) {
  switch (charset) {
    case 0:  // ANSI_CHARSET
    case 1:  // DEFAULT_CHARSET
      return 1252;
    case 2:
      return cCodePageSymbol;  // SYMBOL_CHARSET
    case 128:
      return 932;  // SHIFTJIS_CHARSET
    case 129:
      return 949;  // HANGEUL_CHARSET
    case 130:
      return 1361;  // JOHAB_CHARSET
    case 134:
      return 936;  // GB2312_CHARSET
    case 136:
      return 950;  // CHINESEBIG5_CHARSET
    case 161:
      return 1253;  // GREEK_CHARSET
    case 162:
      return 1254;  // TURKISH_CHARSET
    case 163:
      return 1258;  // VIETNAMESE_CHARSET
    case 177:
      return 1255;  // HEBREW_CHARSET
    case 178:
      return 1256;  // ARABIC_CHARSET
    case 186:
      return 1257;  // BALTIC_CHARSET
    case 204:
      return 1251;  // RUSSIAN_CHARSET
    case 222:
      return 874;  // THAI_CHARSET
    case 238:
      return 1250;  // EASTEUROPE_CHARSET
    case 255:
      return 437;  // OEM_CHARSET
    default:
      return 1252;
  }
}

std::string DecodeCodePage(std::string_view bytes, int codePage) {
  if (codePage == cCodePageSymbol) return DecodeSymbol(bytes);
  const char* name = IconvName(codePage);
  if (name == nullptr) name = "CP1252";  // a code page we do not know reads as Western
  return DecodeIconv(bytes, name);
}

}  // namespace platform
