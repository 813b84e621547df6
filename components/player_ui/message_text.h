#pragma once

#include <QFont>
#include <QFontMetricsF>
#include <QString>

// How the player area words a message in the room it has. A message about
// an address names it first, between double quotes, and then says why
// (`Cannot play "ADDRESS": why.`): the address is what the user gave and
// may be of any length, why is the player's own and short.
namespace message_text {

// The message as shown in lines `width` wide: a quoted address wider than
// one line is cut in its middle, its start and end kept with "…" between,
// so that it takes a line at most; why stays whole. Control characters in
// the address show as their visible pictures (U+2400 on), so that none can
// break or hide a line. The cost is bounded whatever the address's length.
QString Fit(const QString& message, const QFontMetricsF& metrics, qreal width);

// Fit's answer kept for the message, font and width it was given: an
// address can be long enough to cost at every repaint.
class Fitted {
 public:
  const QString& Get(const QString& message, const QFont& font, int width);

 private:
  QString from_;
  QFont font_;
  int width_ = -1;
  QString fitted_;
};

}  // namespace message_text
