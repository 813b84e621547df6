#pragma once

#include <QFileDialog>
#include <QString>

// The Open dialog's file chooser, which also takes the address of a video on
// the network: an address the player plays from the network (http, https,
// the rtmp family) typed into the file-name box is the choice, as typed. A
// local name typed there must still name an existing file, as the chooser
// itself demands. Always Qt's own dialog, never the desktop's.
class AddressFileDialog : public QFileDialog {
  Q_OBJECT

 public:
  explicit AddressFileDialog(const QString& title);

  // The address typed, or the file chosen; empty when there is none.
  QString Choice() const;

  void accept() override;

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  QString TypedAddress() const;
  void UpdateOpenButton();

  QString address_;
};
