#include <algorithm>
#include <cmath>

#include "player/session.h"
#include "player_model/player_commands.h"

// What the session does beyond loading and playing: frame steps, the speed,
// and pictures of the video.

namespace {

// Steps back waiting behind the one under way: enough for quick presses,
// few enough that a held key stops soon after it is let go.
constexpr int kMostBackStepsWaiting = 3;

}  // namespace

void Session::StepFrame(bool forward) {
  // The engine steps through pictures; sound alone has none.
  if (!engine_ || !state_.hasFile() || state_.audioOnly()) return;
  if (forward) {
    // The engine counts steps forward itself, and pauses after the last.
    engine_->StepFrame(true);
    return;
  }
  if (steppingBack_) {
    backStepsWaiting_ = std::min(backStepsWaiting_ + 1, kMostBackStepsWaiting);
    return;
  }
  SendBackStep();
}

void Session::SendBackStep() {
  steppingBack_ = true;
  stepBackTimer_.start();
  engine_->StepFrame(false);
}

void Session::BackStepDone() {
  steppingBack_ = false;
  stepBackTimer_.stop();
  if (backStepsWaiting_ == 0 || !engine_ || !state_.hasFile()) {
    backStepsWaiting_ = 0;
    return;
  }
  --backStepsWaiting_;
  SendBackStep();
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
  pictureToken_ = engine_->GrabPicture();
}

void Session::OnPicture(quint64 token, const QImage& picture) {
  if (token != pictureToken_ || picture.isNull()) return;
  pictureToken_ = 0;
  emit pictureTaken(picture);
}

std::optional<engine::LoadRequest> Session::FileInHand() const {
  if (!fileOpen_ || !IsCurrent(startedEntry_)) return std::nullopt;
  return lastRequest_;
}
