// The sound library through its run-time binding, on SDL's disk driver.
#include <gtest/gtest.h>
#include <unistd.h>

#include <csignal>

#include <atomic>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <mutex>
#include <thread>
#include <vector>

#include "platform/Exception.h"
#include "sound/FmodDyn.h"
#include "sound/SoundTestSupport.h"

namespace sound {
namespace {

using namespace soundtest;

std::vector<char> ReadFile(const std::string& path) {
  std::ifstream f(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(f), std::istreambuf_iterator<char>()};
}

TEST(SoundBinding, MissingLibraryLeavesNothingBound) {
  EXPECT_FALSE(FMOD_Load("/nonexistent/folder/libbdsound.so"));
  EXPECT_FALSE(FMOD_Loaded());
  EXPECT_EQ(FSOUND_Init, nullptr);
}

TEST(SoundBinding, LibraryWithoutTheEntryPointsIsAnAssertion) {
  try {
    FMOD_Load("libm.so.6");
    FAIL() << "no assertion";
  } catch (const platform::EAssertionFailed& e) {
    EXPECT_STREQ(e.what(), "Failed to find FSOUND_GetVersion in libbdsound.so");
  }
  EXPECT_FALSE(FMOD_Loaded());
  EXPECT_EQ(FSOUND_GetVersion, nullptr);
}

TEST(SoundBinding, BindsEveryEntryPointAndLooksBesideTheExecutableFirst) {
  // A bare name is found beside the executable, where no search path points.
  char exe[4096] = {};
  ASSERT_GT(readlink("/proc/self/exe", exe, sizeof exe - 1), 0);
  const auto beside = std::filesystem::path(exe).parent_path() / cSoundLibName;
  std::filesystem::remove(beside);
  std::filesystem::create_symlink(SoundLibPath(), beside);
  const bool loaded = FMOD_Load(cSoundLibName);
  std::filesystem::remove(beside);
  ASSERT_TRUE(loaded);
  for (const void* entry :
       {(const void*)FSOUND_GetVersion, (const void*)FSOUND_Init, (const void*)FSOUND_Close,
        (const void*)FSOUND_Stream_Open, (const void*)FSOUND_Stream_SetEndCallback,
        (const void*)FSOUND_Stream_SetSyncCallback, (const void*)FSOUND_Stream_AddSyncPoint,
        (const void*)FSOUND_Stream_DeleteSyncPoint, (const void*)FSOUND_Stream_SetTime,
        (const void*)FSOUND_Stream_GetTime, (const void*)FSOUND_Stream_Play,
        (const void*)FSOUND_Stream_GetOpenState, (const void*)FSOUND_Stream_Stop,
        (const void*)FSOUND_Stream_Close})
    EXPECT_NE(entry, nullptr);
  EXPECT_GE(FSOUND_GetVersion(), FMOD_VERSION);
  FMOD_Unload();
  EXPECT_EQ(FSOUND_Stream_Play, nullptr);
}

TEST(SoundBinding, VersionCheck) {
  ASSERT_TRUE(FMOD_Load(SoundLibPath()));
  EXPECT_NO_THROW(FMOD_CheckVersion());
  ASSERT_TRUE(FMOD_Load(BD_OLD_SOUND_LIB));
  try {
    FMOD_CheckVersion();
    ADD_FAILURE() << "no assertion";
  } catch (const platform::EAssertionFailed& e) {
    EXPECT_STREQ(e.what(), "FMOD-Soundkomponente: API Version ist neuer als DLL Version!");
  }
  FMOD_Unload();
}

// The library on the disk driver, a little faster than real time.
class SoundLibrary : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(FMOD_Load(SoundLibPath()));
    ASSERT_NE(FSOUND_Init(44100, 128, 0), 0);
  }
  void TearDown() override {
    if (FSOUND_Close) FSOUND_Close();
    FMOD_Unload();
  }
  FSOUND_STREAM* Open(const std::vector<char>& data, unsigned int extraMode = 0) {
    return FSOUND_Stream_Open(data.data(), FSOUND_NORMAL | FSOUND_LOADMEMORY | extraMode, 0,
                              static_cast<int>(data.size()));
  }

