#include "mpris.h"

#include <QCoreApplication>
#include <QDBusAbstractAdaptor>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusObjectPath>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QFutureWatcher>
#include <QLoggingCategory>
#include <QPromise>
#include <QThreadPool>
#include <QTimer>
#include <QUrl>
#include <QVariantMap>
#include <atomic>
#include <cmath>

#include "media_address.h"
#include "mpv_player.h"

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

qlonglong ToMicroseconds(double seconds) { return std::llround(seconds * 1e6); }

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

// The session bus the user already has. With neither of these set, libdbus
// would start a bus of its own for the X display, which outlives the player
// and leaves a file in the user's home.
QString SessionBusAddress() {
  const QString named = qEnvironmentVariable("DBUS_SESSION_BUS_ADDRESS");
  if (!named.isEmpty()) return named;
  const QString runtimeDir = qEnvironmentVariable("XDG_RUNTIME_DIR");
  if (runtimeDir.isEmpty() || !QFileInfo::exists(runtimeDir + QStringLiteral("/bus"))) return {};
  return QStringLiteral("unix:path=") + EscapeAddressValue(runtimeDir + QStringLiteral("/bus"));
}

// The engine gets local files as absolute paths; the desktop wants URLs.
QString UrlOf(const QString& target) {
  return target.startsWith(u'/') ? QUrl::fromLocalFile(target).toString(QUrl::FullyEncoded)
                                 : target;
}

QString TitleOf(const QString& target) {
  const QString name =
      target.startsWith(u'/') ? QFileInfo(target).fileName() : QUrl(target).fileName();
  return name.isEmpty() ? target : name;
}

}  // namespace

class MprisPlayerAdaptor;

struct Mpris::Impl {
  // The player properties that PropertiesChanged reports, as last announced.
  struct Watched {
    QString status;
    int track = 0;
    qlonglong length = 0;
    double volume = 0;
    bool canPlay = false;
    bool canPause = false;
    bool canSeek = false;
    bool operator==(const Watched&) const = default;
  };

  Impl(Mpris* owner, MpvPlayer& p, Hooks h) : q(owner), player(p), hooks(std::move(h)) {}

  Mpris* const q;
  MpvPlayer& player;
  const Hooks hooks;
  MprisPlayerAdaptor* playerAdaptor = nullptr;

  const QString connectionName =
      QStringLiteral("tibrok-mpris-%1").arg(reinterpret_cast<quintptr>(this), 0, 16);
  // Set when this object goes away while the worker is still connecting: the
  // worker then closes the connection it made itself.
  const std::shared_ptr<std::atomic<bool>> abandoned = std::make_shared<std::atomic<bool>>(false);
  QString serviceName;
  bool onBus = false;

  // Files loaded so far, which numbers the track ids; 0 before the first.
  int track = 0;
  QString trackUrl;
  QString trackTitle;

  Watched announced;
  QTimer announceTimer;

  QDBusConnection Bus() const { return QDBusConnection(connectionName); }

  bool TrackOpen() const { return track > 0 && player.HasFile(); }
  QString TrackPath() const {
    return TrackOpen() ? kTrackPathPrefix + QString::number(track) : kNoTrack;
  }
  qlonglong Length() const {
    return TrackOpen() && player.Duration() > 0 ? ToMicroseconds(player.Duration()) : 0;
  }
  bool CanSeek() const { return Length() > 0; }
  bool CanPlay() const { return !player.LastLoadedTarget().isEmpty(); }

  QString PlaybackStatus() const {
    if (!player.HasFile()) return QStringLiteral("Stopped");
    return player.IsPaused() ? QStringLiteral("Paused") : QStringLiteral("Playing");
  }

  QVariantMap Metadata() const {
    QVariantMap metadata{
        {QStringLiteral("mpris:trackid"), QVariant::fromValue(QDBusObjectPath(TrackPath()))}};
    if (!TrackOpen()) return metadata;
    metadata.insert(QStringLiteral("xesam:url"), trackUrl);
    metadata.insert(QStringLiteral("xesam:title"), trackTitle);
    if (Length() > 0) metadata.insert(QStringLiteral("mpris:length"), Length());
    return metadata;
  }

