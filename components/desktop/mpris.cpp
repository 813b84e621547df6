#include "desktop/mpris.h"

#include <QCoreApplication>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusObjectPath>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QFile>
#include <QFileInfo>
#include <QLoggingCategory>
#include <cmath>

#include "base/off_thread.h"
#include "desktop/mpris_player_adaptor.h"
#include "desktop/mpris_root_adaptor.h"
#include "player_model/playback_state.h"

namespace {

// Silent unless asked for (QT_LOGGING_RULES="tibrok.mpris.debug=true"): a
// desktop without a bus is normal, not worth a line on every start.
Q_LOGGING_CATEGORY(lcMpris, "tibrok.mpris", QtInfoMsg)

const QString kBusName = QStringLiteral("org.mpris.MediaPlayer2.tibrok_flv_player");
const QString kObjectPath = QStringLiteral("/org/mpris/MediaPlayer2");
const QString kPlayerInterface = QStringLiteral("org.mpris.MediaPlayer2.Player");
const QString kNoTrack = QStringLiteral("/org/mpris/MediaPlayer2/TrackList/NoTrack");
const QString kTrackPathPrefix = QStringLiteral("/org/tibrok/FlvPlayer/track/");

// RequestName answers; the request itself asks not to wait in a queue.
constexpr uint kDoNotQueue = 4;
constexpr uint kPrimaryOwner = 1;
constexpr uint kAlreadyOwner = 4;

// D-Bus addresses write every byte outside a small set as %XX.
QString EscapeAddressValue(const QString& value) {
  static const QByteArray kPlain =
      "-_/.\\*0123456789abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ";
  QString escaped;
  for (const char c : QFile::encodeName(value)) {
    escaped += kPlain.contains(c) ? QString(QLatin1Char(c))
                                  : QStringLiteral("%%1").arg(uchar(c), 2, 16, QLatin1Char('0'));
  }
  return escaped;
}

// An address no transport answers to: libdbus fails at once instead of
// falling back to starting a bus.
constexpr char kNoBus[] = "disabled:";

}  // namespace

QString Mpris::SessionBusAddress() {
  const QString named = qEnvironmentVariable("DBUS_SESSION_BUS_ADDRESS");
  if (named == QLatin1String(kNoBus)) return {};
  if (!named.isEmpty()) return named;
  const QString runtimeDir = qEnvironmentVariable("XDG_RUNTIME_DIR");
  if (runtimeDir.isEmpty() || !QFileInfo::exists(runtimeDir + QStringLiteral("/bus"))) return {};
  return QStringLiteral("unix:path=") + EscapeAddressValue(runtimeDir + QStringLiteral("/bus"));
}

void Mpris::NeverStartABus() {
  if (SessionBusAddress().isEmpty()) qputenv("DBUS_SESSION_BUS_ADDRESS", kNoBus);
}

Mpris::Mpris(const PlaybackState& state, PlayerCommands& commands, Hooks hooks, QObject* parent)
    : QObject(parent),
      state_(state),
      commands_(commands),
      hooks_(std::move(hooks)),
      connectionName_(
          QStringLiteral("tibrok-mpris-%1").arg(reinterpret_cast<quintptr>(this), 0, 16)) {
  new MprisRootAdaptor(this, *this);
  playerAdaptor_ = new MprisPlayerAdaptor(this, *this);

  // Player changes come in bursts (a new file changes half a dozen things):
  // one PropertiesChanged per burst, sent once the burst is over.
  announceTimer_.setSingleShot(true);
  announceTimer_.setInterval(0);
  connect(&announceTimer_, &QTimer::timeout, this, &Mpris::Announce);
  connect(&state_, &PlaybackState::fileLoaded, this, [this] {
    ++track_;
    trackUrl_ = state_.url();
    trackTitle_ = state_.title();
    ScheduleAnnounce();
  });
  connect(&state_, &PlaybackState::hasFileChanged, this, &Mpris::ScheduleAnnounce);
  connect(&state_, &PlaybackState::pausedChanged, this, &Mpris::ScheduleAnnounce);
  connect(&state_, &PlaybackState::durationChanged, this, &Mpris::ScheduleAnnounce);
  connect(&state_, &PlaybackState::volumeChanged, this, &Mpris::ScheduleAnnounce);
  connect(&state_, &PlaybackState::speedChanged, this, &Mpris::ScheduleAnnounce);
  connect(&state_, &PlaybackState::seeked, this, [this](double seconds) {
    if (onBus_) emit playerAdaptor_->Seeked(std::llround(seconds * 1e6));
  });

  // From the event loop: whoever made this object has connected to its
  // signals by then, and nothing touches the bus during start-up itself.
  QTimer::singleShot(0, this, &Mpris::Connect);
}

Mpris::~Mpris() {
  abandoned_->store(true);
  QDBusConnection bus(connectionName_);
  if (onBus_) bus.unregisterObject(kObjectPath);
  // Closing the connection gives the bus name back.
  QDBusConnection::disconnectFromBus(connectionName_);
}

bool Mpris::TrackOpen() const { return track_ > 0 && state_.hasFile(); }

QString Mpris::TrackPath() const {
  return TrackOpen() ? kTrackPathPrefix + QString::number(track_) : kNoTrack;
}

