#pragma once

#include <QObject>
#include <QString>
#include <QTimer>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "net/cancel.h"
#include "net/limits.h"

// Learns an http(s) FLV's true end with one request for its last bytes, made
// by the player's own client (net/) on a worker thread: the same rules as
// every request (certificates, redirects within http(s), headers and drips
// bounded), at most kWindowBytes held, and the whole request given up after
// kTimeoutMs or as soon as it is cancelled (with the file, or the player),
// without the GUI thread ever waiting for it. A suffix range ("bytes=-N")
// answered 206 brings the tail and, in its Content-Range, the file's size;
// anything else is dropped before a byte of its body is read. The answer
// counts only when it fits the file's start (media/network_tail.h).
class TailProbe : public QObject {
  Q_OBJECT

 public:
  static constexpr int64_t kWindowBytes = int64_t{64} << 10;
  static constexpr int kTimeoutMs = 10000;

  explicit TailProbe(QObject* parent = nullptr);
  ~TailProbe() override;

  // Asks `url` (where the main answer came from, `size` bytes) for its
  // tail; drops whatever was asked before. `head` gives the file's first
  // bytes, as many as have come, when the tail is in.
  void Start(const QString& url, qint64 size, std::function<std::string()> head);
  void Cancel();
  bool Running() const { return running_; }
  // Tests shorten the waits.
  void SetLimits(const net::Limits& limits) { limits_ = limits; }

 signals:
  // The last frame's timestamp, in milliseconds on the file's own clock.
  void found(qint64 endMs);

 private:
  net::Limits limits_;
  net::Cancel cancel_;
  QTimer deadline_;
  quint64 generation_ = 0;
  bool running_ = false;
};
