#include "qt_runtime_services.h"

#include <QGuiApplication>
#include <QMessageBox>
#include <QScreen>
#include <stdexcept>

#include "app_description.h"

QtRuntimeServices::QtRuntimeServices(QString command, QString appPath, DialogFactory aboutBox)
    : command_(std::move(command)), appPath_(std::move(appPath)), aboutBox_(std::move(aboutBox)) {}

void QtRuntimeServices::SetMainWindow(QWidget* window) { mainWindow_ = window; }

void QtRuntimeServices::MsgBox(const QString& text) { ShowTitledMessageBox(text); }

QString QtRuntimeServices::Command() const { return command_; }

QString QtRuntimeServices::AppPath() const { return appPath_; }

void QtRuntimeServices::ShowAboutModal() {
  if (!aboutBox_) throw std::logic_error("no About box");
  std::unique_ptr<QDialog> box = aboutBox_();
  box->setWindowModality(Qt::ApplicationModal);
  box->exec();
}

void QtRuntimeServices::UnloadMainWindow() {
  if (mainWindow_) mainWindow_->close();
}

QSizeF QtRuntimeServices::MainWindowOuterSizeTwips() const {
  if (!mainWindow_) throw std::logic_error("no main window");
  const QRect frame = mainWindow_->frameGeometry();
  const double perPixel = 1440.0 / mainWindow_->logicalDpiX();
  return QSizeF(frame.width() * perPixel, frame.height() * perPixel);
}

void ShowTitledMessageBox(const QString& text, bool asError) {
  QMessageBox box(asError ? QMessageBox::Critical : QMessageBox::NoIcon,
                  QString::fromLatin1(app::kTitle), text, QMessageBox::Ok);
  box.setObjectName(QStringLiteral("MsgBox"));
  // User text such as a command line must never be rendered as rich text.
  box.setTextFormat(Qt::PlainText);
  box.setDefaultButton(QMessageBox::Ok);
  box.exec();
}

void CentreOnScreen(QWidget* window) {
  QScreen* screen = window->screen() ? window->screen() : QGuiApplication::primaryScreen();
  if (!screen) return;
  const QRect area = screen->availableGeometry();
  QRect frame = window->frameGeometry();
  frame.moveCenter(area.center());
  window->move(frame.topLeft());
}
