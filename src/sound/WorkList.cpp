#include "sound/WorkList.h"

#include <algorithm>

#include "sound/FmodDyn.h"

namespace sound {

std::atomic<int64_t> IDFactory{0};

int32_t NewWorkID() { return static_cast<int32_t>(IDFactory.fetch_add(1) & 0x7FFFFFFF); }

TWorkObject::TWorkObject(TWorkType type) : WorkType(type), ID(NewWorkID()) {}

TWorkObject::~TWorkObject() {
  // The stream goes before the memory block it plays from (members are freed after this body).
  if (Stream) {
    if (sync && FSOUND_Stream_DeleteSyncPoint) FSOUND_Stream_DeleteSyncPoint(sync);
    if (FSOUND_Stream_GetOpenState && FSOUND_Stream_GetOpenState(Stream) == 0) {
      if (FSOUND_Stream_Stop) FSOUND_Stream_Stop(Stream);
      if (FSOUND_Stream_Close) FSOUND_Stream_Close(Stream);
    }
  }
  Stream = nullptr;
  sync = nullptr;
  readStream.reset();
  FileNames.clear();
  sHandle.reset();
  OnPlayFin = nullptr;
}

// Holds the queue lock for as long as it lives.
class TWorkList::TLock {
 public:
  explicit TLock(TSemaphore& handle) : FHandle(handle) { FHandle.Acquire(); }
  ~TLock() { FHandle.Release(); }
  TLock(const TLock&) = delete;
  TLock& operator=(const TLock&) = delete;

 private:
  TSemaphore& FHandle;
};

TWorkList::TWorkList(TSemaphore& workListHandle, TSemaphore& execHandle)
    : FWorkListHandle(workListHandle), FExecHandle(execHandle) {}

TWorkList::~TWorkList() {
  // Front to back, each entry freed after it left the list.
  while (!FItems.empty()) WorkDelete(0);
}

int32_t TWorkList::WorkAdd(std::unique_ptr<TWorkObject> Item) {
  if (!Item) return -1;
  int32_t index = -1;
  {
    TLock lock(FWorkListHandle);
    index = WorkInsertLocked(static_cast<int32_t>(FItems.size()), Item);
  }
  if (index >= 0) FExecHandle.Release();
  return index;
}

int32_t TWorkList::WorkInsert(int32_t Index, std::unique_ptr<TWorkObject> Item) {
  if (!Item) return -1;
  int32_t index = -1;
  {
    TLock lock(FWorkListHandle);
    index = WorkInsertLocked(Index, Item);
  }
  if (index >= 0) FExecHandle.Release();
  return index;
}

int32_t TWorkList::WorkInsertLocked(int32_t Index, std::unique_ptr<TWorkObject>& Item) {
  if (Index < 0 || Index > static_cast<int32_t>(FItems.size())) return -1;  // Item freed by caller
  try {
    const bool highPrio = IsHighPrio(Item->WorkType);
    FItems.insert(FItems.begin() + Index, std::move(Item));
    if (highPrio) ++FHighPrioCount;
  } catch (...) {
    return -1;
  }
  return Index;
}

std::unique_ptr<TWorkObject> TWorkList::WorkDelete(int32_t Index) {
  TLock lock(FWorkListHandle);
  if (Index < 0 || Index >= static_cast<int32_t>(FItems.size())) return nullptr;
  std::unique_ptr<TWorkObject> item = std::move(FItems[static_cast<size_t>(Index)]);
  FItems.erase(FItems.begin() + Index);
  if (IsHighPrio(item->WorkType)) --FHighPrioCount;
  return item;
}

std::unique_ptr<TWorkObject> TWorkList::WorkRemove(TWorkObject* Item, int32_t* FormerIndex) {
  TLock lock(FWorkListHandle);
  const auto it = std::find_if(FItems.begin(), FItems.end(),
                               [&](const std::unique_ptr<TWorkObject>& p) { return p.get() == Item; });
  if (FormerIndex) *FormerIndex = it == FItems.end() ? -1 : static_cast<int32_t>(it - FItems.begin());
  if (it == FItems.end()) return nullptr;
  std::unique_ptr<TWorkObject> item = std::move(*it);
  FItems.erase(it);
  if (IsHighPrio(item->WorkType)) --FHighPrioCount;
  return item;
}

bool TWorkList::WorkPlaying(int32_t ownWorkObjectID, bool ifFreeOnlyThisOne, const std::string& fName) {
  TLock lock(FWorkListHandle);
  bool result = false;
  for (const auto& entry : FItems) {
    if (entry->ID == ownWorkObjectID) break;
    if (entry->WorkType == wtStopAndFreeAll) {
      result = false;
    } else if (entry->WorkType == wtStopAndFreeIt) {
      // leaves the answer as it is
    } else if (!ifFreeOnlyThisOne || entry->FileName == fName) {
      result = true;
    }
  }
  return result;
}

int32_t TWorkList::Count() {
  TLock lock(FWorkListHandle);
  return static_cast<int32_t>(FItems.size());
}

int32_t TWorkList::HighPrioCount() {
  TLock lock(FWorkListHandle);
  return FHighPrioCount;
}

TWorkObject* TWorkList::Items(int32_t Index) {
  TLock lock(FWorkListHandle);
  if (Index < 0 || Index >= static_cast<int32_t>(FItems.size())) return nullptr;
  return FItems[static_cast<size_t>(Index)].get();
}

int32_t TWorkList::IndexOf(const TWorkObject* Item) {
  TLock lock(FWorkListHandle);
  for (size_t i = 0; i < FItems.size(); ++i)
    if (FItems[i].get() == Item) return static_cast<int32_t>(i);
  return -1;
}

TWorkObject* TWorkList::Find(int32_t ID, TWorkType type) {
  TLock lock(FWorkListHandle);
  for (const auto& entry : FItems)
    if (entry->ID == ID && entry->WorkType == type) return entry.get();
  return nullptr;
}

}  // namespace sound