  Watched Current() const {
    return {.status = PlaybackStatus(),
            .track = TrackOpen() ? track : 0,
            .length = Length(),
            .volume = player.Volume() / 100.0,
            .canPlay = CanPlay(),
            .canPause = TrackOpen(),
            .canSeek = CanSeek()};
  }

  void OnFileLoaded() {
    ++track;
    trackUrl = UrlOf(player.LastLoadedTarget());
    trackTitle = TitleOf(player.LastLoadedTarget());
  }

  // Player signals come in bursts (a new file changes half a dozen things):
  // one PropertiesChanged per burst, sent once the burst is over.
  void ScheduleAnnounce() {
    if (onBus) announceTimer.start();
  }

  void Announce() {
    const Watched now = Current();
    if (!onBus || now == announced) return;
    QVariantMap changed;
    const auto note = [&](const char* name, bool differs, const QVariant& value) {
      if (differs) changed.insert(QLatin1String(name), value);
    };
    note("PlaybackStatus", now.status != announced.status, now.status);
    note("Metadata", now.track != announced.track || now.length != announced.length, Metadata());
    note("Volume", now.volume != announced.volume, now.volume);
    note("CanPlay", now.canPlay != announced.canPlay, now.canPlay);
    note("CanPause", now.canPause != announced.canPause, now.canPause);
    note("CanSeek", now.canSeek != announced.canSeek, now.canSeek);
    announced = now;
    QDBusMessage signal =
        QDBusMessage::createSignal(kObjectPath, QStringLiteral("org.freedesktop.DBus.Properties"),
                                   QStringLiteral("PropertiesChanged"));
    signal << kPlayerInterface << changed << QStringList();
    Bus().send(signal);
  }

  void Connect() {
    const QString address = SessionBusAddress();
    if (address.isEmpty()) return GiveUp(QStringLiteral("no session bus"));
    // Connecting waits for the bus to answer, for up to half a minute when
    // it is stalled: that wait belongs on a worker, not on the GUI thread.
    auto promise = std::make_shared<QPromise<bool>>();
    promise->start();
    QThreadPool::globalInstance()->start(
        [promise, address, name = connectionName, abandonedFlag = abandoned] {
          const bool connected = QDBusConnection::connectToBus(address, name).isConnected();
          if (abandonedFlag->load()) QDBusConnection::disconnectFromBus(name);
          promise->addResult(connected);
          promise->finish();
        });
    auto* watcher = new QFutureWatcher<bool>(q);
    QObject::connect(watcher, &QFutureWatcherBase::finished, q, [this, watcher] {
      watcher->deleteLater();
      OnConnected(watcher->result());
    });
    watcher->setFuture(promise->future());
  }

  void OnConnected(bool connected) {
    if (!connected) {
      const QString why = Bus().lastError().message();
      QDBusConnection::disconnectFromBus(connectionName);
      return GiveUp(QStringLiteral("session bus unreachable: ") + why);
    }
    // The object goes up before the name, so that whoever sees the name
    // appear finds the object behind it.
    if (!Bus().registerObject(kObjectPath, q, QDBusConnection::ExportAdaptors)) {
      return GiveUp(QStringLiteral("object path taken"));
    }
    RequestName(kBusName);
  }

  void RequestName(const QString& name) {
    QDBusMessage request = QDBusMessage::createMethodCall(
        QStringLiteral("org.freedesktop.DBus"), QStringLiteral("/org/freedesktop/DBus"),
        QStringLiteral("org.freedesktop.DBus"), QStringLiteral("RequestName"));
    request << name << kDoNotQueue;
    auto* watcher = new QDBusPendingCallWatcher(Bus().asyncCall(request), q);
    QObject::connect(watcher, &QDBusPendingCallWatcher::finished, q,
                     [this, name](QDBusPendingCallWatcher* call) {
                       call->deleteLater();
                       const QDBusPendingReply<uint> reply = *call;
                       const bool owned = !reply.isError() && (reply.value() == kPrimaryOwner ||
                                                               reply.value() == kAlreadyOwner);
                       if (owned) return OnNamed(name);
                       if (name != kBusName) return GiveUp(QStringLiteral("bus names taken"));
                       RequestName(QStringLiteral("%1.instance%2")
                                       .arg(kBusName)
                                       .arg(QCoreApplication::applicationPid()));
                     });
  }

