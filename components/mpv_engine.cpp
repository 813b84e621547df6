#include "mpv_engine.h"

#include "mpv_library.h"

#include <mpv/client.h>
#include <mpv/render.h>

#include <clocale>
#include <vector>

std::unique_ptr<MpvEngine> MpvEngine::Start(const QList<Option>& options, QString* error) {
  // libmpv refuses to start under a locale that writes numbers with a decimal
  // comma, and QApplication has installed the user's locale by now.
  std::setlocale(LC_NUMERIC, "C");

  if (!mpv_library::Available()) {
    *error = QStringLiteral("the video engine could not be loaded (%1)").arg(mpv_library::Error());
    return nullptr;
  }
  std::unique_ptr<MpvEngine> engine(new MpvEngine);
  engine->handle_ = mpv_create();
  if (!engine->handle_) {
    *error = QStringLiteral("the video engine could not be created");
    return nullptr;
  }
  for (const Option& option : options) {
    const int rc = mpv_set_option_string(engine->handle_, option.name, option.value.constData());
    if (rc >= 0 || (!option.required && rc == MPV_ERROR_OPTION_NOT_FOUND)) continue;
    *error = QStringLiteral("the video engine refused its option \"%1\" (%2)")
                 .arg(QLatin1String(option.name), QLatin1String(mpv_error_string(rc)));
    return nullptr;
  }
  if (const int rc = mpv_initialize(engine->handle_); rc < 0) {
    *error = QStringLiteral("the video engine could not start (%1)")
                 .arg(QLatin1String(mpv_error_string(rc)));
    return nullptr;
  }

  // Created before any file is loaded: a file loaded without a render
  // context gets no video at all.
  mpv_render_param params[] = {
      {MPV_RENDER_PARAM_API_TYPE, const_cast<char*>(MPV_RENDER_API_TYPE_SW)},
      {MPV_RENDER_PARAM_INVALID, nullptr},
  };
  if (const int rc = mpv_render_context_create(&engine->render_, engine->handle_, params); rc < 0) {
    engine->render_ = nullptr;
    *error = QStringLiteral("the video renderer could not start (%1)")
                 .arg(QLatin1String(mpv_error_string(rc)));
    return nullptr;
  }

  mpv_set_wakeup_callback(engine->handle_, &MpvEngine::OnWakeup, engine.get());
  mpv_render_context_set_update_callback(engine->render_, &MpvEngine::OnRenderUpdate, engine.get());
  return engine;
}

MpvEngine::~MpvEngine() {
  // Clearing a callback waits for a running call of it to finish, so after
  // these two lines nothing can post to this object any more.
  if (handle_) mpv_set_wakeup_callback(handle_, nullptr, nullptr);
  if (render_) {
    mpv_render_context_set_update_callback(render_, nullptr, nullptr);
    mpv_render_context_free(render_);
  }
  if (handle_) mpv_terminate_destroy(handle_);
}

void MpvEngine::Command(const QList<QByteArray>& args, quint64 replyId) {
  std::vector<const char*> argv;
  argv.reserve(args.size() + 1);
  for (const QByteArray& arg : args) argv.push_back(arg.constData());
  argv.push_back(nullptr);
  mpv_command_async(handle_, replyId, argv.data());
}

void MpvEngine::SetProperty(const char* name, const QByteArray& value) {
  const char* data = value.constData();
  mpv_set_property_async(handle_, 0, name, MPV_FORMAT_STRING, &data);
}

void MpvEngine::OnWakeup(void* self) {
  auto* engine = static_cast<MpvEngine*>(self);
  if (engine->wakeupQueued_.exchange(true)) return;
  QMetaObject::invokeMethod(
      engine,
      [engine] {
        engine->wakeupQueued_ = false;
        emit engine->eventsPending();
      },
      Qt::QueuedConnection);
}

void MpvEngine::OnRenderUpdate(void* self) {
  auto* engine = static_cast<MpvEngine*>(self);
  if (engine->updateQueued_.exchange(true)) return;
  QMetaObject::invokeMethod(
      engine,
      [engine] {
        engine->updateQueued_ = false;
        emit engine->frameReady();
      },
      Qt::QueuedConnection);
}
