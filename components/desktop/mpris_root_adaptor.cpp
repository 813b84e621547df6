#include "desktop/mpris_root_adaptor.h"

#include <QTimer>

#include "desktop/mpris_backend.h"

MprisRootAdaptor::MprisRootAdaptor(QObject* owner, MprisBackend& mpris)
    : QDBusAbstractAdaptor(owner), mpris_(mpris) {}

bool MprisRootAdaptor::CanQuit() const { return bool(mpris_.GetHooks().quit); }
bool MprisRootAdaptor::CanRaise() const { return bool(mpris_.GetHooks().raise); }

QStringList MprisRootAdaptor::SupportedUriSchemes() const {
  return {QStringLiteral("file"), QStringLiteral("http"), QStringLiteral("https"),
          QStringLiteral("rtmp")};
}

QStringList MprisRootAdaptor::SupportedMimeTypes() const {
  return {QStringLiteral("video/x-flv"), QStringLiteral("video/flv")};
}

void MprisRootAdaptor::Raise() {
  if (mpris_.GetHooks().raise) mpris_.GetHooks().raise();
}

void MprisRootAdaptor::Quit() {
  // After the reply has gone: the program may be gone right after the hook.
  if (mpris_.GetHooks().quit) QTimer::singleShot(0, parent(), mpris_.GetHooks().quit);
}
