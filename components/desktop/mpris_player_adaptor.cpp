#include "desktop/mpris_player_adaptor.h"

#include <QDBusMessage>
#include <QDir>
#include <algorithm>
#include <cmath>

#include "desktop/mpris_backend.h"
#include "media/media_address.h"
#include "player_model/playback_state.h"
#include "player_model/player_commands.h"

MprisPlayerAdaptor::MprisPlayerAdaptor(QObject* owner, MprisBackend& mpris)
    : QDBusAbstractAdaptor(owner), mpris_(mpris) {}

QString MprisPlayerAdaptor::PlaybackStatus() const { return mpris_.PlaybackStatus(); }

double MprisPlayerAdaptor::Rate() const { return mpris_.State().speed(); }
double MprisPlayerAdaptor::MinimumRate() const { return PlayerCommands::kMinSpeed; }
double MprisPlayerAdaptor::MaximumRate() const { return PlayerCommands::kMaxSpeed; }

void MprisPlayerAdaptor::SetRate(double rate) {
  // Clients are told not to send 0, which means Pause.
  if (rate == 0) {
    mpris_.Commands().Pause();
    return;
  }
  // Negative rates (playing backwards) are not offered.
  if (!std::isfinite(rate) || rate < 0) return;
  mpris_.Commands().SetSpeed(rate);
}

QVariantMap MprisPlayerAdaptor::Metadata() const { return mpris_.Metadata(); }
double MprisPlayerAdaptor::Volume() const { return mpris_.State().volume() / 100.0; }

void MprisPlayerAdaptor::SetVolume(double volume) {
  if (!std::isnan(volume)) mpris_.Commands().SetVolume(std::max(volume, 0.0) * 100.0);
}

qlonglong MprisPlayerAdaptor::Position() const {
  if (!mpris_.TrackOpen()) return 0;
  // The engine's clock may pass the end by a frame's length before it holds
  // there; a position beyond the track's length tells clients nonsense.
  const qlonglong position = std::llround(std::max(mpris_.State().position(), 0.0) * 1e6);
  return mpris_.Length() > 0 ? std::min(position, mpris_.Length()) : position;
}

bool MprisPlayerAdaptor::CanPlay() const { return mpris_.CanPlay(); }
bool MprisPlayerAdaptor::CanPause() const { return mpris_.TrackOpen(); }
bool MprisPlayerAdaptor::CanSeek() const { return mpris_.CanSeek(); }
void MprisPlayerAdaptor::Pause() { mpris_.Commands().Pause(); }
void MprisPlayerAdaptor::PlayPause() { mpris_.Commands().TogglePause(); }
void MprisPlayerAdaptor::Stop() { mpris_.Commands().Stop(); }
void MprisPlayerAdaptor::Play() { mpris_.Commands().Play(); }

void MprisPlayerAdaptor::Seek(qlonglong offset) {
  if (!mpris_.CanSeek()) return;
  const double target = mpris_.State().position() + double(offset) / 1e6;
  // Past the end is a move to the next track, and there is none.
  if (target > mpris_.State().duration()) return;
  mpris_.Commands().SeekTo(std::max(target, 0.0));
}

void MprisPlayerAdaptor::SetPosition(const QDBusObjectPath& trackId, qlonglong position) {
  // A client that read the track id just before the file changed must not
  // move the new file.
  if (!mpris_.CanSeek() || trackId.path() != mpris_.TrackPath()) return;
  if (position < 0 || position > mpris_.Length()) return;
  mpris_.Commands().SeekTo(double(position) / 1e6);
}

void MprisPlayerAdaptor::OpenUri(const QString& uri, const QDBusMessage& message) {
  // Checked here as well as by the player, so that the caller hears about a
  // refusal instead of the user reading it in the player area.
  const media_address::Address resolved = media_address::Resolve(uri, QDir::currentPath());
  if (resolved.IsRefused()) {
    message.setDelayedReply(true);
    mpris_.Send(message.createErrorReply(QDBusError::NotSupported, resolved.reason));
    return;
  }
  // The way a drop on the player area opens an address: the program's one route.
  mpris_.Commands().OpenAddress(uri);
}
