#include "sound/GlobalPlayer.h"

#include <cfenv>
#include <chrono>
#include <cstdint>

#include "platform/Exception.h"
#include "sfs/FileAccess.h"
#include "sound/FmodDyn.h"

namespace sound {

std::atomic<TGlobalPlayer*> GlobalPlayer{nullptr};

namespace {

constexpr int32_t cMaxCount = 2147483647;
constexpr int32_t cWakeUpMs = 5000;

// The queue the library callbacks append to; set while a player exists.
std::atomic<TWorkList*> FCallbackList{nullptr};
uint64_t uniqueTriggerName = 0;

void* UserOf(int32_t id) { return reinterpret_cast<void*>(static_cast<intptr_t>(id)); }
int32_t IdOfUser(void* user) { return static_cast<int32_t>(reinterpret_cast<intptr_t>(user)); }

signed char QueueFromCallback(TWorkType type, void* userdata) {
  if (TWorkList* list = FCallbackList.load()) {
    auto item = std::make_unique<TWorkObject>(type);
    item->ID = IdOfUser(userdata);
    list->WorkAdd(std::move(item));
  }
  return -1;
}

bool IsStopOrControl(TWorkType type) {
  return type == wtStopAndFreeIt || type == wtStopAndFreeAll || type == wtInitPlayer ||
         type == wtDeInitPlayer;
}

bool FileAvailable(const std::string& name) {
  try {
    return sfs::SFSFileExists(name);
  } catch (...) {
    return false;
  }
}

}  // namespace

signed char FS_PlayingFinished(FSOUND_STREAM*, void*, int, void* userdata) {
  return QueueFromCallback(wtStopAndFreeIt, userdata);
}
signed char FS_ConnectingFinished(FSOUND_STREAM*, void*, int, void* userdata) {
  return QueueFromCallback(wtConnectFurther, userdata);
}
signed char FS_FromToFinished(FSOUND_STREAM*, void*, int, void* userdata) {
  return QueueFromCallback(wtEndFromTo, userdata);
}

// --- creation and destruction ---

TGlobalPlayer::TGlobalPlayer(const std::string& ProgramName, TSynchronizer* Synchronizer,
                             const std::string& LibName)
    : pName(ProgramName), FLibName(LibName), FSynchronizer(Synchronizer) {
  TGlobalPlayer* none = nullptr;
  platform::BDAssert(GlobalPlayer.compare_exchange_strong(none, this),
                     "TGlobalPlayer: only one sound player may exist at a time");
  IDFactory = 0;
  uniqueTriggerName = 0;
  ExecHandle = std::make_unique<TSemaphore>(pName + "_Snd4_" + "ExecSem", 0, cMaxCount);
  WorkListHandle = std::make_unique<TSemaphore>(pName + "_Snd4_" + "WorkListSem", 1, cMaxCount);
  WorkList = std::make_unique<TWorkList>(*WorkListHandle, *ExecHandle);
  FCallbackList = WorkList.get();
  WorkList->WorkAdd(std::make_unique<TWorkObject>(wtInitPlayer));
  FThread = std::thread([this] {
    Execute();
    FFinished = true;
  });
}

TGlobalPlayer::~TGlobalPlayer() {
  StopAll(false);
  auto deInit = std::make_unique<TWorkObject>(wtDeInitPlayer);
  deInit->TerminateThread = true;
  WorkList->WorkAdd(std::move(deInit));
  // A finished event may be on its way to this thread: serve it while waiting.
  while (!FFinished) {
    if (FSynchronizer) FSynchronizer->CheckSynchronize();
    std::this_thread::sleep_for(std::chrono::milliseconds(2));
  }
  FThread.join();
  FCallbackList = nullptr;
  WorkList.reset();  // frees every remaining entry from the front
  ExecHandle.reset();
  WorkListHandle.reset();
  GlobalPlayer = nullptr;
}

// --- queueing (any thread) ---

void TGlobalPlayer::Queue(std::unique_ptr<TWorkObject> item, bool wait) {
  std::shared_ptr<TSemaphore> handle;
  if (wait && FPlayWait) {
    handle = std::make_shared<TSemaphore>(pName + "_Snd4_" + std::to_string(item->ID), 0, 1);
    item->sHandle = handle;
  }
  const bool queued = WorkList->WorkAdd(std::move(item)) >= 0;
  if (handle && queued) handle->Acquire();
}

void TGlobalPlayer::Play(const std::string& fName, bool PlayForever,
                         TPlayingFinishedEvent OnPlayingFinishedOnce, bool PlayIfFree,
                         bool ifFreeOnlyThisOne) {
  auto item = std::make_unique<TWorkObject>(wtPlay);
  item->FileName = fName;
  item->PlayForever = PlayForever;
  item->OnPlayFin = std::move(OnPlayingFinishedOnce);
  item->PlayIfFree = PlayIfFree;
  item->ifFreeOnlyThisOne = ifFreeOnlyThisOne;
  Queue(std::move(item), !PlayForever);
}

void TGlobalPlayer::PlayConnected(const std::vector<std::string>& fNames, bool PlayForever,
                                  TPlayingFinishedEvent OnPlayingFinishedOnce, bool PlayIfFree) {
  auto item = std::make_unique<TWorkObject>(wtPlayConnected);
  item->FileNames = fNames;
  item->PlayForever = PlayForever;
  item->OnPlayFin = std::move(OnPlayingFinishedOnce);
  item->PlayIfFree = PlayIfFree;
  Queue(std::move(item), !PlayForever);
}

void TGlobalPlayer::PlayFromTo(const std::string& fName, int32_t startpos, int32_t endpos,
                               bool PlayForever, TPlayingFinishedEvent OnPlayingFinishedOnce,
                               bool PlayIfFree, bool ifFreeOnlyThisOne) {
  auto item = std::make_unique<TWorkObject>(wtPlayFromTo);
  item->FileName = fName;
  item->startp = startpos;
  item->endp = endpos;
  item->PlayForever = PlayForever;
  item->OnPlayFin = std::move(OnPlayingFinishedOnce);
  item->PlayIfFree = PlayIfFree;
  item->ifFreeOnlyThisOne = ifFreeOnlyThisOne;
  Queue(std::move(item), !PlayForever);
}

void TGlobalPlayer::PlayIfFree(const std::string& fName, bool PlayForever,
                               TPlayingFinishedEvent OnPlayingFinishedOnce, bool ifFreeOnlyThisOne) {
  Play(fName, PlayForever, std::move(OnPlayingFinishedOnce), true, ifFreeOnlyThisOne);
}

void TGlobalPlayer::Stop(const std::string& fName, bool DoOnPlayingFinished, int32_t stopCount) {
  auto item = std::make_unique<TWorkObject>(wtStopAndFreeIt);
  item->FileName = fName;
  item->StopEventWithOnPlayFin = DoOnPlayingFinished;
  item->StopCount = stopCount;
  Queue(std::move(item), true);
}

void TGlobalPlayer::StopAll(bool DoOnPlayingFinished) {
  auto item = std::make_unique<TWorkObject>(wtStopAndFreeAll);
  item->StopEventWithOnPlayFin = DoOnPlayingFinished;
  Queue(std::move(item), true);
}

TPlayingFinishedEvent TGlobalPlayer::OnPlayingFinished() const {
  std::lock_guard lock(FHandlerLock);
  return FOnPlayingFinished;
}

void TGlobalPlayer::SetOnPlayingFinished(TPlayingFinishedEvent handler) {
  std::lock_guard lock(FHandlerLock);
  FOnPlayingFinished = std::move(handler);
}

// --- the player thread ---

void TGlobalPlayer::Execute() {
  // Floating-point exceptions stay masked, whatever the library does.
  fedisableexcept(FE_ALL_EXCEPT);
  while (!FTerminated) {
    const int32_t count = WorkList->Count();
    const int32_t highPrio = WorkList->HighPrioCount();
    for (int32_t i = 0; i < count; ++i) {
      TWorkObject* item = WorkList->Items(i);
      if (item == nullptr) break;
      const TWorkType type = item->WorkType;
      if (highPrio > 0 && !TWorkList::IsHighPrio(type)) continue;
      if (type == wtPlaying || type == wtPlayingConnected || type == wtPlayingFromTo) continue;
      // Nothing a handler throws may end the thread; the handlers take out what they cannot run.
      try {
        Dispatch(item);
      } catch (...) {
      }
      break;
    }
    if (FTerminated) break;
    ExecHandle->WaitFor(cWakeUpMs);
  }
}

void TGlobalPlayer::Dispatch(TWorkObject* item) {
  switch (item->WorkType) {
    case wtPlay: InternalPlay(item); break;
    case wtPlayConnected: InternalPlayConnected(item); break;
    case wtConnectFurther: InternalConnectFurther(item); break;
    case wtPlayFromTo: InternalPlayFromTo(item); break;
    case wtEndFromTo: InternalEndFromTo(item); break;
    case wtStopAndFreeIt: InternalStop(item, false); break;
    case wtStopAndFreeAll: InternalStop(item, true); break;
    case wtInitPlayer: InternalInitPlayer(item); break;
    case wtDeInitPlayer: InternalDeInitPlayer(item); break;
    default:
      // Never queued: take it out rather than stall the queue on it.
      RemoveAndFree(item);
      platform::BDAssert(false, "WorkType nicht unterstützt!");
  }
}

void TGlobalPlayer::RemoveAndFree(TWorkObject* item) { WorkList->WorkRemove(item); }

void TGlobalPlayer::QueueStopFor(int32_t ID, TPlayingFinishedEvent onPlayFin) {
  auto stop = std::make_unique<TWorkObject>(wtStopAndFreeIt);
  stop->ID = ID;
  stop->OnPlayFin = std::move(onPlayFin);
  WorkList->WorkAdd(std::move(stop));
}

bool TGlobalPlayer::Dropped(TWorkObject* item) {
  if (FDeactivated) return true;
  if (item->WorkType != wtPlayConnected && !FileAvailable(item->FileName)) return true;
  return item->PlayIfFree && WorkList->WorkPlaying(item->ID, item->ifFreeOnlyThisOne, item->FileName);
}

// Reads the item's file and opens a stream on it; false when it cannot be read or decoded.
bool TGlobalPlayer::OpenFromFile(TWorkObject* item, bool loop) {
  if (item->Stream) {
    FSOUND_Stream_Close(item->Stream);
    item->Stream = nullptr;
    item->sync = nullptr;
  }
  item->readStream = std::make_unique<platform::TMemoryStream>();
  bool read = false;
  try {
    read = sfs::SFSGetStreamFromFile(*item->readStream, item->FileName);
  } catch (...) {
    read = false;
  }
  if (!read || item->readStream->GetSize() <= 0 || item->readStream->GetSize() > INT32_MAX) return false;
  const unsigned int mode = FSOUND_NORMAL | FSOUND_LOADMEMORY | (loop ? FSOUND_LOOP_NORMAL : 0u);
  item->Stream = FSOUND_Stream_Open(reinterpret_cast<const char*>(item->readStream->Memory()), mode, 0,
                                    static_cast<int>(item->readStream->GetSize()));
  return item->Stream != nullptr;
}

void TGlobalPlayer::InternalPlay(TWorkObject* item) {
  bool dropped = Dropped(item);
  if (!dropped && !item->Stream) {
    // A file that cannot be read or decoded now will not play on a retry either.
    if (OpenFromFile(item, item->PlayForever))
      FSOUND_Stream_SetEndCallback(item->Stream, FS_PlayingFinished, UserOf(item->ID));
    else
      dropped = true;
  }
  if (dropped) {
    item->WorkType = wtPlaying;
    QueueStopFor(item->ID);
    return;
  }
  if (FSOUND_Stream_Play(FSOUND_FREE, item->Stream) >= 0)
    item->WorkType = wtPlaying;
  else
    ExecHandle->Release();  // no free channel: again on the next wake-up
}

void TGlobalPlayer::InternalPlayConnected(TWorkObject* item) {
  if (!Dropped(item)) {
    std::erase_if(item->FileNames, [](const std::string& name) { return !FileAvailable(name); });
    const size_t count = item->FileNames.size();
    TWorkObject* first = nullptr;
    TWorkObject* previous = nullptr;
    for (size_t i = 0; i < count; ++i) {
      auto piece = std::make_unique<TWorkObject>(wtPlayingConnected);
      piece->PlayForever = item->PlayForever;
      piece->OnPlayFin = item->OnPlayFin;
      piece->FileName = item->FileNames[i];
      // A piece that cannot be read or decoded is left out like a missing file.
      if (!OpenFromFile(piece.get(), false)) continue;
      const bool last = i + 1 == count;
      if (last && !item->PlayForever) {
        piece->sHandle = std::move(item->sHandle);
        FSOUND_Stream_SetEndCallback(piece->Stream, FS_PlayingFinished, UserOf(piece->ID));
      } else {
        FSOUND_Stream_SetEndCallback(piece->Stream, FS_ConnectingFinished, UserOf(piece->ID));
      }
      if (previous) previous->FurtherStream = piece->Stream;
      TWorkObject* raw = piece.get();
      const int32_t after = WorkList->IndexOf(previous ? previous : item);
      WorkList->WorkInsert(after + 1, std::move(piece));
      if (!first) {
        first = raw;
        if (FSOUND_Stream_Play(FSOUND_FREE, raw->Stream) < 0) {
          raw->DoNotConnectFurtherOnce = true;
          FS_ConnectingFinished(raw->Stream, nullptr, 0, UserOf(raw->ID));
        }
      }
      previous = raw;
    }
    if (first) {
      // The last piece built holds the caller's wait handle when the chain ends with a piece
      // that was left out.
      if (!item->PlayForever && item->sHandle && previous) previous->sHandle = std::move(item->sHandle);
      if (item->PlayForever) previous->FurtherStream = first->Stream;
      RemoveAndFree(item);
      return;
    }
  }
  item->WorkType = wtPlayingConnected;
  QueueStopFor(item->ID, item->OnPlayFin);
}

void TGlobalPlayer::InternalConnectFurther(TWorkObject* item) {
  TWorkObject* piece = WorkList->Find(item->ID, wtPlayingConnected);
  if (!piece) {
    RemoveAndFree(item);
    return;
  }
  if (piece->DoNotConnectFurtherOnce) {
    if (FSOUND_Stream_Play(FSOUND_FREE, piece->Stream) >= 0) {
      piece->DoNotConnectFurtherOnce = false;
      RemoveAndFree(item);
    } else {
      ExecHandle->Release();
    }
    return;
  }
  if (!piece->PlayForever) {
    QueueStopFor(piece->ID);
    // Only the stop remains when nothing follows (the piece had no successor after all).
    if (!piece->FurtherStream) {
      RemoveAndFree(item);
      return;
    }
  }
  if (FSOUND_Stream_Play(FSOUND_FREE, piece->FurtherStream) >= 0) {
    RemoveAndFree(item);
  } else if (FSOUND_Stream_GetOpenState(piece->FurtherStream) != 0) {
    RemoveAndFree(item);  // the next piece was stopped meanwhile: the chain ends here
  } else {
    ExecHandle->Release();
  }
}

void TGlobalPlayer::InternalPlayFromTo(TWorkObject* item) {
  // Each attempt reopens the file; one that cannot be read or decoded drops the request.
  if (!Dropped(item)) {
    if (OpenFromFile(item, false)) {
      FSOUND_Stream_SetTime(item->Stream, item->startp);
      const auto offset = static_cast<unsigned int>(
          static_cast<int64_t>(static_cast<double>(item->endp) / 1000.0 * cSampleRate));
      const std::string name = "SyncThis" + std::to_string(uniqueTriggerName);
      item->sync = FSOUND_Stream_AddSyncPoint(item->Stream, offset, name.c_str());
      ++uniqueTriggerName;
      FSOUND_Stream_SetSyncCallback(item->Stream, FS_FromToFinished, UserOf(item->ID));
      if (FSOUND_Stream_Play(FSOUND_FREE, item->Stream) >= 0)
        item->WorkType = wtPlayingFromTo;
      else
        ExecHandle->Release();  // next attempt reopens the file
      return;
    }
  }
  item->WorkType = wtPlaying;
  QueueStopFor(item->ID);
}

void TGlobalPlayer::InternalEndFromTo(TWorkObject* item) {
  TWorkObject* segment = WorkList->Find(item->ID, wtPlayingFromTo);
  if (!segment) {
    RemoveAndFree(item);
    return;
  }
  if (!segment->PlayForever) {
    QueueStopFor(segment->ID);
    RemoveAndFree(item);
    return;
  }
  FSOUND_Stream_SetTime(segment->Stream, segment->startp);
  if (FSOUND_Stream_Play(FSOUND_FREE, segment->Stream) >= 0)
    RemoveAndFree(item);
  else
    ExecHandle->Release();
}

void TGlobalPlayer::InternalStop(TWorkObject* item, bool StopAll) {
  int32_t count = WorkList->Count();
  int32_t stopped = 0;
  int32_t i = 0;
  while (i < count) {
    TWorkObject* entry = WorkList->Items(i);
    if (entry == nullptr) break;
    if (!StopAll && entry->ID != item->ID &&
        !(!item->FileName.empty() && entry->FileName == item->FileName && stopped < item->StopCount)) {
      ++i;
      continue;
    }
    ++stopped;
    const bool last = entry == item;
    if (entry->sHandle) {
      entry->sHandle->Release();
      entry->sHandle.reset();
    }
    TPlayingFinishedEvent handler = entry->OnPlayFin ? entry->OnPlayFin : OnPlayingFinished();
    if (handler && item->StopEventWithOnPlayFin && !FPlayWait && !IsStopOrControl(entry->WorkType) &&
        !entry->FurtherStream) {
      const int32_t position = entry->Stream ? FSOUND_Stream_GetTime(entry->Stream) : 0;
      DoPlayingFinished(position, entry->FileName, handler);
    }
    WorkList->WorkDelete(i);  // freed here; the index stays
    --count;
    if (last) break;
  }
}

void TGlobalPlayer::DoPlayingFinished(int32_t GlobalEndPos, const std::string& WavFileName,
                                      const TPlayingFinishedEvent& handler) {
  if (FSyncEvents && FSynchronizer) {
    lastGlobalEndPos = GlobalEndPos;
    lastWavFileName = WavFileName;
    lastOnPlayingFinished = handler;
    try {
      FSynchronizer->Synchronize([this] { SyncPlayingFinished(); });
    } catch (...) {
    }
    lastOnPlayingFinished = nullptr;
    return;
  }
  try {
    handler(this, GlobalEndPos, WavFileName);
  } catch (...) {
  }
}

// On the user-interface thread, while the player thread waits.
void TGlobalPlayer::SyncPlayingFinished() {
  const int32_t count = WorkList->Count();
  for (int32_t i = 0; i < count; ++i) {
    TWorkObject* entry = WorkList->Items(i);
    if (entry == nullptr) break;
    if ((entry->WorkType == wtStopAndFreeIt && entry->FileName == lastWavFileName) ||
        entry->WorkType == wtStopAndFreeAll) {
      if (!entry->StopEventWithOnPlayFin) return;
      break;
    }
  }
  try {
    if (lastOnPlayingFinished) lastOnPlayingFinished(this, lastGlobalEndPos, lastWavFileName);
  } catch (...) {
  }
}

void TGlobalPlayer::InternalInitPlayer(TWorkObject* item) {
  bool failed = true;
  try {
    if (FMOD_Load(FLibName)) {
      FMOD_CheckVersion();
      failed = FSOUND_Init(cSampleRate, cChannels, 0) == 0;
    }
  } catch (...) {
    // A library too old or incomplete is treated like a missing one: playback stays off.
    failed = true;
  }
  if (failed) FMOD_Unload();
  FDeactivated = failed;
  RemoveAndFree(item);
}

void TGlobalPlayer::InternalDeInitPlayer(TWorkObject* item) {
  if (!FDeactivated && FSOUND_Close) FSOUND_Close();
  FMOD_Unload();
  FDeactivated = true;
  const bool terminate = item->TerminateThread;
  RemoveAndFree(item);
  if (terminate) {
    FTerminated = true;
    ExecHandle->Release();
  }
}

}  // namespace sound
