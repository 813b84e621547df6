#pragma once

#include <QObject>
#include <QSize>
#include <QString>

#include "media/stream_facts.h"

// What the player area is doing, as one model that every view reads: the
// on-screen controls, the desktop's media widgets, tests. Only the player
// writes it (its session, and the widget for what the movie says). Each property announces its
// changes and says nothing when a write leaves it as it was.
class PlaybackState : public QObject {
  Q_OBJECT
  Q_PROPERTY(LoadState loadState READ loadState NOTIFY loadStateChanged)
  Q_PROPERTY(QString message READ message NOTIFY messageChanged)
  Q_PROPERTY(QString progress READ progress NOTIFY progressChanged)
  Q_PROPERTY(QString title READ title NOTIFY titleChanged)
  Q_PROPERTY(QString url READ url NOTIFY titleChanged)
  Q_PROPERTY(bool hasFile READ hasFile NOTIFY hasFileChanged)
  Q_PROPERTY(double position READ position NOTIFY positionChanged)
  Q_PROPERTY(double duration READ duration NOTIFY durationChanged)
  Q_PROPERTY(bool paused READ paused NOTIFY pausedChanged)
  Q_PROPERTY(bool endReached READ endReached NOTIFY endReachedChanged)
  Q_PROPERTY(double volume READ volume NOTIFY volumeChanged)
  Q_PROPERTY(bool muted READ muted NOTIFY mutedChanged)
  Q_PROPERTY(bool buffering READ buffering NOTIFY bufferingChanged)
  Q_PROPERTY(int bufferingPercent READ bufferingPercent NOTIFY bufferingChanged)
  Q_PROPERTY(bool audioOnly READ audioOnly NOTIFY audioOnlyChanged)
  Q_PROPERTY(QString decodeProblem READ decodeProblem NOTIFY decodeProblemChanged)
  Q_PROPERTY(QSize videoSize READ videoSize NOTIFY videoSizeChanged)
  Q_PROPERTY(bool live READ live NOTIFY liveChanged)
  Q_PROPERTY(QString fileReport READ fileReport NOTIFY fileReportChanged)
  Q_PROPERTY(double speed READ speed NOTIFY speedChanged)

 public:
  // Where the address in hand stands: the one status the views read, with
  // what is really separate from it (paused, sound only, buffering) beside.
  enum class LoadState {
    kIdle,      // nothing asked for, or stopped
    kChecking,  // a local file is being looked at before the engine sees it
    kOpening,   // the engine is opening it
    kPlaying,   // open: playing or paused
    kEnded,     // held at its end, last frame showing
    kFailed,    // refused or failed; message() says why
  };
  Q_ENUM(LoadState)

  explicit PlaybackState(QObject* parent = nullptr) : QObject(parent) {}

  LoadState loadState() const { return loadState_; }
  // What the player area says to the user right now ("" when nothing). One
  // about an address names it first, between double quotes, then says why:
  // `Cannot play "ADDRESS": why.`; the player area may shorten the address,
  // never why.
  QString message() const { return message_; }
  // What the player is waiting for, while opening a network address takes
  // a while ("Waiting for example.com: 12 KB received"); empty otherwise.
  QString progress() const { return progress_; }
  // What to call the video (its file name) and its address for the desktop;
  // empty before the first address.
  QString title() const { return title_; }
  QString url() const { return url_; }
  // Whether a file is open: playing, paused, or held at its end.
  bool hasFile() const { return hasFile_; }
  // Seconds from the first frame.
  double position() const { return position_; }
  // Seconds; 0 when unknown (live streams, some damaged files).
  double duration() const { return duration_; }
  bool paused() const { return paused_; }
  bool endReached() const { return endReached_; }
  // Loudness in percent, 0 to 100.
  double volume() const { return volume_; }
  bool muted() const { return muted_; }
  // A network address waits for data, and how much of the wait is done.
  bool buffering() const { return buffering_; }
  int bufferingPercent() const { return bufferingPercent_; }
  // The parts of an open network file held in memory; empty for local files.
  const stream_facts::Ranges& bufferedRanges() const { return bufferedRanges_; }
  // The open file gives sound but no picture.
  bool audioOnly() const { return audioOnly_; }
  // What of the open file cannot be decoded; empty when everything plays.
  QString decodeProblem() const { return decodeProblem_; }
  // The picture's display size; empty without one.
  QSize videoSize() const { return videoSize_; }
  // A stream with no end: a live broadcast, which has no length to seek in.
  bool live() const { return live_; }
  // What the file holds and what is wrong with it, as plain text for the
  // information view; empty while nothing is known.
  QString fileReport() const { return fileReport_; }
  // The file's cue points, in time order.
  const stream_facts::CuePoints& cuePoints() const { return cuePoints_; }
  // The file's caption for this moment (an FLV's onTextData or onCaption),
  // plain text; empty when none.
  QString caption() const { return caption_; }
  // Playback speed as a factor: 1 is normal, 2 twice as fast.
  double speed() const { return speed_; }