  void OnNamed(const QString& name) {
    serviceName = name;
    announced = Current();
    onBus = true;
    qCDebug(lcMpris) << "on the session bus as" << name;
    emit q->registered();
  }

  void GiveUp(const QString& why) {
    qCDebug(lcMpris) << "not on the session bus:" << why;
    emit q->unavailable();
  }
};

// org.mpris.MediaPlayer2: the program as a whole.
class MprisRootAdaptor : public QDBusAbstractAdaptor {
  Q_OBJECT
  Q_CLASSINFO("D-Bus Interface", "org.mpris.MediaPlayer2")
  Q_PROPERTY(bool CanQuit READ CanQuit)
  Q_PROPERTY(bool CanRaise READ CanRaise)
  Q_PROPERTY(bool HasTrackList READ HasTrackList)
  Q_PROPERTY(QString Identity READ Identity)
  Q_PROPERTY(QString DesktopEntry READ DesktopEntry)
  Q_PROPERTY(QStringList SupportedUriSchemes READ SupportedUriSchemes)
  Q_PROPERTY(QStringList SupportedMimeTypes READ SupportedMimeTypes)

 public:
  explicit MprisRootAdaptor(Mpris* owner) : QDBusAbstractAdaptor(owner), d_(*owner->d_) {}

  bool CanQuit() const { return bool(d_.hooks.quit); }
  bool CanRaise() const { return bool(d_.hooks.raise); }
  bool HasTrackList() const { return false; }
  QString Identity() const { return QStringLiteral("Tibrok Flv Player"); }
  QString DesktopEntry() const { return QStringLiteral("org.tibrok.FlvPlayer"); }
  QStringList SupportedUriSchemes() const {
    return {QStringLiteral("file"), QStringLiteral("http"), QStringLiteral("https"),
            QStringLiteral("rtmp")};
  }
  QStringList SupportedMimeTypes() const {
    return {QStringLiteral("video/x-flv"), QStringLiteral("video/flv")};
  }

 public slots:
  void Raise() {
    if (d_.hooks.raise) d_.hooks.raise();
  }
  void Quit() {
    // After the reply has gone: the program may be gone right after the hook.
    if (d_.hooks.quit) QTimer::singleShot(0, parent(), d_.hooks.quit);
  }

 private:
  Mpris::Impl& d_;
};

// org.mpris.MediaPlayer2.Player: what plays in the player area.
class MprisPlayerAdaptor : public QDBusAbstractAdaptor {
  Q_OBJECT
  Q_CLASSINFO("D-Bus Interface", "org.mpris.MediaPlayer2.Player")
  Q_PROPERTY(QString PlaybackStatus READ PlaybackStatus)
  Q_PROPERTY(double Rate READ Rate WRITE SetRate)
  Q_PROPERTY(double MinimumRate READ Rate)
  Q_PROPERTY(double MaximumRate READ Rate)
  Q_PROPERTY(QVariantMap Metadata READ Metadata)
  Q_PROPERTY(double Volume READ Volume WRITE SetVolume)
  Q_PROPERTY(qlonglong Position READ Position)
  Q_PROPERTY(bool CanGoNext READ CanGoElsewhere)
  Q_PROPERTY(bool CanGoPrevious READ CanGoElsewhere)
  Q_PROPERTY(bool CanPlay READ CanPlay)
  Q_PROPERTY(bool CanPause READ CanPause)
  Q_PROPERTY(bool CanSeek READ CanSeek)
  Q_PROPERTY(bool CanControl READ CanControl)

 public:
  explicit MprisPlayerAdaptor(Mpris* owner) : QDBusAbstractAdaptor(owner), d_(*owner->d_) {}

