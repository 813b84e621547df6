#pragma once

#include <QElapsedTimer>
#include <QJsonObject>
#include <QList>
#include <QObject>
#include <QTimer>
#include <functional>

class MpvPlayer;

// The "preview" mode of bench_player: while the file plays, the pointer
// goes to the seek bar over one point after another, each once the picture
// of the one before has come, and every hover is timed from the pointer's
// move to the preview's picture. The first hover starts the preview engine
// on the way. A 10 ms timer watches the GUI thread meanwhile, and resident
// memory is read before the first hover and after the last.
class PreviewBench : public QObject {
 public:
  PreviewBench(MpvPlayer& player, int hovers);

  // Starts hovering; `done` gets the figures (preview_first_ms, preview_ms,
  // preview_median_ms, preview_rss_before_kb, preview_rss_after_kb,
  // preview_rss_added_kb, longest_gui_stall_ms).
  void Start(std::function<void(const QJsonObject&)> done);

 private:
  void Next();

  MpvPlayer& player_;
  const int hovers_;
  std::function<void(const QJsonObject&)> done_;
  QJsonObject figures_;
  QList<double> hoverMs_;
  QElapsedTimer hoverClock_;
  QTimer ticker_;
  QElapsedTimer tickClock_;
  double longestGap_ = 0;
};
