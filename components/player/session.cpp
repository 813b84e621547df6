#include "player/session.h"

#include <QDir>
#include <QPointer>
#include <QUrl>
#include <algorithm>
#include <cmath>

#include "base/off_thread.h"
#include "media/path_bytes.h"
#include "player/file_report.h"

namespace {

using engine::Property;

local_file::Inspection Unreadable() {
  local_file::Inspection inspection;
  inspection.error = QStringLiteral("it could not be read");
  return inspection;
}

QFuture<local_file::Inspection> InspectOffThread(const QByteArray& path, qint64 indexFromBytes) {
  return off_thread::Run([path, indexFromBytes] {
    return local_file::Inspect(path, local_file::kWalkBudget, indexFromBytes);
  });
}

template <typename T>
T ValueOr(const engine::Value& value, T fallback) {
  const T* held = std::get_if<T>(&value);
  return held ? *held : fallback;
}

}  // namespace

Session::Session(PlaybackState& state, Host& host, QObject* parent)
    : QObject(parent),
      state_(state),
      host_(host),
      load_(state),
      opening_(state),
      backSteps_([this] { return SendBackStep(); }) {
  // The load goes again to the engine that takes the stuck one's place.
  connect(&load_, &LoadSequence::stuck, this, [this] { host_.ReplaceEngine(); });
  connect(&reading_, &FileReading::factsChanged, this, &Session::ApplyFacts);
  connect(&reading_, &FileReading::growingChanged, this, &Session::UpdateWaiting);
  connect(&tail_, &TailProbe::found, this, [this](qint64 endMs) {
    clock_.SetTailEnd(double(endMs) / 1000.0);
    UpdateLength();
  });
  rtmpDeadline_.setSingleShot(true);
  rtmpDeadline_.setInterval(kRtmpOpenMs);
  connect(&rtmpDeadline_, &QTimer::timeout, this, [this] {
    if (load_.FileOpen() || !load_.Sending()) return;
    Stopped();
    Fail(QStringLiteral("the server sent no media within %1 seconds").arg(kRtmpOpenMs / 1000));
  });
}

Session::~Session() {
  if (engine_) engine_->SetListener(nullptr);
}

void Session::SetTimings(const Timings& timings) {
  load_.SetStuckMs(timings.stuckMs);
  opening_.SetProgressAfterMs(timings.progressAfterMs);
  reading_.SetGrowthCheckMs(timings.growthCheckMs);
  backSteps_.SetTimeoutMs(timings.stepBackMs);
}

void Session::SetEngine(engine::Engine* engine) {
  if (engine_) engine_->SetListener(nullptr);
  engine_ = engine;
  opening_.SetEngine(engine);
  if (!engine_) return;
  engine_->SetListener(this);
  cache_.watching = false;
  if (!load_.Sending()) return;
  // The engine before read the player's connection and ends it as it goes:
  // an http(s) address is opened again for the new one.
  if (address_.protocol == media_address::Protocol::kHttp) {
    Load(address_);
  } else {
    SendLoad(load_.Generation(), inspection_);
  }
}

// ---------------------------------------------------------------- loading

void Session::PlayAddress(const QString& address) {
  const media_address::Address resolved = media_address::Resolve(address, QDir::currentPath());
  if (resolved.IsRefused()) {
    Stopped();
    address_ = resolved;
    ForgetFile(false);
    state_.SetMessage(FailureDiagnosis::CannotPlay(address, resolved.reason));
    load_.Fail();
    return;
  }
  Load(resolved);
}

void Session::PrepareEarly(const QString& address) {
  const media_address::Address resolved = media_address::Resolve(address, QDir::currentPath());
  if (!resolved.IsLocal()) {
    load_.PrepareEarly({}, {});
    return;
  }
  load_.PrepareEarly(resolved.path, InspectOffThread(resolved.path, indexFromBytes_));
}

