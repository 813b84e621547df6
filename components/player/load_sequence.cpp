#include "player/load_sequence.h"

#include <utility>

namespace {

PlaybackState::LoadState Shown(LoadSequence::Status status) {
  using Status = LoadSequence::Status;
  using LoadState = PlaybackState::LoadState;
  switch (status) {
    case Status::kIdle:
      return LoadState::kIdle;
    case Status::kChecking:
      return LoadState::kChecking;
    case Status::kAwaitReply:
    case Status::kOpening:
      return LoadState::kOpening;
    case Status::kPlaying:
      return LoadState::kPlaying;
    case Status::kEnded:
      return LoadState::kEnded;
    case Status::kFailed:
      return LoadState::kFailed;
  }
  return LoadState::kIdle;
}

}  // namespace

LoadSequence::LoadSequence(PlaybackState& state, QObject* parent) : QObject(parent), state_(state) {
  stuckTimer_.setSingleShot(true);
  stuckTimer_.setInterval(3000);
  connect(&stuckTimer_, &QTimer::timeout, this, [this] {
    if (Sending()) emit stuck();
  });
}

void LoadSequence::Set(Status status) {
  status_ = status;
  state_.SetLoadState(Shown(status));
}

quint64 LoadSequence::Begin(bool check) {
  stuckTimer_.stop();
  loadToken_ = 0;
  entry_ = 0;
  // Until it is sent, no event of the engine's is about this address.
  Set(check ? Status::kChecking : Status::kAwaitReply);
  return ++generation_;
}

void LoadSequence::Sent(quint64 token, const QString& target) {
  ++sends_;
  lastTarget_ = target;
  loadToken_ = token;
  entry_ = 0;
  Set(Status::kAwaitReply);
  stuckTimer_.start();
}

LoadSequence::Reply LoadSequence::OnReply(quint64 token, qint64 entry, const QString& error) {
  if (token != loadToken_ || status_ != Status::kAwaitReply) return Reply::kIgnored;
  if (!error.isEmpty()) {
    Fail();
    return Reply::kRefused;
  }
  entry_ = entry;
  Set(Status::kOpening);
  return Reply::kAccepted;
}

bool LoadSequence::OnStarted(qint64 entry) {
  startedEntry_ = entry;
  // The engine has moved on to a file asked of it: it is not stuck.
  if (Sending()) stuckTimer_.stop();
  return IsCurrent(entry);
}

bool LoadSequence::OnOpened() {
  if (!EngineOnIt()) return false;
  Set(state_.endReached() ? Status::kEnded : Status::kPlaying);
  return true;
}

void LoadSequence::SetEnded(bool ended) {
  if (!FileOpen()) return;
  Set(ended ? Status::kEnded : Status::kPlaying);
}

void LoadSequence::Fail() {
  stuckTimer_.stop();
  Set(Status::kFailed);
}

void LoadSequence::Halt() {
  stuckTimer_.stop();
  Set(Status::kIdle);
}

bool LoadSequence::IsCurrent(qint64 entry) const {
  const bool numbered =
      status_ == Status::kOpening || status_ == Status::kPlaying || status_ == Status::kEnded;
  return numbered && (entry_ == 0 || entry == entry_);
}

bool LoadSequence::FileOpen() const {
  return (status_ == Status::kPlaying || status_ == Status::kEnded) && EngineOnIt();
}

bool LoadSequence::Sending() const {
  return status_ == Status::kAwaitReply || status_ == Status::kOpening ||
         status_ == Status::kPlaying || status_ == Status::kEnded;
}

void LoadSequence::PrepareEarly(const QByteArray& path, QFuture<local_file::Inspection> check) {
  earlyPath_ = path;
  earlyCheck_ = std::move(check);
}

std::optional<QFuture<local_file::Inspection>> LoadSequence::TakeEarly(const QByteArray& path) {
  const bool same = !path.isEmpty() && path == std::exchange(earlyPath_, {});
  QFuture<local_file::Inspection> check = std::exchange(earlyCheck_, {});
  if (!same) return std::nullopt;
  return check;
}
