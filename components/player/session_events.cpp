#include <QPointer>
#include <QRegularExpression>
#include <algorithm>

#include "engine/engine_options.h"
#include "player/session.h"

// How the engine's reports become the playback state: the properties it
// watches, the file's start, opening and end, its log, and the answers to
// what the session asked.
namespace {

using engine::Property;

// The part of an engine log line that names the cause: "Cannot open file
// 'x': No such file or directory" gives "No such file or directory".
QString CauseOf(const QString& logLine) {
  QString line = logLine.trimmed();
  // The message adds its own full stop.
  while (line.endsWith(u'.')) line.chop(1);
  const qsizetype colon = line.lastIndexOf(QLatin1String(": "));
  const QString cause = colon < 0 ? line : line.mid(colon + 2);
  return cause.isEmpty() ? line : cause;
}

template <typename T>
T ValueOr(const engine::Value& value, T fallback) {
  const T* held = std::get_if<T>(&value);
  return held ? *held : fallback;
}

}  // namespace

void Session::StartStreams() {
  lengthUnknown_ = false;
  const bool network = address_.IsNetwork();
  if (network != watchingCache_) {
    watchingCache_ = network;
    engine_->WatchCache(network);
    if (!network) state_.SetBufferedRanges({});
  }
  tracks_ = {};
  tracksSettled_ = false;
  audioUndecodable_ = false;
  videoUndecodable_ = false;
  UpdateStreams();
  UpdateBuffering();
}

void Session::UpdateDuration() {
  if (haveFacts_) {
    state_.SetDuration(factsLength_);
    state_.SetLive(false);
    return;
  }
  const double length = isFlv_ && startTime_ > 0 && startTime_ < engineDuration_
                            ? engineDuration_ - startTime_
                            : engineDuration_;
  const bool fromTail = lengthFromTail_;
  const double network = NetworkLength(length);
  state_.SetDuration(lengthUnknown_ ? 0 : network);
  state_.SetLive(address_.IsNetwork() && lengthUnknown_);
  if (fromTail != lengthFromTail_) UpdateReport();
}

void Session::UpdateBuffering() {
  const bool now = address_.IsNetwork() && pausedForCache_;
  state_.SetBuffering(now, now ? cachePercent_ : 0);
}

void Session::UpdateStreams() {
  const auto [soundOnly, problem] = stream_facts::Judge(
      NamedTracks(), tracksSettled_, audioUndecodable_ || !viewAudioProblem_.isEmpty(),
      videoUndecodable_ || !viewVideoProblem_.isEmpty());
  state_.SetAudioOnly(soundOnly);
  state_.SetDecodeProblem(problem);
  UpdateReport();
}

void Session::UpdateLoadState() {
  if (tracking_ != Tracking::kEntry || !fileOpen_) return;
  state_.SetLoadState(state_.endReached() ? PlaybackState::LoadState::kEnded
                                          : PlaybackState::LoadState::kPlaying);
}

bool Session::CheckSomethingPlayed() {
  // A file that opens and ends without one frame or sample to show for it
  // would leave a bare stage: say so instead. Whether sound was decoded is
  // asked of the engine now: a change notice would miss a file whose sound
  // has the format of the file before.
  if (!fileOpen_ || !IsCurrent(startedEntry_)) return true;
  // The last frame may still be waiting to be drawn.
  QPointer<Session> alive(this);
  host_.RenderFrame(false);
  if (!alive) return false;
  if (framesThisFile_ == 0 && engine_) soundToken_ = engine_->Ask(engine::Query::kSampleRate);
  return true;
}