void Session::Load(const media_address::Address& address) {
  state_.SetMessage({});
  host_.HidePicture();
  frames_.Forget();
  address_ = address;
  inspection_ = {};
  diagnosis_.Begin(address.IsNetwork() ? QUrl(address.url).host() : QString());
  // Whatever was asked of the file before belongs to it alone.
  tail_.Cancel();
  network_.Cancel();
  rtmpDeadline_.stop();
  reading_.Follow(nullptr);
  ForgetFile(address.IsNetwork());
  if (address.protocol == media_address::Protocol::kHttp) {
    // Looked at by the player before the engine sees it, as a local file is.
    OpenHttp(load_.Begin(/*check=*/true));
    return;
  }
  if (address.IsNetwork()) {
    SendLoad(load_.Begin(/*check=*/false), {});
    rtmpDeadline_.start();
    return;
  }
  // Local files are looked at first, off this thread: the look opens and
  // reads them.
  const quint64 generation = load_.Begin(/*check=*/true);
  const QFuture<local_file::Inspection> check =
      load_.TakeEarly(address.path).value_or(InspectOffThread(address.path, indexFromBytes_));
  off_thread::WhenDone(
      this, check,
      [this, generation](const local_file::Inspection& found) {
        // A newer load, or a stop, has taken over meanwhile.
        if (!load_.IsGeneration(generation) || load_.status() != LoadSequence::Status::kChecking) {
          return;
        }
        if (!found.error.isEmpty()) {
          Stopped();
          // What a refused FLV holds is told all the same.
          ApplyFacts(found.facts);
          Fail(found.error);
          return;
        }
        inspection_ = found;
        SendLoad(generation, found);
      },
      Unreadable());
}

void Session::OpenHttp(quint64 generation) {
  state_.SetTitle(address_.Title(), address_.Url());
  // Counted by the player's own connection: media bytes, not headers.
  opening_.StartNetwork(QUrl(address_.url).host(), [this] {
    return std::pair<qint64, qint64>{network_.Received(), network_.Size()};
  });
  UpdateReport();
  network_.Start(address_.url, [this, generation](const network_file::Opening& opening) {
    // A newer load, or a stop, has taken over meanwhile.
    if (!load_.IsGeneration(generation) || load_.status() != LoadSequence::Status::kChecking) {
      return;
    }
    UpdateReport();
    if (!opening.error.isEmpty()) {
      Stopped();
      Fail(opening.error);
      return;
    }
    networkFormat_ = opening.format;
    // The tail is asked of the address that answered, once the answer says
    // the server does ranges and how large the file is. The engine opens
    // meanwhile; the tail, if it fits the file's start, only corrects the
    // length.
    if (opening.file->Seekable() && opening.format == local_file::Format::kFlv) {
      tail_.Start(network_.AnsweredUrl(), opening.file->Size(), network_.HeadSource());
    }
    // An MP4's walk tells its information as a local one's does.
    local_file::Inspection walked;
    if (opening.format == local_file::Format::kMp4 && opening.file->Size() >= 0) {
      walked.mp4 = opening.mp4;
    }
    SendLoad(generation, walked);
  });
}

