// Byte streams: the abstract TStream with its buffer helpers, and the memory and file streams.
//
// Read and Write move up to `count` bytes and return how many moved; ReadBuffer and WriteBuffer
// insist on the whole count and throw EReadError / EWriteError otherwise. Positions and sizes
// are 64-bit. A stream is used by one thread at a time.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "platform/Exception.h"

namespace platform {

enum class TSeekOrigin { soBeginning, soCurrent, soEnd };
using enum TSeekOrigin;

class EStreamError : public Exception {
 public:
  using Exception::Exception;
};
class EReadError : public EStreamError {
 public:
  using EStreamError::EStreamError;
};
class EWriteError : public EStreamError {
 public:
  using EStreamError::EStreamError;
};
class EFOpenError : public EStreamError {
 public:
  using EStreamError::EStreamError;
};

class TStream {
 public:
  virtual ~TStream() = default;
  TStream() = default;
  TStream(const TStream&) = delete;
  TStream& operator=(const TStream&) = delete;

  virtual int32_t Read(void* buffer, int32_t count) = 0;
  virtual int32_t Write(const void* buffer, int32_t count) = 0;
  // Moves the position and returns the new one; a position before the start is refused by the
  // streams here with EStreamError.
  virtual int64_t Seek(int64_t offset, TSeekOrigin origin) = 0;
  virtual void SetSize(int64_t newSize) = 0;
  virtual int64_t GetSize();  // seeks to the end and back

  int64_t Position() { return Seek(0, soCurrent); }
  void SetPosition(int64_t position) { Seek(position, soBeginning); }

  void ReadBuffer(void* buffer, int64_t count);         // EReadError "Stream read error"
  void WriteBuffer(const void* buffer, int64_t count);  // EWriteError "Stream write error"
  // Copies `count` bytes from the current position of `source`; 0 copies all of `source` from
  // its start. Returns the number copied.
  int64_t CopyFrom(TStream& source, int64_t count);
};

class TMemoryStream : public TStream {
 public:
  TMemoryStream() = default;
  int32_t Read(void* buffer, int32_t count) override;
  int32_t Write(const void* buffer, int32_t count) override;
  int64_t Seek(int64_t offset, TSeekOrigin origin) override;
  void SetSize(int64_t newSize) override;
  int64_t GetSize() override { return static_cast<int64_t>(FData.size()); }

  uint8_t* Memory() { return FData.data(); }
  const uint8_t* Memory() const { return FData.data(); }
  void Clear();
  void LoadFromStream(TStream& source);  // replaces the content with all of `source`
  void LoadFromFile(const std::string& fileName);
  void SaveToStream(TStream& target) const;
  void SaveToFile(const std::string& fileName) const;

 private:
  std::vector<uint8_t> FData;
  int64_t FPosition = 0;
};

// File open modes: fmCreate, or one access mode combined with one share mode.
inline constexpr uint16_t fmCreate = 0xFFFF;
inline constexpr uint16_t fmOpenRead = 0x0000;
inline constexpr uint16_t fmOpenWrite = 0x0001;
inline constexpr uint16_t fmOpenReadWrite = 0x0002;
inline constexpr uint16_t fmShareCompat = 0x0000;
inline constexpr uint16_t fmShareExclusive = 0x0010;
inline constexpr uint16_t fmShareDenyWrite = 0x0020;
inline constexpr uint16_t fmShareDenyRead = 0x0030;
inline constexpr uint16_t fmShareDenyNone = 0x0040;

// A POSIX file. Share modes are accepted and not enforced.
class TFileStream : public TStream {
 public:
  // Throws EFOpenError "Cannot open file "<name>". <reason>" (or "Cannot create file ...").
  TFileStream(const std::string& fileName, uint16_t mode);
  ~TFileStream() override;
  int32_t Read(void* buffer, int32_t count) override;
  int32_t Write(const void* buffer, int32_t count) override;
  int64_t Seek(int64_t offset, TSeekOrigin origin) override;
  void SetSize(int64_t newSize) override;
  const std::string& FileName() const { return FFileName; }

 private:
  std::string FFileName;
  int FFd = -1;
};

}  // namespace platform
