#pragma once

#include <QElapsedTimer>
#include <QFuture>
#include <QImage>
#include <QObject>
#include <QTimer>
#include <optional>

#include "engine/engine.h"
#include "media/local_file.h"
#include "media/media_address.h"
#include "player/file_reading.h"
#include "player/opening_progress.h"
#include "player/tail_probe.h"
#include "player_model/playback_state.h"

// One address at a time, from the request to playback: resolves it, has a
// local file looked at off the GUI thread, hands the engine what it may
// open, follows the engine's events and keeps the PlaybackState true. It
// owns the load state machine; the player widget owns the engine and the
// picture, and asks the session which frames belong to the file in hand.
class Session : public QObject, private engine::Listener {
  Q_OBJECT

 public:
  // What the session needs from the widget that hosts it.
  class Host {
   public:
    virtual ~Host() = default;
    // Draws a frame the engine holds, if it is one to show; `force` draws
    // the current one again (for a new layout).
    virtual void RenderFrame(bool force) = 0;
    virtual void HidePicture() = 0;
    // The engine stopped answering: put a fresh one in its place (SetEngine).
    virtual void ReplaceEngine() = 0;
  };

  struct Timings {
    // How long the engine may take to start on a new file before it counts
    // as stuck (an open that never returns) and is replaced.
    int stuckMs = 3000;
    // How long a network open goes on before the player says what it waits for.
    int progressAfterMs = 1000;
    // How often a local file is looked at for growth.
    int growthCheckMs = 500;
    // How long a step back may take before the next one goes anyway.
    int stepBackMs = 2000;
  };

  Session(PlaybackState& state, Host& host, QObject* parent = nullptr);
  // Tests shorten the waits.
  void SetTimings(const Timings& timings);
  // Tests give small files the keyframe index a large one gets.
  void SetIndexFromBytes(qint64 bytes) { indexFromBytes_ = bytes; }
  ~Session() override;

  // The engine to play on; null while there is none. A new engine carries on
  // with the address in hand.
  void SetEngine(engine::Engine* engine);

  // Plays `address` as received (the movie variable's value), or says why not.
  void Play(const QString& address);
  // Looks at a local file while the player movie is still being read; the
  // Play that follows takes the findings over instead of looking again.
  void PrepareEarly(const QString& address);
  // Resumes; after a stop, or at the end, plays the address again.
  void Resume();
  void Pause();
  void TogglePause();
  void Stop();
  // Stops whatever the engine does, also what Stop would leave alone: a new
  // movie replaces the player.
  void Halt();
  void SeekTo(double seconds);
  void SeekBy(double seconds);
  void SetVolume(double percent);
  void SetMuted(bool muted);
  // As PlayerCommands says (session_tools.cpp).
  void StepFrame(bool forward);
  void SetSpeed(double factor);
  // Asks the engine for the frame on show; pictureTaken brings it.
  void CopyPicture();
  // What the engine was given for the file open now; none while nothing is
  // open or a newer address is on its way.
  // A moment on the player's clock (from the file's first frame) on the
  // engine's (from its demuxer's first timestamp).
  double ToEngineClock(double seconds) const;
  std::optional<engine::LoadRequest> FileInHand() const;

  // Which frame the engine offers is drawn.
  enum class FrameVerdict {
    kNothing,      // nothing to do
    kSkip,         // take it without drawing; the picture stays
    kSkipAndHide,  // take it without drawing, and show no picture
    kHide,         // show no picture
    kRender,       // draw it
  };
  FrameVerdict OnFrameWaiting(engine::Engine::Waiting waiting, bool force);

  // For tests: loads sent to the engine, and what the last one was for.
  int LoadRequests() const { return loadRequests_; }
  QString LastTarget() const { return lastTarget_; }

 signals:
  // The frame asked for by CopyPicture, at the video's display size.
  void pictureTaken(const QImage& picture);

 private:
  // How far the engine has got with the address in hand.
  enum class Tracking {
    kNone,        // nothing asked for, stopped, or failed
    kChecking,    // a local file is being looked at
    kAwaitReply,  // sent; the engine's number for it not known yet
    kEntry,       // the engine plays it as entry_
  };

  void Load(const media_address::Address& address);
  void SendLoad(quint64 generation, const local_file::Inspection& inspection);
  bool IsCurrent(qint64 entry) const;
  QString Shown() const;
  void Fail(const QString& cause);
  QString FailureCause(const QString& engineError) const;
  void StartStreams();
  void UpdateDuration();
  // The length the engine gives, or the one measured from a network file's
  // tail where the engine's cannot be right (session_facts.cpp).
  double NetworkLength(double engineLength);
  void OnTailFound(qint64 endMs);
  void UpdateBuffering();
  void UpdateStreams();
  void UpdateLoadState();
  bool CheckSomethingPlayed();
  QString PictureTooLargeCause() const;
  // Why an FLV the engine gave up on could not play, from the player's own
  // reading; empty when that found nothing to say.
  QString WhatTheReaderFound() const;
  // What the player's own reading of the file says (session_facts.cpp).
  void ApplyFacts(const flv_reader::Facts& facts);
  void ForgetFacts();
  // Seconds on the file's own clock where the first frame is: what the
  // position counts from.
  void UpdateCaption();
  double Origin() const;
  double FromEngineClock(double engineSeconds) const;
  stream_facts::Tracks NamedTracks() const;
  void UpdateReport();
  void WatchOpening(bool on);
  void ShowOpening();
  void SendBackStep();
  void BackStepDone();