void Session::SendLoad(quint64 generation, const local_file::Inspection& inspection) {
  if (!engine_ || !load_.IsGeneration(generation)) return;
  state_.SetTitle(address_.Title(), address_.Url());
  // An http(s) address's wait began when the player started opening it.
  if (address_.protocol == media_address::Protocol::kRtmp) {
    opening_.StartNetwork(QUrl(address_.url).host());
  } else if (!address_.IsNetwork()) {
    opening_.StartLocal();
  }
  const bool network = address_.IsNetwork();
  if (network != cache_.watching) {
    cache_.watching = network;
    engine_->WatchCache(network);
    if (!network) state_.SetBufferedRanges({});
  }
  // Whatever the engine reported belongs to the file before, or to the
  // engine this one replaces.
  streams_ = {};
  streams_.viewAudioProblem = QString::fromStdString(inspection.unplayableAudio);
  streams_.viewVideoProblem = QString::fromStdString(inspection.unplayableVideo);
  clock_.ForgetEngine();
  clock_.SetSeekLead(inspection.seekLead,
                     inspection.facts.index.entries.empty()
                         ? 0
                         : double(inspection.facts.index.entries.front().timeMs) / 1000);
  if (address_.IsLocal() && inspection.watch) {
    ApplyFacts(inspection.facts);
    reading_.Follow(inspection.watch);
  } else {
    reading_.Follow(nullptr);
    facts_.Apply(inspection.mp4);
    FactsChanged();
  }
  UpdateStreams();
  UpdateBuffering();
  UpdateLength();

  engine::LoadRequest request;
  if (address_.IsLocal()) {
    request.source = engine::LoadRequest::Source::kLocalFile;
    request.file = inspection.file;
    request.format = inspection.format == local_file::Format::kMp4
                         ? engine::LoadRequest::Format::kMp4
                         : engine::LoadRequest::Format::kFlv;
    if (inspection.matroska) request.format = engine::LoadRequest::Format::kFlvModern;
    request.matroska = inspection.matroska;
    request.ignorePreviousTagSizes = inspection.previousTagSizesWrong;
    request.patches = inspection.patches;
    request.prefix = inspection.prefix;
    request.realStart = inspection.realStart;
    request.end = inspection.engineEnd;
    request.cuts = inspection.cuts;
  } else if (address_.protocol == media_address::Protocol::kHttp) {
    request.source = engine::LoadRequest::Source::kHttp;
    request.url = address_.url;
    request.http = network_.TakeFile();
    request.format = networkFormat_ == local_file::Format::kMp4 ? engine::LoadRequest::Format::kMp4
                     : networkFormat_ == local_file::Format::kFlvModern
                         ? engine::LoadRequest::Format::kFlvModern
                         : engine::LoadRequest::Format::kFlv;
  } else {
    request.source = engine::LoadRequest::Source::kRtmp;
    request.url = address_.url;
  }
  request_ = request;
  if (request.http) {
    // What a second reader (the previews) opens: the address that answered,
    // with a connection of its own. Not for an MP4: its boxes were walked on
    // this connection, and another may be answered with another file, one
    // no walk has bounded.
    request_.http.reset();
    request_.url =
        request.format == engine::LoadRequest::Format::kMp4 ? QString() : network_.AnsweredUrl();
  }
  load_.Sent(engine_->Load(request), Shown());
}

void Session::Stopped() {
  opening_.Stop();
  tail_.Cancel();
  network_.Cancel();
  rtmpDeadline_.stop();
  reading_.Follow(nullptr);
  load_.Halt();
  frames_.Forget();
  diagnosis_.Stop();
  host_.HidePicture();
  if (engine_) engine_->Stop();
}

void Session::ForgetFile(bool network) {
  facts_.Forget();
  clock_.Reset(network);
  streams_ = {};
  ApplyFacts({});
}

void Session::Halt() {
  Stopped();
  address_ = {};
  inspection_ = {};
}

QString Session::Shown() const {
  return address_.IsLocal() ? path_bytes::Decode(address_.path) : address_.url;
}

void Session::Fail(const QString& cause) {
  opening_.Stop();
  state_.SetMessage(FailureDiagnosis::CannotPlay(Shown(), cause));
  load_.Fail();
}

void Session::FailFromEngine(const QString& engineError) {
  FailureDiagnosis::Evidence evidence;
  evidence.connectionFailure = network_.Failure();
  evidence.networkWaitMs =
      address_.protocol == media_address::Protocol::kRtmp ? opening_.NetworkWaitMs() : -1;
  evidence.pictureTooLarge = streams_.pictureTooLarge;
  evidence.readerFinding = facts_.WhatItHolds();
  evidence.engineError = engineError;
  Fail(diagnosis_.Cause(evidence));
}

std::optional<engine::LoadRequest> Session::FileInHand() const {
  if (!load_.FileOpen()) return std::nullopt;
  if (request_.source == engine::LoadRequest::Source::kHttp && request_.url.isEmpty()) {
    return std::nullopt;
  }
  return request_;
}

FrameGate::Verdict Session::AdmitFrame(engine::Engine::Waiting waiting, bool force) {
  return frames_.Admit(waiting, force, load_.EngineOnIt());
}

