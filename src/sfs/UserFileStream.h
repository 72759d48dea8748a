// TSFSUserFileStream: the stream operations mapped one-to-one onto the handle-based file
// interface of a TSingleFileSystem. It opens the file when it is made and closes the handle when it
// is destroyed; the container must outlive it and is not owned.
//
// Read and Write return what the container returns (errors stay in the container's LastError()).
// Seek refuses a position before the start and SetSize raises when the container refuses the size,
// so that neither failure passes for success.
#pragma once

#include <cstdint>
#include <string>

#include "platform/Stream.h"
#include "sfs/AdvancedFileStream.h"

namespace sfs {

class TSingleFileSystem;

class TSFSUserFileStream : public platform::TStream {
 public:
  // Throws "TSFSUserFileStream.Create - Single file system = nil!" or
  // "TSFSUserFileStream.Create - unable to open file "<name>"" (inner double quotes doubled).
  TSFSUserFileStream(TSingleFileSystem* SFS, const std::string& FileName, uint16_t Mode,
                     const std::string& Password, const std::string& Question, const std::string& Answer);
  ~TSFSUserFileStream() override;

  int32_t Read(void* Buffer, int32_t Count) override;
  int32_t Write(const void* Buffer, int32_t Count) override;
  int64_t Seek(int64_t Offset, platform::TSeekOrigin Origin) override;
  void SetSize(int64_t NewSize) override;
  int64_t GetSize() override;

  int32_t Handle() const { return FHandle; }
  TSingleFileSystem* SFSHandle() const { return FSFSHandle; }
  const std::string& FileName() const { return FFileName; }
  // Kept for callers; this class raises no progress events.
  TSFSProgressEvent OnProgress;

 private:
  TSingleFileSystem* FSFSHandle = nullptr;
  std::string FFileName;
  int32_t FHandle = -1;
};

}  // namespace sfs
