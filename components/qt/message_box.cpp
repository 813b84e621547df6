#include "qt/message_box.h"

#include <QMessageBox>

void ShowTitledMessageBox(const QString& title, const QString& text, bool asError) {
  QMessageBox box(asError ? QMessageBox::Critical : QMessageBox::NoIcon, title, text,
                  QMessageBox::Ok);
  box.setObjectName(QStringLiteral("MsgBox"));
  // User text such as a command line must never be rendered as rich text.
  box.setTextFormat(Qt::PlainText);
  box.setDefaultButton(QMessageBox::Ok);
  box.exec();
}
