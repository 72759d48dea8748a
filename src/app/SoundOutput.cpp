#include "app/SoundOutput.h"

#include <QCoreApplication>
#include <QObject>

#include "sound/GlobalPlayer.h"
#include "sound/Synchronizer.h"

namespace app {

namespace {

// The sound player thread; its finished events reach the user-interface thread through the
// application's event loop.
class TGlobalPlayerOutput : public TSoundOutput {
 public:
  explicit TGlobalPlayerOutput(const std::string& libName)
      : FSync([this] {
          // Player thread: ask the user-interface thread to run the waiting call. Posted calls
          // to a receiver that is gone are dropped; the receiver outlives the player thread.
          QMetaObject::invokeMethod(&FReceiver, [this] { FSync.CheckSynchronize(); },
                                    Qt::QueuedConnection);
        }) {
    FPlayer = std::make_unique<sound::TGlobalPlayer>("Config", &FSync, libName);
  }
  ~TGlobalPlayerOutput() override {
    FPlayer.reset();  // waits for the thread, running its synchronised calls meanwhile
  }
  bool Deactivated() const override { return FPlayer->Deactivated(); }
  void Play(const std::string& fileName, bool playForever) override {
    FPlayer->Play(fileName, playForever, {}, false, false);
  }
  void StopAll(bool doOnPlayingFinished) override { FPlayer->StopAll(doOnPlayingFinished); }

 private:
  QObject FReceiver;
  sound::TQueuedSynchronizer FSync;
  std::unique_ptr<sound::TGlobalPlayer> FPlayer;
};

}  // namespace

std::unique_ptr<TSoundOutput> CreateGlobalPlayerOutput(const std::string& libName) {
  return std::make_unique<TGlobalPlayerOutput>(libName);
}

}  // namespace app
