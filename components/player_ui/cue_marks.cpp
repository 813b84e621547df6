#include "player_ui/cue_marks.h"

#include <QLabel>
#include <QMouseEvent>
#include <QPainter>
#include <QStringList>
#include <algorithm>
#include <cmath>

#include "player_model/playback_state.h"
#include "player_ui/playback_time.h"
#include "player_ui/seek_bar.h"

namespace {

constexpr qreal kTickHalfHeight = 6;
constexpr int kLabelGap = 4;  // between the label and the bar

}  // namespace

CueMarks::CueMarks(const PlaybackState& state, SeekBar& bar, QWidget& area)
    : QWidget(&bar), state_(state), bar_(bar), area_(area), label_(new QLabel(&area)) {
  setObjectName(QStringLiteral("cueMarks"));
  setAccessibleName(tr("Cue points"));
  setAttribute(Qt::WA_TransparentForMouseEvents);
  setGeometry(bar_.rect());

  label_->setObjectName(QStringLiteral("cueName"));
  // Names come from the file: never read as markup.
  label_->setTextFormat(Qt::PlainText);
  label_->setAttribute(Qt::WA_TransparentForMouseEvents);
  label_->setAutoFillBackground(true);
  label_->setMargin(3);
  label_->hide();

  // Names show on hover, without a button held.
  bar_.setMouseTracking(true);
  bar_.installEventFilter(this);
  connect(&state_, &PlaybackState::cuePointsChanged, this, &CueMarks::Follow);
  Follow();
  SetColours(band_, text_);
}

void CueMarks::SetColours(const QColor& band, const QColor& text) {
  band_ = band;
  text_ = text;
  QPalette colours = label_->palette();
  QColor shade = band;
  shade.setAlphaF(0.85f);
  colours.setColor(QPalette::Window, shade);
  colours.setColor(QPalette::WindowText, text);
  label_->setPalette(colours);
  update();
}

void CueMarks::Follow() {
  cues_.clear();
  QStringList spoken;
  for (const stream_facts::CuePoint& cue : state_.cuePoints()) {
    if (std::isfinite(cue.seconds)) cues_ << cue;
  }
  std::stable_sort(cues_.begin(), cues_.end(),
                   [](const auto& a, const auto& b) { return a.seconds < b.seconds; });
  for (const stream_facts::CuePoint& cue : cues_) {
    spoken << FormatPlaybackTime(cue.seconds, false) + QLatin1Char(' ') + cue.name;
  }
  setAccessibleDescription(spoken.join(QStringLiteral(", ")));
  label_->hide();
  update();
}

QList<qreal> CueMarks::TickXs() const {
  QList<qreal> xs;
  if (bar_.Duration() <= 0) return xs;
  for (const stream_facts::CuePoint& cue : cues_) xs << bar_.XOf(cue.seconds);
  return xs;
}

QString CueMarks::TextAt(qreal x) const {
  QStringList lines;
  const QList<qreal> xs = TickXs();
  const bool hours = bar_.Duration() >= 3600;
  for (qsizetype i = 0; i < xs.size(); ++i) {
    if (std::abs(xs[i] - x) > kReach) continue;
    const QString time = FormatPlaybackTime(cues_[i].seconds, hours);
    lines << (cues_[i].name.isEmpty() ? time : time + QLatin1Char(' ') + cues_[i].name);
  }
  return lines.join(QLatin1Char('\n'));
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

void CueMarks::Hover(qreal x) {
  const QString text = TextAt(x);
  if (text.isEmpty()) {
    label_->hide();
    return;
  }
  if (text != label_->text()) label_->setText(text);
  label_->adjustSize();
  const QSize size = label_->size();
  const QPoint anchor = bar_.mapTo(&area_, QPoint(qRound(x), 0));
  const int left =
      std::clamp(anchor.x() - size.width() / 2, 0, std::max(area_.width() - size.width(), 0));
  label_->move(left, std::max(anchor.y() - kLabelGap - size.height(), 0));
  label_->show();
  label_->raise();
}

bool CueMarks::eventFilter(QObject* watched, QEvent* event) {
  if (watched != &bar_) return false;
  switch (event->type()) {
    case QEvent::Resize:
      setGeometry(bar_.rect());
      break;
    case QEvent::MouseMove:
      Hover(static_cast<QMouseEvent*>(event)->position().x());
      break;
    case QEvent::Leave:
    case QEvent::Hide:
      label_->hide();
      break;
    default:
      break;
  }
  return false;
}
