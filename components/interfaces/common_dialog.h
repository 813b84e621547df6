#pragma once

#include <QString>

// The Open dialog component of the main window.
//
// Promises: ShowOpen is modal and returns when the dialog closes; a cancelled
// dialog returns normally and is never reported as an error. FileName is the
// full path of the last choice, or the empty string when none was made.
// Filter takes "Description (*.ext)|*.ext" pairs separated by '|'.
class CommonDialog {
 public:
  virtual ~CommonDialog() = default;
  virtual void SetDialogTitle(const QString& title) = 0;
  virtual void SetFilter(const QString& filter) = 0;
  virtual void ShowOpen() = 0;
  virtual QString FileName() const = 0;
};
