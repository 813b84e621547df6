#pragma once

#include <QColor>
#include <QList>
#include <QString>
#include <QStringList>
#include <QWidget>
#include <vector>

#include "media/stream_facts.h"

class PlaybackState;
class SeekBar;

// The file's cue points on the seek bar, following the playback state: a
// small tick at each one's time while the bar knows the length (none while
// it does not), and the lines that name those within reach of the pointer,
// for the seek bar's one tip to show. A layer over the bar that takes no
// input, so that clicks and drags still seek.
//
// Promises: however many cue points a file has, a repaint draws a tick per
// pixel column at most, and naming those in reach costs a search, not a
// walk through them all.
class CueMarks : public QWidget {
  Q_OBJECT

 public:
  // How near the pointer must be to a tick, in pixels, for its name.
  static constexpr qreal kReach = 5;
  // Cue points named at once; those beyond are counted.
  static constexpr int kMostNamed = 5;

  CueMarks(const PlaybackState& state, SeekBar& bar);

  void SetColours(const QColor& band, const QColor& text);

  // Where the ticks are, in the bar's coordinates, in time order: one for
  // the cue points that share a pixel column.
  QList<qreal> TickXs() const;
  // With the pointer at `x` on the bar, a line "m:ss name" for each of the
  // first kMostNamed cue points in reach, in time order, then one counting
  // the others; plain text, empty when none is in reach.
  QStringList LinesAt(qreal x) const;
  QString TextAt(qreal x) const { return LinesAt(x).join(QLatin1Char('\n')); }

 protected:
  void paintEvent(QPaintEvent* event) override;
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  void Follow();
  // The moment at `x` on the bar; before its track's start minus infinity,
  // after its end infinity, where the bar puts the times beyond the file.
  double TimeAt(qreal x) const;

  const PlaybackState& state_;
  SeekBar& bar_;
  stream_facts::CuePoints cues_;  // in time order, all with finite times
  std::vector<double> times_;     // theirs, to search
  QColor band_ = Qt::black;
  QColor text_ = Qt::white;
};