qlonglong Mpris::Length() const {
  return TrackOpen() && state_.duration() > 0 ? std::llround(state_.duration() * 1e6) : 0;
}

bool Mpris::CanPlay() const { return !state_.url().isEmpty(); }

QString Mpris::PlaybackStatus() const {
  if (!state_.hasFile()) return QStringLiteral("Stopped");
  return state_.paused() ? QStringLiteral("Paused") : QStringLiteral("Playing");
}

QVariantMap Mpris::Metadata() const {
  QVariantMap metadata{
      {QStringLiteral("mpris:trackid"), QVariant::fromValue(QDBusObjectPath(TrackPath()))}};
  if (!TrackOpen()) return metadata;
  metadata.insert(QStringLiteral("xesam:url"), trackUrl_);
  metadata.insert(QStringLiteral("xesam:title"), trackTitle_);
  if (Length() > 0) metadata.insert(QStringLiteral("mpris:length"), Length());
  return metadata;
}

void Mpris::Send(const QDBusMessage& message) const {
  QDBusConnection(connectionName_).send(message);
}

Mpris::Watched Mpris::Current() const {
  return {.status = PlaybackStatus(),
          .track = TrackOpen() ? track_ : 0,
          .length = Length(),
          .volume = state_.volume() / 100.0,
          .rate = state_.speed(),
          .canPlay = CanPlay(),
          .canPause = TrackOpen(),
          .canSeek = CanSeek()};
}

void Mpris::ScheduleAnnounce() {
  if (onBus_) announceTimer_.start();
}

void Mpris::Announce() {
  const Watched now = Current();
  if (!onBus_ || now == announced_) return;
  QVariantMap changed;
  const auto note = [&](const char* name, bool differs, const QVariant& value) {
    if (differs) changed.insert(QLatin1String(name), value);
  };
  note("PlaybackStatus", now.status != announced_.status, now.status);
  note("Metadata", now.track != announced_.track || now.length != announced_.length, Metadata());
  note("Volume", now.volume != announced_.volume, now.volume);
  note("Rate", now.rate != announced_.rate, now.rate);
  note("CanPlay", now.canPlay != announced_.canPlay, now.canPlay);
  note("CanPause", now.canPause != announced_.canPause, now.canPause);
  note("CanSeek", now.canSeek != announced_.canSeek, now.canSeek);
  announced_ = now;
  QDBusMessage signal =
      QDBusMessage::createSignal(kObjectPath, QStringLiteral("org.freedesktop.DBus.Properties"),
                                 QStringLiteral("PropertiesChanged"));
  signal << kPlayerInterface << changed << QStringList();
  Send(signal);
}

void Mpris::Connect() {
  const QString address = SessionBusAddress();
  if (address.isEmpty()) return GiveUp(QStringLiteral("no session bus"));
  // Connecting waits for the bus to answer, for up to half a minute when it
  // is stalled: that wait belongs on a worker, not on the GUI thread.
  off_thread::WhenDone(
      this, off_thread::Run([address, name = connectionName_, abandoned = abandoned_] {
        const bool connected = QDBusConnection::connectToBus(address, name).isConnected();
        if (abandoned->load()) QDBusConnection::disconnectFromBus(name);
        return connected;
      }),
      [this](bool connected) { OnConnected(connected); }, false);
}

void Mpris::OnConnected(bool connected) {
  QDBusConnection bus(connectionName_);
  if (!connected) {
    const QString why = bus.lastError().message();
    QDBusConnection::disconnectFromBus(connectionName_);
    return GiveUp(QStringLiteral("session bus unreachable: ") + why);
  }
  // The object goes up before the name, so that whoever sees the name
  // appear finds the object behind it.
  if (!bus.registerObject(kObjectPath, this, QDBusConnection::ExportAdaptors)) {
    return GiveUp(QStringLiteral("object path taken"));
  }
  RequestName(kBusName);
}

void Mpris::RequestName(const QString& name) {
  QDBusMessage request = QDBusMessage::createMethodCall(
      QStringLiteral("org.freedesktop.DBus"), QStringLiteral("/org/freedesktop/DBus"),
      QStringLiteral("org.freedesktop.DBus"), QStringLiteral("RequestName"));
  request << name << kDoNotQueue;
  auto* watcher =
      new QDBusPendingCallWatcher(QDBusConnection(connectionName_).asyncCall(request), this);
  connect(
      watcher, &QDBusPendingCallWatcher::finished, this,
      [this, name](QDBusPendingCallWatcher* call) {
        call->deleteLater();
        const QDBusPendingReply<uint> reply = *call;
        const bool owned =
            !reply.isError() && (reply.value() == kPrimaryOwner || reply.value() == kAlreadyOwner);
        if (owned) return OnNamed(name);
        if (name != kBusName) return GiveUp(QStringLiteral("bus names taken"));
        RequestName(
            QStringLiteral("%1.instance%2").arg(kBusName).arg(QCoreApplication::applicationPid()));
      });
}

void Mpris::OnNamed(const QString& name) {
  serviceName_ = name;
  announced_ = Current();
  onBus_ = true;
  qCDebug(lcMpris) << "on the session bus as" << name;
  emit registered();
}

void Mpris::GiveUp(const QString& why) {
  qCDebug(lcMpris) << "not on the session bus:" << why;
  emit unavailable();
}
