#include "platform/Stream.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

namespace platform {

namespace {
constexpr int32_t cCopyChunk = 1 << 20;

int32_t ChunkOf(int64_t remaining) {
  return static_cast<int32_t>(std::min<int64_t>(remaining, cCopyChunk));
}
}  // namespace

int64_t TStream::GetSize() {
  const int64_t position = Seek(0, soCurrent);
  const int64_t size = Seek(0, soEnd);
  Seek(position, soBeginning);
  return size;
}

void TStream::ReadBuffer(void* buffer, int64_t count) {
  auto* out = static_cast<uint8_t*>(buffer);
  while (count > 0) {
    const int32_t chunk = ChunkOf(count);
    const int32_t got = Read(out, chunk);
    if (got != chunk) throw EReadError("Stream read error");
    out += got;
    count -= got;
  }
}

void TStream::WriteBuffer(const void* buffer, int64_t count) {
  const auto* in = static_cast<const uint8_t*>(buffer);
  while (count > 0) {
    const int32_t chunk = ChunkOf(count);
    const int32_t put = Write(in, chunk);
    if (put != chunk) throw EWriteError("Stream write error");
    in += put;
    count -= put;
  }
}

int64_t TStream::CopyFrom(TStream& source, int64_t count) {
  if (count == 0) {
    source.SetPosition(0);
    count = source.GetSize();
  }
  std::vector<uint8_t> buffer(static_cast<size_t>(ChunkOf(count)));
  const int64_t total = count;
  while (count > 0) {
    const int32_t chunk = ChunkOf(count);
    source.ReadBuffer(buffer.data(), chunk);
    WriteBuffer(buffer.data(), chunk);
    count -= chunk;
  }
  return total;
}

// --- TMemoryStream ---

int32_t TMemoryStream::Read(void* buffer, int32_t count) {
  const int64_t size = GetSize();
  if (count <= 0 || FPosition >= size) return 0;
  const auto n = static_cast<int32_t>(std::min<int64_t>(count, size - FPosition));
  std::memcpy(buffer, FData.data() + FPosition, static_cast<size_t>(n));
  FPosition += n;
  return n;
}

int32_t TMemoryStream::Write(const void* buffer, int32_t count) {
  if (count <= 0) return 0;
  const int64_t end = FPosition + count;
  if (end > GetSize()) FData.resize(static_cast<size_t>(end));
  std::memcpy(FData.data() + FPosition, buffer, static_cast<size_t>(count));
  FPosition = end;
  return count;
}

int64_t TMemoryStream::Seek(int64_t offset, TSeekOrigin origin) {
  int64_t base = 0;
  if (origin == soCurrent) base = FPosition;
  if (origin == soEnd) base = GetSize();
  if (offset < 0 && base + offset < 0) throw EStreamError("Stream seek before the beginning");
  FPosition = base + offset;
  return FPosition;
}

void TMemoryStream::SetSize(int64_t newSize) {
  if (newSize < 0) throw EStreamError("Stream size below zero");
  FData.resize(static_cast<size_t>(newSize));
  FPosition = std::min(FPosition, newSize);
}

void TMemoryStream::Clear() {
  FData.clear();
  FPosition = 0;
}

void TMemoryStream::LoadFromStream(TStream& source) {
  source.SetPosition(0);
  const int64_t size = source.GetSize();
  SetSize(size);
  FPosition = 0;
  if (size > 0) source.ReadBuffer(FData.data(), size);
}

void TMemoryStream::LoadFromFile(const std::string& fileName) {
  TFileStream file(fileName, fmOpenRead | fmShareDenyWrite);
  LoadFromStream(file);
}

void TMemoryStream::SaveToStream(TStream& target) const {
  if (!FData.empty()) target.WriteBuffer(FData.data(), static_cast<int64_t>(FData.size()));
}

void TMemoryStream::SaveToFile(const std::string& fileName) const {
  TFileStream file(fileName, fmCreate);
  SaveToStream(file);
}

// --- TFileStream ---

TFileStream::TFileStream(const std::string& fileName, uint16_t mode) : FFileName(fileName) {
  int flags = O_CLOEXEC;
  if (mode == fmCreate) {
    flags |= O_RDWR | O_CREAT | O_TRUNC;
  } else {
    switch (mode & 3) {
      case fmOpenWrite: flags |= O_WRONLY; break;
      case fmOpenReadWrite: flags |= O_RDWR; break;
      default: flags |= O_RDONLY; break;
    }
  }
  FFd = ::open(fileName.c_str(), flags, 0644);
  if (FFd < 0) {
    const char* verb = mode == fmCreate ? "Cannot create file \"" : "Cannot open file \"";
    throw EFOpenError(verb + fileName + "\". " + std::strerror(errno));
  }
}

TFileStream::~TFileStream() {
  if (FFd >= 0) ::close(FFd);
}

int32_t TFileStream::Read(void* buffer, int32_t count) {
  auto* out = static_cast<uint8_t*>(buffer);
  int32_t done = 0;
  while (done < count) {
    const ssize_t got = ::read(FFd, out + done, static_cast<size_t>(count - done));
    if (got < 0 && errno == EINTR) continue;
    if (got <= 0) break;
    done += static_cast<int32_t>(got);
  }
  return done;
}

int32_t TFileStream::Write(const void* buffer, int32_t count) {
  const auto* in = static_cast<const uint8_t*>(buffer);
  int32_t done = 0;
  while (done < count) {
    const ssize_t put = ::write(FFd, in + done, static_cast<size_t>(count - done));
    if (put < 0 && errno == EINTR) continue;
    if (put <= 0) break;
    done += static_cast<int32_t>(put);
  }
  return done;
}

int64_t TFileStream::Seek(int64_t offset, TSeekOrigin origin) {
  const int whence = origin == soBeginning ? SEEK_SET : origin == soCurrent ? SEEK_CUR : SEEK_END;
  const off_t result = ::lseek(FFd, offset, whence);
  if (result < 0) throw EStreamError("Cannot seek in file \"" + FFileName + "\". " + std::strerror(errno));
  return result;
}

void TFileStream::SetSize(int64_t newSize) {
  if (::ftruncate(FFd, newSize) != 0)
    throw EStreamError("Cannot resize file \"" + FFileName + "\". " + std::strerror(errno));
  if (Position() > newSize) Seek(newSize, soBeginning);
}

}  // namespace platform
