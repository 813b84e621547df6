#pragma once

#include <QSize>
#include <QWidget>
#include <memory>
#include <utility>

#include "player_component.h"

// The player area: a widget that shows the loaded movie and plays through
// libmpv. One mpv core and one render context, started by the first player
// movie (a start without a video pays nothing for them), then live as long as
// the widget; a new movie or address stops or replaces playback on them.
//
// Settings fixed for this component: window mode "Transparent" (where the
// movie draws nothing, the host window shows through; alpha in a video is
// composited onto white, the host window's colour), quality "High", scale
// mode "ShowAll" (the whole picture, aspect kept, centred), network access
// "all" (any host, over http(s) and the rtmp family), no full screen.
//
// A player movie draws its controls and indicators over the video
// (player_overlay.h), and the area answers keys, the wheel, clicks and drops
// (player_input.h).
//
// Movies (assets/movies/FORMAT.md) are read off the GUI thread: Message() and
// playback follow LoadMovie a moment later, announced by movieLoaded(). Only
// layer 0 is shown; LoadMovie into another layer is accepted and ignored.
class MpvPlayer : public QWidget, public PlayerComponent {
  Q_OBJECT

 public:
  explicit MpvPlayer(QWidget* parent = nullptr);
  ~MpvPlayer() override;

  void SetWidth(float twips) override;
  void SetHeight(float twips) override;
  void LoadMovie(int layer, const QString& path) override;
  void SetVariable(const QString& name, const QString& value) override;

  // Last values set through SetWidth/SetHeight, in twips.
  float Width() const;
  float Height() const;

  // What the player area says to the user right now ("" when nothing).
  QString Message() const;

  // The audio output driver for the engine, such as "null" on a machine (or
  // in a test) that should not probe sound devices. Empty means mpv's own
  // choice, with silent playback when no device works.
  void SetAudioOutput(const QString& driver);

  // Playback state, as last reported by the engine.
  double Position() const;  // seconds into the file
  double Duration() const;  // seconds; 0 when unknown
  bool IsPaused() const;
  bool IsEndReached() const;
  bool IsIdle() const;      // nothing is playing right now
  QSize VideoSize() const;  // display size of the video; empty without one

  // Whether the mpv core exists yet: it is started by the first player movie.
  bool HasEngine() const;
  // Video frames drawn into the player area so far.
  int FramesRendered() const;
  // "loadfile" commands sent to the engine so far, and the last address sent.
  int LoadRequests() const;
  QString LastLoadedTarget() const;
  // An engine property as text, such as "frame-drop-count", read now; empty
  // without an engine or when the engine has no such value at the moment.
  QString EngineProperty(const char* name) const;

  // Playback control of the address the player movie plays. Each returns at
  // once; the state signals below follow when the engine has acted. Without
  // an address they do nothing.
  // Resumes; after Stop, or at the end, plays the address again from the start.
  void Play();
  void Pause();
  void TogglePause();
  // Closes the file, as if nothing had been played; Play opens it again.
  void Stop();
  // Frame-exact seeks, in seconds; the engine keeps the target inside the file.
  void SeekTo(double seconds);
  void SeekBy(double seconds);
  // Loudness in percent, 0 to 100 (clamped). Kept for an engine not started yet.
  void SetVolume(double percent);
  double Volume() const;
  // Whether a file is open: playing, paused, or held at its end.
  bool HasFile() const;
  // Sound off (or back on) without changing the volume.
  void SetMuted(bool muted);
  bool IsMuted() const;
  // For a network address: whether playback waits for data, and how much of
  // what it waits for has come (0 to 100). Always false for local files.
  bool IsBuffering() const;
  int BufferingPercent() const;
  // The parts of an open network file held in memory, in seconds from its
  // start; empty for local files.
  QList<std::pair<double, double>> BufferedRanges() const;
  // Whether the open file gives sound but no picture: it has no video, or
  // its video cannot be decoded.
  bool IsAudioOnly() const;
  // What of the open file cannot be decoded, such as "Audio could not be
  // decoded: unsupported codec"; empty when everything plays.
  QString DecodeProblem() const;

 signals:
  void messageChanged(const QString& message);
  // A LoadMovie has been read: the movie is in place, or Message() says why not.
  void movieLoaded();
  void fileLoaded();
  void frameRendered();
  void positionChanged(double seconds);
  void durationChanged(double seconds);
  void pausedChanged(bool paused);
  void endReachedChanged(bool reached);
  void idleChanged(bool idle);
  void videoSizeChanged(const QSize& size);
  void volumeChanged(double percent);
  void hasFileChanged(bool open);
  // The position jumped: a seek finished, whoever asked for it.
  void seeked(double seconds);
  void mutedChanged(bool muted);
  void bufferingChanged(bool buffering, int percent);
  void bufferedRangesChanged();
  void audioOnlyChanged(bool audioOnly);
  void decodeProblemChanged(const QString& problem);

 protected:
  void paintEvent(QPaintEvent* event) override;
  void resizeEvent(QResizeEvent* event) override;
  // Mouse actions inside the player area are the player's own: they must not
  // reach the window underneath.
  void mousePressEvent(QMouseEvent* event) override;
  void mouseReleaseEvent(QMouseEvent* event) override;
  void mouseDoubleClickEvent(QMouseEvent* event) override;
  void contextMenuEvent(QContextMenuEvent* event) override;

 private:
  struct Impl;
  std::unique_ptr<Impl> d_;
};
