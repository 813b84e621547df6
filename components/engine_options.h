#pragma once

#include <QByteArray>
#include <QList>

#include "mpv_engine.h"

// How the player sets up its engine. The promise: the engine plays exactly the
// address it is given, with nothing of the user's own mpv set-up (config,
// scripts, key bindings, auto-loaded files beside the video), draws only
// through the player's software render context, and never waits on a silent
// server for longer than kNetworkTimeoutSeconds.
namespace engine_options {

// How long a server may keep the engine waiting, to connect or to send more.
// The engine's own default is a minute, long enough to look like a hang.
constexpr int kNetworkTimeoutSeconds = 10;

// `audioOutput` empty leaves the choice of sound output to the engine.
QList<MpvEngine::Option> ForPlayer(const QByteArray& audioOutput, double volume, bool muted);

}  // namespace engine_options
