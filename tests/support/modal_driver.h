#pragma once

#include <QApplication>
#include <QElapsedTimer>
#include <QMessageBox>
#include <QPointer>
#include <QTimer>
#include <functional>

// Answers modal windows as a person would, from inside their event loops:
// each time a new modal window is up, `onModal` gets it and acts on it
// (typically presses a key). Windows it has seen are not handed twice.
class ModalDriver : public QObject {
 public:
  explicit ModalDriver(std::function<void(QWidget*)> onModal) : onModal_(std::move(onModal)) {
    timer_.setInterval(20);
    QObject::connect(&timer_, &QTimer::timeout, this, [this] { Poll(); });
    timer_.start();
  }
  int handled() const { return handled_; }

 private:
  void Poll() {
    QWidget* modal = QApplication::activeModalWidget();
    if (!modal || modal == last_ || !modal->isVisible()) return;
    last_ = modal;
    ++handled_;
    onModal_(modal);
  }

  std::function<void(QWidget*)> onModal_;
  QTimer timer_;
  // A window closed and deleted leaves this null, so a new one made at the
  // same address is still handed over.
  QPointer<QWidget> last_;
  int handled_ = 0;
};

// What a message box showed.
struct SeenBox {
  QString title;
  QString text;
  Qt::TextFormat format = Qt::AutoText;
  QMessageBox::Icon icon = QMessageBox::NoIcon;
  int buttons = 0;
};

inline SeenBox Describe(QMessageBox* box) {
  return {box->windowTitle(), box->text(), box->textFormat(), box->icon(),
          int(box->buttons().size())};
}
