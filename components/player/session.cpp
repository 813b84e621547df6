#include "session.h"

#include <QDir>
#include <QPointer>
#include <QRegularExpression>
#include <QUrl>
#include <algorithm>
#include <cmath>

#include "engine_options.h"
#include "off_thread.h"
#include "path_bytes.h"

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

local_file::Inspection Unreadable() {
  local_file::Inspection inspection;
  inspection.error = QStringLiteral("it could not be read");
  return inspection;
}

QFuture<local_file::Inspection> InspectOffThread(const QByteArray& path) {
  return off_thread::Run([path] { return local_file::Inspect(path); });
}

}  // namespace

Session::Session(PlaybackState& state, Host& host, QObject* parent)
    : QObject(parent), state_(state), host_(host) {
  stuckTimer_.setSingleShot(true);
  stuckTimer_.setInterval(timings_.stuckMs);
  openingTimer_.setInterval(250);
  connect(&openingTimer_, &QTimer::timeout, this, &Session::ShowOpening);
  connect(&stuckTimer_, &QTimer::timeout, this, [this] {
    if (tracking_ == Tracking::kNone || tracking_ == Tracking::kChecking) return;
    // The load goes again to the engine that takes the old one's place.
    host_.ReplaceEngine();
  });
}

void Session::SetTimings(const Timings& timings) {
  timings_ = timings;
  stuckTimer_.setInterval(timings.stuckMs);
  openingTimer_.setInterval(std::max(timings.progressAfterMs / 4, 1));
}

Session::~Session() {
  if (engine_) engine_->SetListener(nullptr);
}

void Session::SetEngine(engine::Engine* engine) {
  if (engine_) engine_->SetListener(nullptr);
  engine_ = engine;
  if (!engine_) return;
  engine_->SetListener(this);
  const bool wasLoading = tracking_ == Tracking::kAwaitReply || tracking_ == Tracking::kEntry;
  watchingCache_ = false;
  if (wasLoading) SendLoad(generation_, inspection_);
}

void Session::Play(const QString& address) {
  const media_address::Address resolved = media_address::Resolve(address, QDir::currentPath());
  if (resolved.IsRefused()) {
    Halt();
    state_.SetMessage(QStringLiteral("Cannot play \"%1\": %2.").arg(address, resolved.reason));
    state_.SetLoadState(PlaybackState::LoadState::kFailed);
    return;
  }
  Load(resolved);
}

void Session::PrepareEarly(const QString& address) {
  earlyPath_.clear();
  earlyCheck_ = {};
  const media_address::Address resolved = media_address::Resolve(address, QDir::currentPath());
  if (!resolved.IsLocal()) return;
  earlyPath_ = resolved.path;
  earlyCheck_ = InspectOffThread(resolved.path);
}

void Session::Load(const media_address::Address& address) {
  state_.SetMessage({});
  host_.HidePicture();
  freshFrame_ = false;
  const quint64 generation = ++generation_;
  address_ = address;
  collectingCause_ = true;
  loadFailed_ = false;
  loadCause_.clear();
  inspection_ = {};
  if (address.IsNetwork()) {
    SendLoad(generation, {});
    return;
  }
  // Local files are looked at first, off this thread: the look opens and
  // reads them.
  tracking_ = Tracking::kChecking;
  state_.SetLoadState(PlaybackState::LoadState::kChecking);
  const QFuture<local_file::Inspection> check =
      address.path == std::exchange(earlyPath_, {}) ? earlyCheck_ : InspectOffThread(address.path);
  earlyCheck_ = {};
  off_thread::WhenDone(
      this, check,
      [this, generation](const local_file::Inspection& found) {
        // A newer load, or a stop, has taken over meanwhile.
        if (generation != generation_ || tracking_ != Tracking::kChecking) return;
        if (!found.error.isEmpty()) {
          Halt();
          Fail(found.error);
          return;
        }
        inspection_ = found;
        SendLoad(generation, found);
      },
      Unreadable());
}

void Session::SendLoad(quint64 generation, const local_file::Inspection& inspection) {
  if (!engine_ || generation != generation_) return;
  tracking_ = Tracking::kAwaitReply;
  state_.SetLoadState(PlaybackState::LoadState::kOpening);
  ++loadRequests_;
  lastTarget_ = Shown();
  state_.SetTitle(address_.Title(), address_.Url());
  if (address_.IsNetwork()) {
    networkOpen_.start();
  } else {
    networkOpen_.invalidate();
  }
  pictureTooLarge_.clear();
  WatchOpening(address_.IsNetwork());
  StartStreams();

  engine::LoadRequest request;
  if (address_.IsLocal()) {
    request.source = engine::LoadRequest::Source::kLocalFile;
    request.file = inspection.file;
    request.format = inspection.format == local_file::Format::kMp4
                         ? engine::LoadRequest::Format::kMp4
                         : engine::LoadRequest::Format::kFlv;
    request.ignorePreviousTagSizes = inspection.previousTagSizesWrong;
  } else {
    request.source = address_.protocol == media_address::Protocol::kRtmp
                         ? engine::LoadRequest::Source::kRtmp
                         : engine::LoadRequest::Source::kHttp;
    request.url = address_.url;
  }
  loadToken_ = engine_->Load(request);
  stuckTimer_.start();
}

