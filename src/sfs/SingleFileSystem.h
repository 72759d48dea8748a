// TSingleFileSystem: one open container and the handle-based interface to the files inside it.
//
// The object owns the four managers of the storage engine (page file, free-space maps, directory,
// page maps) and the open handles. Creating or opening the container throws platform::Exception
// ("TSingleFileSystem.Open - ..."; a wrong container password throws ESFSPasswordError). The file
// operations report by result and LastError() with the er... codes of ContainerFormat.h; only
// FileRead throws (no pages for a range the file covers), and the managers throw on a container
// whose maps or records are inconsistent (corrupt input).
//
// Names inside the container are paths; "/" and "\" both separate folders, a leading separator
// starts from the root, names compare without regard to case (Windows-1252).
//
// One object is used by one thread at a time. Handles stay valid until FileClose or Close; handle
// numbers increase and are never reused while the object lives.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "platform/Exception.h"
#include "platform/Stream.h"
#include "sfs/Compression.h"
#include "sfs/ContainerFormat.h"
#include "sfs/SortedPtrArray.h"

namespace sfs {

class TSFSHugeFile;
class TPageFileManager;
class TFreeSpaceManager;
class TDIRManager;
class TUserFilePageMapManager;
struct TSFSFaultPlan;

enum TSFSOverwriteMode : uint8_t { omAlways, omNever, omPrompt };

class ESFSPasswordError : public platform::Exception {
 public:
  using Exception::Exception;
};

// The page a handle's last read or write ended inside, as it then stood (checked and
// deciphered), for the read or write that goes on from there. It holds while the page file's
// change count is still Changes.
struct TKeptPage {
  int32_t PageNo = -1;
  uint64_t Changes = 0;
  std::vector<uint8_t> Data;

  // Its bytes when it is page PageNo and the page file has changed nothing since; else null.
  const uint8_t* Of(int32_t Page, uint64_t NowChanges) const {
    return Page == PageNo && NowChanges == Changes ? Data.data() : nullptr;
  }
  void Keep(int32_t Page, const uint8_t* Bytes, int32_t Size, uint64_t NowChanges) {
    Data.assign(Bytes, Bytes + Size);
    PageNo = Page;
    Changes = NowChanges;
  }
};

// One open handle.
struct TUserFileHandle {
  int32_t FileID = -1;   // directory item number
  int64_t Position = 0;
  uint16_t Mode = 0;
  std::string Key;       // the file's own data key when it has a password of its own
  TKeptPage Kept;
};

// How a new container is laid out.
struct TSFSCreateOptions {
  int32_t PageSize = DEFAULT_PAGE_SIZE;               // power of two, 1024 .. 65536
  int32_t ExtentPageCount = DEFAULT_EXTENT_PAGE_COUNT;  // 1 .. 64
  int64_t PartSize = 0;            // physical size of each part file; 0: one file
  std::vector<uint8_t> Stub;       // bytes placed before the container in the first file
  std::string Password;            // container password; empty: not enciphered
  std::string Question, Answer;    // optional control question of the password
  TSFSCompressionLevel CompressionLevel = TSFSCompressionLevel::sfsNone;
};

// One record as the listing reports it.
struct TSFSListEntry {
  int32_t ItemNo = -1;
  std::string Path;  // full path from the root, "/"-separated, without a leading separator
  TDirectoryElement Element{};
};

class TSingleFileSystem {
 public:
  using TPasswordEvent =
      std::function<void(TSingleFileSystem& Sender, const std::string& FileName, std::string& NewPassword, bool& SkipFile)>;
  using TNotifyEvent = std::function<void(TSingleFileSystem& Sender)>;
  using TProgressEvent = std::function<void(TSingleFileSystem& Sender, double Progress, double ProgressMax)>;
  using TOverwritePromptEvent =
      std::function<void(TSingleFileSystem& Sender, const std::string& FileName, bool& Overwrite)>;

  TSingleFileSystem();
  ~TSingleFileSystem();
  TSingleFileSystem(const TSingleFileSystem&) = delete;
  TSingleFileSystem& operator=(const TSingleFileSystem&) = delete;

  // ---- The container itself ------------------------------------------------------------------
  // Creates a new container file (an existing file is replaced; the tool checks first).
  void CreateContainer(const std::string& FileName, const TSFSCreateOptions& Options = {});
  // Creates a container held in memory only.
  void CreateInMemory(const TSFSCreateOptions& Options = {});
  // Opens an existing container; Password is needed when it is enciphered.
  void OpenContainer(const std::string& FileName, const std::string& Password = {}, bool ReadOnly = false,
                     bool Exclusive = false);
  // Opens a container image in memory (for example one read from elsewhere).
  void OpenFromImage(std::vector<uint8_t> Image, const std::string& Password = {}, bool ReadOnly = false);
  // The bytes of an in-memory container (its single part file, stub included).
  std::vector<uint8_t> SaveToImage() const;
  // Closes every handle and the container. Safe to call twice.
  void Close();
  bool IsOpen() const { return FPFM != nullptr; }

  // Every physical part file made or opened by the next Create.../Open... goes through Plan.
  void SetFaultPlan(std::shared_ptr<TSFSFaultPlan> Plan) { FFaultPlan = std::move(Plan); }

