#include "app/application.h"

#include <QCoreApplication>
#include <QEvent>
#include <QTimer>
#include <clocale>
#include <exception>

#include "app/app_description.h"
#include "app/command_line.h"
#include "app/exit_watchdog.h"
#include "app/program.h"
#include "app/run_time_error.h"
#include "assets/assets.h"
#include "desktop/mpris.h"
#include "engine/mpv_library.h"

namespace {

// Loads the video engine once the first window (the start-up box) has
// painted: the box is on screen without waiting for it, and then waits for
// the user while it loads.
class PreloadAfterFirstPaint : public QObject {
 public:
  bool eventFilter(QObject* watched, QEvent* event) override {
    if (event->type() == QEvent::Paint && watched->isWidgetType()) {
      QCoreApplication::instance()->removeEventFilter(this);
      // After this paint has reached the screen.
      QTimer::singleShot(0, [] { mpv_library::Preload(); });
    }
    return false;
  }
};

}  // namespace

Application::Application(int& argc, char** argv) : QApplication(argc, argv) {}

bool Application::notify(QObject* receiver, QEvent* event) {
  try {
    return QApplication::notify(receiver, event);
  } catch (const std::exception& error) {
    ReportRunTimeError(QString::fromUtf8(error.what()));
  } catch (...) {
    ReportRunTimeError(QStringLiteral("unknown error"));
  }
  return false;
}

int RunProgram(int argc, char** argv) {
  // The user's arguments are the address to play and nothing else: Qt sees
  // only the program's name, so no argument can become a Qt option.
  const QString command = CommandLineFromArgv(argc, argv);
  // The program runs no other program, a bus daemon included.
  Mpris::NeverStartABus();
  int qtArgc = 1;
  char* qtArgv[] = {argv[0], nullptr};
  Application app(qtArgc, qtArgv);
  // libmpv needs C number formatting; QApplication has just set the locale's.
  std::setlocale(LC_NUMERIC, "C");
  app.setApplicationName(QString::fromLatin1(app::kExecutableName));
  app.setWindowIcon(assets::AppIcon());
  // The video engine loads once the start-up box is up, not before main().
  PreloadAfterFirstPaint preload;
  app.installEventFilter(&preload);

  Program program(command, QCoreApplication::applicationDirPath());
  if (!program.Start()) return kRunTimeErrorStatus;
  const int status = app.exec();
  // The window is gone; what remains is tearing down, which must not hang.
  EndProcessWithin(kExitGraceMs, status);
  return status;
}
