#include "bench/bench_preview.h"

#include <QApplication>
#include <QFile>
#include <QJsonArray>
#include <QMouseEvent>
#include <algorithm>

#include "bench/bench_figures.h"
#include "player/mpv_player.h"
#include "player/player_probe.h"
#include "player/seek_preview.h"
#include "player_ui/player_controls.h"
#include "player_ui/player_overlay.h"
#include "player_ui/seek_bar.h"

namespace {

using bench_figures::Median;
using bench_figures::RssKb;

// A pointer move to `to` inside `widget`, as the window system delivers it.
void MovePointer(QWidget* widget, QPointF to) {
  QMouseEvent move(QEvent::MouseMove, to, widget->mapToGlobal(to), Qt::NoButton, Qt::NoButton,
                   Qt::NoModifier);
  QApplication::sendEvent(widget, &move);
}

}  // namespace

PreviewBench::PreviewBench(MpvPlayer& player, int hovers) : player_(player), hovers_(hovers) {
  ticker_.setTimerType(Qt::PreciseTimer);
  ticker_.setInterval(10);
  connect(&ticker_, &QTimer::timeout, this, [this] {
    longestGap_ = std::max(longestGap_, double(tickClock_.nsecsElapsed()) / 1e6);
    tickClock_.restart();
  });
  connect(&PlayerProbe::Preview(player_), &PreviewSource::pictureReady, this, [this] {
    if (!hoverClock_.isValid()) return;
    hoverMs_.append(double(hoverClock_.nsecsElapsed()) / 1e6);
    hoverClock_.invalidate();
    QTimer::singleShot(150, this, [this] { Next(); });
  });
}

void PreviewBench::Start(std::function<void(const QJsonObject&)> done) {
  done_ = std::move(done);
  figures_[QStringLiteral("preview_rss_before_kb")] = RssKb();
  tickClock_.start();
  ticker_.start();
  Next();
}

void PreviewBench::Next() {
  if (hoverMs_.size() == hovers_) {
    ticker_.stop();
    const qint64 after = RssKb();
    figures_[QStringLiteral("preview_rss_after_kb")] = after;
    figures_[QStringLiteral("preview_rss_added_kb")] =
        double(after) - figures_[QStringLiteral("preview_rss_before_kb")].toDouble();
    figures_[QStringLiteral("preview_first_ms")] = hoverMs_.first();
    QJsonArray later;
    for (double ms : hoverMs_.mid(1)) later.append(ms);
    figures_[QStringLiteral("preview_ms")] = later;
    figures_[QStringLiteral("preview_median_ms")] = Median(hoverMs_.mid(1));
    figures_[QStringLiteral("longest_gui_stall_ms")] = longestGap_;
    done_(figures_);
    return;
  }
  // Spread over the file, every other one going back, as the seeks are.
  const qsizetype i = hoverMs_.size();
  const double fraction = double((i * 5) % hovers_) / hovers_;
  const double target = player_.State().duration() * (0.05 + 0.85 * fraction);
  SeekBar* bar = PlayerProbe::Overlay(player_).Controls()->Seek();
  // Over the picture first, which brings the controls up, then onto the bar.
  MovePointer(&player_, QPointF(player_.width() / 2.0, player_.height() / 3.0));
  hoverClock_.start();
  MovePointer(bar, QPointF(bar->XOf(target), bar->height() / 2.0));
}
