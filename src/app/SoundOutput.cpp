#include "app/SoundOutput.h"

#include "app/Dialogs.h"
#include "sound/GlobalPlayer.h"

namespace app {

namespace {

// The sound player thread. Its finished events and the facade's questions of its reads reach the
// user-interface thread through the one UiSynchronizer, which the player serves while it ends.
class TGlobalPlayerOutput : public TSoundOutput {
 public:
  explicit TGlobalPlayerOutput(const std::string& libName)
      : FPlayer(std::make_unique<sound::TGlobalPlayer>("Config", &UiSynchronizer(), libName)) {}
  ~TGlobalPlayerOutput() override {
    FPlayer.reset();  // waits for the thread, running its synchronised calls meanwhile
  }
  bool Deactivated() const override { return FPlayer->Deactivated(); }
  void Play(const std::string& fileName, bool playForever) override {
    FPlayer->Play(fileName, playForever, {}, false, false);
  }
  void StopAll(bool doOnPlayingFinished) override { FPlayer->StopAll(doOnPlayingFinished); }

 private:
  std::unique_ptr<sound::TGlobalPlayer> FPlayer;
};

}  // namespace

std::unique_ptr<TSoundOutput> CreateGlobalPlayerOutput(const std::string& libName) {
  return std::make_unique<TGlobalPlayerOutput>(libName);
}

}  // namespace app