  // ---- Handle-based file interface -------------------------------------------------------------
  // A new empty file (an existing one of that name is deleted first; -16 when it is open).
  // Returns the directory item number or a negative error.
  int32_t FileCreate(const std::string& FileName, const std::string& Password = {}, const std::string& Question = {},
                     const std::string& Answer = {});
  // Mode platform::fmCreate creates the file first. Returns a handle (> 0) or a negative error;
  // -1 when the password is wrong and DoOnPassword gives up.
  int32_t FileOpen(const std::string& FileName, uint16_t Mode, const std::string& Password = {},
                   const std::string& Question = {}, const std::string& Answer = {});
  void FileClose(int32_t Handle);
  int32_t FileRead(int32_t Handle, void* Buffer, int32_t Count);
  int32_t FileWrite(int32_t Handle, const void* Buffer, int32_t Count);
  // Origin 0 from the start, 1 from the current position, 2 from the end. No bound is applied.
  int64_t FileSeek(int32_t Handle, uint16_t Origin, int64_t Offset);
  // New size, or a negative error (-6 unknown handle, -17 disk full).
  int64_t FileSetSize(int32_t Handle, int64_t NewSize);
  // Size of the open file (-6 for an unknown handle).
  int64_t FileGetSize(int32_t Handle);
  bool DeleteFile(const std::string& FileName);
  bool FileExists(const std::string& FileName);
  TSFSCompressionLevel GetCompressionLevel() const;

  // ---- Folders, names, listing -----------------------------------------------------------------
  // Creates every missing folder of Path ("a/b/c" makes a, a/b, a/b/c). Returns the item number of
  // the last folder, rootID for the root, or a negative error (a file in the way: erInvalidPath).
  int32_t ForceDirectories(const std::string& Path);
  bool DirectoryExists(const std::string& Path);
  // Gives a closed file or folder a new name and/or folder; false when NewName exists, its folder
  // is missing, or the file is open.
  bool RenameFile(const std::string& OldName, const std::string& NewName);
  // Puts the complete file TempName in place of FileName. At every step a complete version
  // exists under one of the two names: FileName is first renamed aside, TempName takes its name,
  // and only then is the old content deleted.
  bool ReplaceFile(const std::string& TempName, const std::string& FileName);
  // Every live record with its full path, in item order.
  std::vector<TSFSListEntry> ListFiles();
  // The record of FileName; false when there is none.
  bool GetFileInfo(const std::string& FileName, TDirectoryElement& Element);
  int32_t FindByName(const std::string& FileName);

  // ---- Integrity -------------------------------------------------------------------------------
  // Reads back every page of the container and cross-checks maps, directory and page maps.
  // Returns one line per problem found; empty when the container is sound.
  std::vector<std::string> CheckIntegrity();

  // ---- State -----------------------------------------------------------------------------------
  const TSingleFileHeader& Header() const;
  int32_t LastError() const { return FLastError; }
  bool ReadOnly() const { return FReadOnly; }
  bool InMemory() const { return FInMemory; }
  const std::string& FileName() const { return FFileName; }
  int32_t OpenHandleCount() const { return FFileHandles.ItemCount(); }
  int32_t PageDataSize() const;

  void DoOnPassword(const std::string& FileName, std::string& NewPassword, bool& SkipFile);
  void DoOnDiskFull();

  TPasswordEvent FOnPassword;
  TNotifyEvent FOnDiskFull;
  TProgressEvent FOnProgress;
  TProgressEvent FOnFileProgress;
  TOverwritePromptEvent FOnOverwritePrompt;
  bool FCancel = false;
  double FProgress = 0;
  double FProgressMax = 0;
  std::string FCurrentFileName;

  // The managers, for the integrity checker and tests. Valid while the container is open.
  TPageFileManager& PFM() { return *FPFM; }
  TFreeSpaceManager& FSM() { return *FFSM; }
  TDIRManager& DM() { return *FDM; }
  TUserFilePageMapManager& UFM() { return *FUFM; }

 private:
  void Create(const std::string& FileName, bool InMemory, const TSFSCreateOptions& Options);
  void InitManagers(bool bNew);
  void ExpectedPageHeader(const TDirectoryElement& Item, const TUserFileHandle& H, TFFPage& Page,
                          std::string& Key) const;
  std::string FullPath(int32_t ItemNo);

  std::unique_ptr<TPageFileManager> FPFM;
  std::unique_ptr<TDIRManager> FDM;
  std::unique_ptr<TFreeSpaceManager> FFSM;
  std::unique_ptr<TUserFilePageMapManager> FUFM;
  TSortedPtrArray<TUserFileHandle> FFileHandles;
  bool FReadOnly = false;
  bool FExclusive = false;
  std::string FPassword;
  std::string FFileName;
  uint16_t FOpenMode = 0;
  bool FInMemory = false;
  int32_t FLastError = 0;
  std::shared_ptr<TSFSFaultPlan> FFaultPlan;
  // Per-transfer lists of FileRead / FileWrite, kept to spare allocations.
  std::vector<TPageHeader> FRunHeaders;
  std::vector<uint8_t*> FRunPages;
  std::vector<uint8_t> FEdgePages;  // a partly moved first and last page of a read or write
  std::vector<const uint8_t*> FRunSources;
};

}  // namespace sfs
