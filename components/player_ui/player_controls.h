#pragma once

#include <QColor>
#include <QIcon>
#include <QString>
#include <QWidget>

class PlaybackState;
class PlayerCommands;
class QLabel;
class QSlider;
class QToolButton;
class SeekBar;

// The control bar drawn over the bottom of the player area: play/pause, the
// seek bar, elapsed time and duration, the speed while it is not normal
// (pressed, it goes back to normal), mute and volume, and a button that
// shows or hides the file's information (its checked state is set from
// outside, by whoever shows the information). It follows the playback state
// and drives the player through its commands.
//
// Promises: while hidden it does no work for the player's frequent reports
// (position, buffer) and catches up when shown; mouse presses on it never
// reach the picture below. Every control has an accessible name and is
// reached with Tab, in the order they stand, but a click leaves the keyboard
// focus where it was (with the player area and its keys); the seek bar and
// the volume answer the arrow keys while they have the focus, and keys a
// focused control does not use go on to the player area.
class PlayerControls : public QWidget {
  Q_OBJECT

 public:
  PlayerControls(const PlaybackState& state, PlayerCommands& commands, QWidget* parent = nullptr);

  // The movie's look: glyphs and text in `text`, the played part of the
  // seek bar and volume in `accent`, on a see-through band of `band`.
  void SetColours(const QColor& band, const QColor& text, const QColor& accent);

  QToolButton* PlayPauseButton() const { return playPause_; }
  SeekBar* Seek() const { return seek_; }
  QLabel* TimeLabel() const { return time_; }
  QToolButton* SpeedButton() const { return speed_; }
  QToolButton* MuteButton() const { return mute_; }
  QSlider* VolumeSlider() const { return volume_; }
  QToolButton* InfoButton() const { return info_; }

 signals:
  // The user asked to show or hide the file's information.
  void infoToggled();

 protected:
  void paintEvent(QPaintEvent* event) override;
  void showEvent(QShowEvent* event) override;
  void mousePressEvent(QMouseEvent* event) override;
  void mouseDoubleClickEvent(QMouseEvent* event) override;
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  void Sync();
  void ShowPlayState();
  void ShowTime();
  void ShowVolume();
  void ShowBuffered();
  void ShowSpeed();

  const PlaybackState& state_;
  PlayerCommands& commands_;
  QToolButton* playPause_;
  SeekBar* seek_;
  QLabel* time_;
  QToolButton* speed_;
  QToolButton* mute_;
  QSlider* volume_;
  QToolButton* info_;
  QColor band_ = QColor(0, 0, 0);
  QIcon playIcon_;
  QIcon pauseIcon_;
  QIcon volumeIcon_;
  QIcon mutedIcon_;
};
