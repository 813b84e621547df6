#pragma once

#include <QString>
#include <memory>

#include "engine/engine.h"

// The engine on libmpv: one core with its software render context, owned
// together because their teardown order is fixed (the render context goes
// first, with its update callback cleared, or the process aborts). A
// preview engine (Settings::Purpose::kPreview) is a core alone: it renders
// nothing.
//
// libmpv calls back on its own threads; those callbacks only post a queued,
// coalesced call to the thread that started the engine, which then drains
// the core's events into the listener. Everything else, rendering included,
// happens on that thread.
namespace engine {

std::unique_ptr<Engine> StartMpv(const Settings& settings, QString* error);

}  // namespace engine
