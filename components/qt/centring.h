#pragma once

class QWidget;

// Centres a top-level window on the screen it is on (or the primary screen).
// Without a window manager a new window opens at (0,0), so the program places
// its windows itself; nothing about a window's place is remembered.
void CentreOnScreen(QWidget* window);
