#pragma once

#include <QFileDialog>
#include <memory>

#include "interfaces/common_dialog.h"

// The Open dialog on QFileDialog. The dialog object is owned here and lives
// only while ShowOpen runs, so nothing outlives the window that asked for it.
// FileName is the chosen file's full path, or a network address typed into
// the dialog's file-name box, as typed (address_file_dialog.h).
class QtCommonDialog : public CommonDialog {
 public:
  QtCommonDialog();

  void SetDialogTitle(const QString& title) override;
  void SetFilter(const QString& filter) override;
  // A cancelled dialog leaves FileName empty: the caller only asks whether a
  // name came back, so an earlier choice must not come back on Cancel.
  void ShowOpen() override;
  QString FileName() const override;

  // "Text (*.a)|*.a|Other|*.b;*.c" as Qt's name filters.
  static QStringList ToQtNameFilters(const QString& filter);

 protected:
  // Shows the set-up dialog modally and returns its result; a subclass can
  // drive the real dialog while it is open.
  virtual int Run(QFileDialog& dialog);

 private:
  QString title_;
  QString filter_;
  QString fileName_;
};

// Qt's own file dialog saves its last folder and view to the user's settings
// when it closes; the program writes no files, so settings go nowhere.
void KeepQtSettingsOffDisk();
