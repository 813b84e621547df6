#pragma once

#include <QSizeF>
#include <QString>

// The user-interface runtime as the window's handlers see it.
//
// Promises: every call runs on the GUI thread; MsgBox and ShowAboutModal are
// modal and return only once the user has closed what they opened; nothing
// passed in is ever interpreted as markup. Sizes are in twips (1/1440 inch).
class RuntimeServices {
 public:
  virtual ~RuntimeServices() = default;

  // A box with `text` as plain text, one OK button, no icon, captioned with
  // the application title.
  virtual void MsgBox(const QString& text) = 0;

  // The process arguments after the program name, as one string; may be empty.
  virtual QString Command() const = 0;

  // The folder holding the running executable, without a trailing separator.
  virtual QString AppPath() const = 0;

  // Builds the About box afresh from its design values and shows it modally
  // with no owner window.
  virtual void ShowAboutModal() = 0;

  // Unloads the main window; with no window left the program ends.
  virtual void UnloadMainWindow() = 0;

  // The main window's outer size: frame, title bar and menu bar included.
  virtual QSizeF MainWindowOuterSizeTwips() const = 0;
};

// The hidden single-line text box that keeps the start-up address.
// Promises: Text() returns exactly what SetText() was last given.
class TextBox {
 public:
  virtual ~TextBox() = default;
  virtual void SetText(const QString& text) = 0;
  virtual QString Text() const = 0;
};
