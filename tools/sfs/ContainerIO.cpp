#include "ContainerIO.h"

#include <algorithm>

#include "Tool.h"
#include "platform/Stream.h"

namespace sfstool {

namespace {

constexpr size_t cChunk = 1 << 16;

std::string ErrorText(int32_t Code) {
  switch (Code) {
    case sfs::erDiskFull: return "disk full";
    case sfs::erFileNotDeleted: return "the file is in use";
    case sfs::erCRCError: return "checksum error";
    case sfs::erInvalidPath: return "invalid path";
    default: return "error " + std::to_string(Code);
  }
}

}  // namespace

void WriteContainerFile(sfs::TSingleFileSystem& Fs, const std::string& Name, std::string_view Data,
                        sfs::TSFSCompressionLevel Level, const std::string& FilePassword) {
  // Contents are copied as they are; compressed storage comes with the block stream layer.
  (void)Level;
  const int32_t h = Fs.FileOpen(Name, platform::fmCreate, FilePassword);
  if (h <= 0) throw TToolError("cannot create " + Name + " in the container: " + ErrorText(Fs.LastError() ? Fs.LastError() : h));
  TProgressBar bar("put");
  size_t done = 0;
  int32_t error = 0;
  while (done < Data.size()) {
    const int32_t n = static_cast<int32_t>(std::min(cChunk, Data.size() - done));
    const int32_t put = Fs.FileWrite(h, Data.data() + done, n);
    done += static_cast<size_t>(std::max(put, 0));
    if (put != n) {
      error = Fs.LastError() ? Fs.LastError() : sfs::erWritePageError;
      break;
    }
    bar.Update(static_cast<int64_t>(done), static_cast<int64_t>(Data.size()));
  }
  Fs.FileClose(h);
  if (error != 0) {
    Fs.DeleteFile(Name);
    throw TToolError("cannot write " + Name + ": " + ErrorText(error));
  }
}

std::string ReadContainerFile(sfs::TSingleFileSystem& Fs, const std::string& Name, const std::string& FilePassword) {
  sfs::TDirectoryElement e;
  if (!Fs.GetFileInfo(Name, e) || e.IsFolder) throw TToolError("no such file in the container: " + Name);
  const int32_t h = Fs.FileOpen(Name, platform::fmOpenRead, FilePassword);
  if (h <= 0) throw TToolError(e.EncMethod ? "wrong file password for " + Name : "cannot open " + Name);
  const int64_t size = Fs.FileGetSize(h);
  std::string out(static_cast<size_t>(size), '\0');
  TProgressBar bar("get");
  size_t done = 0;
  while (done < out.size()) {
    const int32_t n = static_cast<int32_t>(std::min(cChunk, out.size() - done));
    int32_t got = 0;
    try {
      got = Fs.FileRead(h, out.data() + done, n);
    } catch (...) {
      Fs.FileClose(h);
      throw;
    }
    done += static_cast<size_t>(std::max(got, 0));
    if (got != n) {
      const int32_t error = Fs.LastError();
      Fs.FileClose(h);
      throw TToolError("cannot read " + Name + ": " + ErrorText(error ? error : sfs::erReadPageError));
    }
    bar.Update(static_cast<int64_t>(done), size);
  }
  Fs.FileClose(h);
  return out;
}

std::vector<std::string> CheckContainerFileContent(sfs::TSingleFileSystem&, const std::string&) {
  // Uncompressed contents have nothing beyond the page checksums the engine verifies.
  return {};
}

bool IsCompressedContainerFile(sfs::TSingleFileSystem&, const std::string&) { return false; }

}  // namespace sfstool
