#include "message_box.h"

#include <QMessageBox>

#include "app_description.h"

void ShowTitledMessageBox(const QString& text, bool asError) {
  QMessageBox box(asError ? QMessageBox::Critical : QMessageBox::NoIcon,
                  QString::fromLatin1(app::kTitle), text, QMessageBox::Ok);
  box.setObjectName(QStringLiteral("MsgBox"));
  // User text such as a command line must never be rendered as rich text.
  box.setTextFormat(Qt::PlainText);
  box.setDefaultButton(QMessageBox::Ok);
  box.exec();
}
