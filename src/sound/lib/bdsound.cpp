// libbdsound.so: decoding with libsndfile from memory, conversion to the device format with
// SDL_AudioStream, mixing of up to 128 channels in SDL's audio callback.
//
// One mutex guards all library state; the audio callback holds it while it mixes and releases it
// before it calls the user's callbacks, so a callback may call back into the library (stop or
// close its own stream, start another). Streams are shared objects: the event list of a running
// callback keeps a closed stream's memory alive until the callbacks are done, and a closed stream
// never reaches its callbacks again. Handles are numbers, so a stale handle is simply unknown.

#include "sound/lib/bdsound.h"
#include "sound/lib/MixerInternal.h"

#include <SDL.h>
#include <sndfile.h>

#include <algorithm>
#include <array>
#include <cstdint>
#include <cstring>
#include <fstream>
#include <iterator>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

namespace {

constexpr float cLibraryVersion = 3.75f;
constexpr int cMaxChannels = 128;
constexpr int cOutChannels = 2;
constexpr sf_count_t cDecodeFrames = 1024;

struct TSyncPoint {
  uint64_t Id;
  sf_count_t Offset;
  std::string Name;
};

struct TLibStream {
  ~TLibStream() {
    if (Decoder) sf_close(Decoder);
    if (Converter) SDL_FreeAudioStream(Converter);
  }

  uint64_t Id = 0;
  std::vector<char> FileData;  // only when opened from a file name
  const char* Data = nullptr;
  sf_count_t Size = 0;
  sf_count_t ReadPos = 0;
  SNDFILE* Decoder = nullptr;
  SF_INFO Info{};
  SDL_AudioStream* Converter = nullptr;
  std::vector<float> DecodeBuffer;

  bool Loop = false;
  bool Closed = false;
  int Channel = -1;            // -1: not playing
  bool Flushed = false;        // decoder at its end, converter flushed
  bool Ended = false;          // played to its end
  sf_count_t DecodePos = 0;    // source frames decoded since the start (or the last wrap)
  sf_count_t LoopLength = 0;   // source frames of one pass, known after the first wrap

