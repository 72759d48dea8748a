// The sound player: a thread that owns the sound library and plays files on request.
//
// Requests never touch the library: each becomes a work item in the queue, and only the player
// thread executes items. Files are read whole through the file access facade (which must exist,
// SFSCreate, for as long as the player does) and played from memory. Three ways of playing: one
// file (optionally looping), a chain of files back to back (optionally looping as a whole) and a
// segment of one file between two positions (optionally repeated). When a sound ends or is
// stopped, its finished handler (or the player's OnPlayingFinished) is called with the position
// in ms where it stopped and its file name.
//
// Threads: construct, destroy and call the queueing operations on the user-interface thread (the
// queueing operations are safe from any thread). Finished events run on the user-interface thread
// through the synchroniser given to the constructor while the player thread waits for them; a
// handler must therefore never wait for the player (with PlayWait on, a handler that queues a
// request would wait forever). Without a synchroniser, or with SyncEvents off, handlers run on the
// player thread. Exceptions of a handler are swallowed.
//
// Only one player exists at a time.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "sound/Semaphore.h"
#include "sound/Synchronizer.h"
#include "sound/WorkList.h"

namespace sound {

inline constexpr int cSampleRate = 44100;
inline constexpr int cChannels = 128;

class TGlobalPlayer;
// The one player (null when none exists).
extern std::atomic<TGlobalPlayer*> GlobalPlayer;

// The library callbacks (audio thread): each queues one item with the user value as its ID
// (wtStopAndFreeIt, wtConnectFurther, wtEndFromTo) and returns -1.
signed char FS_PlayingFinished(FSOUND_STREAM* stream, void* buff, int len, void* userdata);
signed char FS_ConnectingFinished(FSOUND_STREAM* stream, void* buff, int len, void* userdata);
signed char FS_FromToFinished(FSOUND_STREAM* stream, void* buff, int len, void* userdata);

class TGlobalPlayer {
 public:
  // Starts the player thread, which loads the library `LibName` (empty: libbdsound.so, see
  // FMOD_Load) and initialises it; until then Deactivated is true. `Synchronizer` (not owned)
  // must outlive the player.
  explicit TGlobalPlayer(const std::string& ProgramName, TSynchronizer* Synchronizer = nullptr,
                         const std::string& LibName = {});
  // Stops every sound without events, unloads the library and waits for the thread (running
  // pending synchronised calls meanwhile), then frees what is still queued.
  virtual ~TGlobalPlayer();
  TGlobalPlayer(const TGlobalPlayer&) = delete;
  TGlobalPlayer& operator=(const TGlobalPlayer&) = delete;

  virtual void Play(const std::string& fName, bool PlayForever = false,
                    TPlayingFinishedEvent OnPlayingFinishedOnce = {}, bool PlayIfFree = false,
                    bool ifFreeOnlyThisOne = false);
  virtual void PlayConnected(const std::vector<std::string>& fNames, bool PlayForever = false,
                             TPlayingFinishedEvent OnPlayingFinishedOnce = {},
                             bool PlayIfFree = false);
  // Positions in ms.
  virtual void PlayFromTo(const std::string& fName, int32_t startpos, int32_t endpos,
                          bool PlayForever = false, TPlayingFinishedEvent OnPlayingFinishedOnce = {},
                          bool PlayIfFree = false, bool ifFreeOnlyThisOne = false);
  virtual void PlayIfFree(const std::string& fName, bool PlayForever = false,
                          TPlayingFinishedEvent OnPlayingFinishedOnce = {},
                          bool ifFreeOnlyThisOne = false);
  // Stops the sounds named fName (at most stopCount of them); an empty name stops nothing.
  virtual void Stop(const std::string& fName, bool DoOnPlayingFinished,
                    int32_t stopCount = 2147483647);
  // Stops everything queued before this request, not what is queued after it.
  virtual void StopAll(bool DoOnPlayingFinished);

  bool Deactivated() const { return FDeactivated.load(); }
  bool PlayWait() const { return FPlayWait.load(); }
  void SetPlayWait(bool value) { FPlayWait.store(value); }
  bool SyncEvents() const { return FSyncEvents.load(); }
  void SetSyncEvents(bool value) { FSyncEvents.store(value); }
  TPlayingFinishedEvent OnPlayingFinished() const;
  void SetOnPlayingFinished(TPlayingFinishedEvent handler);

 protected:
  virtual void Execute();
  virtual void InternalPlay(TWorkObject* item);
  virtual void InternalPlayConnected(TWorkObject* item);
  virtual void InternalConnectFurther(TWorkObject* item);
  virtual void InternalPlayFromTo(TWorkObject* item);
  virtual void InternalEndFromTo(TWorkObject* item);
  virtual void InternalStop(TWorkObject* item, bool StopAll);
  virtual void InternalInitPlayer(TWorkObject* item);
  virtual void InternalDeInitPlayer(TWorkObject* item);

 private:
  void Dispatch(TWorkObject* item);
  void Queue(std::unique_ptr<TWorkObject> item, bool wait);
  void QueueStopFor(int32_t ID, TPlayingFinishedEvent onPlayFin = {});
  void DoPlayingFinished(int32_t GlobalEndPos, const std::string& WavFileName,
                         const TPlayingFinishedEvent& handler);
  void SyncPlayingFinished();
  bool Dropped(TWorkObject* item);
  bool OpenFromFile(TWorkObject* item, bool loop);
  void RemoveAndFree(TWorkObject* item);

  std::string pName;
  std::string FLibName;
  TSynchronizer* FSynchronizer;
  std::atomic<bool> FPlayWait{false};
  std::atomic<bool> FSyncEvents{true};
  mutable std::mutex FHandlerLock;
  TPlayingFinishedEvent FOnPlayingFinished;
  std::atomic<bool> FDeactivated{true};
  int32_t lastGlobalEndPos = 0;
  std::string lastWavFileName;
  TPlayingFinishedEvent lastOnPlayingFinished;

  std::unique_ptr<TSemaphore> ExecHandle;
  std::unique_ptr<TSemaphore> WorkListHandle;
  std::unique_ptr<TWorkList> WorkList;
  std::atomic<bool> FTerminated{false};
  std::atomic<bool> FFinished{false};
  std::thread FThread;
};

}  // namespace sound