void Session::OnProperty(Property property, const engine::Value& value) {
  const bool known = !std::holds_alternative<std::monostate>(value);
  switch (property) {
    case Property::kPosition:
      state_.SetPosition(FromEngineClock(ValueOr(value, 0.0)));
      UpdateCaption();
      break;
    case Property::kDuration: {
      const double reported = ValueOr(value, 0.0);
      // A network stream with no length in its header reports as its length
      // the newest time received so far, growing as data comes: no length.
      // (A length that is corrected once, say when the first timestamp turns
      // out to be late, is no growth.)
      // A server that handed over the file's end has a file of known size.
      if (address_.IsNetwork() && tracksSettled_ && engineDuration_ > 0 &&
          reported > engineDuration_ && tailEnd_ < 0) {
        lengthUnknown_ = true;
      }
      engineDuration_ = reported;
      UpdateDuration();
      break;
    }
    case Property::kStartTime:
      startTime_ = ValueOr(value, 0.0);
      UpdateDuration();
      break;
    case Property::kFileFormat: {
      const QString format = ValueOr(value, QString());
      isFlv_ = format == QLatin1String("flv") || format == QLatin1String("live_flv");
      UpdateDuration();
      break;
    }
    case Property::kPaused:
      state_.SetPaused(ValueOr(value, false));
      break;
    case Property::kEndReached: {
      const bool reached = ValueOr(value, false);
      if (reached == state_.endReached()) break;
      if (reached && !CheckSomethingPlayed()) break;
      state_.SetEndReached(reached);
      UpdateLoadState();
      break;
    }
    case Property::kCoreIdle:
    case Property::kSeekable:
      break;
    case Property::kSpeed:
      if (known) state_.SetSpeed(ValueOr(value, 1.0));
      break;
    case Property::kNoFile:
      state_.SetHasFile(!ValueOr(value, true));
      break;
    case Property::kVolume:
      if (known) state_.SetVolume(ValueOr(value, 100.0));
      break;
    case Property::kMuted:
      state_.SetMuted(ValueOr(value, false));
      break;
    case Property::kPausedForCache:
      pausedForCache_ = ValueOr(value, false);
      UpdateBuffering();
      break;
    case Property::kCacheBuffering:
      cachePercent_ = int(std::clamp<qint64>(ValueOr<qint64>(value, 0), 0, 100));
      UpdateBuffering();
      break;
    case Property::kBufferedRanges:
      // Reports sent before the watch ended still arrive.
      if (watchingCache_ && known) {
        state_.SetBufferedRanges(ValueOr(value, stream_facts::Ranges()));
      }
      break;
    case Property::kTracks:
      tracks_ = ValueOr(value, stream_facts::Tracks());
      UpdateStreams();
      break;
    case Property::kPictureOut:
      pictureOut_ = ValueOr(value, false);
      if (!pictureOut_) host_.HidePicture();
      break;
    case Property::kDisplayWidth:
    case Property::kDisplayHeight: {
      QSize size = displaySize_;
      (property == Property::kDisplayWidth ? size.rwidth() : size.rheight()) =
          int(ValueOr<qint64>(value, 0));
      if (size == displaySize_) break;
      displaySize_ = size;
      state_.SetVideoSize(size);
      // A paused picture would otherwise keep the old layout.
      host_.RenderFrame(true);
      break;
    }
    case Property::kAlpha: {
      // Only while needed: flattening costs a full-frame blend.
      const bool alpha = !ValueOr(value, QString()).isEmpty();
      if (alpha != alphaFlattened_) {
        alphaFlattened_ = alpha;
        engine_->SetFlattenAlpha(alpha);
      }
      break;
    }
  }
}

void Session::OnFileStarted(qint64 entry) {
  startedEntry_ = entry;
  seeking_ = false;
  // The engine has moved on to the file asked for: it is not stuck.
  if (tracking_ == Tracking::kAwaitReply || tracking_ == Tracking::kEntry) stuckTimer_.stop();
  if (!IsCurrent(entry)) return;
  // Steps asked for in the file before are not for this one.
  backStepsWaiting_ = 0;
  // Anything logged before this belongs to the previous file.
  loadCause_.clear();
  fileOpen_ = false;
  framesThisFile_ = 0;
  freshFrame_ = false;
}

void Session::OnFileLoaded() {
  if (!IsCurrent(startedEntry_)) return;
  WatchOpening(false);
  // Opened: what is logged from now on is about playing, not opening.
  collectingCause_ = false;
  fileOpen_ = true;
  tracksSettled_ = true;
  UpdateDuration();
  UpdateStreams();
  UpdateLoadState();
  state_.AnnounceFileLoaded();
}