  QString PlaybackStatus() const { return d_.PlaybackStatus(); }
  double Rate() const { return 1.0; }
  void SetRate(double rate) {
    // The only rate is 1; clients are told not to send 0, which means Pause.
    if (rate == 0) d_.player.Pause();
  }
  QVariantMap Metadata() const { return d_.Metadata(); }
  double Volume() const { return d_.player.Volume() / 100.0; }
  void SetVolume(double volume) {
    if (!std::isnan(volume)) d_.player.SetVolume(std::max(volume, 0.0) * 100.0);
  }
  qlonglong Position() const { return d_.TrackOpen() ? ToMicroseconds(d_.player.Position()) : 0; }
  bool CanGoElsewhere() const { return false; }
  bool CanPlay() const { return d_.CanPlay(); }
  bool CanPause() const { return d_.TrackOpen(); }
  bool CanSeek() const { return d_.CanSeek(); }
  bool CanControl() const { return true; }

 public slots:
  // There is one address and no list to move along.
  void Next() {}
  void Previous() {}
  void Pause() { d_.player.Pause(); }
  void PlayPause() { d_.player.TogglePause(); }
  void Stop() { d_.player.Stop(); }
  void Play() { d_.player.Play(); }

  void Seek(qlonglong offset) {
    if (!d_.CanSeek()) return;
    const double target = d_.player.Position() + double(offset) / 1e6;
    // Past the end is a move to the next track, and there is none.
    if (target > d_.player.Duration()) return;
    d_.player.SeekTo(std::max(target, 0.0));
  }

  void SetPosition(const QDBusObjectPath& trackId, qlonglong position) {
    // A client that read the track id just before the file changed must not
    // move the new file.
    if (!d_.CanSeek() || trackId.path() != d_.TrackPath()) return;
    if (position < 0 || position > d_.Length()) return;
    d_.player.SeekTo(double(position) / 1e6);
  }

  void OpenUri(const QString& uri, const QDBusMessage& message) {
    // Checked here as well as by the player, so that the caller hears about a
    // refusal instead of the user reading it in the player area.
    const media_address::Resolution resolved = media_address::Resolve(uri, QDir::currentPath());
    if (!d_.hooks.open || !resolved.ok()) {
      message.setDelayedReply(true);
      d_.Bus().send(message.createErrorReply(
          QDBusError::NotSupported,
          d_.hooks.open ? resolved.error : QStringLiteral("opening addresses is not offered")));
      return;
    }
    d_.hooks.open(uri);
  }

 signals:
  void Seeked(qlonglong Position);

 private:
  Mpris::Impl& d_;
};

Mpris::Mpris(MpvPlayer& player, Hooks hooks, QObject* parent)
    : QObject(parent), d_(std::make_unique<Impl>(this, player, std::move(hooks))) {
  new MprisRootAdaptor(this);
  d_->playerAdaptor = new MprisPlayerAdaptor(this);

  d_->announceTimer.setSingleShot(true);
  d_->announceTimer.setInterval(0);
  connect(&d_->announceTimer, &QTimer::timeout, this, [this] { d_->Announce(); });
  const auto announce = [this] { d_->ScheduleAnnounce(); };
  connect(&player, &MpvPlayer::fileLoaded, this, [this] {
    d_->OnFileLoaded();
    d_->ScheduleAnnounce();
  });
  connect(&player, &MpvPlayer::hasFileChanged, this, announce);
  connect(&player, &MpvPlayer::pausedChanged, this, announce);
  connect(&player, &MpvPlayer::durationChanged, this, announce);
  connect(&player, &MpvPlayer::volumeChanged, this, announce);
  connect(&player, &MpvPlayer::seeked, this, [this](double seconds) {
    if (d_->onBus) emit d_->playerAdaptor->Seeked(ToMicroseconds(seconds));
  });

  // From the event loop: whoever made this object has connected to its
  // signals by then, and nothing touches the bus during start-up itself.
  QTimer::singleShot(0, this, [this] { d_->Connect(); });
}

Mpris::~Mpris() {
  d_->abandoned->store(true);
  if (d_->onBus) d_->Bus().unregisterObject(kObjectPath);
  // Closing the connection gives the bus name back.
  QDBusConnection::disconnectFromBus(d_->connectionName);
}

QString Mpris::ServiceName() const { return d_->serviceName; }

#include "mpris.moc"
