#pragma once

#include <QObject>
#include <QString>
#include <functional>
#include <memory>

class MpvPlayer;

// The player area offered to the desktop as an MPRIS media player on the
// session bus, so that media keys, desktop media widgets and command-line
// controllers see what plays in `player` and control it.
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
// - Position is read from the player when asked; every other property the
//   desktop can watch is announced with PropertiesChanged when it changes,
//   and Seeked follows every seek, whoever asked for it.
// - OpenUri checks the address against the player's address policy and
//   refuses, with a D-Bus error, what the policy refuses; an accepted address
//   goes to Hooks::open.
class Mpris : public QObject {
  Q_OBJECT

 public:
  // What the desktop may ask of the program beyond the player area. A hook
  // left empty makes the matching request do nothing (or, for open, fail).
  struct Hooks {
    std::function<void()> raise;  // bring the main window to the front
    std::function<void()> quit;   // end the program as its own Exit does
    // Play an address that the policy accepts, as the user's own choice would.
    std::function<void(const QString& address)> open;
  };

  Mpris(MpvPlayer& player, Hooks hooks, QObject* parent = nullptr);
  ~Mpris() override;

  // The bus name held; empty until registered() and without a bus.
  QString ServiceName() const;

 signals:
  // The player is on the bus under ServiceName().
  void registered();
  // There is no bus to join, or it refused both names; nothing more happens.
  void unavailable();

 private:
  struct Impl;
  friend class MprisRootAdaptor;
  friend class MprisPlayerAdaptor;
  std::unique_ptr<Impl> d_;
};
