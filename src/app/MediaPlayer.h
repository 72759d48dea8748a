// The video player of the configuration window: plays one file into a panel of the window.
//
// Built on the multimedia framework's FFmpeg engine, which reports a missing or unreadable file
// while the file is opened; frames arrive through a video sink and are drawn by the display panel
// (so screenshots of the window show them). Sound is attached only when an audio output exists.
// User-interface thread only.
#pragma once

#include <QFrame>
#include <QImage>
#include <QString>

#include <memory>

class QMediaPlayer;
class QAudioOutput;
class QVideoSink;

namespace app {

// A panel that shows the latest video frame, scaled to its size.
class TVideoPanel : public QFrame {
  Q_OBJECT
 public:
  explicit TVideoPanel(QWidget* parent = nullptr);
  void SetFrame(const QImage& frame);
  const QImage& Frame() const { return FFrame; }
  int FrameCount() const { return FFrameCount; }

 protected:
  void paintEvent(QPaintEvent* event) override;

 private:
  QImage FFrame;
  int FFrameCount = 0;
};

enum class TMPModes { mpNotReady, mpStopped, mpPlaying, mpRecording, mpSeeking, mpPaused, mpOpen };

class EMediaPlayerError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

class TMediaPlayer : public QObject {
  Q_OBJECT
 public:
  explicit TMediaPlayer(QObject* parent = nullptr);
  ~TMediaPlayer() override;

  QString FileName;
  TVideoPanel* Display = nullptr;

  // Throws EMediaPlayerError when the file cannot be opened.
  void Open();
  // Throws EMediaPlayerError when nothing is open or the engine reports an error.
  void Play();
  void Stop();
  void Rewind();
  void Close();
  TMPModes Mode() const;
  // Number of times Play started the medium since it was opened.
  int PlayCount() const { return FPlayCount; }

 private:
  void ThrowOnError(const char* what) const;
  std::unique_ptr<QMediaPlayer> FPlayer;
  std::unique_ptr<QAudioOutput> FAudio;
  std::unique_ptr<QVideoSink> FSink;
  bool FOpen = false;
  int FPlayCount = 0;
};

}  // namespace app
