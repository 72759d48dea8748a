// Readers of Windows-style ini files ("[section]", "key=value").
//
// Section and key names compare without regard to case; values are 8-bit bytes, returned as
// stored with surrounding blanks trimmed. A missing key, or an integer value that is not a
// number, gives the default; Booleans are integers (0 false, any other number true). Lines
// starting with ';' are comments; of duplicate keys in one section the first wins; a missing
// file reads as empty. Not thread-safe: one reader is used by one thread at a time.
//
// Details, as the system's own reader has them: a section name runs from "[" to the last "]"
// and is trimmed; a header without "]" is skipped; lines without "=" and lines before the first
// section are no keys; of two sections of one name only the first is searched. Quotes around a
// value stay. Integers are decimal or hexadecimal after "$" or "0x" (32 bits, "$FFFFFFFF" is -1);
// a decimal outside the 32-bit range is no number. A UTF-8 byte-order mark at the start is
// skipped.
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <string_view>
#include <vector>

namespace platform {

class TCustomIniFile {
 public:
  explicit TCustomIniFile(std::string fileName) : FFileName(std::move(fileName)) {}
  virtual ~TCustomIniFile() = default;
  TCustomIniFile(const TCustomIniFile&) = delete;
  TCustomIniFile& operator=(const TCustomIniFile&) = delete;

  const std::string& FileName() const { return FFileName; }

  virtual std::string ReadString(std::string_view section, std::string_view key,
                                 std::string_view defaultValue) const = 0;
  int32_t ReadInteger(std::string_view section, std::string_view key, int32_t defaultValue) const;
  bool ReadBool(std::string_view section, std::string_view key, bool defaultValue) const;
  bool SectionExists(std::string_view section) const;
  bool ValueExists(std::string_view section, std::string_view key) const;

 protected:
  // Parsed content: section -> ordered (key, value) pairs, names as written in the file.
  struct Section {
    std::string name;
    std::vector<std::pair<std::string, std::string>> values;
  };
  using Content = std::vector<Section>;
  static Content Parse(std::string_view text);
  static Content Load(const std::string& fileName);  // missing or unreadable file: empty
  static const std::string* Find(const Content& content, std::string_view section,
                                 std::string_view key);
  virtual const Content& Current() const = 0;

 private:
  std::string FFileName;
};

// Reads the file afresh on every call, like the system's own ini functions.
class TIniFile : public TCustomIniFile {
 public:
  explicit TIniFile(std::string fileName) : TCustomIniFile(std::move(fileName)) {}
  std::string ReadString(std::string_view section, std::string_view key,
                         std::string_view defaultValue) const override;

 protected:
  const Content& Current() const override;

 private:
  mutable Content FCache;
};

// Reads the file once, when constructed, and answers from memory afterwards.
class TMemIniFile : public TCustomIniFile {
 public:
  explicit TMemIniFile(std::string fileName);
  std::string ReadString(std::string_view section, std::string_view key,
                         std::string_view defaultValue) const override;

 protected:
  const Content& Current() const override { return FContent; }

 private:
  Content FContent;
};

}  // namespace platform