  // Written by the player's session.
  void SetLoadState(LoadState state);
  void SetMessage(const QString& message);
  void SetProgress(const QString& progress);
  void SetTitle(const QString& title, const QString& url);
  void SetHasFile(bool open);
  void SetPosition(double seconds);
  void SetDuration(double seconds);
  void SetPaused(bool paused);
  void SetEndReached(bool reached);
  void SetVolume(double percent);
  void SetMuted(bool muted);
  void SetBuffering(bool buffering, int percent);
  void SetBufferedRanges(const stream_facts::Ranges& ranges);
  void SetAudioOnly(bool audioOnly);
  void SetDecodeProblem(const QString& problem);
  void SetVideoSize(QSize size);
  void SetLive(bool live);
  void SetFileReport(const QString& report);
  void SetCuePoints(const stream_facts::CuePoints& cuePoints);
  void SetCaption(const QString& text);
  void SetSpeed(double factor);
  // Events rather than values.
  void AnnounceFileLoaded() { emit fileLoaded(); }
  void AnnounceSeeked(double seconds) { emit seeked(seconds); }
  void AnnouncePictureCopied(QSize size) { emit pictureCopied(size); }

 signals:
  void loadStateChanged(PlaybackState::LoadState state);
  void messageChanged(const QString& message);
  void progressChanged(const QString& progress);
  void titleChanged();
  void hasFileChanged(bool open);
  void positionChanged(double seconds);
  void durationChanged(double seconds);
  void pausedChanged(bool paused);
  void endReachedChanged(bool reached);
  void volumeChanged(double percent);
  void mutedChanged(bool muted);
  void bufferingChanged(bool buffering, int percent);
  void bufferedRangesChanged();
  void audioOnlyChanged(bool audioOnly);
  void decodeProblemChanged(const QString& problem);
  void videoSizeChanged(QSize size);
  void liveChanged(bool live);
  void fileReportChanged(const QString& report);
  void cuePointsChanged();
  void captionChanged(const QString& text);
  void speedChanged(double factor);
  // A new file has opened.
  void fileLoaded();
  // The position jumped: a seek finished, whoever asked for it.
  void seeked(double seconds);
  // A picture of the video, of this size, went to the clipboard.
  void pictureCopied(QSize size);

 private:
  LoadState loadState_ = LoadState::kIdle;
  QString message_;
  QString progress_;
  QString title_;
  QString url_;
  bool hasFile_ = false;
  double position_ = 0;
  double duration_ = 0;
  bool paused_ = false;
  bool endReached_ = false;
  double volume_ = 100;
  bool muted_ = false;
  bool buffering_ = false;
  int bufferingPercent_ = 0;
  stream_facts::Ranges bufferedRanges_;
  bool audioOnly_ = false;
  QString decodeProblem_;
  QSize videoSize_;
  bool live_ = false;
  QString fileReport_;
  stream_facts::CuePoints cuePoints_;
  QString caption_;
  double speed_ = 1;
};
