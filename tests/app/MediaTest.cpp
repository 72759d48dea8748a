#include <gtest/gtest.h>

#include <chrono>
#include <cmath>
#include <thread>

#include "WindowTestSupport.h"

namespace {

using apptest::Mode;
using apptest::TWindowRun;

std::string Sym(const QLabel* image) { return app::TForm1::SymbolOf(image).toStdString(); }

std::string SoundLib() { return std::string(std::getenv("BD_BINARY_DIR")) + "/bin/libbdsound.so"; }

// SDL's disk driver writes the mixed output (float32 stereo, 44100 Hz) to a private file.
class TDiskAudio {
 public:
  TDiskAudio() {
    char name[] = "/tmp/bd-app-audio-XXXXXX";
    const int fd = mkstemp(name);
    if (fd >= 0) close(fd);
    path = name;
    setenv("SDL_AUDIODRIVER", "disk", 1);
    setenv("SDL_DISKAUDIOFILE", path.c_str(), 1);
    unsetenv("SDL_DISKAUDIODELAY");  // about real time
  }
  ~TDiskAudio() { std::remove(path.c_str()); }
  double Seconds() const { return static_cast<double>(std::filesystem::file_size(path)) / (8.0 * 44100); }
  std::vector<float> Left() const {
    std::ifstream in(path, std::ios::binary);
    std::vector<float> left;
    float lr[2];
    while (in.read(reinterpret_cast<char*>(lr), sizeof lr)) left.push_back(lr[0]);
    return left;
  }
  std::string path;
};

// Waits on the user-interface thread (inside the start dialog) until the player has initialised
// its library or `ms` passed.
bool WaitForSound(TWindowRun& r, int ms) {
  const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
  while (r.form->SoundPlayer->Deactivated() && std::chrono::steady_clock::now() < end)
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  return !r.form->SoundPlayer->Deactivated();
}

TEST(MediaTest, WavTestPlaysItsFileThroughTheSoundLibrary) {
  TDiskAudio disk;
  TWindowRun run;
  run.SetModes({Mode(800, 600, 32, 60)}, 0);
  run.Install("MP3=0\nWAV=1\n");
  run.CopyMedia({"test.wav"});
  run.realSound = true;
  run.soundLib = SoundLib();
  bool ready = false;
  run.onDialog = [&](TWindowRun& r, const std::string& text) {
    if (text == "StartUp") ready = WaitForSound(r, 10000);
  };
  run.mediaAnswer = [&](TWindowRun&, const std::string&) -> std::optional<bool> {
    if (disk.Seconds() < 1.5) return std::nullopt;  // let it loop past the end of the file once
    return true;
  };
  ASSERT_TRUE(run.Run({}, 30000));
  ASSERT_TRUE(ready);
  EXPECT_EQ(run.mediaQuestions, std::vector<std::string>{"Question4"});
  EXPECT_EQ(Sym(run.form->AudioImg), "OK.bmp");

  // The file is 0.6 s at 523 Hz, then 0.6 s at 784 Hz. Count the zero crossings of the first
  // 0.3 s of sound.
  const std::vector<float> left = disk.Left();
  size_t start = 0;
  while (start < left.size() && std::fabs(left[start]) < 0.01f) ++start;
  ASSERT_LT(start + 44100, left.size()) << "no sound was written";
  float peak = 0;
  int crossings = 0;
  for (size_t i = start + 1; i < start + 13230; ++i) {
    peak = std::max(peak, std::fabs(left[i]));
    if ((left[i - 1] < 0) != (left[i] < 0)) ++crossings;
  }
  EXPECT_GT(peak, 0.03f);  // the library mixes with headroom
  EXPECT_NEAR(crossings, 2 * 523 * 0.3, 30);
}

TEST(MediaTest, MissingSoundLibraryFailsAudioWithoutAQuestion) {
  TWindowRun run;
  run.SetModes({Mode(800, 600, 32, 60)}, 0);
  run.Install("");
  run.CopyMedia({"test.wav", "test.mp3"});
  run.realSound = true;
  run.soundLib = "/nonexistent/libbdsound.so";
  bool ready = true;
  run.onDialog = [&](TWindowRun& r, const std::string& text) {
    if (text == "StartUp") ready = WaitForSound(r, 1500);
  };
  ASSERT_TRUE(run.Run());
  EXPECT_FALSE(ready);
  EXPECT_TRUE(run.mediaQuestions.empty());
  EXPECT_EQ(Sym(run.form->AudioImg), "Fail.bmp");
  EXPECT_FALSE(run.form->AudioHelp->isHidden());
}

TEST(MediaTest, MissingAndCorruptVideosFailWithoutAQuestion) {
  TWindowRun run;
  run.SetModes({Mode(800, 600, 32, 60)}, 0);
  run.Install("MP3=0\nWAV=0\nAVI=1\nMPEG=1\n");
  apptest::WriteFile(run.inst.root / "deutsch" / "test.mpg", std::string(4096, '\x5a'));
  ASSERT_TRUE(run.Run());
  EXPECT_TRUE(run.mediaQuestions.empty());
  EXPECT_FALSE(run.form->Video->isHidden());
  EXPECT_TRUE(run.form->Panel1->isHidden());
  EXPECT_EQ(Sym(run.form->VideoImg), "Fail.bmp");
  EXPECT_FALSE(run.form->VideoHelp->isHidden());
}

TEST(MediaTest, UnansweredVideoRestartsUntilAnswered) {
  TWindowRun run;
  run.SetModes({Mode(800, 600, 32, 60)}, 0);
  run.Install("MP3=0\nWAV=0\nAVI=1\n");
  run.CopyMedia({"test.avi"});
  run.loopInterval = 150;
  int framesSeen = 0;
  run.mediaAnswer = [&](TWindowRun& r, const std::string& q) -> std::optional<bool> {
    EXPECT_EQ(q, "Question5");
    EXPECT_FALSE(r.form->Panel1->isHidden());
    if (r.form->MediaPlayer1->PlayCount() < 4) return std::nullopt;
    framesSeen = r.form->Panel2->FrameCount();
    return true;
  };
  ASSERT_TRUE(run.Run({}, 30000));
  EXPECT_EQ(run.mediaQuestions, std::vector<std::string>{"Question5"});
  EXPECT_GT(framesSeen, 0);
  EXPECT_EQ(Sym(run.form->VideoImg), "OK.bmp");
  EXPECT_TRUE(run.form->Panel1->isHidden());
  EXPECT_FALSE(run.form->LoopTimer->isActive());
}

}  // namespace
