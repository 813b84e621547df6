#include "app/program.h"

#include <exception>

#include "about_box/form2.h"
#include "app/app_description.h"
#include "app/run_time_error.h"
#include "desktop/mpris.h"
#include "engine/mpv_core.h"
#include "player/mpv_player.h"

Program::Program(const QString& command, const QString& appPath, engine::Factory engineFactory)
    : runtime_(QString::fromLatin1(app::kTitle), command, appPath,
               [] { return std::make_unique<Form2>(); }),
      player_(new MpvPlayer(
          nullptr, engineFactory ? std::move(engineFactory) : engine::Factory(&engine::StartMpv))),
      form_(runtime_, HostedPlayer::Of(player_)) {
  runtime_.SetMainWindow(&form_);
  // However an address comes (a drop on the player area, the desktop), it is
  // played the way File > "Open File / URL" plays a choice.
  QObject::connect(player_, &MpvPlayer::openRequested, &form_, &Form1::PlayAddress);
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
  mpris_ = std::make_unique<Mpris>(player_->State(), player_->Commands(), std::move(hooks));
  return true;
}
