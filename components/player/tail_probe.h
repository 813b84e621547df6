#pragma once

#include <QByteArray>
#include <QObject>
#include <QPointer>
#include <QTimer>
#include <QUrl>
#include <cstdint>

class QNetworkAccessManager;
class QNetworkReply;

// Learns an http(s) FLV's true end with one request for its last bytes. A
// suffix range ("bytes=-N") answered 206 brings both the tail and, in its
// Content-Range, the file's whole size; a server that answers anything else
// does not do ranges, and the request is dropped before a byte of its body
// is read: such a server may be sending a live stream that never ends.
class TailProbe : public QObject {
  Q_OBJECT

 public:
  static constexpr int64_t kWindowBytes = int64_t{64} << 10;
  // However slowly the server sends, the request ends within this.
  static constexpr int kTimeoutMs = 10000;

  explicit TailProbe(QObject* parent = nullptr);
  ~TailProbe() override;

  // Asks for `url`'s tail; drops whatever was asked before. Anything but
  // http and https is left alone.
  void Start(const QUrl& url);
  void Cancel();
  bool Running() const { return !reply_.isNull(); }

  // A Content-Range of "bytes FIRST-LAST/TOTAL", all three known; false for
  // anything else ("*" for the size, a range that ends past it, ...).
  static bool ParseContentRange(const QByteArray& value, int64_t* first, int64_t* last,
                                int64_t* total);

 signals:
  // The last frame's timestamp, in milliseconds on the file's own clock.
  void found(qint64 endMs);

 private:
  void OnHeaders();
  void OnData();
  void OnFinished();
  void Drop();

  QNetworkAccessManager* network_ = nullptr;
  QPointer<QNetworkReply> reply_;
  QTimer deadline_;
  QByteArray body_;
  bool headersChecked_ = false;
  int64_t first_ = 0;
  int64_t last_ = -1;
  int64_t total_ = 0;
};
