#include "sfs/FileStream.h"

#include "platform/Exception.h"

namespace sfs {

TSFSFileStream::TSFSFileStream(TSingleFileSystem* SFS, const std::string& FileName, uint16_t Mode,
                               const std::string& Password, const std::string& Question, const std::string& Answer,
                               TSFSCompressionLevel CompressionLevel)
    : FFileName(FileName), FPassword(Password), bReadOnly((Mode & 3) == 0) {
  if (Mode == platform::fmCreate)
    cStream = std::make_unique<TSFSAdvancedFileStream>(SFS, FileName, Mode, Password, Question, Answer,
                                                       CompressionLevel);
  else
    cStream = std::make_unique<TSFSAdvancedFileStream>(SFS, FileName, Mode, Password, std::string(), std::string(),
                                                       sfsNone);
  cStream->OnProgress = OnProgress;
  FMode = Mode;
}

TSFSFileStream::~TSFSFileStream() = default;

int32_t TSFSFileStream::Read(void* Buffer, int32_t Count) {
  cStream->OnProgress = OnProgress;
  return cStream->Read(Buffer, Count);
}

int32_t TSFSFileStream::Write(const void* Buffer, int32_t Count) {
  if (bReadOnly) throw platform::Exception("TSFSFileStream.Write - file is in read only mode.");
  cStream->OnProgress = OnProgress;
  return cStream->Write(Buffer, Count);
}

int64_t TSFSFileStream::Seek(int64_t Offset, platform::TSeekOrigin Origin) { return cStream->Seek(Offset, Origin); }

void TSFSFileStream::SetSize(int64_t NewSize) {
  if (bReadOnly) throw platform::Exception("TSFSFileStream.SetSize - file is in read only mode.");
  cStream->SetSize(NewSize);
}

int64_t TSFSFileStream::GetSize() { return cStream->GetSize(); }

}  // namespace sfs
