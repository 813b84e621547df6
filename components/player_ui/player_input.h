#pragma once

#include <QObject>

#include "player_ui/player_actions.h"

class PlaybackState;
class PlayerCommands;
class QMimeData;
class QWidget;

// Keyboard, wheel, click and drop on the player area, while it shows the
// player movie:
// - keys as the action table has them (player_actions.h); the wheel changes
//   the volume; a click on the picture (not on the controls) plays or
//   pauses, and a double click means no more than its first click;
// - a file or address dropped on the area is handed to OpenAddress, the way
//   the program plays the user's own choices.
// The player area takes the keyboard focus on click and Tab; Tab from it
// brings the controls up first, so that the focus can move on to them. Keys
// that a focused control does not use come back here from it. Under any
// other movie, input passes through untouched.
class PlayerInput : public QObject {
  Q_OBJECT

 public:
  PlayerInput(QWidget& area, const PlaybackState& state, PlayerCommands& commands);

  void SetActive(bool active) { active_ = active; }

 signals:
  // The user did something in the player area: the controls come back.
  void activity();
  // A key asked to show or hide a view of the player area.
  void viewToggled(player_actions::View view);

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  static QString DroppedAddress(const QMimeData& data);

  QWidget& area_;
  const PlaybackState& state_;
  PlayerCommands& commands_;
  bool active_ = false;
  // Wheels with fine steps send fractions of a notch.
  int wheelRemainder_ = 0;
};
