#pragma once

// Drives one MpvPlayer through file after file the way the program does (the
// player movie, then "myuri") and watches what each file does, while checking
// that the GUI thread keeps turning.
#include <QElapsedTimer>
#include <QImage>
#include <QTimer>
#include <QtTest>
#include <algorithm>
#include <functional>

#include "player/mpv_player.h"
#include "player/player_probe.h"

namespace playback {

// The player movie as built beside the program.
inline QString PlayerMovie() { return QStringLiteral(TIBROK_RUNTIME_DIR "/player.n"); }

// The longest time the event loop went without turning, seen by a timer that
// wants to fire every 10 ms. Time the test itself spends outside the event
// loop (writing files, checking pictures) is left out by calling Resume().
class StallMeter : public QObject {
 public:
  StallMeter() {
    timer_.setTimerType(Qt::PreciseTimer);
    connect(&timer_, &QTimer::timeout, this, [this] { Tick(); });
    clock_.start();
    timer_.start(10);
  }

  void Resume() { last_ = clock_.nsecsElapsed(); }
  void Reset() {
    Resume();
    maxNs_ = 0;
  }
  double MaxGapMs() const { return static_cast<double>(maxNs_) / 1e6; }

 private:
  void Tick() {
    const qint64 now = clock_.nsecsElapsed();
    maxNs_ = std::max(maxNs_, now - last_);
    last_ = now;
  }

  QTimer timer_;
  QElapsedTimer clock_;
  qint64 last_ = 0;
  qint64 maxNs_ = 0;
};

// Runs the event loop until `done` holds or `ms` have passed; returns `done`.
inline bool WaitUntil(const std::function<bool()>& done, int ms) {
  QElapsedTimer clock;
  clock.start();
  while (!done()) {
    if (clock.elapsed() >= ms) return false;
    QTest::qWait(5);
  }
  return true;
}

// Whether a picture shows something: the player movie's stage is black, and
// so is a frame that never got its picture (a decoder that gave up, a buffer
// never written).
inline bool HasContent(const QImage& picture) {
  for (int y = 0; y < picture.height(); ++y) {
    for (int x = 0; x < picture.width(); ++x) {
      const QRgb p = picture.pixel(x, y);
      if (std::max({qRed(p), qGreen(p), qBlue(p)}) >= 32) return true;
    }
  }
  return false;
}

// The part of the player area that the video covers (ShowAll: the largest
// rectangle of the video's shape, centred), less a pixel of scaled edge.
inline QRect PictureRect(const MpvPlayer& player) {
  const QSize video = player.State().videoSize();
  if (video.isEmpty() || player.size().isEmpty()) return {};
  const double scale =
      std::min(double(player.width()) / video.width(), double(player.height()) / video.height());
  const int w = qRound(video.width() * scale), h = qRound(video.height() * scale);
  const QRect rect((player.width() - w) / 2, (player.height() - h) / 2, w, h);
  return w > 4 && h > 4 ? rect.adjusted(1, 1, -1, -1) : rect;
}

// What the player itself draws in `rect`, without the controls that may be
// laid over it.
inline QImage OwnPicture(MpvPlayer& player, const QRect& rect) {
  QImage image(rect.size(), QImage::Format_RGB32);
  image.fill(Qt::black);
  player.render(&image, QPoint(), QRegion(rect), QWidget::RenderFlags());
  return image;
}

struct Outcome {
  QString message;       // what the player area says, "" when nothing
  bool loaded = false;   // the engine opened the file
  double advanced = 0;   // seconds the position moved past where it started
  bool ended = false;    // playback reached the end of the file
  int frames = 0;        // frames of this file drawn
  bool picture = false;  // one of them showed something (only with checkPictures)
  QSize videoSize;
  double duration = 0;
  qint64 ms = 0;  // from the request until the watch stopped

  bool Plays() const { return message.isEmpty() && loaded && (advanced > 0 || ended); }
  QString Describe() const {
    return QStringLiteral(
               "message=\"%1\" loaded=%2 advanced=%3 ended=%4 frames=%5 picture=%6 "
               "video=%7x%8 duration=%9 after %10 ms")
        .arg(message)
        .arg(loaded)
        .arg(advanced, 0, 'f', 2)
        .arg(ended)
        .arg(frames)
        .arg(picture)
        .arg(videoSize.width())
        .arg(videoSize.height())
        .arg(duration, 0, 'f', 2)
        .arg(ms);
  }
};

struct Watch {
  int boundMs = 5000;
  // Enough playback to stop watching: this many seconds of position, or the end.
  double advance = 0.5;
  // Look at the frames drawn for one with content, and keep watching a file
  // with video until one turns up (or it ends with its frames drawn).
  bool checkPictures = false;
  // Keep watching until the video shows, even while only sound plays.
  bool expectVideo = false;
  // Stop at the first frame instead (the position may not have moved yet).
  bool firstFrameIsEnough = false;
};

// Plays `address` with the player movie and watches it until it has played
// enough, shows a message, or the bound passes.
inline Outcome PlayAndWatch(MpvPlayer& player, const QString& address, const Watch& watch,
                            StallMeter* meter = nullptr) {
  Outcome out;
  bool started = false;
  double startPosition = 0;
  int framesAtLoad = 0;
  QElapsedTimer clock;
  QList<QMetaObject::Connection> connections;
  connections << QObject::connect(&player.State(), &PlaybackState::fileLoaded, &player, [&] {
    out.loaded = true;
    framesAtLoad = PlayerProbe::FramesRendered(player);
  });
  connections << QObject::connect(&player.State(), &PlaybackState::positionChanged, &player,
                                  [&](double at) {
                                    if (!out.loaded) return;
                                    if (!started) {
                                      started = true;
                                      startPosition = at;
                                    }
                                    out.advanced = std::max(out.advanced, at - startPosition);
                                  });
  if (watch.checkPictures) {
    connections << QObject::connect(&player, &MpvPlayer::frameRendered, &player, [&] {
      if (!out.loaded || out.picture) return;
      const QRect rect = PictureRect(player);
      if (!rect.isEmpty()) out.picture = HasContent(OwnPicture(player, rect));
      if (meter) meter->Resume();
    });
  }

  clock.start();
  player.LoadMovie(0, PlayerMovie());
  player.SetVariable(QStringLiteral("myuri"), address);
  const auto settled = [&] {
    out.message = player.State().message();
    if (!out.message.isEmpty()) return true;
    if (!out.loaded) return false;
    out.frames = PlayerProbe::FramesRendered(player) - framesAtLoad;
    out.ended = player.State().endReached();
    if (watch.firstFrameIsEnough && out.frames > 0) return true;
    if (out.advanced < watch.advance && !out.ended) return false;
    if (watch.expectVideo && out.frames == 0 && !out.ended) return false;
    const bool video = watch.expectVideo || !player.State().videoSize().isEmpty();
    return !watch.checkPictures || !video || out.picture || (out.ended && out.frames > 0);
  };
  WaitUntil(settled, watch.boundMs);
  out.ms = clock.elapsed();
  out.videoSize = player.State().videoSize();
  out.duration = player.State().duration();
  for (const auto& c : connections) QObject::disconnect(c);
  return out;
}

}  // namespace playback
