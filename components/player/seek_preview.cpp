#include "player/seek_preview.h"

#include <algorithm>
#include <cmath>

SeekPreview::SeekPreview(const PlaybackState& state, FileInHand file, engine::Factory factory,
                         QObject* parent)
    : PreviewSource(parent), state_(state), file_(std::move(file)), factory_(std::move(factory)) {
  timeout_.setSingleShot(true);
  timeout_.setInterval(kTimeoutMs);
  connect(&timeout_, &QTimer::timeout, this, &SeekPreview::GiveUp);
  // A new file, or none: the engine and what it knew were the old file's.
  connect(&state_, &PlaybackState::fileLoaded, this, [this] {
    Drop();
    unavailable_ = false;
  });
  connect(&state_, &PlaybackState::hasFileChanged, this, [this](bool open) {
    if (!open) Drop();
  });
}

SeekPreview::~SeekPreview() { Drop(); }

bool SeekPreview::Available() const {
  return !unavailable_ && state_.hasFile() && state_.duration() > 0 && !state_.audioOnly() &&
         !state_.videoSize().isEmpty();
}

void SeekPreview::Request(double seconds) {
  if (!Available() || !std::isfinite(seconds)) return;
  wanted_ = std::clamp(seconds, 0.0, state_.duration());
  if (!engine_) Start();
  Next();
}

void SeekPreview::Cancel() { wanted_.reset(); }

void SeekPreview::Start() {
  const std::optional<engine::LoadRequest> file = file_();
  if (!file) {
    // The file in hand may not be read a second time (an MP4 over http).
    unavailable_ = true;
    return;
  }
  engine::Settings settings;
  settings.purpose = engine::Settings::Purpose::kPreview;
  QString error;
  engine_ = factory_(settings, &error);
  if (!engine_) {
    unavailable_ = true;
    return;
  }
  engine_->SetListener(this);
  engine_->Load(*file);
  timeout_.start();
}

void SeekPreview::Next() {
  if (!engine_ || !opened_ || seekable_ != true || step_ != Step::kIdle || !wanted_) return;
  asked_ = *std::exchange(wanted_, std::nullopt);
  step_ = Step::kSeeking;
  timeout_.start();
  engine_->SeekToKeyframe(toEngine_ ? toEngine_(asked_) : asked_);
}

void SeekPreview::Drop() {
  timeout_.stop();
  if (engine_) {
    engine_->SetListener(nullptr);
    // Its end may wait on a server; the GUI thread does not.
    engine::Abandon(std::move(engine_));
  }
  opened_ = false;
  seekable_.reset();
  step_ = Step::kIdle;
  wanted_.reset();
  pictureToken_ = 0;
}

void SeekPreview::GiveUp() {
  Drop();
  unavailable_ = true;
}

void SeekPreview::OnProperty(engine::Property property, const engine::Value& value) {
  if (property != engine::Property::kSeekable) return;
  const bool* seekable = std::get_if<bool>(&value);
  if (!seekable) return;
  seekable_ = *seekable;
  // Without seeks every moment but the first would cost reading the file
  // from its start: no previews then.
  if (!*seekable) return GiveUp();
  Next();
}

void SeekPreview::OnFileLoaded() {
  opened_ = true;
  timeout_.stop();
  Next();
}

void SeekPreview::OnFileEnded(const engine::FileEnd& end) {
  if (end.reason == engine::EndReason::kError) GiveUp();
}

void SeekPreview::OnLoadReply(quint64, qint64, const QString& error) {
  if (!error.isEmpty()) GiveUp();
}

void SeekPreview::OnSeekStarted() {
  // The restart that follows is this seek's, not the opening's.
  if (step_ == Step::kSeeking) step_ = Step::kSought;
}

void SeekPreview::OnPlaybackRestarted() {
  if (step_ != Step::kSought) return;
  step_ = Step::kTaking;
  pictureToken_ = engine_->GrabPicture();
}

void SeekPreview::OnPicture(quint64 token, const QImage& picture) {
  if (step_ != Step::kTaking || token != pictureToken_) return;
  step_ = Step::kIdle;
  timeout_.stop();
  if (!picture.isNull()) emit pictureReady(asked_, picture);
  // pictureReady's receivers may have asked for the next one already.
  Next();
}