  TDiskOutput FOut{4};
};

struct TCallbackLog {
  std::mutex Lock;
  std::vector<std::pair<intptr_t, std::string>> Calls;  // user value, buffer text
  std::vector<std::thread::id> Threads;
  void Add(void* user, void* buff) {
    std::lock_guard g(Lock);
    Calls.emplace_back(reinterpret_cast<intptr_t>(user), buff ? static_cast<const char*>(buff) : "");
    Threads.push_back(std::this_thread::get_id());
  }
  size_t Count() {
    std::lock_guard g(Lock);
    return Calls.size();
  }
};
TCallbackLog* gLog = nullptr;

signed char LogCallback(FSOUND_STREAM*, void* buff, int, void* user) {
  gLog->Add(user, buff);
  return -1;
}
signed char CloseSelf(FSOUND_STREAM* stream, void* buff, int, void* user) {
  FSOUND_Stream_Close(stream);
  gLog->Add(user, buff);
  return -1;
}
signed char StopSelf(FSOUND_STREAM* stream, void* buff, int, void* user) {
  FSOUND_Stream_Stop(stream);
  gLog->Add(user, buff);
  return -1;
}

TEST(SoundLibraryInit, FailsWithoutAnOutputDevice) {
  setenv("SDL_AUDIODRIVER", "no-such-driver", 1);
  ASSERT_TRUE(FMOD_Load(SoundLibPath()));
  EXPECT_EQ(FSOUND_Init(44100, 128, 0), 0);
  const auto data = ReadFile(MediaPath("tone660.ogg"));
  EXPECT_EQ(FSOUND_Stream_Open(data.data(), FSOUND_NORMAL | FSOUND_LOADMEMORY, 0,
                               static_cast<int>(data.size())),
            nullptr);
  FSOUND_Close();
  FMOD_Unload();
}

TEST_F(SoundLibrary, LeavesTheProgramsSignalsAlone) {
  // Started, the library must not take over interrupting and terminating the program.
  for (const int sig : {SIGINT, SIGTERM}) {
    struct sigaction now {};
    ASSERT_EQ(sigaction(sig, nullptr, &now), 0);
    EXPECT_TRUE(!(now.sa_flags & SA_SIGINFO) && now.sa_handler == SIG_DFL) << sig;
  }
}

TEST_F(SoundLibrary, EndCallbackRunsOnTheAudioThreadWithTheUserValueAtTheEnd) {
  TCallbackLog log;
  gLog = &log;
  const auto data = ReadFile(MediaPath("tone660.ogg"));
  FSOUND_STREAM* s = Open(data);
  ASSERT_NE(s, nullptr);
  EXPECT_EQ(FSOUND_Stream_GetOpenState(s), 0);
  FSOUND_Stream_SetEndCallback(s, LogCallback, reinterpret_cast<void*>(intptr_t{4711}));
  EXPECT_GE(FSOUND_Stream_Play(FSOUND_FREE, s), 0);
  ASSERT_TRUE(WaitUntil([&] { return log.Count() == 1; }));
  EXPECT_EQ(log.Calls[0].first, 4711);
  EXPECT_NE(log.Threads[0], std::this_thread::get_id());
  EXPECT_NEAR(FSOUND_Stream_GetTime(s), 500, 5);
  // It has stopped: its channel is free again, and it does not end twice.
  std::this_thread::sleep_for(std::chrono::milliseconds(50));
  EXPECT_EQ(log.Count(), 1u);
  // Playing an ended stream starts it from the beginning.
  EXPECT_GE(FSOUND_Stream_Play(FSOUND_FREE, s), 0);
  ASSERT_TRUE(WaitUntil([&] { return log.Count() == 2; }));
  EXPECT_EQ(FSOUND_Stream_Close(s), 1);
  gLog = nullptr;
}

