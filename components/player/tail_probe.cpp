#include "player/tail_probe.h"

#include "base/off_thread.h"
#include "media/network_tail.h"
#include "net/http_client.h"

namespace {

// The tail, or nothing (total -1) when the server did not answer with
// exactly the file's last bytes.
network_tail::Tail Fetch(const std::string& url, const net::Limits& limits, net::Cancel cancel) {
  network_tail::Tail tail;
  net::Request request;
  request.url = url;
  request.suffix = TailProbe::kWindowBytes;
  net::Opened opened = net::Open(request, limits, std::move(cancel));
  if (!opened.connection) return {};
  const net::Response& response = opened.connection->response();
  // Only the range asked for will do: a 200 is the whole file, perhaps a
  // live stream, and not one byte of it is read.
  const int64_t length = response.rangeLast - response.rangeFirst + 1;
  if (response.status != 206 || response.totalSize < 0 ||
      response.rangeLast != response.totalSize - 1 || length > TailProbe::kWindowBytes ||
      (response.length >= 0 && response.length != length)) {
    return {};
  }
  tail.bytes.resize(size_t(length));
  int64_t have = 0;
  while (have < length) {
    const int64_t got =
        opened.connection->Read(reinterpret_cast<char*>(tail.bytes.data()) + have, length - have);
    if (got <= 0) return {};
    have += got;
  }
  // More than the range it named: the server is not to be believed.
  char extra;
  if (opened.connection->Read(&extra, 1) != 0) return {};
  tail.first = response.rangeFirst;
  tail.total = response.totalSize;
  return tail;
}

}  // namespace

TailProbe::TailProbe(QObject* parent) : QObject(parent) {
  deadline_.setSingleShot(true);
  // The client's own limits bound each wait; this bounds them all together.
  connect(&deadline_, &QTimer::timeout, this, &TailProbe::Cancel);
}

TailProbe::~TailProbe() { Cancel(); }

void TailProbe::Start(const QString& url, qint64 size, std::function<std::string()> head) {
  Cancel();
  if (!url.startsWith(QLatin1String("http://")) && !url.startsWith(QLatin1String("https://"))) {
    return;
  }
  const quint64 generation = ++generation_;
  cancel_ = std::make_shared<net::CancelFlag>();
  running_ = true;
  deadline_.start(kTimeoutMs);
  const std::string address = url.toStdString();
  const net::Limits limits = limits_;
  const net::Cancel cancel = cancel_;
  off_thread::WhenDone(
      this, off_thread::Run([address, limits, cancel] { return Fetch(address, limits, cancel); }),
      [this, generation, size, head](const network_tail::Tail& tail) {
        if (generation != generation_ || !running_) return;
        running_ = false;
        deadline_.stop();
        if (tail.total < 0) return;
        const int64_t endMs = network_tail::EndIfItFits(head ? head() : std::string(), size, tail);
        if (endMs >= 0) emit found(endMs);
      });
}

void TailProbe::Cancel() {
  ++generation_;
  running_ = false;
  deadline_.stop();
  if (cancel_) cancel_->Cancel();
  cancel_.reset();
}
