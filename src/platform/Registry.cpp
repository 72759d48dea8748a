#include "platform/Registry.h"

#include <fcntl.h>
#include <pwd.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <functional>
#include <optional>
#include <vector>

#include "platform/RegistryFormat.h"
#include "platform/StringUtil.h"

namespace platform {

namespace {

namespace fs = std::filesystem;
using regformat::TStore;
using regformat::TStoreKey;
using regformat::TStoreValue;
using regformat::TValueKind;

constexpr uint32_t cQueryValue = 0x0001;    // KEY_QUERY_VALUE
constexpr uint32_t cSetValue = 0x0002;      // KEY_SET_VALUE
constexpr uint32_t cCreateSubKey = 0x0004;  // KEY_CREATE_SUB_KEY

std::string Quoted(std::string_view name) { return "'" + std::string(name) + "'"; }

std::string Errno(const std::string& what) { return what + ": " + std::strerror(errno); }

// --- files of the store ---

// Reads the whole store file; false when it does not exist.
bool ReadStoreFile(const fs::path& file, std::string& text) {
  const int fd = ::open(file.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) {
    if (errno == ENOENT) return false;
    throw ERegistryException(Errno("Cannot read registry store \"" + file.string() + "\""));
  }
  text.clear();
  char buffer[16384];
  for (;;) {
    const ssize_t got = ::read(fd, buffer, sizeof buffer);
    if (got < 0 && errno == EINTR) continue;
    if (got < 0) {
      const int saved = errno;
      ::close(fd);
      errno = saved;
      throw ERegistryException(Errno("Cannot read registry store \"" + file.string() + "\""));
    }
    if (got == 0) break;
    text.append(buffer, static_cast<size_t>(got));
  }
  ::close(fd);
  return true;
}

void WriteAll(int fd, const std::string& text, const fs::path& file) {
  size_t done = 0;
  while (done < text.size()) {
    const ssize_t put = ::write(fd, text.data() + done, text.size() - done);
    if (put < 0 && errno == EINTR) continue;
    if (put <= 0) throw ERegistryException(Errno("Cannot write \"" + file.string() + "\""));
    done += static_cast<size_t>(put);
  }
}

void SyncFolder(const fs::path& folder) {
  const int fd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) return;  // the rename itself is done; only its durability is at stake
  ::fsync(fd);
  ::close(fd);
}

// Replaces `file` by `text` so that every reader sees either the old or the new content, also
// after a crash: the text goes to a temporary file that is synced and renamed over the store.
// Called only under the store lock, so one temporary name is enough.
void ReplaceStoreFile(const fs::path& file, const std::string& text) {
  const fs::path temp = fs::path(file.string() + ".tmp");
  const int fd = ::open(temp.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
  if (fd < 0) throw ERegistryException(Errno("Cannot create \"" + temp.string() + "\""));
  try {
    WriteAll(fd, text, temp);
    if (::fsync(fd) != 0) throw ERegistryException(Errno("Cannot sync \"" + temp.string() + "\""));
  } catch (...) {
    ::close(fd);
    ::unlink(temp.c_str());
    throw;
  }
  ::close(fd);
  if (::rename(temp.c_str(), file.c_str()) != 0) {
    const int saved = errno;
    ::unlink(temp.c_str());
    errno = saved;
    throw ERegistryException(Errno("Cannot replace \"" + file.string() + "\""));
  }
  SyncFolder(file.parent_path());
}

// Moves a damaged store aside ("<file>.damaged-<local time>[-n]") and returns the new name.
fs::path MoveAside(const fs::path& file) {
  char stamp[32];
  const std::time_t now = std::time(nullptr);
  std::tm local{};
  localtime_r(&now, &local);
  std::strftime(stamp, sizeof stamp, "%Y%m%d-%H%M%S", &local);
  const std::string base = file.string() + ".damaged-" + stamp;
  fs::path target = base;
  for (int n = 1; ::access(target.c_str(), F_OK) == 0; ++n) target = base + "-" + std::to_string(n);
  if (::rename(file.c_str(), target.c_str()) != 0)
    throw ERegistryException(
        Errno("Registry store \"" + file.string() + "\" is damaged and cannot be moved aside"));
  SyncFolder(file.parent_path());
  return target;
}

// Exclusive lock of a store, held on a separate lock file so that the store itself can be
// replaced by rename while the lock is held. flock locks belong to the open file description,
// so two objects of one process exclude each other as well as two processes do.
class TStoreLock {
 public:
  explicit TStoreLock(const fs::path& store) {
    const fs::path lockFile = fs::path(store.string() + ".lock");
    FFd = ::open(lockFile.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
    if (FFd < 0) throw ERegistryException(Errno("Cannot open \"" + lockFile.string() + "\""));
    while (::flock(FFd, LOCK_EX) != 0) {
      if (errno == EINTR) continue;
      const int saved = errno;
      ::close(FFd);
      errno = saved;
      throw ERegistryException(Errno("Cannot lock \"" + lockFile.string() + "\""));
    }
  }
  ~TStoreLock() { ::close(FFd); }  // closing the last descriptor releases the lock
  TStoreLock(const TStoreLock&) = delete;
  TStoreLock& operator=(const TStoreLock&) = delete;

 private:
  int FFd = -1;
};

[[noreturn]] void ReportDamage(const fs::path& file, const regformat::EStoreDamaged& damage) {
  const fs::path aside = MoveAside(file);
  throw ERegistryException("Registry store \"" + file.string() + "\" is damaged (line " +
                           std::to_string(damage.Line()) + ": " + damage.what() +
                           "); it was moved to \"" + aside.string() + "\"");
}

// Parses the store under its lock; a damaged file is moved aside and reported.
TStore LoadLocked(HKEY root) {
  const fs::path file = RegistryStoreFile(root);
  std::string text;
  if (!ReadStoreFile(file, text)) return {};
  try {
    return regformat::ParseStore(text, regformat::RootName(root));
  } catch (const regformat::EStoreDamaged& damage) {
    ReportDamage(file, damage);
  }
}

// Parses the current store for a read. Readers take no lock (the file is only ever replaced
// whole); only a file that looks damaged is looked at again under the lock, since a writer may
// have replaced it meanwhile, and moved aside if it is still damaged.
TStore LoadForRead(HKEY root) {
  const fs::path file = RegistryStoreFile(root);
  std::string text;
  if (!ReadStoreFile(file, text)) return {};
  try {
    return regformat::ParseStore(text, regformat::RootName(root));
  } catch (const regformat::EStoreDamaged&) {
    TStoreLock lock(file);
    return LoadLocked(root);
  }
}

// Runs `change` on the store as it is now and writes the result, all under the lock, so a
// value another process wrote a moment ago is kept. `change` returns false to write nothing.
bool ModifyStore(HKEY root, const std::function<bool(TStore&)>& change) {
  const fs::path file = RegistryStoreFile(root);
  std::error_code ec;
  fs::create_directories(file.parent_path(), ec);
  if (ec)
    throw ERegistryException("Cannot create \"" + file.parent_path().string() +
                             "\": " + ec.message());
  TStoreLock lock(file);
  TStore store = LoadLocked(root);
  if (!change(store)) return false;
  ReplaceStoreFile(file, regformat::FormatStore(store, regformat::RootName(root)));
  return true;
}

// --- key paths ---

std::vector<std::string> SplitPath(std::string_view path) {
  std::vector<std::string> parts;
  size_t pos = 0;
  while (pos <= path.size()) {
    size_t end = path.find('\\', pos);
    if (end == std::string_view::npos) end = path.size();
    if (end > pos) parts.emplace_back(path.substr(pos, end - pos));
    pos = end + 1;
  }
  return parts;
}

std::string JoinPath(const std::vector<std::string>& parts) {
  std::string path;
  for (const std::string& p : parts) {
    if (!path.empty()) path += '\\';
    path += p;
  }
  return path;
}

bool ValidKeyName(const std::string& part) {
  for (const char c : part)
    if (static_cast<unsigned char>(c) < 0x20) return false;
  return true;
}

}  // namespace

// --- public functions ---

fs::path RegistryStoreFolder() {
  const char* xdg = std::getenv("XDG_CONFIG_HOME");
  if (xdg != nullptr && xdg[0] == '/') return fs::path(xdg) / "Brindel";
  const char* home = std::getenv("HOME");
  if (home == nullptr || home[0] == '\0') {
    const passwd* pw = ::getpwuid(::getuid());
    home = pw != nullptr ? pw->pw_dir : "/tmp";
  }
  return fs::path(home) / ".config" / "Brindel";
}

fs::path RegistryStoreFile(HKEY root) {
  return RegistryStoreFolder() /
         (root == HKEY_CURRENT_USER ? "registry.reg" : "registry-local-machine.reg");
}

// --- TRegistry ---

TRegistry::TRegistry(uint32_t access) : FAccess(access) {}

void TRegistry::SetRootKey(HKEY root) {
  CloseKey();
  FRootKey = root;
}

std::string TRegistry::ResolvePath(std::string_view key) const {
  const bool absolute = !key.empty() && key.front() == '\\';
  std::vector<std::string> parts;
  if (!absolute && FKeyOpen) parts = SplitPath(FCurrentPath);
  for (std::string& part : SplitPath(key)) parts.push_back(std::move(part));
  return JoinPath(parts);
}

bool TRegistry::OpenKey(std::string_view key, bool canCreate) {
  const std::string path = ResolvePath(key);
  for (const std::string& part : SplitPath(path))
    if (!ValidKeyName(part)) return false;
  if (regformat::KeyExists(LoadForRead(FRootKey), path)) {
    FCurrentPath = path;
    FKeyOpen = true;
    return true;
  }
  if (!canCreate || (FAccess & cCreateSubKey) == 0) return false;
  ModifyStore(FRootKey, [&](TStore& store) {
    if (regformat::KeyExists(store, path)) return false;
    regformat::CreateKey(store, path);
    return true;
  });
  FCurrentPath = path;
  FKeyOpen = true;
  return true;
}

bool TRegistry::KeyExists(std::string_view key) const {
  const std::string path = ResolvePath(key);
  return regformat::KeyExists(LoadForRead(FRootKey), path);
}

void TRegistry::CloseKey() {
  FKeyOpen = false;
  FCurrentPath.clear();
}

bool TRegistry::ValueExists(std::string_view name) const {
  if (!FKeyOpen || (FAccess & cQueryValue) == 0) return false;
  const TStore store = LoadForRead(FRootKey);
  return regformat::FindValue(store, FCurrentPath, name) != nullptr;
}

regformat::TStoreValue TRegistry::ReadValue(std::string_view name, bool missingIsEmpty) const {
  if (!FKeyOpen || (FAccess & cQueryValue) == 0)
    throw ERegistryException("Failed to get data for " + Quoted(name));
  const TStore store = LoadForRead(FRootKey);
  const TStoreValue* value = regformat::FindValue(store, FCurrentPath, name);
  if (value == nullptr) {
    if (missingIsEmpty) return TStoreValue{std::string(name), TValueKind::String, 0, {}};
    throw ERegistryException("Failed to get data for " + Quoted(name));
  }
  return *value;
}

int32_t TRegistry::ReadInteger(std::string_view name) const {
  const TStoreValue value = ReadValue(name, false);
  if (value.kind != TValueKind::Dword)
    throw ERegistryException("Invalid data type for " + Quoted(name));
  return static_cast<int32_t>(value.dword);
}

bool TRegistry::ReadBool(std::string_view name) const { return ReadInteger(name) != 0; }

std::string TRegistry::ReadString(std::string_view name) const {
  const TStoreValue value = ReadValue(name, true);
  if (value.kind != TValueKind::String)
    throw ERegistryException("Invalid data type for " + Quoted(name));
  return value.text;
}

void TRegistry::WriteValue(const regformat::TStoreValue& value) {
  if (!FKeyOpen || (FAccess & cSetValue) == 0)
    throw ERegistryException("Failed to set data for " + Quoted(value.name));
  try {
    ModifyStore(FRootKey, [&](TStore& store) {
      regformat::SetValue(store, FCurrentPath, value);
      return true;
    });
  } catch (const ERegistryException& e) {
    throw ERegistryException("Failed to set data for " + Quoted(value.name) + " (" + e.what() +
                             ")");
  }
}

void TRegistry::WriteInteger(std::string_view name, int32_t value) {
  WriteValue(TStoreValue{std::string(name), TValueKind::Dword, static_cast<uint32_t>(value), {}});
}

void TRegistry::WriteBool(std::string_view name, bool value) { WriteInteger(name, value ? 1 : 0); }

void TRegistry::WriteString(std::string_view name, std::string_view value) {
  WriteValue(TStoreValue{std::string(name), TValueKind::String, 0, std::string(value)});
}

bool TRegistry::DeleteValue(std::string_view name) {
  if (!FKeyOpen || (FAccess & cSetValue) == 0) return false;
  if (regformat::FindValue(LoadForRead(FRootKey), FCurrentPath, name) == nullptr) return false;
  return ModifyStore(
      FRootKey, [&](TStore& store) { return regformat::RemoveValue(store, FCurrentPath, name); });
}

}  // namespace platform