// ------------------------------------------------------------- commands

void Session::Play() {
  if (!playable_ || !engine_ || address_.IsRefused()) return;
  const LoadSequence::Status status = load_.status();
  if (!state_.hasFile() &&
      (status == LoadSequence::Status::kIdle || status == LoadSequence::Status::kFailed)) {
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
    Play();
  } else {
    Pause();
  }
}

void Session::Stop() {
  // Also while the file is still opening.
  const LoadSequence::Status status = load_.status();
  if (engine_ && (state_.hasFile() || (status != LoadSequence::Status::kIdle &&
                                       status != LoadSequence::Status::kFailed))) {
    Stopped();
  }
}

void Session::SeekTo(double seconds) {
  if (!engine_ || !state_.hasFile() || !std::isfinite(seconds)) return;
  const LengthClock::Seek seek = clock_.SeekFor(seconds);
  if (seek.lead >= 0) engine_->SetSeekLead(seek.lead);
  engine_->SeekTo(seek.target);
}

void Session::SeekBy(double seconds) {
  if (!engine_ || !state_.hasFile() || !std::isfinite(seconds)) return;
  // With a lead to set, the target must be known here.
  if (clock_.SeeksByIndex()) return SeekTo(state_.position() + seconds);
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

void Session::StepFrame(bool forward) {
  // The engine steps through pictures; sound alone has none.
  if (!engine_ || !state_.hasFile() || state_.audioOnly()) return;
  if (forward) {
    // The engine counts steps forward itself, and pauses after the last.
    engine_->StepFrame(true);
    return;
  }
  backSteps_.Request();
}

bool Session::SendBackStep() {
  if (!engine_ || !state_.hasFile()) return false;
  engine_->StepFrame(false);
  return true;
}

void Session::SetSpeed(double factor) {
  if (!std::isfinite(factor) || factor <= 0) return;
  const double clamped = std::clamp(factor, PlayerCommands::kMinSpeed, PlayerCommands::kMaxSpeed);
  if (engine_) engine_->SetSpeed(clamped);
  // As with the volume: told now, so the engine's confirmation says nothing new.
  state_.SetSpeed(clamped);
}

void Session::CopyPicture() {
  if (!engine_ || !state_.hasFile() || state_.videoSize().isEmpty()) return;
  asked_.picture = engine_->GrabPicture();
}

// ------------------------------------------------ what the state is made of

void Session::ApplyFacts(const flv_reader::Facts& facts) {
  facts_.Apply(facts);
  FactsChanged();
}

void Session::FactsChanged() {
  clock_.SetReading(facts_.Known(), facts_.Origin(), facts_.Length(), facts_.OwnOrigin());
  UpdateLength();
  state_.SetCuePoints(facts_.CuePoints());
  state_.SetCaption(facts_.CaptionAt(state_.position()));
  UpdateStreams();
  UpdateWaiting();
}

void Session::UpdateWaiting() {
  const QString waiting = facts_.Waiting(reading_.Growing());
  if (waiting.isEmpty() && !waitingShown_) return;
  waitingShown_ = !waiting.isEmpty();
  state_.SetProgress(waiting);
}

void Session::UpdateLength() {
  const LengthClock::Length length = clock_.Current(load_.FileOpen());
  state_.SetDuration(length.seconds);
  state_.SetLive(length.live);
  UpdateReport();
}

void Session::UpdateStreams() {
  stream_facts::Tracks named =
      facts_.Named(streams_.tracks, streams_.audioUndecodable, streams_.videoUndecodable,
                   !streams_.pictureTooLarge.isEmpty());
  if (!streams_.viewAudioProblem.isEmpty()) named.audio.description = streams_.viewAudioProblem;
  if (!streams_.viewVideoProblem.isEmpty()) named.video.description = streams_.viewVideoProblem;
  auto [soundOnly, problem] = stream_facts::Judge(
      named, load_.FileOpen(), streams_.audioUndecodable || !streams_.viewAudioProblem.isEmpty(),
      streams_.videoUndecodable || !streams_.viewVideoProblem.isEmpty());
  // Where a file cut short stops, it says so.
  if (const QString cut = facts_.CutShort(); state_.endReached() && !cut.isEmpty()) {
    problem += (problem.isEmpty() ? QString() : QStringLiteral("\n")) + cut;
  }
  state_.SetAudioOnly(soundOnly);
  state_.SetDecodeProblem(problem);
  UpdateReport();
}

void Session::UpdateReport() {
  FileReportInputs in;
  in.readingReport = facts_.Report();
  if (address_.IsNetwork()) in.networkUrl = address_.url;
  in.redirectedTo = network_.RedirectedTo();
  in.length = clock_.Current(load_.FileOpen());
  in.open = load_.FileOpen();
  in.tracks = streams_.tracks;
  in.decodeProblem = state_.decodeProblem();
  state_.SetFileReport(FileReport(in));
}

void Session::UpdateBuffering() {
  const bool now = address_.IsNetwork() && cache_.paused;
  state_.SetBuffering(now, now ? cache_.percent : 0);
}

bool Session::CheckSomethingPlayed() {
  // A file that opens and ends without one frame or sample to show for it
  // would leave a bare stage: say so instead. Whether sound was decoded is
  // asked of the engine now: a change notice would miss a file whose sound
  // has the format of the file before.
  if (!load_.FileOpen()) return true;
  // The last frame may still be waiting to be drawn.
  QPointer<Session> alive(this);
  host_.RenderFrame(false);
  if (!alive) return false;
  if (frames_.Frames() == 0 && engine_) asked_.sound = engine_->Ask(engine::Query::kSampleRate);
  return true;
}

// ------------------------------------------------------ the engine's events

void Session::OnProperty(Property property, const engine::Value& value) {
  const bool known = !std::holds_alternative<std::monostate>(value);
  switch (property) {
    case Property::kPosition:
      state_.SetPosition(clock_.FromEngine(ValueOr(value, 0.0)));
      state_.SetCaption(facts_.CaptionAt(state_.position()));
      break;
    case Property::kDuration:
      clock_.SetEngineDuration(ValueOr(value, 0.0), load_.FileOpen());
      UpdateLength();
      break;
    case Property::kStartTime:
      clock_.SetEngineStart(ValueOr(value, 0.0));
      UpdateLength();
      break;
    case Property::kFileFormat: {
      const QString format = ValueOr(value, QString());
      clock_.SetEngineFormat(format == QLatin1String("flv") || format == QLatin1String("live_flv"));
      UpdateLength();
      break;
    }
    case Property::kPaused:
      state_.SetPaused(ValueOr(value, false));
      break;
    case Property::kEndReached: {
      const bool reached = ValueOr(value, false);
      if (reached == state_.endReached()) break;
      // The engine takes a connection that failed for the file's end: the
      // player knows it was the server, and says why.
      if (const QString failure = network_.Failure(); reached && !failure.isEmpty()) {
        Stopped();
        Fail(failure);
        break;
      }
      if (reached && !CheckSomethingPlayed()) break;
      state_.SetEndReached(reached);
      load_.SetEnded(reached);
      UpdateStreams();
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
      cache_.paused = ValueOr(value, false);
      UpdateBuffering();
      break;
    case Property::kCacheBuffering:
      cache_.percent = int(std::clamp<qint64>(ValueOr<qint64>(value, 0), 0, 100));
      UpdateBuffering();
      break;
    case Property::kBufferedRanges:
      // Reports sent before the watch ended still arrive.
      if (cache_.watching && known) {
        state_.SetBufferedRanges(ValueOr(value, stream_facts::Ranges()));
      }
      break;
    case Property::kTracks:
      streams_.tracks = ValueOr(value, stream_facts::Tracks());
      UpdateStreams();
      break;
    case Property::kPictureOut: {
      const bool out = ValueOr(value, false);
      frames_.SetPictureOut(out);
      if (!out) host_.HidePicture();
      break;
    }
    case Property::kDisplayWidth:
    case Property::kDisplayHeight: {
      QSize size = state_.videoSize();
      (property == Property::kDisplayWidth ? size.rwidth() : size.rheight()) =
          int(ValueOr<qint64>(value, 0));
      if (size == state_.videoSize()) break;
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
  asked_.seeking = false;
  if (!load_.OnStarted(entry)) return;
  backSteps_.Clear();
  diagnosis_.FileStarted();
  frames_.NewFile();
}

void Session::OnFileLoaded() {
  if (!load_.OnOpened()) return;
  opening_.Stop();
  rtmpDeadline_.stop();
  diagnosis_.Opened();
  UpdateLength();
  UpdateStreams();
  state_.AnnounceFileLoaded();
}

void Session::OnFileEnded(const engine::FileEnd& end) {
  if (!load_.IsCurrent(end.entry)) return;
  if (end.reason == engine::EndReason::kRedirect && end.redirectedTo > 0) {
    // A playlist hands over to its first entry.
    load_.Redirect(end.redirectedTo);
    return;
  }
  if (end.reason != engine::EndReason::kError) return;
  diagnosis_.Failed();
  FailFromEngine(end.error);
}

void Session::OnLog(const engine::LogLine& line) {
  if (!line.error) {
    opening_.Note(line);
    return;
  }
  // The decoders refuse pictures larger than the player allows; without a
  // word of our own the user would see only "could not be decoded".
  if (const QString size = FailureDiagnosis::PictureTooLarge(line); !size.isEmpty()) {
    streams_.pictureTooLarge = size;
    streams_.videoUndecodable = true;
    streams_.tracks.video.description = FailureDiagnosis::PictureTooLargeCause(size);
    UpdateStreams();
    return;
  }
  if (const char decoder = FailureDiagnosis::DecoderFailed(line)) {
    (decoder == 'a' ? streams_.audioUndecodable : streams_.videoUndecodable) = true;
    UpdateStreams();
    return;
  }
  // A cause logged after the failure refines its message.
  if (diagnosis_.Note(line)) FailFromEngine(QString());
}

void Session::OnPlaybackRestarted() {
  backSteps_.Landed();
  // The observed position may still be on its way; whoever listens for the
  // jump wants the position it landed on. Asked without waiting: a damaged
  // file can keep the engine busy long enough to freeze the window.
  if (std::exchange(asked_.seeking, false) && engine_) {
    asked_.seek = engine_->Ask(engine::Query::kPosition);
  }
  // The rate the sound comes out at, once it plays: only the decoder finds
  // SBR that the file does not announce.
  if (engine_ && facts_.WantsSoundRate())
    asked_.soundRate = engine_->Ask(engine::Query::kSampleRate);
}

void Session::OnLoadReply(quint64 token, qint64 entry, const QString& error) {
  if (load_.OnReply(token, entry, error) != LoadSequence::Reply::kRefused) return;
  diagnosis_.Stop();
  Fail(error);
}

void Session::OnAnswer(quint64 token, engine::Query query, const engine::Value& value) {
  if (query == engine::Query::kPosition && token == asked_.seek) {
    if (const double* landed = std::get_if<double>(&value)) {
      state_.SetPosition(clock_.FromEngine(*landed));
      state_.SetCaption(facts_.CaptionAt(state_.position()));
    }
    state_.AnnounceSeeked(state_.position());
  } else if (query == engine::Query::kSampleRate && token == asked_.soundRate) {
    asked_.soundRate = 0;
    facts_.SetSoundRate(int(ValueOr<qint64>(value, 0)));
    UpdateReport();
  } else if (query == engine::Query::kSampleRate && token == asked_.sound) {
    const bool sound = ValueOr<qint64>(value, 0) > 0;
    if (sound || !load_.FileOpen() || frames_.Frames() > 0) return;
    Fail(QStringLiteral("it holds no picture or sound that could be decoded"));
  }
}

void Session::OnPicture(quint64 token, const QImage& picture) {
  if (token != asked_.picture || picture.isNull()) return;
  asked_.picture = 0;
  emit pictureTaken(picture);
}
