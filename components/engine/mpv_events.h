#pragma once

#include <QHash>
#include <QSet>

#include "engine/engine.h"

struct mpv_handle;
struct mpv_event;

// What the libmpv core reports, turned into the engine's typed events: the
// properties it is asked to watch (one table says which, and how each is
// read), the replies to requests, and the file and log events.
namespace mpv_events {

// Requests still waiting for their reply, by reply id.
struct Pending {
  QSet<quint64> loads;
  QHash<quint64, engine::Query> questions;
  QSet<quint64> pictures;
};

// Watches every property in the table but the cache report.
void ObserveAll(mpv_handle* core);
// The cache report: large and frequent, so watched only on request.
void ObserveCache(mpv_handle* core, bool on);
// Asks for the answer to `query`; it comes back as an event with `token`.
void Ask(mpv_handle* core, quint64 token, engine::Query query, Pending& pending);
// Asks for the video frame on show; it comes back as OnPicture with `token`.
void GrabPicture(mpv_handle* core, quint64 token, Pending& pending);

// Hands `event` to `listener` as what it means.
void Deliver(const mpv_event& event, Pending& pending, engine::Listener& listener);

}  // namespace mpv_events
