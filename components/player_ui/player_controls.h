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
// seek bar, elapsed time and duration, mute and volume, and a button that
// shows or hides the file's information (its checked state is set from
// outside, by whoever shows the information). It follows the
// playback state and drives the player through its commands; none of its buttons takes the
// keyboard focus, which stays with the player area and its keys.
//
// Promises: while hidden it does no work for the player's frequent reports
// (position, buffer) and catches up when shown; mouse presses on it never
// reach the picture below.
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

  const PlaybackState& state_;
  PlayerCommands& commands_;
  QToolButton* playPause_;
  SeekBar* seek_;
  QLabel* time_;
  QToolButton* mute_;
  QSlider* volume_;
  QToolButton* info_;
  QColor band_ = QColor(0, 0, 0);
  QIcon playIcon_;
  QIcon pauseIcon_;
  QIcon volumeIcon_;
  QIcon mutedIcon_;
};
