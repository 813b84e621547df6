#pragma once

#include <QColor>
#include <QList>
#include <QString>
#include <QWidget>

#include "media/stream_facts.h"

class PlaybackState;
class QLabel;
class SeekBar;

// The file's cue points on the seek bar, following the playback state: a
// small tick at each one's time while the bar knows the length (none while
// it does not), and, while the pointer is within reach of ticks, their times
// and names in a label just above the bar, as plain text. A layer over the
// bar that takes no input, so that clicks and drags still seek; the label
// lives in `area`, an ancestor of the bar, so that it can rise above it.
class CueMarks : public QWidget {
  Q_OBJECT

 public:
  // How near the pointer must be to a tick, in pixels, for its name.
  static constexpr qreal kReach = 5;

  CueMarks(const PlaybackState& state, SeekBar& bar, QWidget& area);

  void SetColours(const QColor& band, const QColor& text);

  // Where the ticks are, in the bar's coordinates, in time order.
  QList<qreal> TickXs() const;
  // What the label says with the pointer at `x` on the bar: a line per cue
  // point in reach, "m:ss name"; empty when none is.
  QString TextAt(qreal x) const;
  QLabel* Label() const { return label_; }

 protected:
  void paintEvent(QPaintEvent* event) override;
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  void Follow();
  void Hover(qreal x);

  const PlaybackState& state_;
  SeekBar& bar_;
  QWidget& area_;
  stream_facts::CuePoints cues_;  // in time order, all with finite times
  QLabel* label_;
  QColor band_ = Qt::black;
  QColor text_ = Qt::white;
};