TEST_F(SoundLibrary, CallbacksMayStopAndCloseTheirOwnStreams) {
  TCallbackLog log;
  gLog = &log;
  constexpr int cStreams = 16;
  std::vector<std::unique_ptr<std::vector<char>>> blocks;
  std::vector<FSOUND_STREAM*> streams;
  for (int i = 0; i < cStreams; ++i) {
    blocks.push_back(std::make_unique<std::vector<char>>(ReadFile(MediaPath(i % 2 ? "tone880.mp3" : "tone440.wav"))));
    FSOUND_STREAM* s = Open(*blocks.back());
    ASSERT_NE(s, nullptr);
    FSOUND_Stream_SetEndCallback(s, CloseSelf, reinterpret_cast<void*>(intptr_t{i}));
    // A sync point whose callback stops the stream once.
    if (i % 4 == 0) {
      FSOUND_Stream_AddSyncPoint(s, 2000, "early");
      FSOUND_Stream_SetSyncCallback(s, StopSelf, reinterpret_cast<void*>(intptr_t{100 + i}));
    }
    streams.push_back(s);
    ASSERT_GE(FSOUND_Stream_Play(FSOUND_FREE, s), 0);
  }
  // The stopped ones finish once started again.
  ASSERT_TRUE(WaitUntil([&] { return log.Count() >= cStreams / 4 * 1 + cStreams * 3 / 4; }));
  for (int i = 0; i < cStreams; i += 4) FSOUND_Stream_Play(FSOUND_FREE, streams[static_cast<size_t>(i)]);
  ASSERT_TRUE(WaitUntil([&] { return log.Count() == cStreams + cStreams / 4; }));
  // Every stream closed itself; the blocks can go at once.
  for (FSOUND_STREAM* s : streams) EXPECT_EQ(FSOUND_Stream_GetOpenState(s), -1);
  blocks.clear();
  std::this_thread::sleep_for(std::chrono::milliseconds(50));
  EXPECT_EQ(log.Count(), static_cast<size_t>(cStreams + cStreams / 4));
  gLog = nullptr;
}

TEST_F(SoundLibrary, SyncPointsFireWithTheirNameUntilDeleted) {
  TCallbackLog log;
  gLog = &log;
  const auto data = ReadFile(MediaPath("steps.ogg"));
  FSOUND_STREAM* s = Open(data);
  ASSERT_NE(s, nullptr);
  FSOUND_Stream_AddSyncPoint(s, 13230, "SyncThis0");
  FSOUND_SYNCPOINT* gone = FSOUND_Stream_AddSyncPoint(s, 26460, "SyncThis1");
  ASSERT_NE(gone, nullptr);
  EXPECT_EQ(FSOUND_Stream_DeleteSyncPoint(gone), 1);
  EXPECT_EQ(FSOUND_Stream_DeleteSyncPoint(gone), 0);
  FSOUND_Stream_SetSyncCallback(s, LogCallback, reinterpret_cast<void*>(intptr_t{7}));
  FSOUND_Stream_SetEndCallback(s, LogCallback, reinterpret_cast<void*>(intptr_t{8}));
  ASSERT_GE(FSOUND_Stream_Play(FSOUND_FREE, s), 0);
  ASSERT_TRUE(WaitUntil([&] { return log.Count() == 2; }));
  EXPECT_EQ(log.Calls[0], (std::pair<intptr_t, std::string>{7, "SyncThis0"}));
  EXPECT_EQ(log.Calls[1].first, 8);
  FSOUND_Stream_Close(s);
  gLog = nullptr;
}

TEST_F(SoundLibrary, SetTimeStartsPlaybackThere) {
  TCallbackLog log;
  gLog = &log;
  const auto data = ReadFile(MediaPath("steps.ogg"));
  FSOUND_STREAM* s = Open(data);
  ASSERT_NE(s, nullptr);
  FSOUND_Stream_SetEndCallback(s, LogCallback, nullptr);
  EXPECT_EQ(FSOUND_Stream_SetTime(s, 600), 1);
  EXPECT_NEAR(FSOUND_Stream_GetTime(s), 600, 1);
  ASSERT_GE(FSOUND_Stream_Play(FSOUND_FREE, s), 0);
  ASSERT_TRUE(WaitUntil([&] { return log.Count() == 1; }));
  EXPECT_NEAR(FSOUND_Stream_GetTime(s), 900, 5);
  FSOUND_Close();
  const auto left = FOut.Left();
  const auto spans = Spans(left);
  ASSERT_EQ(spans.size(), 1u);
  EXPECT_NEAR(spans[0].Ms(), 300, 15);
  EXPECT_NEAR(SpanFrequency(left, spans[0], 20, 280), 1320, 15);
  gLog = nullptr;
}

