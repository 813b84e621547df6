#pragma once

#include <QString>
#include <memory>

#include "form1.h"
#include "qt_runtime_services.h"

class Mpris;

// The program's windows and runtime, put together as the entry starts them.
class Program {
 public:
  Program(const QString& command, const QString& appPath);
  ~Program();

  // Runs the load handler, then shows the main window and offers its player
  // to the desktop (media keys and media widgets, over D-Bus). Returns false
  // if an error escaped the load handler; it has been reported then.
  bool Start();

  QtRuntimeServices& runtime() { return runtime_; }
  Form1& form() { return form_; }

 private:
  QtRuntimeServices runtime_;
  Form1 form_;
  std::unique_ptr<Mpris> mpris_;
};
