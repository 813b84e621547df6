#pragma once

#include <QFont>
#include <QString>

// A modal box with `text` as plain text (never markup) and one OK button,
// captioned with `title` and centred on the screen, at least as wide as its
// caption needs (CaptionRoom). Returns once the user has closed it.
// `asError` gives it the error icon of the run-time error report.
void ShowTitledMessageBox(const QString& title, const QString& text, bool asError = false);

// The width in pixels a window needs for its title bar to show `caption`
// whole, for a window whose font is `font`. The window manager draws the
// title bar in a font Qt is not told of, so this is an estimate on the
// generous side: the caption in the window's font made bold and a tenth
// wider (themes draw captions bold, some larger), the window's icon and
// three window buttons, each a square as high as a title bar (taken as
// twice the font's line), and half a square of margin at each end.
int CaptionRoom(const QString& caption, const QFont& font);