TEST_F(SoundLibrary, LoopingStreamRepeatsWithoutEnding) {
  TCallbackLog log;
  gLog = &log;
  const auto data = ReadFile(MediaPath("tone660.ogg"));
  FSOUND_STREAM* s = Open(data, FSOUND_LOOP_NORMAL);
  ASSERT_NE(s, nullptr);
  FSOUND_Stream_SetEndCallback(s, LogCallback, nullptr);
  ASSERT_GE(FSOUND_Stream_Play(FSOUND_FREE, s), 0);
  ASSERT_TRUE(FOut.WaitForSeconds(2.0));
  EXPECT_EQ(log.Count(), 0u);
  EXPECT_GE(FSOUND_Stream_GetTime(s), 0);
  EXPECT_LT(FSOUND_Stream_GetTime(s), 500);
  FSOUND_Stream_Stop(s);
  FSOUND_Close();
  const auto left = FOut.Left();
  const auto spans = Spans(left);
  ASSERT_EQ(spans.size(), 1u);  // no gap where it wraps
  EXPECT_GT(spans[0].Ms(), 1500);
  EXPECT_NEAR(SpanFrequency(left, spans[0], 400, 1400), 660, 5);
  gLog = nullptr;
}

TEST_F(SoundLibrary, NoFreeChannelIsNegative) {
  FSOUND_Close();
  ASSERT_NE(FSOUND_Init(44100, 2, 0), 0);
  const auto data = ReadFile(MediaPath("tone660.ogg"));
  FSOUND_STREAM* a = Open(data, FSOUND_LOOP_NORMAL);
  FSOUND_STREAM* b = Open(data, FSOUND_LOOP_NORMAL);
  FSOUND_STREAM* c = Open(data, FSOUND_LOOP_NORMAL);
  EXPECT_EQ(FSOUND_Stream_Play(FSOUND_FREE, a), 0);
  EXPECT_EQ(FSOUND_Stream_Play(FSOUND_FREE, b), 1);
  EXPECT_EQ(FSOUND_Stream_Play(FSOUND_FREE, a), 0);  // already playing: its channel
  EXPECT_LT(FSOUND_Stream_Play(FSOUND_FREE, c), 0);
  FSOUND_Stream_Stop(a);
  EXPECT_EQ(FSOUND_Stream_Play(FSOUND_FREE, c), 0);
}

TEST_F(SoundLibrary, RefusesUndecodableDataAndStaleHandles) {
  const std::vector<char> junk(4000, 'x');
  EXPECT_EQ(Open(junk), nullptr);
  const auto data = ReadFile(MediaPath("tone440.wav"));
  EXPECT_EQ(FSOUND_Stream_Open(data.data(), FSOUND_NORMAL | FSOUND_LOADMEMORY, 0, 0), nullptr);
  FSOUND_STREAM* s = Open(data);
  ASSERT_NE(s, nullptr);
  EXPECT_EQ(FSOUND_Stream_Close(s), 1);
  EXPECT_EQ(FSOUND_Stream_GetOpenState(s), -1);
  EXPECT_LT(FSOUND_Stream_Play(FSOUND_FREE, s), 0);
  EXPECT_EQ(FSOUND_Stream_Close(s), 0);
  // Streams do not survive the library's close.
  FSOUND_STREAM* t = Open(data);
  FSOUND_Close();
  EXPECT_EQ(FSOUND_Stream_GetOpenState(t), -1);
}

}  // namespace
}  // namespace sound