void Session::Resume() {
  if (!engine_ || address_.IsRefused()) return;
  if (!state_.hasFile() && tracking_ == Tracking::kNone) {
    Load(address_);
    return;
  }
  // keep-open holds the last frame paused at the end; resuming there would
  // pause again at once.
  if (state_.endReached()) SeekTo(0);
  engine_->SetPaused(false);
}

void Session::Pause() {
  if (engine_ && state_.hasFile()) engine_->SetPaused(true);
}

void Session::TogglePause() {
  if (state_.paused() || !state_.hasFile()) {
    Resume();
  } else {
    Pause();
  }
}

void Session::Stop() {
  // Also while the file is still opening.
  if (engine_ && (state_.hasFile() || tracking_ != Tracking::kNone)) Halt();
}

void Session::Halt() {
  WatchOpening(false);
  tracking_ = Tracking::kNone;
  stuckTimer_.stop();
  freshFrame_ = false;
  collectingCause_ = false;
  host_.HidePicture();
  state_.SetLoadState(PlaybackState::LoadState::kIdle);
  if (engine_) engine_->Stop();
}

void Session::SeekTo(double seconds) {
  if (!engine_ || !state_.hasFile() || !std::isfinite(seconds)) return;
  engine_->SeekTo(std::max(seconds, 0.0));
}

void Session::SeekBy(double seconds) {
  if (!engine_ || !state_.hasFile() || !std::isfinite(seconds)) return;
  engine_->SeekBy(seconds);
}

void Session::SetVolume(double percent) {
  if (std::isnan(percent)) return;
  const double clamped = std::clamp(percent, 0.0, 100.0);
  if (engine_) engine_->SetVolume(clamped);
  // Reported now rather than when the engine confirms: the confirmation
  // then matches and says nothing twice.
  state_.SetVolume(clamped);
}

void Session::SetMuted(bool muted) {
  if (engine_) engine_->SetMuted(muted);
  state_.SetMuted(muted);
}

bool Session::IsCurrent(qint64 entry) const {
  return tracking_ == Tracking::kEntry && (entry_ == 0 || entry == entry_);
}

QString Session::Shown() const {
  return address_.IsLocal() ? path_bytes::Decode(address_.path) : address_.url;
}

void Session::Fail(const QString& cause) {
  WatchOpening(false);
  state_.SetMessage(QStringLiteral("Cannot play \"%1\": %2.").arg(Shown(), cause));
  state_.SetLoadState(PlaybackState::LoadState::kFailed);
}

QString Session::FailureCause(const QString& engineError) const {
  // A server that accepts the connection and then says nothing leaves only
  // a generic line in the log; the time it took tells the story.
  // Each protocol words it differently ("Failed to open", "Cannot read RTMP
  // handshake response"); the time it took is what the user needs to know.
  if (networkOpen_.isValid() &&
      networkOpen_.elapsed() >= (engine_options::kNetworkTimeoutSeconds - 1) * 1000) {
    return QStringLiteral("the server did not answer within %1 seconds")
        .arg(engine_options::kNetworkTimeoutSeconds);
  }
  if (!pictureTooLarge_.isEmpty()) return PictureTooLargeCause();
  return loadCause_.isEmpty() ? engineError : loadCause_;
}

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
  const double length = isFlv_ && startTime_ > 0 && startTime_ < engineDuration_
                            ? engineDuration_ - startTime_
                            : engineDuration_;
  // A network stream with no length in its header reports as its length the
  // newest time received so far, growing as data comes: no length.
  if (address_.IsNetwork() && tracksSettled_ && state_.duration() > 0 &&
      length != state_.duration()) {
    lengthUnknown_ = true;
  }
  state_.SetDuration(lengthUnknown_ ? 0 : length);
}

void Session::UpdateBuffering() {
  const bool now = address_.IsNetwork() && pausedForCache_;
  state_.SetBuffering(now, now ? cachePercent_ : 0);
}

