#include "ContainerIO.h"

#include <algorithm>

#include "Tool.h"
#include "platform/Stream.h"
#include "sfs/FileStream.h"
#include "sfs/UserFileStream.h"

namespace sfstool {

namespace {

std::string ErrorText(int32_t Code) {
  switch (Code) {
    case sfs::erDiskFull:
      return "disk full";
    case sfs::erFileNotDeleted:
      return "the file is in use";
    case sfs::erCRCError:
      return "checksum error";
    case sfs::erInvalidPath:
      return "invalid path";
    default:
      return "error " + std::to_string(Code);
  }
}

bool IsOpenFailure(const platform::Exception& e) {
  return std::string_view(e.what()).starts_with("TSFSUserFileStream.Create");
}

// Writes all of Data to Stream in pieces of Chunk bytes. A compressed stream repacks the block
// under the position on every write, so whole blocks per call keep the work linear.
void CopyIn(platform::TStream& Stream, std::string_view Data, size_t Chunk, TProgressBar& Bar) {
  size_t done = 0;
  while (done < Data.size()) {
    const auto n = static_cast<int32_t>(std::min(Chunk, Data.size() - done));
    Stream.WriteBuffer(Data.data() + done, n);
    done += static_cast<size_t>(n);
    Bar.Update(static_cast<int64_t>(done), static_cast<int64_t>(Data.size()));
  }
}

// Plain bytes that begin like a stream header would be read back as a (broken) compressed
// stream; such content can only be kept intact inside compressed blocks.
bool LooksLikeStreamHeader(std::string_view Data) {
  return Data.size() >= static_cast<size_t>(sfs::cStreamHeaderSize) &&
         std::equal(sfs::cStreamSignature, sfs::cStreamSignature + 4, Data.begin());
}

}  // namespace

void WriteContainerFile(sfs::TSingleFileSystem& Fs, const std::string& Name, std::string_view Data,
                        sfs::TSFSCompressionLevel Level, const std::string& FilePassword) {
  // The caller has already put the container's default in place of a missing --level, so
  // sfsNone here means plain bytes even in a container whose default compresses.
  if (Level == sfs::sfsNone && LooksLikeStreamHeader(Data)) Level = sfs::zlibFastest;
  std::unique_ptr<platform::TStream> stream;
  size_t chunk = 1 << 20;
  try {
    if (Level == sfs::sfsNone) {
      stream = std::make_unique<sfs::TSFSUserFileStream>(&Fs, Name, platform::fmCreate,
                                                         FilePassword, "", "");
    } else {
      auto file = std::make_unique<sfs::TSFSFileStream>(&Fs, Name, platform::fmCreate, FilePassword,
                                                        "", "", Level);
      chunk = static_cast<size_t>(file->Inner().BlockSize());
      stream = std::move(file);
    }
  } catch (const platform::Exception& e) {
    const int32_t error = Fs.LastError();
    if (IsOpenFailure(e))
      throw TToolError("cannot create " + Name +
                       " in the container: " + ErrorText(error ? error : sfs::erInvalidPath));
    stream.reset();
    Fs.DeleteFile(Name);
    throw TToolError("cannot create " + Name + " in the container: " + e.what());
  }
  TProgressBar bar("put");
  try {
    CopyIn(*stream, Data, chunk, bar);
  } catch (const platform::Exception& e) {
    const int32_t error = Fs.LastError();
    stream.reset();
    Fs.DeleteFile(Name);
    throw TToolError("cannot write " + Name + ": " +
                     (error ? ErrorText(error) : std::string(e.what())));
  }
}

std::string ReadContainerFile(sfs::TSingleFileSystem& Fs, const std::string& Name,
                              const std::string& FilePassword) {
  sfs::TDirectoryElement e;
  if (!Fs.GetFileInfo(Name, e) || e.IsFolder)
    throw TToolError("no such file in the container: " + Name);
  std::unique_ptr<sfs::TSFSFileStream> stream;
  try {
    stream = std::make_unique<sfs::TSFSFileStream>(
        &Fs, Name, platform::fmOpenRead | platform::fmShareDenyWrite, FilePassword, "", "",
        sfs::sfsNone);
  } catch (const platform::Exception& x) {
    if (IsOpenFailure(x))
      throw TToolError(e.EncMethod ? "wrong file password for " + Name : "cannot open " + Name);
    throw TToolError("cannot read " + Name + ": " + x.what());
  }
  // A block list cut short is dropped on opening; the output would be silently shorter.
  if (stream->Inner().Repaired())
    throw TToolError("cannot read " + Name + ": the compressed stream is truncated");
  const int64_t size = stream->GetSize();
  std::string out(static_cast<size_t>(size), '\0');
  TProgressBar bar("get");
  const size_t chunk = static_cast<size_t>(stream->Inner().BlockSize());
  size_t done = 0;
  while (done < out.size()) {
    const auto n = static_cast<int32_t>(std::min(chunk, out.size() - done));
    int32_t got = 0;
    try {
      got = stream->Read(out.data() + done, n);
    } catch (const platform::Exception& x) {
      throw TToolError("cannot read " + Name + ": " + x.what());
    }
    done += static_cast<size_t>(std::max(got, 0));
    if (got != n) {
      const int32_t error = Fs.LastError();
      throw TToolError("cannot read " + Name + ": " +
                       ErrorText(error ? error : sfs::erReadPageError));
    }
    bar.Update(static_cast<int64_t>(done), size);
  }
  return out;
}

std::vector<std::string> CheckContainerFileContent(sfs::TSingleFileSystem& Fs,
                                                   const std::string& Name) {
  // Plain files have nothing beyond the page checksums the engine verifies; a compressed one must
  // have a sound header and block chain and every block must decode to its size and checksum.
  try {
    sfs::TSFSFileStream stream(&Fs, Name, platform::fmOpenRead | platform::fmShareDenyWrite, "", "",
                               "", sfs::sfsNone);
    if (!stream.Inner().IsCompressed()) return {};
    return stream.Inner().CheckBlocks();
  } catch (const std::exception& x) {
    return {x.what()};
  }
}

std::optional<int64_t> CompressedContentSize(sfs::TSingleFileSystem& Fs, const std::string& Name) {
  sfs::TDirectoryElement e;
  if (!Fs.GetFileInfo(Name, e) || e.IsFolder || e.EncMethod) return std::nullopt;
  try {
    // A file without the header of a stream of compressed blocks opens as plain bytes.
    sfs::TSFSFileStream stream(&Fs, Name, platform::fmOpenRead | platform::fmShareDenyWrite, "", "", "",
                               sfs::sfsNone);
    if (!stream.Inner().IsCompressed()) return std::nullopt;
    return stream.GetSize();
  } catch (const std::exception&) {
    return std::nullopt;
  }
}

}  // namespace sfstool
