// A registry of keys and values kept in one text file per root key, in the format of
// registry exports ("Windows Registry Editor Version 5.00").
//
// The store for HKEY_CURRENT_USER is $XDG_CONFIG_HOME/Brindel/registry.reg (default
// ~/.config/Brindel/registry.reg). Key paths compare without regard to case. Every write
// re-reads the file and replaces it atomically (temporary file, fsync, rename) under an
// exclusive lock, so concurrent writers from several processes lose no value and a crash leaves
// either the old or the new file. A store that cannot be parsed is reported with
// ERegistryException and moved aside ("registry.reg.damaged-<time>"), never overwritten.
//
// Access rights are checked when a value is read or written, against the access the object has
// then: reads and ValueExists need KEY_QUERY_VALUE (in KEY_READ), writes and DeleteValue need
// KEY_SET_VALUE (in KEY_WRITE), creating a key needs KEY_CREATE_SUB_KEY (in KEY_WRITE).
// Error texts are the framework's: "Failed to get data for 'X'", "Invalid data type for 'X'",
// "Failed to set data for 'X'".
//
// Every operation that looks at the store may throw ERegistryException when the file is damaged
// or cannot be read; the damaged file is moved aside by the first one, so later calls see an
// empty store. Reads take no lock (the file is only ever replaced whole) and read the file
// afresh, so a value another process wrote is seen at once.
//
// One TRegistry object is used by one thread at a time; several objects, in one process or in
// several, may use one store at once.
#pragma once

#include <cstdint>
#include <filesystem>
#include <string>
#include <string_view>

#include "platform/Exception.h"

namespace platform {

namespace regformat {
struct TStoreValue;
}

enum class HKEY { HKEY_CURRENT_USER, HKEY_LOCAL_MACHINE };
using enum HKEY;

inline constexpr uint32_t KEY_READ = 0x20019;
inline constexpr uint32_t KEY_WRITE = 0x20006;
inline constexpr uint32_t KEY_ALL_ACCESS = 0xF003F;

class ERegistryException : public Exception {
 public:
  using Exception::Exception;
};

// Folder of the store files: $XDG_CONFIG_HOME/Brindel, or ~/.config/Brindel (an empty or
// relative XDG_CONFIG_HOME is ignored, as the XDG base-directory rules say).
std::filesystem::path RegistryStoreFolder();
// The store file of a root key ("registry.reg" for HKEY_CURRENT_USER,
// "registry-local-machine.reg" for HKEY_LOCAL_MACHINE).
std::filesystem::path RegistryStoreFile(HKEY root);

class TRegistry {
 public:
  explicit TRegistry(uint32_t access = KEY_ALL_ACCESS);

  HKEY RootKey() const { return FRootKey; }
  void SetRootKey(HKEY root);  // closes an open key
  uint32_t Access() const { return FAccess; }
  void SetAccess(uint32_t access) { FAccess = access; }
  // Path of the open key without leading separator; empty when no key is open.
  const std::string& CurrentPath() const { return FCurrentPath; }

  // Opens `key` ("\"-separated; a leading "\" makes it absolute, otherwise it is relative to the
  // open key). A missing key is created when `canCreate` (needs write access); otherwise the
  // result is false and nothing changes.
  bool OpenKey(std::string_view key, bool canCreate);
  bool KeyExists(std::string_view key) const;
  void CloseKey();

  bool ValueExists(std::string_view name) const;
  // Reads of a missing value or a value of another type throw ERegistryException, as do reads
  // and writes without an open key and writes without write access.
  int32_t ReadInteger(std::string_view name) const;
  bool ReadBool(std::string_view name) const;           // DWORD other than 0 reads as true
  std::string ReadString(std::string_view name) const;  // missing value: empty string
  void WriteInteger(std::string_view name, int32_t value);
  void WriteBool(std::string_view name, bool value);  // DWORD 0 or 1
  void WriteString(std::string_view name, std::string_view value);
  bool DeleteValue(std::string_view name);  // false when missing or without write access

 private:
  std::string ResolvePath(std::string_view key) const;
  regformat::TStoreValue ReadValue(std::string_view name, bool missingIsEmpty) const;
  void WriteValue(const regformat::TStoreValue& value);

  HKEY FRootKey = HKEY_CURRENT_USER;
  uint32_t FAccess;
  std::string FCurrentPath;
  bool FKeyOpen = false;
};

}  // namespace platform