void Session::UpdateStreams() {
  const auto [soundOnly, problem] =
      stream_facts::Judge(tracks_, tracksSettled_, audioUndecodable_, videoUndecodable_);
  state_.SetAudioOnly(soundOnly);
  state_.SetDecodeProblem(problem);
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

Session::FrameVerdict Session::OnFrameWaiting(engine::Engine::Waiting waiting, bool force) {
  using Waiting = engine::Engine::Waiting;
  const bool newFrame = waiting != Waiting::kNothing;
  if (!newFrame && !force) return FrameVerdict::kNothing;
  if (tracking_ == Tracking::kNone || tracking_ == Tracking::kChecking) {
    // Stopped, or the load failed: whatever the engine still hands over
    // belongs to no file that is playing.
    return newFrame ? FrameVerdict::kSkipAndHide : FrameVerdict::kHide;
  }
  if (waiting == Waiting::kNewFrame) {
    freshFrame_ = true;
    ++framesThisFile_;
  } else if (waiting == Waiting::kRedraw && !freshFrame_) {
    // The previous file's last picture, asked for again after a new file
    // was requested: it must not show as the new file's.
    return FrameVerdict::kSkip;
  }
  if (!pictureOut_) return newFrame ? FrameVerdict::kSkipAndHide : FrameVerdict::kHide;
  return FrameVerdict::kRender;
}

void Session::OnProperty(Property property, const engine::Value& value) {
  const bool known = !std::holds_alternative<std::monostate>(value);
  switch (property) {
    case Property::kPosition:
      state_.SetPosition(ValueOr(value, 0.0));
      break;
    case Property::kDuration:
      engineDuration_ = ValueOr(value, 0.0);
      UpdateDuration();
      break;
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
    NoteOpeningLog(line);
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

void Session::WatchOpening(bool on) {
  if (!on) {
    openingTimer_.stop();
    state_.SetProgress({});
    if (detailedLog_ && engine_) engine_->SetDetailedLog(false);
    detailedLog_ = false;
    return;
  }
  bytesReceived_ = 0;
  bytesTotal_ = 0;
  openingTimer_.start();
  if (!detailedLog_ && engine_) {
    engine_->SetDetailedLog(true);
    detailedLog_ = true;
  }
}

void Session::NoteOpeningLog(const engine::LogLine& line) {
  if (!openingTimer_.isActive()) return;
  // "4096=mp_read(0x..., 0x..., 32768), pos: 4096, eof:0": the demuxer got
  // 4096 bytes more.
  static const QRegularExpression kRead(QStringLiteral("^(\\d+)=mp_read\\("));
  static const QRegularExpression kLength(QStringLiteral("Content-Length: *(\\d+)"),
                                          QRegularExpression::CaseInsensitiveOption);
  if (const QRegularExpressionMatch read = kRead.match(line.text); read.hasMatch()) {
    bytesReceived_ += read.captured(1).toLongLong();
  } else if (const QRegularExpressionMatch length = kLength.match(line.text); length.hasMatch()) {
    bytesTotal_ = length.captured(1).toLongLong();
  }
}

void Session::ShowOpening() {
  // A quick open shows nothing: only a wait worth telling is told.
  if (!networkOpen_.isValid() || networkOpen_.elapsed() < timings_.progressAfterMs) return;
  const QString host = QUrl(address_.url).host();
  const auto size = [](qint64 bytes) {
    return bytes < 1024 * 1024
               ? QStringLiteral("%1 KB").arg((bytes + 1023) / 1024)
               : QStringLiteral("%1 MB").arg(double(bytes) / (1024 * 1024), 0, 'f', 1);
  };
  if (bytesReceived_ == 0) {
    state_.SetProgress(
        QStringLiteral("Connecting to %1\u2026 %2 s").arg(host).arg(networkOpen_.elapsed() / 1000));
  } else if (bytesTotal_ > 0) {
    state_.SetProgress(QStringLiteral("Waiting for %1: %2 of %3 received")
                           .arg(host, size(bytesReceived_), size(bytesTotal_)));
  } else {
    state_.SetProgress(
        QStringLiteral("Waiting for %1: %2 received").arg(host, size(bytesReceived_)));
  }
}

void Session::OnPlaybackRestarted() {
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
    if (const double* landed = std::get_if<double>(&value)) state_.SetPosition(*landed);
    state_.AnnounceSeeked(state_.position());
  } else if (query == engine::Query::kSampleRate && token == soundToken_) {
    const bool sound = ValueOr<qint64>(value, 0) > 0;
    if (sound || !fileOpen_ || framesThisFile_ > 0 || !IsCurrent(startedEntry_)) return;
    Fail(QStringLiteral("it holds no picture or sound that could be decoded"));
  }
}
