#pragma once

#include <QString>

// A modal box with `text` as plain text (never markup) and one OK button,
// captioned with `title` and centred on the screen. Returns once the user has
// closed it. `asError` gives it the error icon of the run-time error report.
void ShowTitledMessageBox(const QString& title, const QString& text, bool asError = false);
