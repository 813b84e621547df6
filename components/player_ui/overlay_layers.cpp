#include "player_ui/overlay_layers.h"

#include <algorithm>

namespace overlay_layers {

using LoadState = PlaybackState::LoadState;

bool FileOpen(const PlaybackState& state) {
  return state.loadState() == LoadState::kPlaying || state.loadState() == LoadState::kEnded;
}

Plan Decide(const PlaybackState& state, const Overlay& overlay) {
  Plan plan;
  // Said under any movie: it may be why there is no player to show.
  if (!state.message().isEmpty()) plan.centre = Centre::kMessage;
  if (!overlay.playerMovie) return plan;

  const bool open = FileOpen(state);
  const bool ended = state.loadState() == LoadState::kEnded;
  plan.controls = overlay.movieControls && open && overlay.revealed;
  if (plan.centre == Centre::kNothing) {
    if (!state.progress().isEmpty()) {
      plan.centre = Centre::kProgress;
    } else if (open && state.buffering()) {
      plan.centre = Centre::kBuffering;
    } else if (open && state.audioOnly()) {
      plan.centre = Centre::kAudioOnly;
    } else if (ended && overlay.movieControls) {
      plan.centre = Centre::kReplay;
    }
  }
  plan.replay = overlay.movieControls && ended &&
                (plan.centre == Centre::kReplay || plan.centre == Centre::kAudioOnly);
  plan.notice = overlay.notice;
  plan.caption = open && !state.caption().isEmpty();
  if (overlay.viewOpen) {
    // The view is see-through: what it covers is not drawn at all.
    plan.centre = Centre::kNothing;
    plan.replay = plan.notice = plan.caption = false;
  }
  return plan;
}

Slots Arrange(const QRect& area, int barHeight, int noticeHeight, int centreHeight,
              int captionHeight) {
  Slots placed;
  const int bar = std::clamp(barHeight, 0, std::max(area.height(), 0));
  if (bar > 0) placed.bar = QRect(area.left(), area.bottom() + 1 - bar, area.width(), bar);
  const QRect free = area.adjusted(kMargin, kMargin, -kMargin, -kMargin - bar);
  if (free.isEmpty()) return placed;

  const int third = free.height() / 3;
  if (noticeHeight > 0) {
    placed.notice = QRect(free.left(), free.top(), free.width(), std::min(noticeHeight, third));
  }
  if (captionHeight > 0) {
    const int height = std::min(captionHeight, third);
    placed.caption = QRect(free.left(), free.bottom() + 1 - height, free.width(), height);
  }
  if (centreHeight > 0) {
    // Between what is above and below it, in the middle unless pushed.
    const int top = placed.notice.isEmpty() ? free.top() : placed.notice.bottom() + 1 + kGap;
    const int end = placed.caption.isEmpty() ? free.bottom() + 1 : placed.caption.top() - kGap;
    const int height = std::min(centreHeight, end - top);
    if (height > 0) {
      const int middle = free.top() + (free.height() - height) / 2;
      placed.centre =
          QRect(free.left(), std::clamp(middle, top, end - height), free.width(), height);
    }
  }
  return placed;
}

}  // namespace overlay_layers