  FSOUND_STREAMCALLBACK EndCallback = nullptr;
  void* EndUser = nullptr;
  FSOUND_STREAMCALLBACK SyncCallback = nullptr;
  void* SyncUser = nullptr;
  std::vector<TSyncPoint> SyncPoints;
};

struct TEvent {
  std::shared_ptr<TLibStream> Stream;
  FSOUND_STREAMCALLBACK Callback;
  void* User;
  std::string Name;  // sync point name
  int Len;           // sync point offset
};

struct TLibrary {
  std::mutex Lock;
  bool SdlUp = false;
  bool Ready = false;  // streams may be opened and played
  SDL_AudioDeviceID Device = 0;
  int DeviceRate = 0;
  int MaxChannels = 0;
  uint64_t NextId = 1;
  std::map<uint64_t, std::shared_ptr<TLibStream>> Streams;
  std::map<uint64_t, uint64_t> SyncOwner;  // sync point id -> stream id
  std::array<std::shared_ptr<TLibStream>, cMaxChannels> Channels;
  // Used by the audio thread only.
  std::vector<float> MixBuffer;
  std::vector<float> ChannelBuffer;
  std::vector<TEvent> Events;
};

// Never destroyed: an audio thread the program did not stop may still use it at exit.
TLibrary& Lib() {
  static TLibrary* library = new TLibrary;
  return *library;
}

template <typename T>
T* HandleOf(uint64_t id) {
  return reinterpret_cast<T*>(static_cast<uintptr_t>(id));
}
template <typename T>
uint64_t IdOf(T* handle) {
  return static_cast<uint64_t>(reinterpret_cast<uintptr_t>(handle));
}

// Caller holds the lock.
std::shared_ptr<TLibStream> Find(FSOUND_STREAM* handle) {
  const auto it = Lib().Streams.find(IdOf(handle));
  return it == Lib().Streams.end() ? nullptr : it->second;
}

// --- libsndfile reading from memory ---

sf_count_t VioLength(void* user) { return static_cast<TLibStream*>(user)->Size; }

sf_count_t VioSeek(sf_count_t offset, int whence, void* user) {
  auto* s = static_cast<TLibStream*>(user);
  sf_count_t target = offset;
  if (whence == SEEK_CUR) target += s->ReadPos;
  if (whence == SEEK_END) target += s->Size;
  if (target < 0 || target > s->Size) return -1;
  s->ReadPos = target;
  return target;
}

sf_count_t VioRead(void* ptr, sf_count_t count, void* user) {
  auto* s = static_cast<TLibStream*>(user);
  const sf_count_t n = std::max<sf_count_t>(0, std::min(count, s->Size - s->ReadPos));
  if (n > 0) std::memcpy(ptr, s->Data + s->ReadPos, static_cast<size_t>(n));
  s->ReadPos += n;
  return n;
}

sf_count_t VioWrite(const void*, sf_count_t, void*) { return 0; }

sf_count_t VioTell(void* user) { return static_cast<TLibStream*>(user)->ReadPos; }

SF_VIRTUAL_IO gVirtualIo{VioLength, VioSeek, VioRead, VioWrite, VioTell};

// --- playback state, caller holds the lock ---

void Rewind(TLibStream& s, sf_count_t frame) {
  const sf_count_t at = sf_seek(s.Decoder, frame, SEEK_SET);
  s.DecodePos = at < 0 ? 0 : at;
  SDL_AudioStreamClear(s.Converter);
  s.Flushed = false;
  s.Ended = false;
}

void StopChannel(TLibStream& s) {
  if (s.Channel >= 0) Lib().Channels[static_cast<size_t>(s.Channel)].reset();
  s.Channel = -1;
}

// Decodes one chunk into the converter; records the sync points it passes.
void Decode(const std::shared_ptr<TLibStream>& sp) {
  TLibStream& s = *sp;
  const sf_count_t got = sf_readf_float(s.Decoder, s.DecodeBuffer.data(), cDecodeFrames);
  if (got > 0) {
    if (s.SyncCallback) {
      for (const TSyncPoint& p : s.SyncPoints) {
        if (p.Offset >= s.DecodePos && p.Offset < s.DecodePos + got)
          Lib().Events.push_back({sp, s.SyncCallback, s.SyncUser, p.Name, static_cast<int>(p.Offset)});
      }
    }
    s.DecodePos += got;
    SDL_AudioStreamPut(s.Converter, s.DecodeBuffer.data(),
                       static_cast<int>(got * s.Info.channels * static_cast<sf_count_t>(sizeof(float))));
  }
  if (got < cDecodeFrames) {
    // A looping stream wraps, unless it has nothing to play at all.
    if (s.Loop && s.DecodePos > 0 && sf_seek(s.Decoder, 0, SEEK_SET) == 0) {
      s.LoopLength = s.DecodePos;
      s.DecodePos = 0;
    } else {
      SDL_AudioStreamFlush(s.Converter);
      s.Flushed = true;
    }
  }
}

// Adds up to `frames` output frames of the stream to the mix buffer.
void MixStream(const std::shared_ptr<TLibStream>& sp, int frames) {
  TLibrary& lib = Lib();
  TLibStream& s = *sp;
  const int need = frames * cOutChannels;
  int have = 0;
  while (have < need) {
    const int available = SDL_AudioStreamAvailable(s.Converter);
    if (available > 0) {
      const int bytes = std::min<int>(available, (need - have) * static_cast<int>(sizeof(float)));
      const int got = SDL_AudioStreamGet(s.Converter, lib.ChannelBuffer.data() + have, bytes);
      if (got <= 0) break;
      have += got / static_cast<int>(sizeof(float));
      continue;
    }
    if (s.Flushed) break;
    Decode(sp);
  }
  for (int i = 0; i < have; ++i) lib.MixBuffer[static_cast<size_t>(i)] += lib.ChannelBuffer[static_cast<size_t>(i)];
  if (have < need && s.Flushed && SDL_AudioStreamAvailable(s.Converter) == 0) {
    StopChannel(s);
    s.Ended = true;
    if (s.EndCallback) lib.Events.push_back({sp, s.EndCallback, s.EndUser, {}, 0});
  }
}

void AudioCallback(void*, Uint8* out, int len) {
  TLibrary& lib = Lib();
  const int frames = len / static_cast<int>(sizeof(float) * cOutChannels);
  auto* samples = reinterpret_cast<float*>(out);
  {
    std::lock_guard guard(lib.Lock);
    const auto count = static_cast<size_t>(frames * cOutChannels);
    if (lib.MixBuffer.size() < count) {
      lib.MixBuffer.resize(count);
      lib.ChannelBuffer.resize(count);
    }
    std::fill_n(lib.MixBuffer.begin(), count, 0.0f);
    for (int ch = 0; ch < lib.MaxChannels; ++ch) {
      // Copy: mixing may free the channel.
      const std::shared_ptr<TLibStream> s = lib.Channels[static_cast<size_t>(ch)];
      if (s) MixStream(s, frames);
    }
    for (size_t i = 0; i < count; ++i) samples[i] = std::clamp(lib.MixBuffer[i], -1.0f, 1.0f);
  }
  // The user's callbacks, without the lock held.
  for (size_t i = 0; i < lib.Events.size(); ++i) {
    TEvent& e = lib.Events[i];
    bool open = false;
    {
      std::lock_guard guard(lib.Lock);
      open = !e.Stream->Closed;
    }
    if (open)
      e.Callback(HandleOf<FSOUND_STREAM>(e.Stream->Id), e.Name.empty() ? nullptr : e.Name.data(),
                 e.Len, e.User);
  }
  lib.Events.clear();
}

void CloseStream(TLibStream& s) {
  TLibrary& lib = Lib();
  StopChannel(s);
  for (const TSyncPoint& p : s.SyncPoints) lib.SyncOwner.erase(p.Id);
  s.SyncPoints.clear();
  // The decoder reads the caller's block: it goes now, before the caller may free the block.
  if (s.Decoder) sf_close(s.Decoder);
  s.Decoder = nullptr;
  s.Closed = true;
  lib.Streams.erase(s.Id);
}

// Caller holds the lock.
void SetUpMixer(int deviceRate, int maxChannels, size_t bufferFrames) {
  TLibrary& lib = Lib();
  lib.Ready = true;
  lib.DeviceRate = deviceRate;
  lib.MaxChannels = std::clamp(maxChannels, 1, cMaxChannels);
  lib.MixBuffer.assign(bufferFrames * cOutChannels, 0.0f);
  lib.ChannelBuffer.assign(bufferFrames * cOutChannels, 0.0f);
  lib.Events.reserve(2 * cMaxChannels);
}

}  // namespace

