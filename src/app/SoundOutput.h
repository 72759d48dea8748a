// What the configuration window needs of the sound player: whether it can play, looping playback
// of one file, and stopping everything. The program uses the sound player thread of the sound
// library (CreateGlobalPlayerOutput); tests may hand the window another implementation.
// Called on the user-interface thread only.
#pragma once

#include <memory>
#include <string>

namespace app {

class TSoundOutput {
 public:
  virtual ~TSoundOutput() = default;
  // True while no sound can be played (library not yet initialised, missing or failed).
  virtual bool Deactivated() const = 0;
  // Plays `fileName` without a finished event; PlayIfFree is off.
  virtual void Play(const std::string& fileName, bool playForever) = 0;
  virtual void StopAll(bool doOnPlayingFinished) = 0;
};

// The sound player thread with the program name "Config", loading the sound library `libName`
// (empty: libbdsound.so beside the executable or on the library path).
std::unique_ptr<TSoundOutput> CreateGlobalPlayerOutput(const std::string& libName = {});

}  // namespace app
