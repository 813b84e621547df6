#pragma once

#include <QDialog>

class QLabel;
class QPushButton;

// The About box: a fixed tool window with the title banner, a credit line, a
// notice line and an "ok" button. It keeps nothing between showings.
class Form2 : public QDialog {
  Q_OBJECT

 public:
  Form2();

  QLabel* Image1 = nullptr;
  QLabel* Label2 = nullptr;
  QPushButton* Command1 = nullptr;
  QLabel* Label1 = nullptr;

 protected:
  void keyPressEvent(QKeyEvent* event) override;
  void showEvent(QShowEvent* event) override;
};
