#include "desktop/mpris_root_adaptor.h"

#include <QTimer>

#include "desktop/mpris.h"

MprisRootAdaptor::MprisRootAdaptor(Mpris* owner) : QDBusAbstractAdaptor(owner), mpris_(*owner) {}

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
  if (mpris_.GetHooks().quit) QTimer::singleShot(0, &mpris_, mpris_.GetHooks().quit);
}
