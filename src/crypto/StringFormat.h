// String formats: conversions between raw bytes and text (copy, hexadecimal, Base64, UU, XX),
// and the process-wide registry that finds a format by its code.
//
// StrToFormat turns raw bytes into text of a format; FormatToStr turns text of a format back
// into raw bytes. Both throw EStringFormat on an unknown code or input the format rejects. The
// registry is filled once at start-up with the six formats; it is read-only afterwards and safe
// to use from several threads as long as nobody registers formats concurrently.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "platform/Exception.h"

namespace crypto {

inline constexpr int32_t fmtNONE = 0;
inline constexpr int32_t fmtDEFAULT = -1;
inline constexpr int32_t fmtCOPY = 1;
inline constexpr int32_t fmtHEX = 16;
inline constexpr int32_t fmtHEXL = 1016;
inline constexpr int32_t fmtMIME64 = 4196;
inline constexpr int32_t fmtUU = 21845;
inline constexpr int32_t fmtXX = 22616;

class EStringFormat : public platform::Exception {
 public:
  using Exception::Exception;
};

// A format; instances are stateless singletons returned by StringFormat().
class TStringFormat {
 public:
  virtual ~TStringFormat() = default;
  // Text in this format to raw bytes.
  virtual std::string ToStr(const char* Value, int32_t Len) const;
  // Raw bytes to text in this format.
  virtual std::string StrTo(const char* Value, int32_t Len) const;
  virtual std::string Name() const { return "copy Input to Output"; }
  virtual int32_t Format() const { return fmtCOPY; }
  // ToStr true: may Value be converted from this format to raw bytes; false: from raw bytes.
  virtual bool IsValid(const char* Value, int32_t Len, bool ToStr) const;
  // Character table of the format; empty for copy.
  virtual std::string_view CharTable() const { return {}; }
  virtual const char* ClassName() const { return "TStringFormat"; }
};

class TStringFormat_HEX : public TStringFormat {
 public:
  std::string ToStr(const char* Value, int32_t Len) const override;
  std::string StrTo(const char* Value, int32_t Len) const override;
  std::string Name() const override { return "Hexadecimal"; }
  int32_t Format() const override { return fmtHEX; }
  bool IsValid(const char* Value, int32_t Len, bool ToStr) const override;
  std::string_view CharTable() const override;
  const char* ClassName() const override { return "TStringFormat_HEX"; }
};

class TStringFormat_HEXL : public TStringFormat_HEX {
 public:
  std::string Name() const override { return "Hexadecimal lowercase"; }
  int32_t Format() const override { return fmtHEXL; }
  std::string_view CharTable() const override;
  const char* ClassName() const override { return "TStringFormat_HEXL"; }
};

class TStringFormat_MIME64 : public TStringFormat {
 public:
  std::string ToStr(const char* Value, int32_t Len) const override;
  std::string StrTo(const char* Value, int32_t Len) const override;
  std::string Name() const override { return "MIME Base 64"; }
  int32_t Format() const override { return fmtMIME64; }
  bool IsValid(const char* Value, int32_t Len, bool ToStr) const override;
  std::string_view CharTable() const override;
  const char* ClassName() const override { return "TStringFormat_MIME64"; }
};

class TStringFormat_UU : public TStringFormat {
 public:
  std::string ToStr(const char* Value, int32_t Len) const override;
  std::string StrTo(const char* Value, int32_t Len) const override;
  std::string Name() const override { return "UU Coding"; }
  int32_t Format() const override { return fmtUU; }
  bool IsValid(const char* Value, int32_t Len, bool ToStr) const override;
  std::string_view CharTable() const override;
  const char* ClassName() const override { return "TStringFormat_UU"; }
};

class TStringFormat_XX : public TStringFormat_UU {
 public:
  std::string Name() const override { return "XX Coding"; }
  int32_t Format() const override { return fmtXX; }
  std::string_view CharTable() const override;
  const char* ClassName() const override { return "TStringFormat_XX"; }
};

// Adds formats to the registry (a format with the code of a registered one replaces it). The six
// formats above are registered before main() runs.
void RegisterStringFormats(const std::vector<const TStringFormat*>& Formats);
// The format with that code (fmtDEFAULT: the default format), or null.
const TStringFormat* StringFormat(int32_t Format);
// Code of the default format (initially fmtMIME64) and its setter.
int32_t DefaultStringFormat();
void SetDefaultStringFormat(int32_t Format);

// Raw bytes to text of Format. Empty input or fmtNONE: empty result. Unknown code:
// EStringFormat "String Format "<code>" not exists."; rejected input: "Input can not be
// convert to <name> Format.".
std::string StrToFormat(const char* Value, int32_t Len, int32_t Format);
std::string StrToFormat(const std::string& Value, int32_t Format);
// Text of Format to raw bytes; rejected input: "Input is not an valid <name> Format.".
std::string FormatToStr(const char* Value, int32_t Len, int32_t Format);
std::string FormatToStr(const std::string& Value, int32_t Format);

// CR LF after every BlockSize characters (not after the last piece); BlockSize <= 0 or not
// below the length: unchanged.
std::string InsertCR(const std::string& Value, int32_t BlockSize);
// Removes every CR and LF.
std::string DeleteCR(const std::string& Value);

}  // namespace crypto
