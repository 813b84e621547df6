#pragma once

#include <QRect>

#include "player_model/playback_state.h"

// The one rule for what is drawn over the picture, so that no two texts or
// icons share a place. The player area is cut into slots, top to bottom:
//
//   notice   one transient notice along the top (a stream that cannot be
//            decoded, a picture copied); a newer one takes the place of the
//            one before
//   centre   one status, the first that applies of: the message (why nothing
//            plays), the progress of opening, buffering, the audio-only
//            screen (whose icon is the replay button at the end), the replay
//            button at the end
//   caption  the file's caption, just above the bar
//   bar      the control bar; its height stays reserved, shown or not, so
//            that nothing jumps when it hides or shows
//
// Slots never overlap: the notice and the caption take at most a third of
// the room each, and the centre keeps its place in the middle unless one of
// them would cover it; then it moves aside, and is cut to what is left.
//
// Above the slots, lowest first (a higher layer hides what it covers):
// - the views, the file information and the list of keys, one at a time,
//   above the bar: see-through panels, so while one is open the notice, the
//   centre and the caption are not drawn at all (the bar stays);
// - the seek bar's one tip: time, picture and cue names in one opaque box.
// Everything is kept inside the player area.
//
// The status comes from PlaybackState::loadState(), with what is really
// separate from it (paused, sound only, buffering) read beside it.
namespace overlay_layers {

// Around the slots, from the area's edges.
inline constexpr int kMargin = 8;
// Between the centre and a notice or caption it gives way to.
inline constexpr int kGap = 4;

// What the centre slot holds.
enum class Centre { kNothing, kMessage, kProgress, kBuffering, kAudioOnly, kReplay };

// What of the overlay's own bears on the rule.
struct Overlay {
  bool playerMovie = false;    // only a player movie shows more than the message
  bool movieControls = false;  // the movie wants the bar and the replay button
  bool revealed = true;        // the bar is not hidden for idleness
  bool viewOpen = false;       // the file information or the list of keys
  bool notice = false;         // a notice is waiting to be seen
};

struct Plan {
  Centre centre = Centre::kNothing;
  // The replay button: the centre itself, or the audio-only screen's icon.
  bool replay = false;
  bool notice = false;
  bool caption = false;
  bool controls = false;
};

// A file is open: playing, paused, or held at its end.
bool FileOpen(const PlaybackState& state);

// What shows, for this state and overlay.
Plan Decide(const PlaybackState& state, const Overlay& overlay);

struct Slots {
  QRect notice;
  QRect centre;
  QRect caption;
  QRect bar;
};

// Where the slots lie in `area`, given what each occupant would need: the
// bar's height (reserved whether it shows or not) and the heights of the
// notice, the centre and the caption (0: nothing there, an empty slot).
// Slots are inside `area` and do not overlap; one cut short is empty when
// there is no room at all.
Slots Arrange(const QRect& area, int barHeight, int noticeHeight, int centreHeight,
              int captionHeight);

}  // namespace overlay_layers
