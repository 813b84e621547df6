#include "player_ui/seek_preview_popup.h"

#include <QPainter>
#include <QToolTip>
#include <algorithm>

#include "player_model/preview_source.h"
#include "player_ui/cue_marks.h"
#include "player_ui/playback_time.h"
#include "player_ui/seek_bar.h"

namespace {

constexpr int kPadding = 3;
constexpr int kGap = 4;  // between the popup and the control bar

}  // namespace

SeekPreviewPopup::SeekPreviewPopup(SeekBar& bar, QWidget* area) : QWidget(area), bar_(bar) {
  setObjectName(QStringLiteral("seekPreview"));
  setAttribute(Qt::WA_TransparentForMouseEvents);
  hide();
  connect(&bar_, &SeekBar::hovered, this, &SeekPreviewPopup::ShowAt);
  connect(&bar_, &SeekBar::hoverEnded, this, &SeekPreviewPopup::End);
}

void SeekPreviewPopup::SetSource(PreviewSource* source) {
  if (source_) source_->disconnect(this);
  source_ = source;
  picture_ = {};
  if (!source_) return;
  connect(source_, &PreviewSource::pictureReady, this, [this](double, const QImage& picture) {
    if (!isVisible()) return;
    picture_ = picture;
    Place();
    update();
  });
}

void SeekPreviewPopup::SetCues(const CueMarks* cues) { cues_ = cues; }

void SeekPreviewPopup::SetColours(const QColor& band, const QColor& text) {
  band_ = band;
  text_ = text;
  update();
}

void SeekPreviewPopup::ShowAt(double seconds) {
  at_ = seconds;
  time_ = FormatPlaybackTime(seconds, bar_.Duration() >= 3600);
  cueLines_ = cues_ ? cues_->LinesAt(bar_.XOf(seconds)) : QStringList();
  const bool pictures = source_ && source_->Available();
  if (!isVisible()) picture_ = {};
  if (!pictures) picture_ = {};
  // One tip at a time: this one tells what the bar's own would.
  QToolTip::hideText();
  Place();
  show();
  raise();
  update();
  if (pictures) source_->Request(seconds);
}

void SeekPreviewPopup::End() {
  hide();
  picture_ = {};
  if (source_) source_->Cancel();
}

void SeekPreviewPopup::Place() {
  const QWidget* area = parentWidget();
  const QFontMetrics metrics(font());
  // Above the band the bar sits in (the control bar), over the pointer.
  const QWidget* band =
      bar_.parentWidget() && bar_.parentWidget() != area ? bar_.parentWidget() : &bar_;
  const QPoint anchor(bar_.mapTo(area, QPointF(bar_.XOf(at_), 0)).toPoint().x(),
                      band->mapTo(area, QPoint(0, 0)).y());
  const int most = std::max(area->width() - 2 * kPadding, 0);
  int words = metrics.horizontalAdvance(time_);
  for (const QString& line : cueLines_) words = std::max(words, metrics.horizontalAdvance(line));
  // A pixel to spare: advances are rounded, and the lines are elided to fit.
  words = std::min(words + 1, most);
  const int wordsHeight = metrics.height() * int(1 + cueLines_.size());
  pictureShown_ = {};
  if (!picture_.isNull()) {
    // In the room above the bar, less the words; never enlarged.
    const QSize room(most, anchor.y() - kGap - wordsHeight - 3 * kPadding);
    if (!room.isEmpty()) {
      pictureShown_ = picture_.size();
      if (pictureShown_.width() > room.width() || pictureShown_.height() > room.height()) {
        pictureShown_.scale(room, Qt::KeepAspectRatio);
      }
    }
  }
  const int width = std::max(pictureShown_.width(), words) + 2 * kPadding;
  const int height = pictureShown_.height() + (pictureShown_.isEmpty() ? 0 : kPadding) +
                     wordsHeight + 2 * kPadding;
  const int left = std::clamp(anchor.x() - width / 2, 0, std::max(area->width() - width, 0));
  setGeometry(left, std::max(anchor.y() - kGap - height, 0), width, height);
}

void SeekPreviewPopup::paintEvent(QPaintEvent*) {
  QPainter painter(this);
  // Opaque: nothing under the tip shows through its words.
  QColor shade = band_;
  shade.setAlpha(255);
  painter.fillRect(rect(), shade);
  int y = kPadding;
  if (!pictureShown_.isEmpty()) {
    const QRect target((width() - pictureShown_.width()) / 2, y, pictureShown_.width(),
                       pictureShown_.height());
    painter.setRenderHint(QPainter::SmoothPixmapTransform);
    painter.drawImage(target, picture_);
    y += pictureShown_.height() + kPadding;
  }
  painter.setPen(text_);
  const QFontMetrics metrics(font());
  const int lineWidth = width() - 2 * kPadding;
  // Plain text, a line each: QPainter never reads it as markup.
  for (const QString& line : QStringList(time_) + cueLines_) {
    const QString shown = metrics.elidedText(line, Qt::ElideRight, lineWidth, Qt::TextSingleLine);
    painter.drawText(QRect(kPadding, y, lineWidth, metrics.height()),
                     Qt::AlignCenter | Qt::TextSingleLine, shown);
    y += metrics.height();
  }
}
