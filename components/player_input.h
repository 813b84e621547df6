#pragma once

#include <QObject>

class MpvPlayer;
class QMimeData;

// Keyboard, wheel, click and drop on the player area, while it shows the
// player movie:
// - Space plays or pauses, Left/Right seek 5 s, Up/Down change the volume by
//   5 (0 to 100), M mutes, Home goes to the start; the wheel changes the
//   volume; a click on the picture (not on the controls) plays or pauses,
//   and a double click means no more than its first click.
// - A file or address dropped on the area plays through the root variable
//   "myuri", so the address policy applies to it as to any other.
// The player area takes the keyboard focus on click and Tab. Under any other
// movie, input passes through untouched.
class PlayerInput : public QObject {
  Q_OBJECT

 public:
  explicit PlayerInput(MpvPlayer& player);

  void SetActive(bool active) { active_ = active; }

  // Volume step of a key press or a wheel notch, in percent.
  static constexpr double kVolumeStep = 5;
  static constexpr double kSeekStep = 5;  // seconds

 signals:
  // The user did something in the player area: the controls come back.
  void activity();

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  bool OnKey(int key);
  QString DroppedAddress(const QMimeData& data) const;

  MpvPlayer& player_;
  bool active_ = false;
  // Wheels with fine steps send fractions of a notch.
  int wheelRemainder_ = 0;
};
