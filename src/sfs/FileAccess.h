// The file access facade: the one way the program tests for and reads its data files.
//
// A path either lies inside a registered archive (a container standing in for a folder) or on
// disk. Callers pass ordinary full paths ("/" separated) and do not care which: when a registered
// archive covers the path the file comes from the archive, otherwise from the disk. The registry
// starts empty; with an empty registry every call is the plain disk operation (plus the retry loop
// of SFSGetStreamFromFile).
//
// Lifecycle: SFSCreate and SFSInitMan once at start-up, SFSFree at the end. Using the facade before
// SFSCreate (or after SFSFree) is an assertion failure.
//
// Threads: every function may be called from any thread. Archive access (existence tests and
// whole-file reads) is serialised by one lock; disk reads take no lock. The Retry/Cancel question
// runs on the thread that called SFSGetStreamFromFile (this may be the sound player's thread).
#pragma once

#include <functional>
#include <memory>
#include <string>

#include "platform/Stream.h"

namespace sfs {

// An archive as the facade sees it. Internal paths start with "/" and name the archive's top-level
// folder first (an archive registered for ".../data/" holds "/data/...").
//
// The facade calls an archive only while it holds its lock, so an implementation sees one call at a
// time. The registry owns a registered archive; it is destroyed when it is unregistered, at SFSFree,
// or once the last read that was running on it has returned.
class TSFSArchive {
 public:
  virtual ~TSFSArchive() = default;
  virtual bool FileExists(const std::string& internalPath) = 0;
  // Replaces the content of `out` with the whole file. Throws on any failure.
  virtual void LoadFile(const std::string& internalPath, platform::TMemoryStream& out) = 0;
};

// Attempts of SFSGetStreamFromFile beyond the first before the Retry/Cancel question.
inline constexpr int cMaxRetries = 5;

inline constexpr const char* cSFSManMissing =
    "SFSMan ist nil -> SFSCreate und/oder SFSInitMan vergessen!";
inline constexpr const char* cReadFailedText =
    "Read operation failed! Please inform your system administrator!\r";

// The Retry/Cancel question after repeated read failures. `text` is the full message
// (cReadFailedText followed by the path); the program shows it with its application title as
// caption. Returns true for Retry, false for Cancel. Called on the reading thread.
using TSFSRetryQuestion = std::function<bool(const std::string& text)>;

// Creates the lock and the empty registry. Calling it again first frees what is there.
void SFSCreate();
// Sets RootPath to the parent folder of the folder holding `programFile` (with trailing "/").
// An empty `programFile` means the running executable (/proc/self/exe).
void SFSInitMan(const std::string& programFile = {});
// Frees every registered archive, the registry and the lock.
void SFSFree();

// The folder above the program's folder, as set by SFSInitMan ("" before).
std::string SFSRootPath();

bool SFSFileExists(const std::string& FilePath);
// Fills `outStream` with the whole file and sets its position to 0. A failed attempt is repeated
// at once; after cMaxRetries repetitions have failed too the Retry/Cancel question is asked (Retry
// allows cMaxRetries + 1 more attempts). Returns true when an attempt succeeded, false after
// Cancel (or, without a question installed, after the first round of failures).
bool SFSGetStreamFromFile(platform::TMemoryStream& outStream, const std::string& FilePath);

// Installs the Retry/Cancel question; an empty function removes it.
void SFSSetRetryQuestion(TSFSRetryQuestion question);

// Registers `archive` for `folderPath` (a "/" is appended when missing); the registry owns it.
// Entries are looked up in registration order; the first whose folder text occurs anywhere in a
// path (compared lower-cased) serves it. Asserts that SFSCreate ran.
void SFSRegisterArchive(const std::string& folderPath, std::unique_ptr<TSFSArchive> archive);
// Removes (and frees) the first entry registered for `folderPath`; false when there is none.
bool SFSUnregisterArchive(const std::string& folderPath);

// Test seam: replaces the disk read of SFSGetStreamFromFile (an empty function restores the plain
// file read). The loader must throw on failure, like TMemoryStream::LoadFromFile.
using TSFSDiskLoader = std::function<void(const std::string& path, platform::TMemoryStream& out)>;
void SFSSetDiskLoader(TSFSDiskLoader loader);

// Finds the archive serving `rPath` and turns `rPath` into the archive-internal path; returns
// nullptr and leaves `rPath` unchanged when no entry matches. The result keeps the archive alive.
std::shared_ptr<TSFSArchive> GetSFSFile(std::string& rPath);

}  // namespace sfs
