#pragma once

#include <QObject>
#include <QTimer>
#include <functional>

// Steps back, one at a time. The engine makes a step back by seeking from
// the keyframe before and keeps only the newest of several asked for at
// once, so one goes at a time and quick presses wait behind it: a few at
// most, so that a held key stops soon after it is let go. A step that never
// lands holds the next ones only a while.
class BackSteps : public QObject {
  Q_OBJECT

 public:
  // `send` asks the engine for one step back; it answers false when there
  // is nothing to step in, and the steps waiting are dropped.
  explicit BackSteps(std::function<bool()> send, QObject* parent = nullptr);
  void SetTimeoutMs(int ms) { timer_.setInterval(ms); }

  void Request();
  // The engine played on after a seek: the step under way has landed.
  void Landed();
  // Steps asked for in the file before are not for the next one.
  void Clear() { waiting_ = 0; }

  static constexpr int kMostWaiting = 3;

 private:
  void Send();
  void Done();

  std::function<bool()> send_;
  bool underWay_ = false;
  int waiting_ = 0;
  QTimer timer_;
};
