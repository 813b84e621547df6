#pragma once

#include <QString>
#include <memory>

#include "engine/engine.h"
#include "player_window/form1.h"
#include "qt/qt_runtime_services.h"

class Mpris;
class MpvPlayer;

// The composition root: the program's runtime, its video engine, the player
// component, the windows and the desktop's view of the player, put together
// as the entry starts them. Only here do the pieces meet.
class Program {
 public:
  // `engineFactory` starts the video engine; empty means libmpv.
  Program(const QString& command, const QString& appPath, engine::Factory engineFactory = {});
  ~Program();

  // Runs the load handler, then shows the main window and offers its player
  // to the desktop (media keys and media widgets, over D-Bus). Returns false
  // if an error escaped the load handler; it has been reported then.
  bool Start();

  QtRuntimeServices& runtime() { return runtime_; }
  Form1& form() { return form_; }
  MpvPlayer& player() { return *player_; }

 private:
  QtRuntimeServices runtime_;
  // Owned by the window once it hosts it.
  MpvPlayer* player_;
  Form1 form_;
  std::unique_ptr<Mpris> mpris_;
};
