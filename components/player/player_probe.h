#pragma once

#include <QString>

class MpvPlayer;
class PlayerOverlay;
class SeekPreview;

// For tests only: what the player area has done, beyond what it shows.
class PlayerProbe {
 public:
  // Video frames drawn into the player area so far.
  static int FramesRendered(const MpvPlayer& player);
  // Loads sent to the engine so far, and the address of the last one.
  static int LoadRequests(const MpvPlayer& player);
  static QString LastLoadedTarget(const MpvPlayer& player);
  // An engine property as text, such as "frame-drop-count", read now; empty
  // without an engine or when it has no such value now.
  static QString EngineProperty(const MpvPlayer& player, const char* name);
  static PlayerOverlay& Overlay(const MpvPlayer& player);
  static SeekPreview& Preview(const MpvPlayer& player);
};
