#include "program.h"

#include <exception>

#include "form2.h"
#include "mpris.h"
#include "mpv_player.h"
#include "run_time_error.h"

Program::Program(const QString& command, const QString& appPath)
    : runtime_(command, appPath, [] { return std::make_unique<Form2>(); }), form_(runtime_) {
  runtime_.SetMainWindow(&form_);
}

Program::~Program() = default;

bool Program::Start() {
  try {
    form_.Load();
  } catch (const std::exception& error) {
    ReportRunTimeError(QString::fromUtf8(error.what()));
    return false;
  }
  form_.ShowCentred();

  Mpris::Hooks hooks;
  hooks.raise = [this] {
    form_.setWindowState(form_.windowState() & ~Qt::WindowMinimized);
    form_.show();
    form_.raise();
    form_.activateWindow();
  };
  hooks.quit = [this] { runtime_.UnloadMainWindow(); };
  // The way File > "Open File / URL" plays a chosen file, so an address from
  // the desktop meets the same movie and the same address policy.
  hooks.open = [this](const QString& address) { form_.PlayAddress(address); };
  mpris_ = std::make_unique<Mpris>(form_.fl->State(), *form_.fl, std::move(hooks));
  return true;
}
