#pragma once

#include <QByteArray>
#include <QHash>
#include <QObject>
#include <QRegularExpression>
#include <QTcpServer>
#include <QTcpSocket>
#include <QThread>
#include <QTimer>
#include <atomic>

// A small HTTP/1.1 file server on 127.0.0.1 with a thread of its own, so
// that it answers however busy the GUI thread is. It sends the body at a
// limited rate, so that a seek far ahead soon after the start needs a new
// request; it stops answering and closes by itself after a minute.
class FileServer : public QObject {
 public:
  enum class Mode {
    kRanges,    // honours "Range: bytes=N-" and "bytes=-N" with 206 Partial Content
    kNoRanges,  // always the whole body, and says it does not do ranges
    kSilent,    // accepts connections and never answers
    // Answers a range with the Content-Range asked for and no Content-Length,
    // then sends the range and the whole body after it: more than it named.
    kRangesOverrun,
  };

  FileServer(QByteArray body, Mode mode, int bytesPerSecond)
      : body_(std::move(body)), mode_(mode), bytesPerTick_(bytesPerSecond / kTicksPerSecond) {
    moveToThread(&thread_);
    thread_.start();
    QMetaObject::invokeMethod(
        this, [this] { Start(); }, Qt::BlockingQueuedConnection);
  }

  ~FileServer() override {
    QMetaObject::invokeMethod(
        this, [this] { Close(); }, Qt::BlockingQueuedConnection);
    thread_.quit();
    thread_.wait();
  }

  quint16 port() const { return port_; }
  QString Url(const QString& path = QStringLiteral("/clip.flv")) const {
    return QStringLiteral("http://127.0.0.1:%1%2").arg(port_).arg(path);
  }
  int Requests() const { return requests_; }
  int Connections() const { return connections_; }
  // Answers the client closed before their body was all sent.
  int Aborted() const { return aborted_; }
  // Answers whose body was all sent.
  int Completed() const { return completed_; }
  // The largest start offset asked for with a "bytes=N-" Range header: how
  // far a seek went. A request for the last bytes counts for nothing here.
  qint64 FarthestRange() const { return farthestRange_; }

 private:
  static constexpr int kTicksPerSecond = 20;

  struct Client {
    QByteArray request;
    QByteArray pending;  // what is still to be sent
    bool answered = false;
  };

  void Start() {
    server_ = new QTcpServer(this);
    server_->listen(QHostAddress::LocalHost, 0);
    port_ = server_->serverPort();
    connect(server_, &QTcpServer::newConnection, this, [this] {
      while (QTcpSocket* socket = server_->nextPendingConnection()) Accept(socket);
    });
    pump_ = new QTimer(this);
    connect(pump_, &QTimer::timeout, this, [this] { Pump(); });
    pump_->start(1000 / kTicksPerSecond);
    QTimer::singleShot(60000, this, [this] { Close(); });
  }

  void Close() {
    for (QTcpSocket* socket : clients_.keys()) socket->disconnect(this);
    clients_.clear();
    delete pump_;
    pump_ = nullptr;
    delete server_;  // and the sockets, its children
    server_ = nullptr;
  }

  void Accept(QTcpSocket* socket) {
    ++connections_;
    clients_.insert(socket, Client{});
    connect(socket, &QTcpSocket::readyRead, this, [this, socket] { Read(socket); });
    connect(socket, &QTcpSocket::disconnected, this, [this, socket] {
      const auto client = clients_.constFind(socket);
      if (client != clients_.cend() && client->answered && !client->pending.isEmpty()) ++aborted_;
      clients_.remove(socket);
      socket->deleteLater();
    });
  }

  void Read(QTcpSocket* socket) {
    auto client = clients_.find(socket);
    if (client == clients_.end()) return;
    client->request += socket->readAll();
    if (mode_ == Mode::kSilent || client->answered || !client->request.contains("\r\n\r\n")) {
      return;
    }
    client->answered = true;
    ++requests_;
    static const QRegularExpression kRange(QStringLiteral("\r\nRange: *bytes=(\\d+)-"),
                                           QRegularExpression::CaseInsensitiveOption);
    static const QRegularExpression kSuffix(QStringLiteral("\r\nRange: *bytes=-(\\d+)\r\n"),
                                            QRegularExpression::CaseInsensitiveOption);
    const QString request = QString::fromLatin1(client->request);
    const QRegularExpressionMatch suffix = kSuffix.match(request);
    const QRegularExpressionMatch range = suffix.hasMatch() ? suffix : kRange.match(request);
    const qint64 from = !range.hasMatch() ? 0
                        : suffix.hasMatch()
                            ? std::max<qint64>(body_.size() - suffix.captured(1).toLongLong(), 0)
                            : range.captured(1).toLongLong();
    QByteArray head;
    if (mode_ == Mode::kRangesOverrun && range.hasMatch()) {
      head = QStringLiteral("HTTP/1.1 206 Partial Content\r\nContent-Range: bytes %1-%2/%3\r\n")
                 .arg(from)
                 .arg(body_.size() - 1)
                 .arg(body_.size())
                 .toLatin1();
      head += "Content-Type: video/x-flv\r\nConnection: close\r\n\r\n";
      socket->write(head);
      client->pending = body_.mid(from) + body_;
      return;
    }
    if (mode_ == Mode::kRanges && range.hasMatch()) {
      if (!suffix.hasMatch()) farthestRange_ = std::max<qint64>(farthestRange_, from);
      if (from >= body_.size()) {
        socket->write(
            QByteArrayLiteral("HTTP/1.1 416 Range Not Satisfiable\r\n"
                              "Content-Length: 0\r\nConnection: close\r\n\r\n"));
        socket->disconnectFromHost();
        return;
      }
      head = QStringLiteral("HTTP/1.1 206 Partial Content\r\nContent-Range: bytes %1-%2/%3\r\n")
                 .arg(from)
                 .arg(body_.size() - 1)
                 .arg(body_.size())
                 .toLatin1();
      client->pending = body_.mid(from);
    } else {
      head = QByteArrayLiteral("HTTP/1.1 200 OK\r\n");
      client->pending = body_;
    }
    head += mode_ == Mode::kRanges ? "Accept-Ranges: bytes\r\n" : "Accept-Ranges: none\r\n";
    head += "Content-Type: video/x-flv\r\nConnection: close\r\nContent-Length: " +
            QByteArray::number(client->pending.size()) + "\r\n\r\n";
    socket->write(head);
  }

  void Pump() {
    for (auto it = clients_.begin(); it != clients_.end(); ++it) {
      if (it->pending.isEmpty()) continue;
      // Keep the socket's own buffer short: the rate is the point.
      if (it.key()->bytesToWrite() > bytesPerTick_) continue;
      it.key()->write(it->pending.left(bytesPerTick_));
      it->pending.remove(0, bytesPerTick_);
      if (it->pending.isEmpty()) {
        ++completed_;
        it.key()->disconnectFromHost();
      }
    }
  }

  QThread thread_;
  const QByteArray body_;
  const Mode mode_;
  const int bytesPerTick_;
  QTcpServer* server_ = nullptr;
  QTimer* pump_ = nullptr;
  QHash<QTcpSocket*, Client> clients_;
  std::atomic<quint16> port_{0};
  std::atomic<int> requests_{0};
  std::atomic<int> connections_{0};
  std::atomic<int> aborted_{0};
  std::atomic<int> completed_{0};
  std::atomic<qint64> farthestRange_{0};
};
