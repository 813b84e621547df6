#pragma once

// A message box shown as the program shows its own, for its width against
// the room its caption needs: no window manager draws the caption here, so
// the rule is checked, not the title bar.
#include <QMessageBox>

#include "qt/message_box.h"
#include "support/modal_driver.h"

struct CaptionBox {
  int width = 0;
  int room = 0;
};

inline CaptionBox ShowCaptionBox(const QString& title) {
  CaptionBox seen;
  ModalDriver driver([&](QWidget* w) {
    if (auto* box = qobject_cast<QMessageBox*>(w)) {
      seen = {box->width(), CaptionRoom(box->windowTitle(), box->font())};
      box->close();
    }
  });
  ShowTitledMessageBox(title, QStringLiteral("x"));
  return seen;
}
