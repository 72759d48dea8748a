#include "sfs/SingleFileSystem.h"

#include <algorithm>
#include <cstring>

#include "sfs/DIRManager.h"
#include "sfs/FreeSpaceManager.h"
#include "sfs/HugeFile.h"
#include "sfs/PageFileManager.h"
#include "sfs/PasswordLink.h"
#include "sfs/UserFilePageMapManager.h"

namespace sfs {

namespace {

constexpr int32_t cMaxRunPages = 256;  // pages moved by one transfer at most

// A FileRead or FileWrite of Total bytes from byte Pos of a file, in pages of PageData bytes.
struct TPageSpan {
  int64_t Pos;
  int64_t Total;
  int32_t PageData;

  // The pages the bytes lie on, at most the `listed` pages the page map gave.
  int32_t Pages(int32_t listed) const {
    return static_cast<int32_t>(std::min<int64_t>(listed, (Pos + Total - 1) / PageData - Pos / PageData + 1));
  }
  // Where the bytes of page i of the span start in it and how many there are, when `moved`
  // bytes of the span lie on the pages before it.
  void Slice(int32_t i, int64_t moved, int32_t& off, int32_t& chunk) const {
    off = i == 0 ? static_cast<int32_t>(Pos % PageData) : 0;
    chunk = static_cast<int32_t>(std::min<int64_t>(PageData - off, Total - moved));
  }
};

// How many of pages[i], pages[i + 1], ... (below `end`) follow one another on disk, so that
// they move in one transfer; at most cMaxRunPages.
int32_t ConsecutiveRun(const TIntegerArray& pages, int32_t i, int32_t end) {
  int32_t run = 1;
  while (i + run < end && run < cMaxRunPages && pages[i + run] == pages[i] + run) ++run;
  return run;
}

bool IsSeparator(char c) { return c == '/' || c == '\\'; }

std::vector<std::string> SplitPath(const std::string& Path) {
  std::vector<std::string> parts;
  std::string cur;
  for (char c : Path) {
    if (IsSeparator(c)) {
      if (!cur.empty()) parts.push_back(cur);
      cur.clear();
    } else {
      cur += c;
    }
  }
  if (!cur.empty()) parts.push_back(cur);
  return parts;
}

// The last component of a path, without a trailing separator.
std::string LastComponent(const std::string& Path) {
  const auto parts = SplitPath(Path);
  return parts.empty() ? std::string() : parts.back();
}

}  // namespace

TSingleFileSystem::TSingleFileSystem() = default;

TSingleFileSystem::~TSingleFileSystem() {
  try {
    Close();
  } catch (...) {
    // Closing flushes nothing that could fail in a way the destructor could report.
  }
}

void TSingleFileSystem::Close() {
  FFileHandles.Clear();
  FUFM.reset();
  FDM.reset();
  FFSM.reset();
  FPFM.reset();
}

void TSingleFileSystem::InitManagers(bool) {
  FFSM = std::make_unique<TFreeSpaceManager>(*FPFM);
  FDM = std::make_unique<TDIRManager>(*FPFM, *FFSM);
  FUFM = std::make_unique<TUserFilePageMapManager>(*FPFM, *FFSM);
}

const TSingleFileHeader& TSingleFileSystem::Header() const {
  platform::BDAssert(FPFM != nullptr, "TSingleFileSystem - the container is not open");
  return FPFM->FHeader;
}

int32_t TSingleFileSystem::PageDataSize() const { return FPFM ? FPFM->GetPageDataSize() : 0; }

TSFSCompressionLevel TSingleFileSystem::GetCompressionLevel() const {
  return static_cast<TSFSCompressionLevel>(Header().CompressionLevel);
}

// ---- Creating and opening -------------------------------------------------------------------------

static void CreateImpl(TSingleFileSystem& self, const std::string& FileName, bool InMemory,
                       const TSFSCreateOptions& o, std::shared_ptr<TSFSFaultPlan> plan,
                       std::unique_ptr<TPageFileManager>& pfm) {
  auto fail = [](const std::string& text) { throw platform::Exception("TSingleFileSystem.Create - " + text); };
  (void)self;
  if (!IsValidGeometry(o.PageSize, o.ExtentPageCount)) fail("invalid page size or extent size.");
  if (o.Password.size() > 32) fail("the password is longer than 32 characters.");
  if (static_cast<uint8_t>(o.CompressionLevel) > 9) fail("invalid compression level.");
  const int64_t stub = static_cast<int64_t>(o.Stub.size());
  int64_t partSize = cUnsplitPartitionSize;
  if (o.PartSize != 0) {
    // A part must at least hold its header (and the stub) and one byte of pages.
    if (o.PartSize <= HFPHeaderSize + stub) fail("the part size is too small.");
    partSize = o.PartSize;
  }
  auto huge = std::make_unique<TSFSHugeFile>(FileName, false, false, InMemory, partSize, stub);
  if (plan) huge->SetFaultPlan(plan);
  if (!huge->CreateFilesChain(o.Stub)) fail("cannot create the file \"" + FileName + "\".");
  pfm = std::make_unique<TPageFileManager>(std::move(huge), FileName, false, false);
  pfm->InitNewHeader(o.PageSize, o.ExtentPageCount, static_cast<uint8_t>(o.CompressionLevel));
  if (!o.Password.empty()) {
    MakePasswordHeader(pfm->FHeader.PasswordHeader, o.Password, o.Question, o.Answer);
    pfm->FHeader.EncMethod = encRijndael;
    std::string key;
    if (!CheckPasswordHeader(pfm->FHeader.PasswordHeader, o.Password, key)) fail("the password header does not verify.");
    MakeKeyCheck(key, pfm->FHeader.Reserved);
    pfm->FKey = key;
    pfm->SaveSFHeader();
  }
}

void TSingleFileSystem::CreateContainer(const std::string& FileName, const TSFSCreateOptions& Options) {
  Create(FileName, false, Options);
}

void TSingleFileSystem::CreateInMemory(const TSFSCreateOptions& Options) { Create(":memory:", true, Options); }

void TSingleFileSystem::Create(const std::string& FileName, bool InMemory, const TSFSCreateOptions& Options) {
  Close();
  CreateImpl(*this, FileName, InMemory, Options, FFaultPlan, FPFM);
  FFileName = FileName;
  FInMemory = InMemory;
  FReadOnly = false;
  FPassword = Options.Password;
  try {
    InitManagers(true);
  } catch (...) {
    Close();
    throw;
  }
}

static void OpenCommon(std::unique_ptr<TPageFileManager>& pfm, const std::string& Password) {
  pfm->LoadSFHeader();
  if (pfm->FHeader.EncMethod != encNone) {
    if (Password.empty())
      throw ESFSPasswordError("TSingleFileSystem.Open - the container is protected by a password.");
    std::string key;
    if (!CheckPasswordHeader(pfm->FHeader.PasswordHeader, Password, key) || !VerifyKeyCheck(key, pfm->FHeader.Reserved))
      throw ESFSPasswordError("TSingleFileSystem.Open - wrong password.");
    pfm->FKey = key;
  }
}

void TSingleFileSystem::OpenContainer(const std::string& FileName, const std::string& Password, bool ReadOnly,
                                      bool Exclusive) {
  Close();
  try {
    auto huge = std::make_unique<TSFSHugeFile>(FileName, ReadOnly, Exclusive, false, cUnsplitPartitionSize, 0);
    if (FFaultPlan) huge->SetFaultPlan(FFaultPlan);
    huge->OpenFilesChain();
    FPFM = std::make_unique<TPageFileManager>(std::move(huge), FileName, ReadOnly, Exclusive);
    OpenCommon(FPFM, Password);
    InitManagers(false);
  } catch (...) {
    Close();
    throw;
  }
  FFileName = FileName;
  FInMemory = false;
  FReadOnly = ReadOnly;
  FExclusive = Exclusive;
  FPassword = Password;
}

void TSingleFileSystem::OpenFromImage(std::vector<uint8_t> Image, const std::string& Password, bool ReadOnly) {
  Close();
  try {
    auto huge = std::make_unique<TSFSHugeFile>(":memory:", ReadOnly, false, true, cUnsplitPartitionSize, 0);
    if (FFaultPlan) huge->SetFaultPlan(FFaultPlan);
    huge->OpenFromImage(std::move(Image));
    FPFM = std::make_unique<TPageFileManager>(std::move(huge), ":memory:", ReadOnly, false);
    OpenCommon(FPFM, Password);
    InitManagers(false);
  } catch (...) {
    Close();
    throw;
  }
  FFileName = ":memory:";
  FInMemory = true;
  FReadOnly = ReadOnly;
  FPassword = Password;
}

std::vector<uint8_t> TSingleFileSystem::SaveToImage() const {
  platform::BDAssert(FPFM != nullptr && FInMemory, "TSingleFileSystem.SaveToImage - no container in memory");
  const std::vector<uint8_t>* image = FPFM->SFSFile().MemoryImage();
  platform::BDAssert(image != nullptr, "TSingleFileSystem.SaveToImage - no container in memory");
  return *image;
}

// ---- Callbacks ------------------------------------------------------------------------------------

void TSingleFileSystem::DoOnPassword(const std::string& FileName, std::string& NewPassword, bool& SkipFile) {
  if (FOnPassword) {
    FOnPassword(*this, FileName, NewPassword, SkipFile);
    return;
  }
  // No one to ask: the file is skipped.
  SkipFile = true;
}

void TSingleFileSystem::DoOnDiskFull() {
  if (FOnDiskFull) FOnDiskFull(*this);
}

// ---- Files ----------------------------------------------------------------------------------------

bool TSingleFileSystem::FileExists(const std::string& FileName) { return FDM->FindByName(FileName) >= 0; }

int32_t TSingleFileSystem::FindByName(const std::string& FileName) { return FDM->FindByName(FileName); }

bool TSingleFileSystem::GetFileInfo(const std::string& FileName, TDirectoryElement& Element) {
  const int32_t item = FDM->FindByName(FileName);
  if (item < 0) return false;
  FDM->ReadItem(item, Element);
  return true;
}

bool TSingleFileSystem::DeleteFile(const std::string& FileName) {
  if (FReadOnly) return false;
  const int32_t item = FDM->FindByName(FileName);
  if (item < 0 || FDM->GetOpenFiles(item) != 0) return false;
  TDirectoryElement e;
  FDM->ReadItem(item, e);
  if (e.IsFolder) {
    // A folder goes only when it is empty; its records would be lost otherwise.
    for (int32_t i = 0; i < FDM->ItemCount(); ++i) {
      const TDirectoryElement& c = FDM->DIR().Item(i);
      if (!c.IsDeleted && c.ParentID == item) return false;
    }
  }
  // The record goes first: should anything fail between the two steps, its pages are lost to
  // the free-space maps rather than handed out again while a live record still lists them.
  TDirectoryElement pages = e;
  e.IsDeleted = 1;
  e.LastModifiedTime = NowFileTime();
  e.FileSize = 0;
  e.FirstMapPageNo = -1;
  FDM->WriteItem(item, e);
  if (!FUFM->SetSize(pages, true, 0)) FLastError = FUFM->FLastError;
  return true;
}

int32_t TSingleFileSystem::FileCreate(const std::string& FileName, const std::string& Password,
                                      const std::string& Question, const std::string& Answer) {
  FLastError = erOk;
  if (FReadOnly) {
    FLastError = erWritePageHeaderError;
    return -1;
  }
  const std::string last = LastComponent(FileName);
  if (last.empty() || last == "." || last == "..") {
    FLastError = erInvalidPath;
    return -1;
  }
  if (FileExists(FileName) && !DeleteFile(FileName)) {
    FLastError = erFileNotDeleted;
    return erFileNotDeleted;
  }
  FDM->FLastError = erOk;
  const int32_t r = FDM->FileCreate(FileName, Password, Question, Answer);
  if (r < 0) {
    FLastError = FDM->FLastError != erOk ? FDM->FLastError : erInvalidPath;
    if (FLastError == erDiskFull) DoOnDiskFull();
  }
  return r;
}

int32_t TSingleFileSystem::FileOpen(const std::string& FileName, uint16_t Mode, const std::string& Password,
                                    const std::string& Question, const std::string& Answer) {
  FLastError = erOk;
  std::string password = Password;
  if (Mode == platform::fmCreate) {
    const int32_t r = FileCreate(FileName, Password, Question, Answer);
    if (r < 0) return r;
  } else if (FileExists(FileName) && !FDM->IsPasswordValid(FileName, password)) {
    bool skip = false;
    bool valid = false;
    while (!skip && !valid) {
      DoOnPassword(FileName, password, skip);
      if (!skip) valid = FDM->IsPasswordValid(FileName, password);
    }
    if (!valid) return -1;
  }
  std::string key;
  const int32_t item = FDM->FileOpen(FileName, password, key);
  if (item < 0) {
    FLastError = erFileNotFound;
    return item;
  }
  auto h = std::make_unique<TUserFileHandle>();
  h->FileID = item;
  h->Position = 0;
  h->Mode = Mode;
  h->Key = key;
  const int32_t handle = FFileHandles.GetNextKeyValue();
  FFileHandles.Insert(handle, std::move(h));
  return handle;
}

void TSingleFileSystem::FileClose(int32_t Handle) {
  TUserFileHandle* h = FFileHandles.Find(Handle);
  if (!h) return;
  FDM->FileClose(h->FileID);
  FFileHandles.Delete(Handle);
}

void TSingleFileSystem::ExpectedPageHeader(const TDirectoryElement& Item, const TUserFileHandle& H, TFFPage& Page,
                                           std::string& Key) const {
  Page.PageHeader = TPageHeader{};
  Page.PageHeader.NextPageNo = -1;
  Page.PageHeader.PageType = UFPage;
  Page.PageHeader.CrcType = cCrcTypeFast;
  if (Item.EncMethod != encNone) {
    Page.PageHeader.EncType = Item.EncMethod;
    Key = H.Key;
  } else {
    Page.PageHeader.EncType = FPFM->FHeader.EncMethod;
    Key = FPFM->FHeader.EncMethod != encNone ? FPFM->FKey : std::string();
  }
}

int32_t TSingleFileSystem::FileRead(int32_t Handle, void* Buffer, int32_t Count) {
  FLastError = erOk;
  TUserFileHandle* h = FFileHandles.Find(Handle);
  if (!h || Count <= 0 || h->Position < 0) return 0;
  TDirectoryElement e;
  FDM->ReadItem(h->FileID, e);
  const int64_t available = std::min<int64_t>(Count, e.FileSize - h->Position);
  if (available < 1) return 0;
  TIntegerArray pages;
  FUFM->GetPages(e, false, h->Position, available, pages);
  if (pages.ItemCount() == 0) throw platform::Exception("TSingleFileSystem.FileRead - no pages were found by UFM.");
  const int32_t d = FPFM->GetPageDataSize();
  // A file with a password of its own is read with its key; otherwise the page file's default.
  const std::string& readKey = e.EncMethod != encNone ? h->Key : std::string();
  // Never past the end of the file, even when the caller asked for more.
  const TPageSpan span{h->Position, available, d};
  const int32_t need = span.Pages(pages.ItemCount());
  FEdgePages.resize(static_cast<size_t>(2 * d));
  uint8_t* const edges = FEdgePages.data();
  uint8_t* out = static_cast<uint8_t*>(Buffer);
  int64_t done = 0;
  int32_t i = 0;
  // A read going on from where the last one ended starts inside the page that one kept.
  if (const uint8_t* kept = h->Kept.Of(pages[0], FPFM->ChangeCount())) {
    int32_t off, chunk;
    span.Slice(0, 0, off, chunk);
    std::memcpy(out, kept + off, static_cast<size_t>(chunk));
    done = chunk;
    i = 1;
  }
  while (i < need && done < available) {
    // A run of pages that follow one another on disk moves in one transfer: whole pages straight
    // into the caller's buffer, a partly wanted page into a page buffer of its own.
    const int32_t run = ConsecutiveRun(pages, i, need);
    FRunHeaders.resize(static_cast<size_t>(run));
    FRunPages.resize(static_cast<size_t>(run));
    for (int32_t k = 0, off, chunk, at = 0; k < run; ++k, at += chunk) {
      span.Slice(i + k, done + at, off, chunk);
      FRunPages[static_cast<size_t>(k)] = off == 0 && chunk == d ? out + done + at : edges + (k == 0 ? 0 : d);
    }
    const int32_t ok = FPFM->ReadPages(pages[i], run, FRunPages.data(), FRunHeaders.data(), readKey);
    int32_t good = 0;
    for (int32_t off, chunk; good < ok && FRunHeaders[static_cast<size_t>(good)].PageType == UFPage; ++good) {
      span.Slice(i + good, done, off, chunk);
      const uint8_t* from = FRunPages[static_cast<size_t>(good)];
      if (from != out + done) {
        std::memcpy(out + done, from + off, static_cast<size_t>(chunk));
        // The read ends inside this page: keep it for the next.
        if (i + good == need - 1) h->Kept.Keep(pages[i + good], from, d, FPFM->ChangeCount());
      }
      done += chunk;
    }
    if (good < run) {
      FLastError = good < ok ? erReadPageFailed : FPFM->FLastError;
      break;
    }
    i += run;
  }
  h->Position += done;
  return static_cast<int32_t>(done);
}

int32_t TSingleFileSystem::FileWrite(int32_t Handle, const void* Buffer, int32_t Count) {
  FLastError = erOk;
  TUserFileHandle* h = FFileHandles.Find(Handle);
  if (Count < 1 || !h) return 0;
  if (FReadOnly || h->Position < 0) {
    FLastError = FReadOnly ? erWritePageHeaderError : erInvalidHandle;
    return 0;
  }
  TDirectoryElement e;
  FDM->ReadItem(h->FileID, e);
  TIntegerArray pages;
  const int32_t oldFirstMap = e.FirstMapPageNo;
  const int64_t oldSize = e.FileSize;
  // Pages this write touches are written whole below; they are not zeroed first when appended.
  FUFM->SetWholeWriteRange(h->Position, h->Position + Count);
  // Giving the file pages writes maps and the header, and zeros into new pages, never into a
  // page the file already has: a page the handle keeps still holds what it kept.
  const bool keptCurrent = h->Kept.Changes == FPFM->ChangeCount();
  const bool got = FUFM->GetPages(e, true, h->Position, Count, pages);
  if (keptCurrent) h->Kept.Changes = FPFM->ChangeCount();
  FUFM->SetWholeWriteRange(0, 0);
  if (!got) {
    FLastError = FUFM->FLastError;
    if (FLastError == erDiskFull) DoOnDiskFull();
    // A first map page may have been set before the failure; keep the record in step with it.
    if (e.FirstMapPageNo != oldFirstMap) FDM->WriteItem(h->FileID, e);
    return 0;
  }
  int64_t done = 0;
  bool kept = false;
  if (pages.ItemCount() > 0) {
    const int32_t d = FPFM->GetPageDataSize();
    TFFPage page;  // the header the pages get; an edge page read from disk lands in its buffer
    std::string key;
    ExpectedPageHeader(e, *h, page, key);
    const TPageHeader expected = page.PageHeader;
    const std::string& readKey = e.EncMethod != encNone ? h->Key : std::string();
    const TPageSpan span{h->Position, Count, d};
    const int32_t need = span.Pages(pages.ItemCount());
    // A partly written first and last page, completed before writing.
    FEdgePages.resize(static_cast<size_t>(2 * d));
    uint8_t* const edges = FEdgePages.data();
    const uint8_t* in = static_cast<const uint8_t*>(Buffer);
    for (int32_t i = 0; i < need && done < Count;) {
      // A run of pages that follow one another on disk goes out in one transfer; a page the
      // write covers only in part is completed in a page buffer first.
      int32_t run = ConsecutiveRun(pages, i, need);
      FRunSources.resize(static_cast<size_t>(run));
      bool stop = false;
      for (int32_t k = 0, off, chunk, at = 0; k < run; ++k, at += chunk) {
        span.Slice(i + k, done + at, off, chunk);
        if (off == 0 && chunk == d) {
          FRunSources[static_cast<size_t>(k)] = in + done + at;
          continue;
        }
        uint8_t* edge = edges + (k == 0 ? 0 : d);
        // A page appended by this write holds nothing yet: it starts as zeros, not from disk.
        if ((span.Pos / d + i + k) * d >= oldSize) {
          std::memset(edge, 0, static_cast<size_t>(d));
        } else if (const uint8_t* left = h->Kept.Of(pages[i + k], FPFM->ChangeCount())) {
          std::memcpy(edge, left, static_cast<size_t>(d));  // as this handle left it
        } else {
          page.pData = edge;
          if (!FPFM->ReadPage(page, pages[i + k], false, readKey, -1)) {
            FLastError = FPFM->FLastError;
            run = k;  // the pages before it still go out
            stop = true;
            break;
          }
        }
        std::memcpy(edge + off, in + done + at, static_cast<size_t>(chunk));
        FRunSources[static_cast<size_t>(k)] = edge;
      }
      const int32_t ok = FPFM->WritePages(pages[i], run, FRunSources.data(), expected, key);
      for (int32_t k = 0, off, chunk; k < ok; ++k, done += chunk) span.Slice(i + k, done, off, chunk);
      if (ok < run) {
        FLastError = FPFM->FLastError;
        break;
      }
      if (stop) break;
      const uint8_t* last = FRunSources[static_cast<size_t>(run - 1)];
      if (i + run == need && (last == edges || last == edges + d)) {
        // The write ends inside this page: the handle keeps it for the read or write going on.
        h->Kept.Keep(pages[i + run - 1], last, d, FPFM->ChangeCount());
        kept = true;
      }
      i += run;
    }
  }
  h->Position += done;
  if (h->Position > e.FileSize) e.FileSize = h->Position;
  e.LastModifiedTime = NowFileTime();
  FDM->WriteItem(h->FileID, e);
  // The record's write changed a directory page, not the kept one.
  if (kept) h->Kept.Changes = FPFM->ChangeCount();
  return static_cast<int32_t>(done);
}

int64_t TSingleFileSystem::FileSeek(int32_t Handle, uint16_t Origin, int64_t Offset) {
  TUserFileHandle* h = FFileHandles.Find(Handle);
  if (!h) return 0;
  switch (Origin) {
    case 0: h->Position = Offset; break;
    case 1: h->Position += Offset; break;
    default: {
      TDirectoryElement e;
      FDM->ReadItem(h->FileID, e);
      h->Position = e.FileSize + Offset;
      break;
    }
  }
  return h->Position;
}

int64_t TSingleFileSystem::FileGetSize(int32_t Handle) {
  TUserFileHandle* h = FFileHandles.Find(Handle);
  if (!h) return erInvalidHandle;
  TDirectoryElement e;
  FDM->ReadItem(h->FileID, e);
  return e.FileSize;
}

int64_t TSingleFileSystem::FileSetSize(int32_t Handle, int64_t NewSize) {
  FLastError = erOk;
  TUserFileHandle* h = FFileHandles.Find(Handle);
  if (!h || NewSize < 0) {
    FLastError = erInvalidHandle;
    return erInvalidHandle;
  }
  if (FReadOnly) {
    FLastError = erWritePageHeaderError;
    return erWritePageHeaderError;
  }
  TDirectoryElement e;
  FDM->ReadItem(h->FileID, e);
  const int32_t oldFirstMap = e.FirstMapPageNo;
  if (!FUFM->SetSize(e, true, NewSize)) {
    FLastError = FUFM->FLastError;
    if (FLastError == erDiskFull) DoOnDiskFull();
    if (e.FirstMapPageNo != oldFirstMap) FDM->WriteItem(h->FileID, e);
    return FLastError;
  }
  e.FileSize = NewSize;
  e.LastModifiedTime = NowFileTime();
  FDM->WriteItem(h->FileID, e);
  h->Position = NewSize;
  return NewSize;
}

// ---- Folders and names ----------------------------------------------------------------------------

bool TSingleFileSystem::DirectoryExists(const std::string& Path) {
  const int32_t item = FDM->FindByName(Path);
  if (item == rootID) return true;
  if (item < 0) return false;
  return FDM->DIR().Item(item).IsFolder != 0;
}

int32_t TSingleFileSystem::ForceDirectories(const std::string& Path) {
  FLastError = erOk;
  int32_t parent = (!Path.empty() && IsSeparator(Path[0])) ? rootID : FDM->CurrentDir;
  for (const std::string& comp : SplitPath(Path)) {
    if (comp == "." || comp == ".." || comp.size() > MaxFileNameLength) {
      FLastError = erInvalidPath;
      return erInvalidPath;
    }
    const int32_t found = FDM->DIR().FindFileByName(comp, parent);
    if (found >= 0) {
      if (!FDM->DIR().Item(found).IsFolder) {
        FLastError = erInvalidPath;
        return erInvalidPath;
      }
      parent = found;
      continue;
    }
    if (FReadOnly) {
      FLastError = erWritePageHeaderError;
      return FLastError;
    }
    TDirectoryElement e;
    InitDirectoryElement(e);
    SetFileName(comp, e);
    e.ParentID = parent;
    e.FirstMapPageNo = -1;
    e.IsFolder = 1;
    e.CreationTime = NowFileTime();
    e.LastModifiedTime = e.LastAccessTime = e.CreationTime;
    int32_t item = -1;
    if (!FDM->AddItem(e, item)) {
      FLastError = FDM->FLastError;
      if (FLastError == erDiskFull) DoOnDiskFull();
      return FLastError;
    }
    parent = item;
  }
  return parent;
}

bool TSingleFileSystem::RenameFile(const std::string& OldName, const std::string& NewName) {
  FLastError = erOk;
  if (FReadOnly) return false;
  const int32_t item = FDM->FindByName(OldName);
  if (item < 0 || FDM->GetOpenFiles(item) > 0 || FDM->FindByName(NewName) >= 0) {
    FLastError = erRenameFileError;
    return false;
  }
  std::string path, name;
  int32_t parent = FDM->CurrentDir;
  if (ExtractPathAndPattern(NewName, path, name))
    parent = FDM->FindByName(path);
  else
    name = LastComponent(NewName);
  if (parent < -1 || name.empty() || name == "." || name == ".." || name.size() > MaxFileNameLength ||
      (parent >= 0 && !FDM->DIR().Item(parent).IsFolder)) {
    FLastError = erRenameFileError;
    return false;
  }
  // A folder cannot move into its own subtree.
  for (int32_t p = parent, steps = 0; p >= 0 && p < FDM->ItemCount() && steps <= FDM->ItemCount();
       p = FDM->DIR().Item(p).ParentID, ++steps)
    if (p == item) {
      FLastError = erRenameFileError;
      return false;
    }
  TDirectoryElement e;
  FDM->ReadItem(item, e);
  SetFileName(name, e);
  e.ParentID = parent;
  e.LastModifiedTime = NowFileTime();
  FDM->WriteItem(item, e);
  return true;
}

bool TSingleFileSystem::ReplaceFile(const std::string& TempName, const std::string& FileName) {
  if (FDM->FindByName(TempName) < 0) return false;
  if (FDM->FindByName(FileName) < 0) return RenameFile(TempName, FileName);
  std::string aside;
  for (int i = 0;; ++i) {
    aside = FileName + ".~old" + (i ? std::to_string(i) : std::string());
    if (FDM->FindByName(aside) < 0) break;
  }
  if (!RenameFile(FileName, aside)) return false;
  if (!RenameFile(TempName, FileName)) {
    RenameFile(aside, FileName);
    return false;
  }
  DeleteFile(aside);
  return true;
}

std::string TSingleFileSystem::FullPath(int32_t ItemNo) {
  std::vector<std::string> parts;
  int32_t p = ItemNo;
  // A damaged parent chain ends the walk rather than looping.
  for (int32_t steps = 0; p >= 0 && p < FDM->ItemCount() && steps <= FDM->ItemCount(); ++steps) {
    const TDirectoryElement& e = FDM->DIR().Item(p);
    parts.emplace_back(ElementName(e));
    p = e.ParentID;
  }
  std::string path;
  for (auto it = parts.rbegin(); it != parts.rend(); ++it) {
    if (!path.empty()) path += '/';
    path += *it;
  }
  return path;
}

std::vector<TSFSListEntry> TSingleFileSystem::ListFiles() {
  std::vector<TSFSListEntry> list;
  for (int32_t i = 0; i < FDM->ItemCount(); ++i) {
    const TDirectoryElement& e = FDM->DIR().Item(i);
    if (e.IsDeleted) continue;
    TSFSListEntry entry;
    entry.ItemNo = i;
    entry.Path = FullPath(i);
    entry.Element = e;
    list.push_back(std::move(entry));
  }
  return list;
}

}  // namespace sfs
