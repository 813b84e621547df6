#pragma once

#include <QString>

// What the on-screen controls, the keys and the desktop may ask of the
// player. Every call returns at once; the PlaybackState shows the outcome
// when the engine has acted. Without an address they do nothing.
class PlayerCommands {
 public:
  // The speeds SetSpeed keeps to: a request beyond them gets the nearest.
  static constexpr double kMinSpeed = 0.25;
  static constexpr double kMaxSpeed = 4;

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
  // One frame forward or back, paused afterwards; nothing for sound alone.
  // Steps back asked for while one is under way follow it one by one (a
  // few at most, so a held key stops soon after it is let go).
  virtual void StepFrame(bool forward) = 0;
  // Playback speed as a factor, clamped to kMinSpeed to kMaxSpeed; the
  // sound keeps its pitch. Kept from file to file.
  virtual void SetSpeed(double factor) = 0;
  // Puts the frame on show on the clipboard as an image at the video's own
  // display size, without the controls; nothing is written to disk.
  virtual void CopyPicture() = 0;
  // Plays another address the way the user's own choice would (a drop, a
  // request from the desktop): the program decides how.
  virtual void OpenAddress(const QString& address) = 0;
};
