// The text format of the registry store files, shared by its reader and its writer.
//
// A store file is the text of a registry export, 8-bit bytes, lines ending in LF (CR LF is read
// too):
//
//   Windows Registry Editor Version 5.00            header, the first non-blank line
//                                                   blank lines and ";" comments are skipped
//   [HKEY_CURRENT_USER\Software\Brindel\Config]     a key, full path from the root key
//   "Name"=dword:00000001                           DWORD, 1 to 8 hex digits
//   "Name"="text"                                   string
//   @="text"                                        the key's unnamed value
//   "Name"=hex(2):41,00,\                           other types: kept as written, lines that
//     42,00                                         end in "\" continue on the next
//
// In quoted names and strings "\\" is a backslash, "\"" a quote, "\n", "\r", "\0" are LF, CR and
// NUL, as the system's export writes them; every other byte stands for itself. A file that breaks
// these rules (another header, a value before the first key, a key of another root, a key or
// value deletion line, an unterminated string, a malformed DWORD) is damaged. An empty file is an
// empty store.
#pragma once

#include <cstdint>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#include "platform/Registry.h"

namespace platform::regformat {

inline constexpr std::string_view cHeader = "Windows Registry Editor Version 5.00";

enum class TValueKind { Dword, String, Other };

struct TStoreValue {
  std::string name;  // as first written; compared without regard to case
  TValueKind kind = TValueKind::String;
  uint32_t dword = 0;  // Dword
  std::string text;    // String: the bytes; Other: the data after "=" as written
};

struct TStoreKey {
  std::string path;  // below the root key, "\"-separated, no leading or trailing "\"; "" = root
  std::vector<TStoreValue> values;
};

struct TStore {
  std::vector<TStoreKey> keys;  // in file order
};

class EStoreDamaged : public std::runtime_error {
 public:
  EStoreDamaged(int line, const std::string& reason) : std::runtime_error(reason), FLine(line) {}
  int Line() const { return FLine; }

 private:
  int FLine;
};

// "HKEY_CURRENT_USER" or "HKEY_LOCAL_MACHINE".
const char* RootName(HKEY root);

// Throws EStoreDamaged with the 1-based line of the first fault.
TStore ParseStore(std::string_view text, std::string_view rootName);
std::string FormatStore(const TStore& store, std::string_view rootName);

std::string EscapeString(std::string_view bytes);

// Path arguments are normalised paths below the root; comparisons ignore ASCII case.
// A key exists when it or a key below it is listed; the root always exists.
bool KeyExists(const TStore& store, std::string_view path);
void CreateKey(TStore& store, std::string_view path);  // with every missing parent
const TStoreValue* FindValue(const TStore& store, std::string_view path, std::string_view name);
void SetValue(TStore& store, std::string_view path, const TStoreValue& value);  // creates the key
bool RemoveValue(TStore& store, std::string_view path, std::string_view name);

}  // namespace platform::regformat
