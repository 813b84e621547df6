#pragma once

#include <QApplication>

// The program's QApplication. An error that escapes an event handler is the
// runtime's to report: a box captioned with the application title, then the
// program ends with a non-zero status.
class Application : public QApplication {
  Q_OBJECT

 public:
  Application(int& argc, char** argv);

  bool notify(QObject* receiver, QEvent* event) override;
};

// How long the program may take to end once its window has gone.
inline constexpr int kExitGraceMs = 2000;

// Runs the whole program; returns the process exit status.
int RunProgram(int argc, char** argv);
