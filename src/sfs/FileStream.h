// TSFSFileStream: the stream callers open on a file inside a container. It owns a
// TSFSAdvancedFileStream (compressed blocks, or plain bytes for a file without the stream header)
// and adds a read-only guard: a mode whose low two bits are 0 (fmOpenRead) refuses Write and
// SetSize. fmCreate ($FFFF) creates the file, replacing one of the same name.
//
// Question, Answer and CompressionLevel matter only with fmCreate; an opened file keeps the level
// stored in it. CompressionLevel sfsNone with fmCreate takes the container's default level. The
// container must outlive the stream; the stream closes its handle when destroyed. One thread at a
// time.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "platform/Stream.h"
#include "sfs/AdvancedFileStream.h"

namespace sfs {

class TSingleFileSystem;

class TSFSFileStream : public platform::TStream {
 public:
  TSFSFileStream(TSingleFileSystem* SFS, const std::string& FileName, uint16_t Mode, const std::string& Password,
                 const std::string& Question, const std::string& Answer, TSFSCompressionLevel CompressionLevel);
  ~TSFSFileStream() override;

  int32_t Read(void* Buffer, int32_t Count) override;
  // Throws "TSFSFileStream.Write - file is in read only mode." for a read-only stream.
  int32_t Write(const void* Buffer, int32_t Count) override;
  int64_t Seek(int64_t Offset, platform::TSeekOrigin Origin) override;
  // Throws "TSFSFileStream.SetSize - file is in read only mode." for a read-only stream.
  void SetSize(int64_t NewSize) override;
  int64_t GetSize() override;

  // Handed to the inner stream before every read and write.
  TSFSProgressEvent OnProgress;

  bool ReadOnly() const { return bReadOnly; }
  uint16_t Mode() const { return FMode; }
  const std::string& FileName() const { return FFileName; }
  TSFSAdvancedFileStream& Inner() { return *cStream; }

 private:
  std::unique_ptr<TSFSAdvancedFileStream> cStream;
  uint16_t FMode = 0;
  std::string FFileName;
  std::string FPassword;
  bool bReadOnly = false;
};

}  // namespace sfs
