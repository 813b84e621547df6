#include "player_ui/cue_marks.h"

#include <QEvent>
#include <QPainter>
#include <algorithm>
#include <cmath>
#include <limits>

#include "player_model/playback_state.h"
#include "player_ui/playback_time.h"
#include "player_ui/seek_bar.h"

namespace {

constexpr qreal kTickHalfHeight = 6;
// Cue points read out by assistive technology; the others are counted.
constexpr int kMostSpoken = 20;
// Of a name, more than a tip's line can show.
constexpr qsizetype kNameChars = 300;

}  // namespace

CueMarks::CueMarks(const PlaybackState& state, SeekBar& bar)
    : QWidget(&bar), state_(state), bar_(bar) {
  setObjectName(QStringLiteral("cueMarks"));
  setAccessibleName(tr("Cue points"));
  setAttribute(Qt::WA_TransparentForMouseEvents);
  setGeometry(bar_.rect());
  bar_.installEventFilter(this);
  connect(&state_, &PlaybackState::cuePointsChanged, this, &CueMarks::Follow);
  Follow();
}

void CueMarks::SetColours(const QColor& band, const QColor& text) {
  band_ = band;
  text_ = text;
  update();
}

void CueMarks::Follow() {
  cues_.clear();
  for (const stream_facts::CuePoint& cue : state_.cuePoints()) {
    if (std::isfinite(cue.seconds)) cues_ << cue;
  }
  std::stable_sort(cues_.begin(), cues_.end(),
                   [](const auto& a, const auto& b) { return a.seconds < b.seconds; });
  times_.clear();
  times_.reserve(cues_.size());
  for (const stream_facts::CuePoint& cue : cues_) times_.push_back(cue.seconds);
  QStringList spoken;
  for (qsizetype i = 0; i < std::min<qsizetype>(cues_.size(), kMostSpoken); ++i) {
    spoken << FormatPlaybackTime(cues_[i].seconds, false) + QLatin1Char(' ') +
                  cues_[i].name.left(kNameChars);
  }
  if (cues_.size() > kMostSpoken) spoken << tr("and %1 more").arg(cues_.size() - kMostSpoken);
  setAccessibleDescription(spoken.join(QStringLiteral(", ")));
  update();
}

double CueMarks::TimeAt(qreal x) const {
  const double duration = bar_.Duration();
  const qreal left = bar_.XOf(0);
  const qreal right = bar_.XOf(duration);
  if (x <= left) return -std::numeric_limits<double>::infinity();
  if (x >= right) return std::numeric_limits<double>::infinity();
  return (x - left) / (right - left) * duration;
}

QList<qreal> CueMarks::TickXs() const {
  QList<qreal> xs;
  if (bar_.Duration() <= 0) return xs;
  auto next = times_.cbegin();
  while (next != times_.cend()) {
    const qreal x = bar_.XOf(*next);
    xs << x;
    // Those within the pixel after it share its tick.
    next = std::upper_bound(next, times_.cend(), TimeAt(x + 1));
  }
  return xs;
}

QStringList CueMarks::LinesAt(qreal x) const {
  QStringList lines;
  if (bar_.Duration() <= 0) return lines;
  const auto first = std::lower_bound(times_.cbegin(), times_.cend(), TimeAt(x - kReach));
  const auto end = std::upper_bound(first, times_.cend(), TimeAt(x + kReach));
  const bool hours = bar_.Duration() >= 3600;
  const qsizetype from = first - times_.cbegin();
  const qsizetype count = end - first;
  for (qsizetype i = from; i < from + std::min<qsizetype>(count, kMostNamed); ++i) {
    const QString time = FormatPlaybackTime(cues_[i].seconds, hours);
    const QString name = cues_[i].name.left(kNameChars);
    lines << (name.isEmpty() ? time : time + QLatin1Char(' ') + name);
  }
  if (count > kMostNamed) lines << tr("and %1 more").arg(count - kMostNamed);
  return lines;
}

void CueMarks::paintEvent(QPaintEvent*) {
  // Painted after the bar it covers, so after every repaint of the bar:
  // the ticks always sit where the length now puts them.
  const QList<qreal> xs = TickXs();
  if (xs.isEmpty()) return;
  QPainter painter(this);
  const qreal middle = height() / 2.0;
  for (const qreal x : xs) {
    // An edge in the band's colour keeps a tick visible over the played
    // part, which may be the tick's own colour.
    painter.fillRect(QRectF(x - 2, middle - kTickHalfHeight - 1, 4, 2 * kTickHalfHeight + 2),
                     band_);
    painter.fillRect(QRectF(x - 1, middle - kTickHalfHeight, 2, 2 * kTickHalfHeight), text_);
  }
}

bool CueMarks::eventFilter(QObject* watched, QEvent* event) {
  if (watched == &bar_ && event->type() == QEvent::Resize) setGeometry(bar_.rect());
  return false;
}
