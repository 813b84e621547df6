#include "qt/address_file_dialog.h"

#include <QDialogButtonBox>
#include <QDir>
#include <QKeyEvent>
#include <QLineEdit>
#include <QPushButton>

#include "media/media_address.h"

namespace {

QLineEdit* NameBox(const QFileDialog& dialog) {
  return dialog.findChild<QLineEdit*>(QStringLiteral("fileNameEdit"));
}

}  // namespace

AddressFileDialog::AddressFileDialog(const QString& title) : QFileDialog(nullptr, title) {
  // Desktop-native choosers keep recent-file lists of their own on disk, and
  // would not hand a typed address back.
  setOption(QFileDialog::DontUseNativeDialog);
  if (QLineEdit* name = NameBox(*this)) {
    // After the chooser's own handler, which disables Open for a name that
    // is no existing file.
    connect(name, &QLineEdit::textChanged, this, &AddressFileDialog::UpdateOpenButton);
    name->installEventFilter(this);
  }
}

QString AddressFileDialog::Choice() const {
  if (!address_.isEmpty()) return address_;
  return selectedFiles().isEmpty() ? QString() : selectedFiles().constFirst();
}

QString AddressFileDialog::TypedAddress() const {
  const QLineEdit* name = NameBox(*this);
  if (!name) return {};
  const QString typed = name->text().trimmed();
  // The player's own judgement of addresses, not a second one made here.
  return media_address::Resolve(typed, QDir::currentPath()).IsNetwork() ? typed : QString();
}

void AddressFileDialog::UpdateOpenButton() {
  if (TypedAddress().isEmpty()) return;
  const auto* buttons = findChild<QDialogButtonBox*>(QStringLiteral("buttonBox"));
  if (QPushButton* open = buttons ? buttons->button(QDialogButtonBox::Open) : nullptr) {
    open->setEnabled(true);
  }
}

void AddressFileDialog::accept() {
  address_ = TypedAddress();
  if (!address_.isEmpty()) {
    // Past the chooser's checks, which look for the name on disk.
    QDialog::accept();
    return;
  }
  QFileDialog::accept();
}

bool AddressFileDialog::eventFilter(QObject* watched, QEvent* event) {
  // Return in the name box opens an address even where the chooser has
  // disabled its Open button again since the last key.
  if (event->type() == QEvent::KeyPress && watched == NameBox(*this)) {
    const int key = static_cast<QKeyEvent*>(event)->key();
    if ((key == Qt::Key_Return || key == Qt::Key_Enter) && !TypedAddress().isEmpty()) {
      accept();
      return true;
    }
  }
  return QFileDialog::eventFilter(watched, event);
}
