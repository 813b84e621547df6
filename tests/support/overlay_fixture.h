#pragma once

// What the unit tests of the on-screen interface share: the player movie the
// overlay is given, a state as the session reports a file playing, and a
// count of light pixels to tell drawn from not drawn.
#include <QColor>
#include <QImage>
#include <QRect>

#include "media/movie.h"
#include "player_model/playback_state.h"

namespace overlay_fixture {

inline movie::Movie PlayerMovie(bool controls = true) {
  movie::Movie m;
  m.kind = movie::Kind::kPlayer;
  m.background = QColor(Qt::black);
  m.textColor = Qt::white;
  m.controls = controls;
  return m;
}

// A file open and playing, as the session would report it.
inline void Playing(PlaybackState& state, double duration) {
  state.SetHasFile(true);
  state.SetDuration(duration);
  state.SetPaused(false);
  state.SetLoadState(PlaybackState::LoadState::kPlaying);
  state.AnnounceFileLoaded();
}

// Held at its end, as the session reports it; `false` plays on.
inline void Ended(PlaybackState& state, bool ended = true) {
  state.SetEndReached(ended);
  state.SetLoadState(ended ? PlaybackState::LoadState::kEnded : PlaybackState::LoadState::kPlaying);
}

// Pixels brighter than mid-grey in `rect` of `image`.
inline int LightPixels(const QImage& image, const QRect& rect) {
  int light = 0;
  for (int y = rect.top(); y <= rect.bottom(); ++y) {
    for (int x = rect.left(); x <= rect.right(); ++x) light += qGray(image.pixel(x, y)) > 160;
  }
  return light;
}

}  // namespace overlay_fixture
