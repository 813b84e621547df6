#pragma once

#include <QImage>
#include <QObject>
#include <QTimer>
#include <optional>

#include "engine/engine.h"
#include "media/local_file.h"
#include "media/media_address.h"
#include "player/back_steps.h"
#include "player/failure_diagnosis.h"
#include "player/file_facts.h"
#include "player/file_reading.h"
#include "player/frame_gate.h"
#include "player/length_clock.h"
#include "player/load_sequence.h"
#include "player/network_opening.h"
#include "player/opening_watch.h"
#include "player/tail_probe.h"
#include "player_model/playback_state.h"
#include "player_model/player_commands.h"

// One address at a time, from the request to playback, and what may be asked
// of it. The session routes the engine's events to a few collaborators that
// each own one concern (how far the load has got, why it failed, the length
// and clock, what the player's reading says, which frames to draw, steps
// back, a network open's progress) and keeps the PlaybackState true from
// them. The player widget owns the engine and the picture.
class Session : public QObject, public PlayerCommands, private engine::Listener {
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
  ~Session() override;
  // Tests shorten the waits.
  void SetTimings(const Timings& timings);
  // Tests give small files the keyframe index a large one gets.
  void SetIndexFromBytes(qint64 bytes) { indexFromBytes_ = bytes; }

  // The engine to play on; null while there is none. A new engine carries on
  // with the address in hand.
  void SetEngine(engine::Engine* engine);

  // Plays `address` as received (the movie variable's value), or says why not.
  void PlayAddress(const QString& address);
  // Looks at a local file while the player movie is still being read; the
  // PlayAddress that follows takes the findings over instead of looking again.
  void PrepareEarly(const QString& address);
  // Stops whatever the engine does, also what Stop would leave alone, and
  // forgets the address: a new movie replaces the player.
  void Halt();
  // Whether the commands that start playback may (only the player movie plays).
  void SetPlayable(bool playable) { playable_ = playable; }

  // PlayerCommands
  void Play() override;
  void Pause() override;
  void TogglePause() override;
  void Stop() override;
  void SeekTo(double seconds) override;
  void SeekBy(double seconds) override;
  void SetVolume(double percent) override;
  void SetMuted(bool muted) override;
  void StepFrame(bool forward) override;
  void SetSpeed(double factor) override;
  void CopyPicture() override;
  void OpenAddress(const QString& address) override { emit openRequested(address); }

  // A moment on the player's clock (from the file's first frame) on the
  // engine's (from its demuxer's first timestamp).
  double ToEngineClock(double seconds) const { return clock_.ToEngine(seconds); }
  // What the engine was given for the file open now; none while nothing is
  // open or a newer address is on its way.
  std::optional<engine::LoadRequest> FileInHand() const;

  // Takes note of the frame the engine offers and says what to do with it.
  FrameGate::Verdict AdmitFrame(engine::Engine::Waiting waiting, bool force);

  // For tests: loads sent to the engine, and what the last one was for.
  int LoadRequests() const { return load_.Sends(); }
  QString LastTarget() const { return load_.LastTarget(); }

 signals:
  // The frame asked for by CopyPicture, at the video's display size.
  void pictureTaken(const QImage& picture);
  // Another address to play the way the user's own choice is played.
  void openRequested(const QString& address);

 private:
  void Load(const media_address::Address& address);
  // An http(s) address: the player's own connection, opened off this thread.
  void OpenHttp(quint64 generation);
  void SendLoad(quint64 generation, const local_file::Inspection& inspection);
  void Stopped();
  void ForgetFile(bool network);
  QString Shown() const;
  void Fail(const QString& cause);
  void FailFromEngine(const QString& engineError);
  void ApplyFacts(const flv_reader::Facts& facts);
  void FactsChanged();
  void UpdateLength();
  void UpdateStreams();
  void UpdateReport();
  // What the player waits for at the end of a file still being written.
  void UpdateWaiting();
  void UpdateBuffering();
  bool CheckSomethingPlayed();
  bool SendBackStep();

  // engine::Listener
  void OnProperty(engine::Property property, const engine::Value& value) override;
  void OnFileStarted(qint64 entry) override;
  void OnFileLoaded() override;
  void OnFileEnded(const engine::FileEnd& end) override;
  void OnLog(const engine::LogLine& line) override;
  void OnSeekStarted() override { asked_.seeking = true; }
  void OnPlaybackRestarted() override;
  void OnLoadReply(quint64 token, qint64 entry, const QString& error) override;
  void OnAnswer(quint64 token, engine::Query query, const engine::Value& value) override;
  void OnFrameReady() override { host_.RenderFrame(false); }
  void OnPicture(quint64 token, const QImage& picture) override;

  PlaybackState& state_;
  Host& host_;
  engine::Engine* engine_ = nullptr;
  bool playable_ = true;
  qint64 indexFromBytes_ = flv_index::kIndexFromBytes;

  // The address in hand, what was found of it before it was sent, and what
  // the engine was given.
  media_address::Address address_;
  local_file::Inspection inspection_;
  engine::LoadRequest request_;

  LoadSequence load_;
  FailureDiagnosis diagnosis_;
  OpeningWatch opening_;
  LengthClock clock_;
  FrameGate frames_;
  BackSteps backSteps_;
  // The player's own reading of a local FLV, and an http(s) file's tail.
  FileReading reading_;
  FileFacts facts_;
  TailProbe tail_;
  // An http(s) address's connection, opened by the player, and what it was
  // found to hold.
  NetworkOpening network_;
  local_file::Format networkFormat_ = local_file::Format::kFlv;
  // rtmp is the engine's own: an open that brings no file within this is
  // given up, however the server drips (a byte now and then, junk after the
  // handshake).
  QTimer rtmpDeadline_;
  static constexpr int kRtmpOpenMs = 20000;

  // The engine's view of the file's streams, and what of them cannot be decoded.
  struct Streams {
    stream_facts::Tracks tracks;
    bool audioUndecodable = false;
    bool videoUndecodable = false;
    QString pictureTooLarge;  // "16000x16000", from the decoders' refusal
    // What the player's Matroska view of a modern FLV left out, named, with
    // why (local_file.h): the engine never sees it to fail on it.
    QString viewAudioProblem, viewVideoProblem;
  } streams_;
  // A network file's buffering, reported while it plays.
  struct Cache {
    bool watching = false;
    bool paused = false;
    int percent = 0;
  } cache_;
  // Answers awaited from the engine.
  struct Asked {
    quint64 picture = 0;
    quint64 sound = 0;
    quint64 soundRate = 0;
    quint64 seek = 0;
    bool seeking = false;
  } asked_;
  bool alphaFlattened_ = false;
  // The progress shown is the wait at the end of a file being written.
  bool waitingShown_ = false;
};
