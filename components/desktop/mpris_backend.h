#pragma once

#include <QString>
#include <QVariantMap>
#include <functional>

class PlaybackState;
class PlayerCommands;
class QDBusMessage;

// The player as the MPRIS adaptors see it: what they read and what they may
// ask, and the connection they reply on. The adaptors know only this; the
// object that holds the bus connection implements it (mpris.h).
class MprisBackend {
 public:
  // What the desktop may ask of the program beyond the player area. A hook
  // left empty makes the matching request do nothing.
  struct Hooks {
    std::function<void()> raise;  // bring the main window to the front
    std::function<void()> quit;   // end the program as its own Exit does
  };

  virtual ~MprisBackend() = default;

  virtual const PlaybackState& State() const = 0;
  virtual PlayerCommands& Commands() const = 0;
  virtual const Hooks& GetHooks() const = 0;
  // A file is open and has been announced as a track.
  virtual bool TrackOpen() const = 0;
  virtual QString TrackPath() const = 0;
  // Microseconds; 0 when unknown.
  virtual qlonglong Length() const = 0;
  bool CanSeek() const { return Length() > 0; }
  virtual bool CanPlay() const = 0;
  virtual QString PlaybackStatus() const = 0;
  virtual QVariantMap Metadata() const = 0;
  // Sends a reply or signal on the connection in use.
  virtual void Send(const QDBusMessage& message) const = 0;
};
