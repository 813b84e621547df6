#pragma once

#include <QString>

// What the on-screen controls, the keys and the desktop may ask of the
// player. Every call returns at once; the PlaybackState shows the outcome
// when the engine has acted. Without an address they do nothing.
class PlayerCommands {
 public:
  virtual ~PlayerCommands() = default;
  // Resumes; after Stop, or at the end, plays the address again from the start.
  virtual void Play() = 0;
  virtual void Pause() = 0;
  virtual void TogglePause() = 0;
  // Closes the file, as if nothing had been played; Play opens it again.
  virtual void Stop() = 0;
  // Frame-exact seeks, in seconds; the engine keeps the target inside the file.
  virtual void SeekTo(double seconds) = 0;
  virtual void SeekBy(double seconds) = 0;
  // Loudness in percent, clamped to 0 to 100.
  virtual void SetVolume(double percent) = 0;
  virtual void SetMuted(bool muted) = 0;
  // Plays another address the way the user's own choice would (a drop, a
  // request from the desktop): the program decides how.
  virtual void OpenAddress(const QString& address) = 0;
};