  // engine::Listener
  void OnProperty(engine::Property property, const engine::Value& value) override;
  void OnFileStarted(qint64 entry) override;
  void OnFileLoaded() override;
  void OnFileEnded(const engine::FileEnd& end) override;
  void OnLog(const engine::LogLine& line) override;
  void OnSeekStarted() override { seeking_ = true; }
  void OnPlaybackRestarted() override;
  void OnLoadReply(quint64 token, qint64 entry, const QString& error) override;
  void OnAnswer(quint64 token, engine::Query query, const engine::Value& value) override;
  void OnFrameReady() override { host_.RenderFrame(false); }
  void OnPicture(quint64 token, const QImage& picture) override;

  PlaybackState& state_;
  Host& host_;
  engine::Engine* engine_ = nullptr;

  // The address in hand and how far it has got.
  media_address::Address address_;
  quint64 generation_ = 0;
  Tracking tracking_ = Tracking::kNone;
  qint64 entry_ = 0;
  qint64 startedEntry_ = 0;
  quint64 loadToken_ = 0;
  local_file::Inspection inspection_;
  QTimer stuckTimer_;
  // A local file looked at early (PrepareEarly).
  QByteArray earlyPath_;
  QFuture<local_file::Inspection> earlyCheck_;
  int loadRequests_ = 0;
  QString lastTarget_;
  engine::LoadRequest lastRequest_;

  // A step back is a seek from the keyframe before, and the engine keeps
  // only the newest of several asked for at once: one goes at a time.
  bool steppingBack_ = false;
  int backStepsWaiting_ = 0;
  QTimer stepBackTimer_;
  quint64 pictureToken_ = 0;

  // The engine logs why a file failed to open, but its log lines may arrive
  // after the end-of-file event: the first one found while the file is
  // opening (or has just failed) is kept, and refines the message if late.
  bool collectingCause_ = false;
  bool loadFailed_ = false;
  QString loadCause_;
  // Started when a network address goes to the engine: a server that never
  // answers leaves no cause in the log, only the time it took.
  QElapsedTimer networkOpen_;
  // While a network address opens: how far it has got, told every so often.
  QTimer openingTimer_;
  Timings timings_;
  qint64 indexFromBytes_ = flv_index::kIndexFromBytes;
  bool detailedLog_ = false;
  // Asking the engine for fewer log lines drops the lines it still holds, a
  // failure's cause among them: done a while after the open, not at once.
  QTimer quietLogTimer_;
  OpeningProgress opening_;
  // A picture larger than the decoders take ("16000x16000"), from the log.
  QString pictureTooLarge_;

  // What the file has given so far, to tell a file that plays from one that
  // opens and ends without a single decodable frame or sample.
  bool fileOpen_ = false;
  int framesThisFile_ = 0;
  // Whether a newly decoded frame has come since the load or the file's
  // start. Until then a redraw the engine asks for (after unpausing, say)
  // draws the frame it still holds, which belongs to the file before.
  bool freshFrame_ = false;
  quint64 soundToken_ = 0;
  quint64 seekToken_ = 0;
  bool seeking_ = false;

  // The player's reading of a local FLV, and what it decided.
  FileReading reading_;
  flv_reader::Facts facts_;
  bool haveFacts_ = false;
  double factsOrigin_ = 0;
  double factsLength_ = 0;
  // Seeking by the keyframe index the engine is given (flv_index.h): how
  // much earlier to start, and the first keyframe, before which the index
  // has nothing to seek to.
  double seekLead_ = 0;
  double firstKeyframe_ = 0;

  // An http(s) file's last bytes, asked for once when it is played: its last
  // timestamp in seconds on the file's clock, -1 until known.
  TailProbe tailProbe_;
  double tailEnd_ = -1;
  bool lengthFromTail_ = false;

  // The engine's view of the file, which the state is made from.
  double engineDuration_ = 0;
  double startTime_ = 0;
  // The file's captions on the player's clock, in time order.
  QList<std::pair<double, QString>> captions_;
  bool isFlv_ = false;
  bool pictureOut_ = false;
  bool alphaFlattened_ = false;
  QSize displaySize_;
  bool lengthUnknown_ = false;
  bool watchingCache_ = false;
  bool pausedForCache_ = false;
  int cachePercent_ = 0;
  stream_facts::Tracks tracks_;
  bool tracksSettled_ = false;
  bool audioUndecodable_ = false;
  bool videoUndecodable_ = false;
  // What the player's Matroska view of a modern FLV left out, named, with
  // why (local_file.h): the engine never sees it to fail on it.
  QString viewAudioProblem_, viewVideoProblem_;
};
