#pragma once

#include <QFuture>
#include <QObject>
#include <QTimer>
#include <optional>

#include "media/local_file.h"
#include "player_model/playback_state.h"

// How far the address in hand has got, from the request to its end, and the
// only writer of PlaybackState::loadState(). The engine numbers each file it
// starts (its entry) and reports starts, opens and ends of files that may be
// the one before; only events for the entry in hand move the status on.
//
// Idle -> Checking (a local file looked at) -> AwaitReply (sent) -> Opening
// (the engine's number known) -> Playing <-> Ended; any of them -> Failed or
// Idle. A new address starts over from wherever the status was.
class LoadSequence : public QObject {
  Q_OBJECT

 public:
  enum class Status { kIdle, kChecking, kAwaitReply, kOpening, kPlaying, kEnded, kFailed };

  explicit LoadSequence(PlaybackState& state, QObject* parent = nullptr);

  // How long the engine may take to start on a file it was sent before it
  // counts as stuck (an open that never returns).
  void SetStuckMs(int ms) { stuckTimer_.setInterval(ms); }

  // A new address; returns its generation. `check`: a local file is looked
  // at before it is sent.
  quint64 Begin(bool check);
  bool IsGeneration(quint64 generation) const { return generation == generation_; }
  quint64 Generation() const { return generation_; }
  // Sent to the engine under `token`; `target` names it, for tests.
  void Sent(quint64 token, const QString& target);
  int Sends() const { return sends_; }
  QString LastTarget() const { return lastTarget_; }
  // The engine's reply to the load: false when it was not for the address
  // in hand or refused it (`error`), which then fails.
  enum class Reply { kIgnored, kAccepted, kRefused };
  Reply OnReply(quint64 token, qint64 entry, const QString& error);
  // The engine started a file; true when it is the one in hand.
  bool OnStarted(qint64 entry);
  // A playlist handed the entry in hand over to another.
  void Redirect(qint64 entry) { entry_ = entry; }
  // The engine opened the file it started last; true when it is the one in hand.
  bool OnOpened();
  // Held at the end, or playing again; only for the open file in hand.
  void SetEnded(bool ended);
  void Fail();
  void Halt();

  Status status() const { return status_; }
  // Whether events about `entry` are about the address in hand.
  bool IsCurrent(qint64 entry) const;
  // The engine is on the file in hand (started, perhaps not open yet).
  bool EngineOnIt() const { return IsCurrent(startedEntry_); }
  // The engine has the file in hand open.
  bool FileOpen() const;
  // Something was sent and neither failed nor was stopped: a new engine
  // must be sent it again.
  bool Sending() const;

  // A local file looked at early, while the player movie is still being
  // read; TakeEarly hands the look over when the same path is played, and
  // drops it otherwise.
  void PrepareEarly(const QByteArray& path, QFuture<local_file::Inspection> check);
  std::optional<QFuture<local_file::Inspection>> TakeEarly(const QByteArray& path);

 signals:
  // The engine did not start on a file it was sent in time.
  void stuck();

 private:
  void Set(Status status);

  PlaybackState& state_;
  Status status_ = Status::kIdle;
  quint64 generation_ = 0;
  qint64 entry_ = 0;
  qint64 startedEntry_ = 0;
  quint64 loadToken_ = 0;
  QTimer stuckTimer_;
  int sends_ = 0;
  QString lastTarget_;
  QByteArray earlyPath_;
  QFuture<local_file::Inspection> earlyCheck_;
};
