#include "sfs/UserFileStream.h"

#include "platform/Exception.h"
#include "sfs/SingleFileSystem.h"

namespace sfs {

[[noreturn]] void AdvancedStreamFail(const char* method, const std::string& text);

namespace {

uint16_t OriginCode(platform::TSeekOrigin origin) {
  switch (origin) {
    case platform::soCurrent: return 1;
    case platform::soEnd: return 2;
    default: return 0;
  }
}

std::string Quoted(const std::string& text) {
  std::string result = "\"";
  for (const char c : text) {
    result += c;
    if (c == '"') result += '"';
  }
  return result + "\"";
}

std::unique_ptr<platform::TStream> OpenUserStream(TSingleFileSystem* SFS, const std::string& FileName, uint16_t Mode,
                                                  const std::string& Password, const std::string& Question,
                                                  const std::string& Answer) {
  if (!SFS) AdvancedStreamFail("Create", "SingleFileSystem = nil.");
  return std::make_unique<TSFSUserFileStream>(SFS, FileName, Mode, Password, Question, Answer);
}

TSFSCompressionLevel DefaultLevelOf(const TSingleFileSystem* SFS) { return SFS ? SFS->GetCompressionLevel() : sfsNone; }

}  // namespace

// The block stream's container constructor lives here, beside the one class that talks to the
// container, so that the block stream itself builds on any byte stream.
TSFSAdvancedFileStream::TSFSAdvancedFileStream(TSingleFileSystem* SFS, const std::string& FileName, uint16_t Mode,
                                               const std::string& Password, const std::string& Question,
                                               const std::string& Answer, TSFSCompressionLevel CompressionLevel)
    : TSFSAdvancedFileStream(OpenUserStream(SFS, FileName, Mode, Password, Question, Answer), FileName, Mode,
                             CompressionLevel, DefaultLevelOf(SFS)) {}

TSFSUserFileStream::TSFSUserFileStream(TSingleFileSystem* SFS, const std::string& FileName, uint16_t Mode,
                                       const std::string& Password, const std::string& Question,
                                       const std::string& Answer)
    : FFileName(FileName) {
  if (!SFS) throw platform::Exception("TSFSUserFileStream.Create - Single file system = nil!");
  FSFSHandle = SFS;
  FHandle = SFS->FileOpen(FileName, Mode, Password, Question, Answer);
  if (FHandle < 0) throw platform::Exception("TSFSUserFileStream.Create - unable to open file " + Quoted(FileName));
}

TSFSUserFileStream::~TSFSUserFileStream() {
  if (FSFSHandle && FHandle >= 0) FSFSHandle->FileClose(FHandle);
}

int32_t TSFSUserFileStream::Read(void* Buffer, int32_t Count) {
  if (Count < 1) return 0;
  return FSFSHandle->FileRead(FHandle, Buffer, Count);
}

int32_t TSFSUserFileStream::Write(const void* Buffer, int32_t Count) {
  if (Count < 1) return 0;
  return FSFSHandle->FileWrite(FHandle, Buffer, Count);
}

int64_t TSFSUserFileStream::Seek(int64_t Offset, platform::TSeekOrigin Origin) {
  const int64_t before = FSFSHandle->FileSeek(FHandle, 1, 0);
  const int64_t position = FSFSHandle->FileSeek(FHandle, OriginCode(Origin), Offset);
  if (position < 0) {
    FSFSHandle->FileSeek(FHandle, 0, before);
    throw platform::EStreamError("TSFSUserFileStream.Seek - position before the beginning of " + Quoted(FFileName) +
                                 ".");
  }
  return position;
}

void TSFSUserFileStream::SetSize(int64_t NewSize) {
  const int64_t result = FSFSHandle->FileSetSize(FHandle, NewSize);
  if (result < 0)
    throw platform::EStreamError("TSFSUserFileStream.SetSize - unable to set the size of " + Quoted(FFileName) +
                                 ", error " + std::to_string(result) + ".");
}

int64_t TSFSUserFileStream::GetSize() { return FSFSHandle->FileGetSize(FHandle); }

}  // namespace sfs
