#include "sfs/AbstractFile.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/mman.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <climits>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <limits>

#include "platform/Exception.h"

namespace sfs {

TSFSAbstractFile::TSFSAbstractFile(const std::string& FileName, bool ReadOnly, bool Exclusive)
    : FFileName(FileName), FExclusive(Exclusive), FReadOnly(ReadOnly) {}

int64_t TSFSAbstractFile::GetSize() {
  const int64_t pos = Seek(0, 1);
  const int64_t size = Seek(0, 2);
  Seek(pos, 0);
  return size;
}

int32_t TSFSAbstractFile::ReadV(const iovec* Pieces, int32_t Count) {
  int32_t done = 0;
  for (int32_t i = 0; i < Count; ++i) {
    const int32_t want = static_cast<int32_t>(Pieces[i].iov_len);
    const int32_t got = Read(Pieces[i].iov_base, want);
    done += std::max(got, 0);
    if (got != want) break;
  }
  return done;
}

bool TSFSAbstractFile::VisitBytes(int64_t, const TBytesVisitor&) { return false; }

int32_t TSFSAbstractFile::WriteV(const iovec* Pieces, int32_t Count) {
  int32_t done = 0;
  for (int32_t i = 0; i < Count; ++i) {
    const int32_t want = static_cast<int32_t>(Pieces[i].iov_len);
    if (want == 0) continue;
    const int32_t put = Write(Pieces[i].iov_base, want);
    done += std::max(put, 0);
    if (put != want) break;
  }
  return done;
}

namespace {

// Moves through a vector of pieces with positional calls until all is done, Most bytes are
// moved or a call fails.
template <typename Call>
int32_t PositionalV(const iovec* Pieces, int32_t Count, int64_t& Pos, int64_t Most, Call call) {
  // A copy to move through, on the stack for the usual few dozen pieces.
  constexpr int32_t cOnStack = 64;
  iovec onStack[cOnStack];
  std::vector<iovec> onHeap(Count > cOnStack ? static_cast<size_t>(Count) : 0);
  iovec* const rest = Count > cOnStack ? onHeap.data() : onStack;
  size_t size = 0;
  for (int32_t i = 0; i < Count && Most > 0; ++i) {
    rest[size] = Pieces[i];
    rest[size].iov_len = static_cast<size_t>(std::min<int64_t>(static_cast<int64_t>(Pieces[i].iov_len), Most));
    Most -= static_cast<int64_t>(rest[size++].iov_len);
  }
  size_t first = 0;
  int64_t done = 0;
  while (first < size) {
    const int n = static_cast<int>(std::min<size_t>(size - first, IOV_MAX));
    const ssize_t got = call(rest + first, n, Pos);
    if (got < 0 && errno == EINTR) continue;
    if (got <= 0) break;
    done += got;
    Pos += got;
    size_t left = static_cast<size_t>(got);
    while (first < size && left >= rest[first].iov_len) left -= rest[first++].iov_len;
    if (left > 0) {
      rest[first].iov_base = static_cast<char*>(rest[first].iov_base) + left;
      rest[first].iov_len -= left;
    }
  }
  return static_cast<int32_t>(done);
}

}  // namespace

// ---- TSFSDiskFile ----------------------------------------------------------------------------

namespace {
constexpr int64_t cReserveMargin = int64_t{256} << 20;  // free space below which growth reserves blocks
constexpr int64_t cGrowthStep = int64_t{1} << 20;       // growth with room to spare goes in steps of this
}  // namespace

TSFSDiskFile::TSFSDiskFile(const std::string& FileName, bool ReadOnly, bool Exclusive)
    : TSFSAbstractFile(FileName, ReadOnly, Exclusive) {
  const auto slash = FileName.find_last_of('/');
  FDirectory = slash == std::string::npos ? std::string() : FileName.substr(0, slash + 1);
}

TSFSDiskFile::~TSFSDiskFile() { Close(); }

bool TSFSDiskFile::InternalOpen(const std::string& FileName, bool bCreate) {
  Close();
  int flags = (FReadOnly ? O_RDONLY : O_RDWR) | O_CLOEXEC;
  if (bCreate) flags |= O_CREAT | O_TRUNC;
  const int fd = ::open(FileName.c_str(), flags, 0644);
  if (fd < 0) return false;
  if (FExclusive && ::flock(fd, LOCK_EX | LOCK_NB) != 0) {
    ::close(fd);
    return false;
  }
  FHandle = fd;
  FPos = 0;
  return true;
}

bool TSFSDiskFile::Open(bool bCreate) { return InternalOpen(FFileName, bCreate); }

void TSFSDiskFile::Close() {
  DropView();
  if (FHandle >= 0) {
    GiveBackReserve();  // a failure leaves zero bytes past the end, which readers pass over
    FlushBuffers();
    ::close(FHandle);
  }
  FHandle = -1;
}

void TSFSDiskFile::FlushBuffers() {
  // Data reaches the system with every write; forcing it to the device is the caller's choice.
}

void TSFSDiskFile::Reopen() {
  const int64_t pos = FPos;
  Close();
  Open(false);
  FPos = pos;
}

void TSFSDiskFile::SetExclusive(bool Value) {
  if (Value == FExclusive) return;
  FExclusive = Value;
  Reopen();
}

void TSFSDiskFile::SetReadOnly(bool Value) {
  if (Value == FReadOnly) return;
  FReadOnly = Value;
  Reopen();
}

int64_t TSFSDiskFile::GetSize() {
  if (FUsedSize >= 0) return FUsedSize;
  struct stat st {};
  if (FHandle < 0 || ::fstat(FHandle, &st) != 0) return 0;
  return st.st_size;
}

bool TSFSDiskFile::Roomy(int64_t Grow) {
  // The free space is looked up again once this file has grown by a quarter of the margin
  // since the last look, so that steady growth in small steps costs no extra call each time.
  if (FGrownSinceLook + Grow > cReserveMargin / 4 || FRoomAtLook - FGrownSinceLook - Grow <= cReserveMargin) {
    struct statvfs vfs {};
    FRoomAtLook = ::fstatvfs(FHandle, &vfs) == 0
                      ? static_cast<int64_t>(vfs.f_bavail) * static_cast<int64_t>(vfs.f_frsize)
                      : 0;
    FGrownSinceLook = 0;
  }
  return FRoomAtLook - FGrownSinceLook - Grow > cReserveMargin;
}

int TSFSDiskFile::GrowWithReserve(int64_t NewSize) {
  if (FUsedSize >= 0 && NewSize < FReservedSize) {
    FUsedSize = NewSize;
    return 0;
  }
  int64_t target = std::min(FGrowthLimit, (NewSize / cGrowthStep + 1) * cGrowthStep);
  // Never past a file-size limit: a reserve the size asked for did not need must not raise the
  // signal that ends a process which keeps its default handling.
  rlimit limit{};
  if (::getrlimit(RLIMIT_FSIZE, &limit) == 0 && limit.rlim_cur != RLIM_INFINITY)
    target = std::min(target, static_cast<int64_t>(std::min<rlim_t>(limit.rlim_cur, INT64_MAX)));
  if (target > NewSize && ::ftruncate(FHandle, target) == 0) {
    FUsedSize = NewSize;
    FReservedSize = target;
    return 0;
  }
  // No reserve where the limits leave no room for one or the system refuses it.
  if (::ftruncate(FHandle, NewSize) != 0) return errno;
  FUsedSize = -1;
  return 0;
}

int TSFSDiskFile::GiveBackReserve() {
  if (FUsedSize < 0) return 0;
  if (::ftruncate(FHandle, FUsedSize) != 0) return errno;
  FUsedSize = -1;
  return 0;
}

void TSFSDiskFile::Written(int64_t End) {
  if (FUsedSize < 0 || End <= FUsedSize) return;
  FUsedSize = End < FReservedSize ? End : -1;
}

void TSFSDiskFile::SetSize(int64_t NewSize) {
  const int64_t old = GetSize();
  int rc = 0;
  if (NewSize <= old) {
    rc = ::ftruncate(FHandle, NewSize) == 0 ? 0 : errno;
    if (rc == 0) FUsedSize = -1;
  } else if (Roomy(NewSize - old)) {
    // With room to spare the file just grows (blocks come as pages are written, which keeps the
    // file system's extent map simple).
    rc = GrowWithReserve(NewSize);
  } else {
    // Close to full, the blocks are reserved now, so that a full disk fails this size change
    // and not a later page write; nothing is held in reserve.
    rc = GiveBackReserve();
    if (rc == 0) rc = ::posix_fallocate(FHandle, old, NewSize - old);
    if (rc == EOPNOTSUPP || rc == EINVAL) rc = ::ftruncate(FHandle, NewSize) == 0 ? 0 : errno;
  }
  if (rc != 0) throw platform::Exception(std::string("TSFSDiskFile.SetSize - ") + std::strerror(rc));
  if (NewSize > old) FGrownSinceLook += NewSize - old;
  FViewBytes = std::min(FViewBytes, NewSize);
  FPos = NewSize;
}

int32_t TSFSDiskFile::Read(void* Buffer, int32_t Count) {
  if (Count <= 0) return 0;
  const iovec whole{Buffer, static_cast<size_t>(Count)};
  return ReadV(&whole, 1);
}

int32_t TSFSDiskFile::Write(const void* Buffer, int32_t Count) {
  if (FHandle < 0) return 0;
  if (Count == 0) {
    if (::ftruncate(FHandle, FPos) == 0) {
      FViewBytes = std::min(FViewBytes, FPos);
      FUsedSize = -1;
    }
    return 0;
  }
  int32_t done = 0;
  while (done < Count) {
    const ssize_t put = ::pwrite(FHandle, static_cast<const char*>(Buffer) + done, Count - done, FPos);
    if (put < 0 && errno == EINTR) continue;
    if (put <= 0) break;
    done += static_cast<int32_t>(put);
    FPos += put;
  }
  Written(FPos);
  return done;
}

int32_t TSFSDiskFile::ReadV(const iovec* Pieces, int32_t Count) {
  if (FHandle < 0) return 0;
  int64_t total = 0;
  for (int32_t i = 0; i < Count; ++i) total += static_cast<int64_t>(Pieces[i].iov_len);
  const auto copy = [Pieces, Count](const uint8_t* From) {
    for (int32_t i = 0; i < Count; ++i) {
      std::memcpy(Pieces[i].iov_base, From, Pieces[i].iov_len);
      From += Pieces[i].iov_len;
    }
  };
  if (TSFSDiskFile::VisitBytes(total, copy)) return static_cast<int32_t>(total);
  // Bytes held in reserve are past the end.
  const int64_t most = FUsedSize >= 0 ? FUsedSize - FPos : total;
  return PositionalV(Pieces, Count, FPos, most,
                     [this](const iovec* v, int n, int64_t pos) { return ::preadv(FHandle, v, n, pos); });
}

bool TSFSDiskFile::VisitBytes(int64_t Count, const TBytesVisitor& Visit) {
  if (FHandle < 0) return false;
  const uint8_t* from = View(FPos, Count);
  if (from == nullptr) return false;
  if (!VisitMapping(from, static_cast<size_t>(Count), Visit)) {
    DropView();  // the file changed under the mapping: an ordinary read says how
    return false;
  }
  FPos += Count;
  return true;
}

const uint8_t* TSFSDiskFile::View(int64_t Pos, int64_t Count) {
  if (Pos < 0 || Count <= 0) return nullptr;
  const int64_t end = Pos + Count;
  if (FUsedSize >= 0 && end > FUsedSize) return nullptr;  // reaches into the reserve
  if (end > FViewBytes) {
    // The file may have grown since the bytes were last counted.
    struct stat st {};
    if (::fstat(FHandle, &st) != 0 || st.st_size < end) return nullptr;
    if (st.st_size > FViewLength) {
      // Room for growth, so that a file read while it grows is not mapped again for every step.
      constexpr int64_t cStep = int64_t{2} << 20;
      const int64_t length = (std::max<int64_t>(st.st_size, 2 * FViewLength) + cStep - 1) / cStep * cStep;
      if constexpr (sizeof(size_t) < sizeof(int64_t)) {
        if (length > static_cast<int64_t>(std::numeric_limits<size_t>::max())) return nullptr;  // no room to map it
      }
      void* view = FView == nullptr
                       ? ::mmap(nullptr, static_cast<size_t>(length), PROT_READ, MAP_SHARED, FHandle, 0)
                       : ::mremap(FView, static_cast<size_t>(FViewLength), static_cast<size_t>(length), MREMAP_MAYMOVE);
      if (view == MAP_FAILED) {
        DropView();
        return nullptr;
      }
      FView = static_cast<uint8_t*>(view);
      FViewLength = length;
    }
    FViewBytes = std::min<int64_t>(st.st_size, FViewLength);
  }
  return FView + Pos;
}

void TSFSDiskFile::DropView() {
  if (FView != nullptr) ::munmap(FView, static_cast<size_t>(FViewLength));
  FView = nullptr;
  FViewLength = 0;
  FViewBytes = 0;
}

int32_t TSFSDiskFile::WriteV(const iovec* Pieces, int32_t Count) {
  if (FHandle < 0) return 0;
  const int32_t done = PositionalV(Pieces, Count, FPos, std::numeric_limits<int64_t>::max(),
                                   [this](const iovec* v, int n, int64_t pos) { return ::pwritev(FHandle, v, n, pos); });
  Written(FPos);
  return done;
}

int64_t TSFSDiskFile::Seek(int64_t Offset, uint16_t Origin) {
  switch (Origin) {
    case 0: FPos = Offset; break;
    case 1: FPos += Offset; break;
    default: FPos = GetSize() + Offset; break;
  }
  return FPos;
}

// ---- TSFSMemoryFile -------------------------------------------------------------------------

bool TSFSMemoryFile::Open(bool bCreate) {
  if (!bCreate) throw platform::Exception("TSFSMemoryFile.Open - File cannot be open, only creation is available.");
  FStream = std::make_unique<std::vector<uint8_t>>();
  FPos = 0;
  return true;
}

void TSFSMemoryFile::Load(std::vector<uint8_t> Image) {
  FStream = std::make_unique<std::vector<uint8_t>>(std::move(Image));
  FPos = 0;
}

int64_t TSFSMemoryFile::GetSize() { return FStream ? static_cast<int64_t>(FStream->size()) : 0; }

void TSFSMemoryFile::SetSize(int64_t NewSize) {
  if (!FStream || NewSize < 0) throw platform::Exception("TSFSMemoryFile.SetSize - invalid size");
  FStream->resize(static_cast<size_t>(NewSize));
  FPos = NewSize;
}

int32_t TSFSMemoryFile::Read(void* Buffer, int32_t Count) {
  if (!FStream || Count <= 0 || FPos < 0) return 0;
  const int64_t size = static_cast<int64_t>(FStream->size());
  if (FPos >= size) return 0;
  const int32_t n = static_cast<int32_t>(std::min<int64_t>(Count, size - FPos));
  std::memcpy(Buffer, FStream->data() + FPos, static_cast<size_t>(n));
  FPos += n;
  return n;
}

bool TSFSMemoryFile::VisitBytes(int64_t Count, const TBytesVisitor& Visit) {
  if (!FStream || Count <= 0 || FPos < 0 || FPos + Count > static_cast<int64_t>(FStream->size())) return false;
  Visit(FStream->data() + FPos);
  FPos += Count;
  return true;
}

int32_t TSFSMemoryFile::Write(const void* Buffer, int32_t Count) {
  if (!FStream || Count <= 0 || FPos < 0) return 0;
  const int64_t end = FPos + Count;
  if (end > static_cast<int64_t>(FStream->size())) FStream->resize(static_cast<size_t>(end));
  std::memcpy(FStream->data() + FPos, Buffer, static_cast<size_t>(Count));
  FPos = end;
  return Count;
}

int64_t TSFSMemoryFile::Seek(int64_t Offset, uint16_t Origin) {
  switch (Origin) {
    case 0: FPos = Offset; break;
    case 1: FPos += Offset; break;
    default: FPos = GetSize() + Offset; break;
  }
  return FPos;
}

// ---- Fault injection ----------------------------------------------------------------------------

bool TSFSFaultPlan::Hit(uint32_t Kind) {
  if ((Kinds & Kind) == 0 || FailAt < 0) return false;
  ++Count;
  const bool fail = Sticky ? Count >= FailAt : Count == FailAt;
  if (fail) ++Failures;
  return fail;
}

TSFSFaultFile::TSFSFaultFile(std::unique_ptr<TSFSAbstractFile> Inner, std::shared_ptr<TSFSFaultPlan> Plan)
    : TSFSAbstractFile(Inner->FileName(), Inner->ReadOnly(), Inner->Exclusive()),
      FInner(std::move(Inner)),
      FPlan(std::move(Plan)) {}

void TSFSFaultFile::SetSize(int64_t NewSize) {
  if (FPlan->Hit(TSFSFaultPlan::fkSize)) throw platform::Exception("TSFSFaultFile.SetSize - injected fault");
  FInner->SetSize(NewSize);
}

bool TSFSFaultFile::Open(bool bCreate) {
  if (FPlan->Hit(TSFSFaultPlan::fkOpen)) return false;
  return FInner->Open(bCreate);
}

int32_t TSFSFaultFile::Read(void* Buffer, int32_t Count) {
  if (Count > 0 && FPlan->Hit(TSFSFaultPlan::fkRead)) return 0;
  return FInner->Read(Buffer, Count);
}

int32_t TSFSFaultFile::ReadV(const iovec* Pieces, int32_t Count) {
  if (Count > 0 && FPlan->Hit(TSFSFaultPlan::fkRead)) return 0;
  return FInner->ReadV(Pieces, Count);
}

int32_t TSFSFaultFile::WriteV(const iovec* Pieces, int32_t Count) {
  if (Count > 0 && FPlan->Hit(TSFSFaultPlan::fkWrite)) return 0;
  return FInner->WriteV(Pieces, Count);
}

int32_t TSFSFaultFile::Write(const void* Buffer, int32_t Count) {
  if (Count > 0 && FPlan->Hit(TSFSFaultPlan::fkWrite)) return 0;
  return FInner->Write(Buffer, Count);
}

}  // namespace sfs
