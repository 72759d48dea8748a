#include "app/MediaPlayer.h"

#include <QAudioDevice>
#include <QAudioOutput>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QMediaDevices>
#include <QMediaPlayer>
#include <QPainter>
#include <QTimer>
#include <QUrl>
#include <QVideoFrame>
#include <QVideoSink>

#include <filesystem>

namespace app {

TVideoPanel::TVideoPanel(QWidget* parent) : QFrame(parent) {
  setAutoFillBackground(true);
}

void TVideoPanel::SetFrame(const QImage& frame) {
  FFrame = frame;
  ++FFrameCount;
  update();
}

void TVideoPanel::paintEvent(QPaintEvent* event) {
  QFrame::paintEvent(event);
  if (FFrame.isNull()) return;
  QPainter painter(this);
  painter.drawImage(rect(), FFrame);
}

TMediaPlayer::TMediaPlayer(QObject* parent) : QObject(parent) {}

TMediaPlayer::~TMediaPlayer() { Close(); }

void TMediaPlayer::ThrowOnError(const char* what) const {
  if (!FPlayer) throw EMediaPlayerError(std::string(what) + ": no medium open");
  if (FPlayer->error() != QMediaPlayer::NoError)
    throw EMediaPlayerError(std::string(what) + ": " + FPlayer->errorString().toStdString());
  if (FPlayer->mediaStatus() == QMediaPlayer::InvalidMedia)
    throw EMediaPlayerError(std::string(what) + ": invalid medium");
}

void TMediaPlayer::Open() {
  Close();
  std::error_code ec;
  if (!std::filesystem::is_regular_file(FileName.toStdString(), ec))
    throw EMediaPlayerError("Open: file not found: " + FileName.toStdString());
  FPlayer = std::make_unique<QMediaPlayer>();
  FSink = std::make_unique<QVideoSink>();
  FPlayer->setVideoSink(FSink.get());
  if (!QMediaDevices::audioOutputs().isEmpty()) {
    FAudio = std::make_unique<QAudioOutput>();
    FPlayer->setAudioOutput(FAudio.get());
  }
  TVideoPanel* panel = Display;
  connect(FSink.get(), &QVideoSink::videoFrameChanged, this, [panel](const QVideoFrame& frame) {
    if (panel != nullptr && frame.isValid()) panel->SetFrame(frame.toImage());
  });
  FPlayer->setSource(QUrl::fromLocalFile(FileName));
  // The engine normally answers inside setSource; give a slow disk a short moment.
  if (FPlayer->mediaStatus() == QMediaPlayer::LoadingMedia && FPlayer->error() == QMediaPlayer::NoError) {
    QEventLoop loop;
    QTimer guard;
    guard.setSingleShot(true);
    connect(&guard, &QTimer::timeout, &loop, &QEventLoop::quit);
    connect(FPlayer.get(), &QMediaPlayer::mediaStatusChanged, &loop, &QEventLoop::quit);
    connect(FPlayer.get(), &QMediaPlayer::errorOccurred, &loop, &QEventLoop::quit);
    guard.start(3000);
    while (FPlayer->mediaStatus() == QMediaPlayer::LoadingMedia &&
           FPlayer->error() == QMediaPlayer::NoError && guard.isActive())
      loop.exec(QEventLoop::ExcludeUserInputEvents);
  }
  try {
    ThrowOnError("Open");
  } catch (...) {
    Close();
    throw;
  }
  FOpen = true;
  FPlayCount = 0;
}

void TMediaPlayer::Play() {
  if (!FOpen) throw EMediaPlayerError("Play: no medium open");
  ThrowOnError("Play");
  FPlayer->play();
  ++FPlayCount;
  ThrowOnError("Play");
}

void TMediaPlayer::Stop() {
  if (FPlayer) FPlayer->stop();
}

void TMediaPlayer::Rewind() {
  if (FPlayer) FPlayer->setPosition(0);
}

void TMediaPlayer::Close() {
  if (FPlayer) {
    FPlayer->stop();
    FPlayer->setVideoSink(nullptr);
    FPlayer->setAudioOutput(nullptr);
  }
  FPlayer.reset();
  FSink.reset();
  FAudio.reset();
  FOpen = false;
}

TMPModes TMediaPlayer::Mode() const {
  if (!FOpen || !FPlayer) return TMPModes::mpNotReady;
  switch (FPlayer->playbackState()) {
    case QMediaPlayer::PlayingState: return TMPModes::mpPlaying;
    case QMediaPlayer::PausedState: return TMPModes::mpPaused;
    case QMediaPlayer::StoppedState: return TMPModes::mpStopped;
  }
  return TMPModes::mpOpen;
}

}  // namespace app
