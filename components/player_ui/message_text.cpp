#include "player_ui/message_text.h"

#include <QStringView>
#include <algorithm>

namespace message_text {
namespace {

// Characters kept of each end of an address before it is measured: more
// than the widest screen shows on one line.
constexpr qsizetype kEndChars = 400;

QString Visible(QStringView text) {
  QString shown;
  shown.reserve(text.size());
  for (const QChar c : text) {
    if (c.unicode() < 0x20) {
      shown += QChar(0x2400 + c.unicode());
    } else if (c.unicode() == 0x7f) {
      shown += QChar(0x2421);
    } else {
      shown += c;
    }
  }
  return shown;
}

// Both ends of `text`, without splitting a character made of two halves.
QString Ends(QStringView text) {
  if (text.size() <= 2 * kEndChars + 1) return text.toString();
  qsizetype head = kEndChars;
  if (text[head - 1].isHighSurrogate()) --head;
  qsizetype tail = text.size() - kEndChars;
  if (text[tail].isLowSurrogate()) ++tail;
  QString ends = text.first(head).toString();
  ends += QChar(0x2026);
  ends += text.sliced(tail);
  return ends;
}

}  // namespace

QString Fit(const QString& message, const QFontMetricsF& metrics, qreal width) {
  const qsizetype open = message.indexOf(QLatin1Char('"'));
  const qsizetype close = message.lastIndexOf(QLatin1String("\": "));
  if (open < 0 || close <= open) return message;
  const QStringView address = QStringView(message).sliced(open + 1, close - open - 1);
  // The quotes and the colon stay on the address's line.
  const qreal room = width - metrics.horizontalAdvance(QStringLiteral("\"\":"));
  const QString shown = metrics.elidedText(Visible(Ends(address)), Qt::ElideMiddle,
                                           std::max(room, 1.0), Qt::TextSingleLine);
  return message.first(open + 1) + shown + message.sliced(close);
}

const QString& Fitted::Get(const QString& message, const QFont& font, int width) {
  if (width != width_ || message != from_ || font != font_) {
    fitted_ = Fit(message, QFontMetricsF(font), width);
    from_ = message;
    font_ = font;
    width_ = width;
  }
  return fitted_;
}

}  // namespace message_text
