#include "qt/message_box.h"

#include <QFontMetricsF>
#include <QGridLayout>
#include <QMessageBox>
#include <QSpacerItem>
#include <cmath>

int CaptionRoom(const QString& caption, const QFont& font) {
  QFont title = font;
  title.setBold(true);
  const QFontMetricsF metrics(title);
  const qreal bar = 2 * metrics.height();
  // The icon and three buttons, and half a square at each end.
  return int(std::ceil(metrics.horizontalAdvance(caption) * 1.1 + 5 * bar));
}

void ShowTitledMessageBox(const QString& title, const QString& text, bool asError) {
  QMessageBox box(asError ? QMessageBox::Critical : QMessageBox::NoIcon, title, text,
                  QMessageBox::Ok);
  box.setObjectName(QStringLiteral("MsgBox"));
  // User text such as a command line must never be rendered as rich text.
  box.setTextFormat(Qt::PlainText);
  box.setDefaultButton(QMessageBox::Ok);
  // Qt sizes the box by its text and a caption in a font of its own, and
  // the title bar the window manager draws would cut the caption short: a
  // row the width of the caption's room holds the box open. Added last, as
  // the box makes its layout anew when its icon changes.
  if (auto* grid = qobject_cast<QGridLayout*>(box.layout())) {
    grid->addItem(
        new QSpacerItem(CaptionRoom(title, box.font()), 0, QSizePolicy::Fixed, QSizePolicy::Fixed),
        grid->rowCount(), 0, 1, grid->columnCount());
  }
  box.exec();
}
