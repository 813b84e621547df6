#pragma once

#include <QDialog>
#include <QPointer>
#include <functional>
#include <memory>

#include "interfaces/runtime_services.h"

// The runtime on Qt Widgets. The About box is built by a factory, since the
// window that shows it lives above this layer.
class QtRuntimeServices : public RuntimeServices {
 public:
  using DialogFactory = std::function<std::unique_ptr<QDialog>()>;

  // `title` captions every message box.
  QtRuntimeServices(QString title, QString command, QString appPath, DialogFactory aboutBox);

  // The window whose outer size is read and which UnloadMainWindow closes.
  void SetMainWindow(QWidget* window);

  void MsgBox(const QString& text) override;
  QString Command() const override;
  QString AppPath() const override;
  void ShowAboutModal() override;
  void UnloadMainWindow() override;
  QSizeF MainWindowOuterSizeTwips() const override;

 private:
  QString title_;
  QString command_;
  QString appPath_;
  DialogFactory aboutBox_;
  QPointer<QWidget> mainWindow_;
};
