#include "qt/qt_runtime_services.h"

#include <QWidget>
#include <stdexcept>

#include "interfaces/twips.h"
#include "qt/message_box.h"

QtRuntimeServices::QtRuntimeServices(QString title, QString command, QString appPath,
                                     DialogFactory aboutBox)
    : title_(std::move(title)),
      command_(std::move(command)),
      appPath_(std::move(appPath)),
      aboutBox_(std::move(aboutBox)) {}

void QtRuntimeServices::SetMainWindow(QWidget* window) { mainWindow_ = window; }

void QtRuntimeServices::MsgBox(const QString& text) { ShowTitledMessageBox(title_, text); }

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
  const double perPixel = twips::PerPixel(mainWindow_->logicalDpiX());
  return QSizeF(frame.width() * perPixel, frame.height() * perPixel);
}
