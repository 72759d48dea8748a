#include "sfs/FileAccess.h"

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <mutex>
#include <optional>
#include <semaphore>
#include <utility>
#include <vector>

#include "platform/Exception.h"

namespace sfs {

namespace {

struct TSFSManEntry {
  std::string Folder;  // with trailing "/"
  std::shared_ptr<TSFSArchive> Archive;
};

// Facade state. FStateLock guards the fields below (never held while an archive or the disk
// works); sHandle serialises the archives themselves.
std::mutex FStateLock;
std::optional<std::vector<TSFSManEntry>> SFSMan;
std::unique_ptr<std::binary_semaphore> sHandle;
std::string RootPath;
TSFSRetryQuestion FRetryQuestion;
TSFSDiskLoader FDiskLoader;

std::string LowerCase(std::string s) {
  std::transform(s.begin(), s.end(), s.begin(),
                 [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  return s;
}

// The parent folder (with trailing "/") of `folder`, which itself ends with "/"; "" when it has none.
std::string ParentFolder(const std::string& folder) {
  std::string inner = folder;
  if (!inner.empty() && inner.back() == '/') inner.pop_back();
  const auto slash = inner.rfind('/');
  return slash == std::string::npos ? std::string() : inner.substr(0, slash + 1);
}

std::string WithTrailingSlash(std::string folder) {
  if (folder.empty() || folder.back() != '/') folder += '/';
  return folder;
}

// Holds sHandle for as long as it lives.
class TArchiveLock {
 public:
  explicit TArchiveLock(std::binary_semaphore* handle) : FHandle(handle) { FHandle->acquire(); }
  ~TArchiveLock() { FHandle->release(); }
  TArchiveLock(const TArchiveLock&) = delete;
  TArchiveLock& operator=(const TArchiveLock&) = delete;

 private:
  std::binary_semaphore* FHandle;
};

// Checks that the facade exists and returns its lock. The lock object lives until SFSFree; a
// caller racing SFSFree is a misuse the facade does not guard against.
std::binary_semaphore* RequireFacade() {
  std::lock_guard guard(FStateLock);
  platform::BDAssert(SFSMan.has_value(), cSFSManMissing);
  return sHandle.get();
}

}  // namespace

void SFSCreate() {
  SFSFree();
  std::lock_guard guard(FStateLock);
  sHandle = std::make_unique<std::binary_semaphore>(1);
  SFSMan.emplace();
}

void SFSInitMan(const std::string& programFile) {
  std::string program = programFile;
  if (program.empty()) {
    std::vector<char> buffer(4096);
    const ssize_t n = readlink("/proc/self/exe", buffer.data(), buffer.size() - 1);
    if (n > 0) program.assign(buffer.data(), static_cast<size_t>(n));
  }
  const auto slash = program.rfind('/');
  const std::string programFolder =
      slash == std::string::npos ? std::string() : program.substr(0, slash + 1);
  std::lock_guard guard(FStateLock);
  RootPath = ParentFolder(programFolder);
}

void SFSFree() {
  std::vector<TSFSManEntry> entries;
  std::unique_ptr<std::binary_semaphore> handle;
  {
    std::lock_guard guard(FStateLock);
    if (SFSMan) entries = std::move(*SFSMan);
    SFSMan.reset();
    handle = std::move(sHandle);
  }
  // The archives and the lock go here, outside the state lock.
}

std::string SFSRootPath() {
  std::lock_guard guard(FStateLock);
  return RootPath;
}

void SFSSetRetryQuestion(TSFSRetryQuestion question) {
  std::lock_guard guard(FStateLock);
  FRetryQuestion = std::move(question);
}

void SFSSetDiskLoader(TSFSDiskLoader loader) {
  std::lock_guard guard(FStateLock);
  FDiskLoader = std::move(loader);
}

void SFSRegisterArchive(const std::string& folderPath, std::unique_ptr<TSFSArchive> archive) {
  std::lock_guard guard(FStateLock);
  platform::BDAssert(SFSMan.has_value(), cSFSManMissing);
  SFSMan->push_back({WithTrailingSlash(folderPath), std::move(archive)});
}

bool SFSUnregisterArchive(const std::string& folderPath) {
  std::shared_ptr<TSFSArchive> removed;  // freed outside the state lock
  std::lock_guard guard(FStateLock);
  if (!SFSMan) return false;
  const std::string folder = WithTrailingSlash(folderPath);
  const auto it = std::find_if(SFSMan->begin(), SFSMan->end(),
                               [&](const TSFSManEntry& e) { return e.Folder == folder; });
  if (it == SFSMan->end()) return false;
  removed = std::move(it->Archive);
  SFSMan->erase(it);
  return true;
}

std::shared_ptr<TSFSArchive> GetSFSFile(std::string& rPath) {
  std::lock_guard guard(FStateLock);
  if (!SFSMan) return nullptr;
  const std::string lowerPath = LowerCase(rPath);
  for (const TSFSManEntry& entry : *SFSMan) {
    const auto at = lowerPath.find(LowerCase(entry.Folder));
    if (at == std::string::npos) continue;
    // The archive holds the entry's folder as its top-level folder: cut the path just before it.
    // The cut is measured from where the folder text was found, so a folder found in the middle of
    // the path maps the same way as one found at its start.
    const size_t cut = at + ParentFolder(entry.Folder).size();
    rPath = "/" + rPath.substr(cut);
    return entry.Archive;
  }
  return nullptr;
}

bool SFSFileExists(const std::string& FilePath) {
  std::binary_semaphore* handle = RequireFacade();
  std::string path = FilePath;
  if (const auto archive = GetSFSFile(path)) {
    TArchiveLock lock(handle);
    return archive->FileExists(path);
  }
  // A folder is not a file: reading it would only fail into the Retry/Cancel question.
  struct stat info {};
  return stat(FilePath.c_str(), &info) == 0 && !S_ISDIR(info.st_mode);
}

bool SFSGetStreamFromFile(platform::TMemoryStream& outStream, const std::string& FilePath) {
  std::binary_semaphore* handle = RequireFacade();
  std::string internalPath = FilePath;
  const auto archive = GetSFSFile(internalPath);
  TSFSDiskLoader diskLoader;
  {
    std::lock_guard guard(FStateLock);
    diskLoader = FDiskLoader;
  }

  int attempt = 0;
  bool failed = false;
  do {
    ++attempt;
    failed = false;
    try {
      if (archive) {
        TArchiveLock lock(handle);
        archive->LoadFile(internalPath, outStream);
      } else if (diskLoader) {
        diskLoader(FilePath, outStream);
      } else {
        outStream.LoadFromFile(FilePath);
      }
      outStream.SetPosition(0);
    } catch (...) {
      failed = true;
    }
    if (failed && attempt > cMaxRetries) {
      TSFSRetryQuestion question;
      {
        std::lock_guard guard(FStateLock);
        question = FRetryQuestion;
      }
      const bool retry = question && question(std::string(cReadFailedText) + FilePath);
      if (!retry) return false;
      attempt = 0;
    }
  } while (failed);
  return true;
}

}  // namespace sfs