void Session::OnFileEnded(const engine::FileEnd& end) {
  if (!IsCurrent(end.entry)) return;
  if (end.reason == engine::EndReason::kRedirect && end.redirectedTo > 0) {
    // A playlist hands over to its first entry.
    entry_ = end.redirectedTo;
    return;
  }
  if (end.reason != engine::EndReason::kError) return;
  tracking_ = Tracking::kNone;
  stuckTimer_.stop();
  loadFailed_ = true;
  Fail(FailureCause(end.error));
}

void Session::OnLog(const engine::LogLine& line) {
  if (!line.error) {
    if (openingTimer_.isActive()) opening_.Note(line);
    return;
  }
  // The decoders refuse pictures larger than the player allows; without a
  // word of our own the user would see only "could not be decoded".
  static const QRegularExpression kTooLarge(
      QStringLiteral("Picture size (\\d+x\\d+) exceeds specified max pixel count"));
  if (const QRegularExpressionMatch big = kTooLarge.match(line.text); big.hasMatch()) {
    pictureTooLarge_ = big.captured(1);
    videoUndecodable_ = true;
    tracks_.video.description = PictureTooLargeCause();
    UpdateStreams();
    return;
  }
  // A stream whose decoder cannot start is left out and the rest plays; the
  // engine says so only in its audio ("ad") or video ("vd") decoder's log.
  if (line.text.startsWith(QLatin1String("Failed to initialize a decoder")) &&
      (line.part == "ad" || line.part == "vd")) {
    (line.part == "ad" ? audioUndecodable_ : videoUndecodable_) = true;
    UpdateStreams();
    return;
  }
  // Only the parts that open files and streams say why opening failed;
  // demuxer and decoder complaints are usually about the file before.
  static const QList<QByteArray> kOpeners{"file", "stream", "ffmpeg", "cplayer"};
  if (!collectingCause_ || !loadCause_.isEmpty() || !kOpeners.contains(line.part)) return;
  loadCause_ = CauseOf(line.text);
  if (loadFailed_) Fail(FailureCause(QString()));
}

QString Session::PictureTooLargeCause() const {
  return QStringLiteral("its picture is %1 pixels, larger than the %2 the player decodes")
      .arg(pictureTooLarge_, QLatin1String(engine_options::kMaxPictureText));
}

void Session::OnPlaybackRestarted() {
  if (steppingBack_) BackStepDone();
  // The observed position may still be on its way; whoever listens for the
  // jump wants the position it landed on. Asked without waiting: a damaged
  // file can keep the engine busy long enough to freeze the window.
  if (std::exchange(seeking_, false) && engine_)
    seekToken_ = engine_->Ask(engine::Query::kPosition);
}

void Session::OnLoadReply(quint64 token, qint64 entry, const QString& error) {
  if (token != loadToken_ || tracking_ != Tracking::kAwaitReply) return;
  if (!error.isEmpty()) {
    tracking_ = Tracking::kNone;
    stuckTimer_.stop();
    collectingCause_ = false;
    Fail(error);
    return;
  }
  tracking_ = Tracking::kEntry;
  entry_ = entry;
}

void Session::OnAnswer(quint64 token, engine::Query query, const engine::Value& value) {
  if (query == engine::Query::kPosition && token == seekToken_) {
    if (const double* landed = std::get_if<double>(&value)) {
      state_.SetPosition(FromEngineClock(*landed));
      UpdateCaption();
    }
    state_.AnnounceSeeked(state_.position());
  } else if (query == engine::Query::kSampleRate && token == soundToken_) {
    const bool sound = ValueOr<qint64>(value, 0) > 0;
    if (sound || !fileOpen_ || framesThisFile_ > 0 || !IsCurrent(startedEntry_)) return;
    Fail(QStringLiteral("it holds no picture or sound that could be decoded"));
  }
}
