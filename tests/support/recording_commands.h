#pragma once

#include <QStringList>

#include "player_model/player_commands.h"

// Player commands written down, for the on-screen interface's tests.
class RecordingCommands : public PlayerCommands {
 public:
  QStringList calls;
  void Play() override { calls << "Play"; }
  void Pause() override { calls << "Pause"; }
  void TogglePause() override { calls << "TogglePause"; }
  void Stop() override { calls << "Stop"; }
  void SeekTo(double s) override { calls << QStringLiteral("SeekTo %1").arg(s); }
  void SeekBy(double s) override { calls << QStringLiteral("SeekBy %1").arg(s); }
  void SetVolume(double p) override { calls << QStringLiteral("SetVolume %1").arg(p); }
  void SetMuted(bool m) override { calls << QStringLiteral("SetMuted %1").arg(m); }
  void StepFrame(bool forward) override {
    calls << (forward ? "StepFrame forward" : "StepFrame back");
  }
  void SetSpeed(double f) override { calls << QStringLiteral("SetSpeed %1").arg(f); }
  void CopyPicture() override { calls << "CopyPicture"; }
  void OpenAddress(const QString& a) override { calls << "OpenAddress " + a; }
};
