#pragma once

#include <QKeySequence>
#include <QList>
#include <QString>
#include <functional>

class PlaybackState;
class PlayerCommands;

// What the keys of the player area do, as data: each action's keys, its
// name, the words of its help, and what it does. The key handling, the
// controls' tooltips and the help view are all written from this table, so
// they cannot disagree.
namespace player_actions {

// How far the seek keys move, and how much the volume keys and a wheel
// notch change the volume.
inline constexpr double kSeekStepSeconds = 5;
inline constexpr double kVolumeStep = 5;
// How much faster or slower the small speed keys make playback.
inline constexpr double kSpeedStep = 1.1;

enum class Id {
  kPlayPause,
  kSeekBack,
  kSeekForward,
  kVolumeUp,
  kVolumeDown,
  kMute,
  kToStart,
  kPreviousCue,
  kNextCue,
  kFileInfo,
  kFrameForward,
  kFrameBack,
  kFaster,
  kSlower,
  kDoubleSpeed,
  kHalfSpeed,
  kNormalSpeed,
  kCopyPicture,
  kHelp,
};

// Views of the player area that an action shows and hides.
enum class View { kNone, kFileInfo, kHelp };

struct Action {
  Id id;
  // The keys, the first of which tooltips name. A key that types a
  // character is that character, whatever the layout needs to type it
  // ("}" takes Shift on one keyboard and AltGr on another); other keys
  // match with their modifiers exactly. The keypad's keys count as the
  // main ones.
  QList<QKeyCombination> keys;
  QString name;  // short, for tooltips and the help view: "Mute"
  QString help;  // a line for the help view
  // What it asks of the player; empty for an action that shows a view.
  std::function<void(PlayerCommands&, const PlaybackState&)> run;
  View view = View::kNone;
};

// Every action, in the order the help view lists them.
const QList<Action>& All();
const Action& Get(Id id);
// The action for a key press; null when the key has none.
const Action* ForKey(QKeyCombination key);

// The keys of an action as the user reads them: "Space", "Left", "M".
QString KeyText(const Action& action);
// "`label` (`keys`)", for a tooltip: "Pause (Space)".
QString Tooltip(const QString& label, Id id);

// A speed as the controls show it: "1.5×", "0.25×".
QString SpeedText(double factor);

}  // namespace player_actions
