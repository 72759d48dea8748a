// The sound player's work queue: the items every request and every library callback becomes.
//
// Other threads only create items and append them (WorkAdd); the player thread is the only one
// that executes, changes and removes them, so an item the player thread has read stays valid while
// it works on it. Every operation holds the queue lock for its duration only.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "platform/Stream.h"
#include "sound/Semaphore.h"
#include "sound/lib/bdsound.h"

namespace sound {

class TGlobalPlayer;

// Finished handler: the player, the position in ms where the sound stopped, the file name.
using TPlayingFinishedEvent =
    std::function<void(TGlobalPlayer* Sender, int32_t GlobalEndPos, const std::string& WavFileName)>;

enum class TWorkType : uint8_t {
  wtDefault = 0,           // never queued
  wtPlay = 1,              // request: play one file
  wtPlaying = 2,           // a single file playing, or a dropped request waiting for its stop
  wtPlayConnected = 3,     // request: play files back to back
  wtPlayingConnected = 4,  // one piece of a chain
  wtConnectFurther = 5,    // a piece ended: start the next one
  wtPlayFromTo = 6,        // request: play a segment
  wtPlayingFromTo = 7,     // a segment playing
  wtEndFromTo = 8,         // a segment reached its end point
  wtStopAndFreeIt = 9,     // stop the items with one ID or one file name
  wtStopAndFreeAll = 10,   // stop everything queued before this item
  wtInitPlayer = 11,       // load and initialise the library
  wtDeInitPlayer = 12,     // close and unload the library, optionally end the thread
};
using enum TWorkType;

// The ID source of work items; the player resets it when it is created.
extern std::atomic<int64_t> IDFactory;
// The next ID. IDs are kept in 31 bits: after 2147483647 items they start again at 0.
int32_t NewWorkID();

// A work item. It owns its memory block, its file names and its library stream (closed when the
// item is freed; this needs the library still bound, which the player ensures).
class TWorkObject {
 public:
  explicit TWorkObject(TWorkType type = wtDefault);
  ~TWorkObject();
  TWorkObject(const TWorkObject&) = delete;
  TWorkObject& operator=(const TWorkObject&) = delete;

  TWorkType WorkType;
  FSOUND_STREAM* Stream = nullptr;
  std::unique_ptr<platform::TMemoryStream> readStream;  // must outlive Stream
  std::string FileName;
  std::vector<std::string> FileNames;       // connected requests only
  FSOUND_STREAM* FurtherStream = nullptr;  // not owned: the next piece's stream
  bool PlayForever = false;
  bool PlayIfFree = false;
  bool DoNotConnectFurtherOnce = false;
  int32_t PlayFurther = -1;  // unused
  int32_t startp = -1;       // ms
  int32_t endp = -1;         // ms
  FSOUND_SYNCPOINT* sync = nullptr;
  int32_t ID;
  std::shared_ptr<TSemaphore> sHandle;  // the waiting caller's semaphore (PlayWait)
  TPlayingFinishedEvent OnPlayFin;
  bool StopEventWithOnPlayFin = true;
  int32_t StopCount = 2147483647;
  bool ifFreeOnlyThisOne = false;
  bool TerminateThread = false;
};

class TWorkList {
 public:
  // `workListHandle` is the queue lock (a semaphore of count 1), `execHandle` the player's
  // wake-up count; both must outlive the list.
  TWorkList(TSemaphore& workListHandle, TSemaphore& execHandle);
  ~TWorkList();  // frees what is still queued
  TWorkList(const TWorkList&) = delete;
  TWorkList& operator=(const TWorkList&) = delete;

  static bool IsHighPrio(TWorkType type) {
    return type == wtStopAndFreeIt || type == wtStopAndFreeAll || type == wtDeInitPlayer;
  }

  // Appends (inserts at `Index`) and signals the wake-up count once. Returns the index, or -1
  // when the item could not be queued (it is then freed).
  int32_t WorkAdd(std::unique_ptr<TWorkObject> Item);
  int32_t WorkInsert(int32_t Index, std::unique_ptr<TWorkObject> Item);
  // Takes the entry out of the queue and hands it to the caller (null for a bad index or an item
  // not queued). WorkRemove reports the former index through `FormerIndex` (-1 when not queued).
  std::unique_ptr<TWorkObject> WorkDelete(int32_t Index);
  std::unique_ptr<TWorkObject> WorkRemove(TWorkObject* Item, int32_t* FormerIndex = nullptr);
  // The if-free check: whether something is queued ahead of the item with ID `ownWorkObjectID`
  // that keeps it from playing. Walking from the start, a wtStopAndFreeAll clears the answer, a
  // wtStopAndFreeIt leaves it, anything else sets it (with `ifFreeOnlyThisOne`: only an entry
  // whose FileName equals `fName`).
  bool WorkPlaying(int32_t ownWorkObjectID, bool ifFreeOnlyThisOne, const std::string& fName);

  int32_t Count();
  int32_t HighPrioCount();
  // The entry at `Index`, null when out of range.
  TWorkObject* Items(int32_t Index);
  int32_t IndexOf(const TWorkObject* Item);
  // The first entry with this ID and kind, null when none.
  TWorkObject* Find(int32_t ID, TWorkType type);

 private:
  class TLock;
  int32_t WorkInsertLocked(int32_t Index, std::unique_ptr<TWorkObject>& Item);
  TSemaphore& FWorkListHandle;
  TSemaphore& FExecHandle;
  std::vector<std::unique_ptr<TWorkObject>> FItems;
  int32_t FHighPrioCount = 0;
};

}  // namespace sound
