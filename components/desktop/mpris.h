#pragma once

#include <QObject>
#include <QString>
#include <QTimer>
#include <QVariantMap>
#include <atomic>
#include <functional>
#include <memory>

#include "desktop/mpris_backend.h"

class MprisPlayerAdaptor;

// The player area offered to the desktop as an MPRIS media player on the
// session bus, so that media keys, desktop media widgets and command-line
// controllers see what plays and control it. One adaptor per D-Bus
// interface (mpris_root_adaptor.h, mpris_player_adaptor.h); this object
// holds the connection and what they share.
//
// Promises:
// - The GUI thread never waits on the bus: the connection is made on a worker
//   thread and the bus name is asked for without waiting for the answer.
// - Only a bus that already exists is joined: the one DBUS_SESSION_BUS_ADDRESS
//   names, else the per-user bus in $XDG_RUNTIME_DIR. No bus is ever started.
//   Without one, or when it cannot be reached, the object stays idle and
//   prints nothing (the "tibrok.mpris" logging category has debug lines).
// - The name is org.mpris.MediaPlayer2.tibrok_flv_player, or that name with
//   ".instance<pid>" when another process holds it.
// - Position is read from the state when asked; every other property the
//   desktop can watch is announced with PropertiesChanged when it changes,
//   and Seeked follows every seek, whoever asked for it.
// - OpenUri checks the address against the player's address policy and
//   refuses, with a D-Bus error, what the policy refuses; an accepted address
//   goes to PlayerCommands::OpenAddress, as a drop on the player area does.
class Mpris : public QObject, public MprisBackend {
  Q_OBJECT

 public:
  Mpris(const PlaybackState& state, PlayerCommands& commands, Hooks hooks,
        QObject* parent = nullptr);
  ~Mpris() override;

  // The session bus the user already has: the one DBUS_SESSION_BUS_ADDRESS
  // names, else the per-user bus in $XDG_RUNTIME_DIR; empty when there is none.
  static QString SessionBusAddress();
  // Keeps every part of the process (Qt's own accessibility and menu
  // services too) from starting a bus when the user has none: libdbus would
  // run dbus-launch, whose bus outlives the player and writes in the user's
  // home. Call before the application object is made.
  static void NeverStartABus();

  // The bus name held; empty until registered() and without a bus.
  QString ServiceName() const { return serviceName_; }

  // MprisBackend: what the adaptors share.
  const PlaybackState& State() const override { return state_; }
  PlayerCommands& Commands() const override { return commands_; }
  const Hooks& GetHooks() const override { return hooks_; }
  bool TrackOpen() const override;
  QString TrackPath() const override;
  qlonglong Length() const override;
  bool CanPlay() const override;
  QString PlaybackStatus() const override;
  QVariantMap Metadata() const override;
  void Send(const QDBusMessage& message) const override;

 signals:
  // The player is on the bus under ServiceName().
  void registered();
  // There is no bus to join, or it refused both names; nothing more happens.
  void unavailable();

 private:
  // The player properties that PropertiesChanged reports, as last announced.
  struct Watched {
    QString status;
    int track = 0;
    qlonglong length = 0;
    double volume = 0;
    double rate = 1;
    bool canPlay = false;
    bool canPause = false;
    bool canSeek = false;
    bool operator==(const Watched&) const = default;
  };
  Watched Current() const;
  void ScheduleAnnounce();
  void Announce();
  void Connect();
  void OnConnected(bool connected);
  void RequestName(const QString& name);
  void OnNamed(const QString& name);
  void GiveUp(const QString& why);

  const PlaybackState& state_;
  PlayerCommands& commands_;
  const Hooks hooks_;
  MprisPlayerAdaptor* playerAdaptor_ = nullptr;
  const QString connectionName_;
  // Set when this object goes away while the worker is still connecting: the
  // worker then closes the connection it made itself.
  const std::shared_ptr<std::atomic<bool>> abandoned_ = std::make_shared<std::atomic<bool>>(false);
  QString serviceName_;
  bool onBus_ = false;
  // Files loaded so far, which numbers the track ids; 0 before the first.
  int track_ = 0;
  QString trackUrl_;
  QString trackTitle_;
  Watched announced_;
  QTimer announceTimer_;
};