namespace bdsound_internal {

void OpenWithoutDevice(int deviceRate, int maxChannels) {
  FSOUND_Close();
  std::lock_guard guard(Lib().Lock);
  SetUpMixer(deviceRate, maxChannels, 1024);
}

void MixCallback(uint8_t* out, int len) { AudioCallback(nullptr, out, len); }

}  // namespace bdsound_internal

extern "C" {

float FSOUND_GetVersion(void) { return cLibraryVersion; }

signed char FSOUND_Init(int mixrate, int maxsoftwarechannels, unsigned int) {
  FSOUND_Close();
  TLibrary& lib = Lib();
  // SDL would otherwise turn SIGINT and SIGTERM into quit events no one here reads, and the
  // program could no longer be interrupted or terminated.
  SDL_SetHint(SDL_HINT_NO_SIGNAL_HANDLERS, "1");
  if (SDL_InitSubSystem(SDL_INIT_AUDIO) != 0) return 0;
  SDL_AudioSpec want{};
  want.freq = mixrate > 0 ? mixrate : 44100;
  want.format = AUDIO_F32SYS;
  want.channels = cOutChannels;
  want.samples = 1024;
  want.callback = AudioCallback;
  SDL_AudioSpec have{};
  const SDL_AudioDeviceID device =
      SDL_OpenAudioDevice(nullptr, 0, &want, &have, SDL_AUDIO_ALLOW_FREQUENCY_CHANGE);
  if (device == 0) {
    SDL_QuitSubSystem(SDL_INIT_AUDIO);
    return 0;
  }
  {
    std::lock_guard guard(lib.Lock);
    lib.SdlUp = true;
    lib.Device = device;
    SetUpMixer(have.freq, maxsoftwarechannels, have.samples);
  }
  SDL_PauseAudioDevice(device, 0);
  return 1;
}

void FSOUND_Close(void) {
  TLibrary& lib = Lib();
  SDL_AudioDeviceID device = 0;
  bool sdlUp = false;
  {
    std::lock_guard guard(lib.Lock);
    device = lib.Device;
    sdlUp = lib.SdlUp;
    lib.Device = 0;
    lib.SdlUp = false;
    lib.Ready = false;
  }
  // Waits for a running audio callback, which needs the lock: so not under it.
  if (device != 0) SDL_CloseAudioDevice(device);
  {
    std::lock_guard guard(lib.Lock);
    while (!lib.Streams.empty()) CloseStream(*lib.Streams.begin()->second);
    lib.SyncOwner.clear();
    lib.MaxChannels = 0;
  }
  if (sdlUp) SDL_QuitSubSystem(SDL_INIT_AUDIO);
}

FSOUND_STREAM* FSOUND_Stream_Open(const char* name_or_data, unsigned int mode, int offset,
                                  int length) {
  if (name_or_data == nullptr || offset < 0) return nullptr;
  auto s = std::make_shared<TLibStream>();
  if (mode & FSOUND_LOADMEMORY) {
    if (length <= 0) return nullptr;
    s->Data = name_or_data + offset;
    s->Size = length;
  } else {
    std::ifstream file(name_or_data, std::ios::binary);
    if (!file) return nullptr;
    s->FileData.assign(std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>());
    if (static_cast<size_t>(offset) >= s->FileData.size()) return nullptr;
    s->Data = s->FileData.data() + offset;
    s->Size = static_cast<sf_count_t>(s->FileData.size()) - offset;
    if (length > 0) s->Size = std::min<sf_count_t>(s->Size, length);
  }
  s->Loop = (mode & FSOUND_LOOP_NORMAL) != 0;

  TLibrary& lib = Lib();
  std::lock_guard guard(lib.Lock);
  if (!lib.Ready) return nullptr;
  s->Decoder = sf_open_virtual(&gVirtualIo, SFM_READ, &s->Info, s.get());
  if (s->Decoder == nullptr || s->Info.channels <= 0 || s->Info.channels > 8 ||
      s->Info.samplerate <= 0)
    return nullptr;
  s->Converter = SDL_NewAudioStream(AUDIO_F32SYS, static_cast<Uint8>(s->Info.channels),
                                    s->Info.samplerate, AUDIO_F32SYS, cOutChannels, lib.DeviceRate);
  if (s->Converter == nullptr) return nullptr;
  s->DecodeBuffer.resize(static_cast<size_t>(cDecodeFrames * s->Info.channels));
  s->Id = lib.NextId++;
  lib.Streams[s->Id] = s;
  return HandleOf<FSOUND_STREAM>(s->Id);
}

signed char FSOUND_Stream_SetEndCallback(FSOUND_STREAM* stream, FSOUND_STREAMCALLBACK callback,
                                         void* userdata) {
  std::lock_guard guard(Lib().Lock);
  const auto s = Find(stream);
  if (!s) return 0;
  s->EndCallback = callback;
  s->EndUser = userdata;
  return 1;
}

signed char FSOUND_Stream_SetSyncCallback(FSOUND_STREAM* stream, FSOUND_STREAMCALLBACK callback,
                                          void* userdata) {
  std::lock_guard guard(Lib().Lock);
  const auto s = Find(stream);
  if (!s) return 0;
  s->SyncCallback = callback;
  s->SyncUser = userdata;
  return 1;
}

FSOUND_SYNCPOINT* FSOUND_Stream_AddSyncPoint(FSOUND_STREAM* stream, unsigned int pcmoffset,
                                             const char* name) {
  TLibrary& lib = Lib();
  std::lock_guard guard(lib.Lock);
  const auto s = Find(stream);
  if (!s) return nullptr;
  const uint64_t id = lib.NextId++;
  s->SyncPoints.push_back({id, static_cast<sf_count_t>(pcmoffset), name ? name : ""});
  lib.SyncOwner[id] = s->Id;
  return HandleOf<FSOUND_SYNCPOINT>(id);
}

signed char FSOUND_Stream_DeleteSyncPoint(FSOUND_SYNCPOINT* point) {
  TLibrary& lib = Lib();
  std::lock_guard guard(lib.Lock);
  const auto owner = lib.SyncOwner.find(IdOf(point));
  if (owner == lib.SyncOwner.end()) return 0;
  const auto s = lib.Streams.find(owner->second);
  if (s != lib.Streams.end()) {
    auto& points = s->second->SyncPoints;
    std::erase_if(points, [&](const TSyncPoint& p) { return p.Id == owner->first; });
  }
  lib.SyncOwner.erase(owner);
  return 1;
}

signed char FSOUND_Stream_SetTime(FSOUND_STREAM* stream, int ms) {
  std::lock_guard guard(Lib().Lock);
  const auto s = Find(stream);
  if (!s || ms < 0) return 0;
  Rewind(*s, static_cast<sf_count_t>(ms) * s->Info.samplerate / 1000);
  return 1;
}

int FSOUND_Stream_GetTime(FSOUND_STREAM* stream) {
  TLibrary& lib = Lib();
  std::lock_guard guard(lib.Lock);
  const auto s = Find(stream);
  if (!s || lib.DeviceRate <= 0) return 0;
  // What is decoded but still waits in the converter has not been played yet.
  const sf_count_t waitingOut =
      SDL_AudioStreamAvailable(s->Converter) / static_cast<int>(sizeof(float) * cOutChannels);
  sf_count_t played = s->DecodePos - waitingOut * s->Info.samplerate / lib.DeviceRate;
  if (played < 0) played = s->LoopLength > 0 ? played + s->LoopLength : 0;
  return static_cast<int>(played * 1000 / s->Info.samplerate);
}

int FSOUND_Stream_Play(int channel, FSOUND_STREAM* stream) {
  TLibrary& lib = Lib();
  std::lock_guard guard(lib.Lock);
  const auto s = Find(stream);
  if (!s || !lib.Ready) return -1;
  if (s->Channel >= 0) return s->Channel;
  if (s->Ended) Rewind(*s, 0);
  int target = -1;
  if (channel == FSOUND_FREE) {
    for (int ch = 0; ch < lib.MaxChannels && target < 0; ++ch)
      if (!lib.Channels[static_cast<size_t>(ch)]) target = ch;
  } else if (channel >= 0 && channel < lib.MaxChannels) {
    target = channel;
    if (const auto previous = lib.Channels[static_cast<size_t>(target)]) StopChannel(*previous);
  }
  if (target < 0) return -1;
  lib.Channels[static_cast<size_t>(target)] = s;
  s->Channel = target;
  return target;
}

int FSOUND_Stream_GetOpenState(FSOUND_STREAM* stream) {
  std::lock_guard guard(Lib().Lock);
  return Find(stream) ? 0 : -1;
}

signed char FSOUND_Stream_Stop(FSOUND_STREAM* stream) {
  std::lock_guard guard(Lib().Lock);
  const auto s = Find(stream);
  if (!s) return 0;
  StopChannel(*s);
  return 1;
}

signed char FSOUND_Stream_Close(FSOUND_STREAM* stream) {
  std::lock_guard guard(Lib().Lock);
  const auto s = Find(stream);
  if (!s) return 0;
  CloseStream(*s);
  return 1;
}

}  // extern "C"
