#include "player/network_opening.h"

#include "base/off_thread.h"

void NetworkOpening::Start(const QString& url, Done done, const net::Limits& limits) {
  Cancel();
  const quint64 generation = ++generation_;
  cancel_ = std::make_shared<net::CancelFlag>();
  const net::Cancel cancel = cancel_;
  network_file::Opening failed;
  failed.error = QStringLiteral("it could not be read");
  off_thread::WhenDone(
      this,
      off_thread::Run([url, cancel, limits] { return network_file::Open(url, cancel, limits); }),
      [this, generation, done](const network_file::Opening& opening) {
        if (generation != generation_) return;
        redirectedTo_ = opening.redirectedTo;
        file_ = opening.file;
        held_ = opening.file;
        done(opening);
      },
      failed);
}

void NetworkOpening::Cancel() {
  ++generation_;
  if (cancel_) cancel_->Cancel();
  cancel_.reset();
  file_.reset();
  held_.reset();
  redirectedTo_.clear();
}

qint64 NetworkOpening::Received() const {
  const std::shared_ptr<net::HttpFile>& file = held_;
  return file ? file->Received() : 0;
}

qint64 NetworkOpening::Size() const {
  const std::shared_ptr<net::HttpFile>& file = held_;
  return file ? file->Size() : -1;
}

QString NetworkOpening::Failure() const {
  const std::shared_ptr<net::HttpFile>& file = held_;
  if (!file || !file->Failed()) return {};
  // A connection ended on purpose (a stop, the engine moving on) failed
  // for nobody.
  const std::string error = file->Error();
  return error == "cancelled" ? QString() : QString::fromStdString(error);
}

QString NetworkOpening::AnsweredUrl() const {
  const std::shared_ptr<net::HttpFile>& file = held_;
  return file ? QString::fromStdString(file->Url()) : QString();
}

std::function<std::string()> NetworkOpening::HeadSource() const {
  return [file = std::weak_ptr<net::HttpFile>(held_)] {
    const std::shared_ptr<net::HttpFile> held = file.lock();
    return held ? held->Head() : std::string();
  };
}
