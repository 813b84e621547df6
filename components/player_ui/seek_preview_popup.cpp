#include "player_ui/seek_preview_popup.h"

#include <QPainter>
#include <algorithm>

#include "player_model/preview_source.h"
#include "player_ui/playback_time.h"
#include "player_ui/seek_bar.h"

namespace {

constexpr int kPadding = 3;
constexpr int kGap = 4;  // between the popup and the bar

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

void SeekPreviewPopup::SetColours(const QColor& band, const QColor& text) {
  band_ = band;
  text_ = text;
  update();
}

void SeekPreviewPopup::ShowAt(double seconds) {
  at_ = seconds;
  time_ = FormatPlaybackTime(seconds, bar_.Duration() >= 3600);
  const bool pictures = source_ && source_->Available();
  if (!isVisible()) picture_ = {};
  if (!pictures) picture_ = {};
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
  const QFontMetrics metrics(font());
  const QSize pictureSize = picture_.isNull() ? QSize() : picture_.size();
  const int width = std::max(pictureSize.width(), metrics.horizontalAdvance(time_)) + 2 * kPadding;
  const int height =
      pictureSize.height() + (picture_.isNull() ? 0 : kPadding) + metrics.height() + 2 * kPadding;
  const QWidget* area = parentWidget();
  const QPoint anchor = bar_.mapTo(area, QPointF(bar_.XOf(at_), 0)).toPoint();
  const int left = std::clamp(anchor.x() - width / 2, 0, std::max(area->width() - width, 0));
  setGeometry(left, std::max(anchor.y() - kGap - height, 0), width, height);
}

void SeekPreviewPopup::paintEvent(QPaintEvent*) {
  QPainter painter(this);
  QColor shade = band_;
  shade.setAlphaF(0.85f);
  painter.fillRect(rect(), shade);
  int y = kPadding;
  if (!picture_.isNull()) {
    const QRect target((width() - picture_.width()) / 2, y, picture_.width(), picture_.height());
    painter.drawImage(target, picture_);
    y += picture_.height() + kPadding;
  }
  painter.setPen(text_);
  // Plain text: QPainter never reads it as markup.
  painter.drawText(QRect(0, y, width(), height() - y - kPadding), Qt::AlignCenter, time_);
}
