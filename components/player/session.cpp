#include "player/session.h"

#include <QDir>
#include <QPointer>
#include <QUrl>
#include <algorithm>
#include <cmath>

#include "base/off_thread.h"
#include "engine/engine_options.h"
#include "media/path_bytes.h"

namespace {

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

}  // namespace

Session::Session(PlaybackState& state, Host& host, QObject* parent)
    : QObject(parent), state_(state), host_(host) {
  stuckTimer_.setSingleShot(true);
  stuckTimer_.setInterval(timings_.stuckMs);
  quietLogTimer_.setSingleShot(true);
  quietLogTimer_.setInterval(1000);
  connect(&quietLogTimer_, &QTimer::timeout, this, [this] {
    if (detailedLog_ && engine_) engine_->SetDetailedLog(false);
    detailedLog_ = false;
  });
  connect(&reading_, &FileReading::factsChanged, this, &Session::ApplyFacts);
  connect(&state_, &PlaybackState::liveChanged, this, &Session::UpdateReport);
  connect(&tailProbe_, &TailProbe::found, this, &Session::OnTailFound);
  openingTimer_.setInterval(250);
  connect(&openingTimer_, &QTimer::timeout, this, &Session::ShowOpening);
  stepBackTimer_.setSingleShot(true);
  stepBackTimer_.setInterval(timings_.stepBackMs);
  connect(&stepBackTimer_, &QTimer::timeout, this, &Session::BackStepDone);
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
  reading_.SetGrowthCheckMs(timings.growthCheckMs);
  stepBackTimer_.setInterval(timings.stepBackMs);
}

Session::~Session() {
  if (engine_) engine_->SetListener(nullptr);
}

void Session::SetEngine(engine::Engine* engine) {
  if (engine_) engine_->SetListener(nullptr);
  // A new engine starts with errors only.
  detailedLog_ = false;
  quietLogTimer_.stop();
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
  earlyCheck_ = InspectOffThread(resolved.path, indexFromBytes_);
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
  // Whatever was asked of the file before belongs to it alone.
  tailProbe_.Cancel();
  tailEnd_ = -1;
  lengthFromTail_ = false;
  if (address.IsNetwork()) {
    // Asked here, once an address, and not in SendLoad: an engine that
    // replaces a stuck one must not cost the server another request. The
    // engine opens meanwhile; the answer, if one comes, only corrects the
    // length.
    if (address.protocol == media_address::Protocol::kHttp) tailProbe_.Start(QUrl(address.url));
    SendLoad(generation, {});
    return;
  }
  // Local files are looked at first, off this thread: the look opens and
  // reads them.
  tracking_ = Tracking::kChecking;
  state_.SetLoadState(PlaybackState::LoadState::kChecking);
  const QFuture<local_file::Inspection> check =
      address.path == std::exchange(earlyPath_, {})
          ? earlyCheck_
          : InspectOffThread(address.path, indexFromBytes_);
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
  viewAudioProblem_ = QString::fromStdString(inspection.unplayableAudio);
  viewVideoProblem_ = QString::fromStdString(inspection.unplayableVideo);
  ForgetFacts();
  startTime_ = 0;
  seekLead_ = inspection.seekLead;
  firstKeyframe_ =
      inspection.facts.index.empty() ? 0 : double(inspection.facts.index.front().timeMs) / 1000.0;
  if (address_.IsLocal() && inspection.watch) {
    ApplyFacts(inspection.facts);
    reading_.Follow(inspection.watch);
  } else {
    reading_.Follow(nullptr);
  }

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
  } else {
    request.source = address_.protocol == media_address::Protocol::kRtmp
                         ? engine::LoadRequest::Source::kRtmp
                         : engine::LoadRequest::Source::kHttp;
    request.url = address_.url;
  }
  lastRequest_ = request;
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
  tailProbe_.Cancel();
  reading_.Follow(nullptr);
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
  // On the file's own clock first: that is where its keyframes are.
  double target = std::max(seconds, 0.0) + Origin();
  if (seekLead_ > 0) {
    // Before the first keyframe the index has nothing to land on; and the
    // lead must not reach back past it either.
    target = std::max(target, firstKeyframe_);
    engine_->SetSeekLead(std::min(seekLead_, target - firstKeyframe_));
  }
  engine_->SeekTo(target - startTime_);
}

double Session::ToEngineClock(double seconds) const {
  return std::max(seconds, 0.0) + Origin() - startTime_;
}

void Session::SeekBy(double seconds) {
  if (!engine_ || !state_.hasFile() || !std::isfinite(seconds)) return;
  // With a lead to set, the target must be known here.
  if (seekLead_ > 0) return SeekTo(state_.position() + seconds);
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
  // The player's own reading of a local FLV knows better than "failed to
  // recognize file format".
  if (const QString found = WhatTheReaderFound(); !found.isEmpty()) return found;
  return loadCause_.isEmpty() ? engineError : loadCause_;
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
  if (!IsCurrent(startedEntry_)) {
    // Sent, but the engine is still on the file before: a frame it hands
    // over now was decoded from that file, however newly.
    return newFrame ? FrameVerdict::kSkipAndHide : FrameVerdict::kHide;
  }
  if (waiting == Waiting::kNewFrame) {
    freshFrame_ = true;
    ++framesThisFile_;
  } else if (!freshFrame_) {
    // What the engine holds is the previous file's last picture, asked for
    // again (a redraw, or a repaint of the area): it must not show as the
    // new file's.
    return waiting == Waiting::kRedraw ? FrameVerdict::kSkip : FrameVerdict::kHide;
  }
  if (!pictureOut_) return newFrame ? FrameVerdict::kSkipAndHide : FrameVerdict::kHide;
  return FrameVerdict::kRender;
}

void Session::WatchOpening(bool on) {
  if (!on) {
    openingTimer_.stop();
    state_.SetProgress({});
    if (detailedLog_) quietLogTimer_.start();
    return;
  }
  quietLogTimer_.stop();
  opening_.Start(QUrl(address_.url).host());
  openingTimer_.start();
  if (!detailedLog_ && engine_) {
    engine_->SetDetailedLog(true);
    detailedLog_ = true;
  }
}

void Session::ShowOpening() {
  // A quick open shows nothing: only a wait worth telling is told.
  if (!networkOpen_.isValid() || networkOpen_.elapsed() < timings_.progressAfterMs) return;
  state_.SetProgress(opening_.Text(networkOpen_.elapsed()));
}
