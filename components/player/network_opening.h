#pragma once

#include <QObject>
#include <QString>
#include <functional>
#include <memory>
#include <string>

#include "media/network_file.h"
#include "net/cancel.h"
#include "net/http_file.h"

// The player's side of an http(s) address: the connection is opened and its
// start looked at off the GUI thread (media/network_file.h), then handed to
// the engine; meanwhile and after, this tells how much has really arrived,
// where a redirect went, and why the connection failed, in the client's
// words. Cancelling ends the open and the connection the engine reads, at
// once; a new Start cancels the one before.
class NetworkOpening : public QObject {
  Q_OBJECT

 public:
  using Done = std::function<void(const network_file::Opening&)>;

  explicit NetworkOpening(QObject* parent = nullptr) : QObject(parent) {}
  ~NetworkOpening() override { Cancel(); }

  // `done` gets the result on this thread, unless cancelled first.
  void Start(const QString& url, Done done, const net::Limits& limits = {});
  void Cancel();
  // The open connection, for the engine; null after it was taken.
  std::shared_ptr<net::HttpFile> TakeFile() { return std::move(file_); }

  // Body bytes received so far, and the file's size (-1 unknown).
  qint64 Received() const;
  qint64 Size() const;
  // Why the connection failed while the engine read it, in words; empty
  // while it has not, or when it was cancelled.
  QString Failure() const;
  QString RedirectedTo() const { return redirectedTo_; }
  // The address that answered, and the file's first bytes as they come:
  // what a request for the tail needs.
  QString AnsweredUrl() const;
  std::function<std::string()> HeadSource() const;

 private:
  net::Cancel cancel_;
  quint64 generation_ = 0;
  std::shared_ptr<net::HttpFile> file_;
  // Held while the address is in hand, so that its counters and its
  // failure outlive the engine's reading.
  std::shared_ptr<net::HttpFile> held_;
  QString redirectedTo_;
};
