#include "player/tail_probe.h"

#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QRegularExpression>
#include <vector>

#include "media/flv/byte_source.h"
#include "media/flv/tail.h"

TailProbe::TailProbe(QObject* parent) : QObject(parent) {
  deadline_.setSingleShot(true);
  // The transfer timeout alone would let a server that drips a byte now
  // and then hold the request for hours.
  connect(&deadline_, &QTimer::timeout, this, &TailProbe::Drop);
}

TailProbe::~TailProbe() { Drop(); }

bool TailProbe::ParseContentRange(const QByteArray& value, int64_t* first, int64_t* last,
                                  int64_t* total) {
  static const QRegularExpression kRange(
      QStringLiteral("^\\s*bytes\\s+(\\d{1,18})-(\\d{1,18})/(\\d{1,18})\\s*$"),
      QRegularExpression::CaseInsensitiveOption);
  const QRegularExpressionMatch match = kRange.match(QString::fromLatin1(value));
  if (!match.hasMatch()) return false;
  const int64_t a = match.captured(1).toLongLong();
  const int64_t b = match.captured(2).toLongLong();
  const int64_t size = match.captured(3).toLongLong();
  if (a > b || b >= size) return false;
  *first = a;
  *last = b;
  *total = size;
  return true;
}

void TailProbe::Start(const QUrl& url) {
  Drop();
  if (!url.isValid() ||
      (url.scheme() != QLatin1String("http") && url.scheme() != QLatin1String("https"))) {
    return;
  }
  if (!network_) {
    network_ = new QNetworkAccessManager(this);
    // A redirect would take the request to an address the user never gave.
    network_->setRedirectPolicy(QNetworkRequest::ManualRedirectPolicy);
  }
  QNetworkRequest request(url);
  request.setRawHeader("Range", "bytes=-" + QByteArray::number(kWindowBytes));
  // Ranges count the bytes as stored; a compressed answer would count others.
  request.setRawHeader("Accept-Encoding", "identity");
  request.setAttribute(QNetworkRequest::CookieLoadControlAttribute, QNetworkRequest::Manual);
  request.setAttribute(QNetworkRequest::CookieSaveControlAttribute, QNetworkRequest::Manual);
  request.setAttribute(QNetworkRequest::CacheSaveControlAttribute, false);
  request.setAttribute(QNetworkRequest::CacheLoadControlAttribute, QNetworkRequest::AlwaysNetwork);
  request.setTransferTimeout(kTimeoutMs);

  headersChecked_ = false;
  body_.clear();
  QNetworkReply* reply = network_->get(request);
  // Whatever the server sends, no more than one byte past the window is held.
  reply->setReadBufferSize(kWindowBytes + 1);
  reply_ = reply;
  connect(reply, &QNetworkReply::metaDataChanged, this, &TailProbe::OnHeaders);
  connect(reply, &QNetworkReply::readyRead, this, &TailProbe::OnData);
  connect(reply, &QNetworkReply::finished, this, &TailProbe::OnFinished);
  deadline_.start(kTimeoutMs);
}

void TailProbe::Cancel() { Drop(); }

void TailProbe::Drop() {
  deadline_.stop();
  body_.clear();
  headersChecked_ = false;
  QNetworkReply* reply = reply_;
  reply_ = nullptr;
  if (!reply) return;
  // Its finished signal, which abort() sends at once, is no answer any more.
  reply->disconnect(this);
  reply->abort();
  reply->deleteLater();
}

void TailProbe::OnHeaders() {
  if (!reply_ || headersChecked_) return;
  const QVariant status = reply_->attribute(QNetworkRequest::HttpStatusCodeAttribute);
  // Only the range asked for will do: a 200 is the whole file, perhaps a live
  // stream, and not one byte of it is read.
  if (!status.isValid() || status.toInt() != 206) return Drop();
  int64_t first = 0, last = -1, total = 0;
  if (!ParseContentRange(reply_->rawHeader("Content-Range"), &first, &last, &total) ||
      last != total - 1 || last - first + 1 > kWindowBytes) {
    return Drop();
  }
  const QVariant length = reply_->header(QNetworkRequest::ContentLengthHeader);
  if (length.isValid() && length.toLongLong() != last - first + 1) return Drop();
  first_ = first;
  last_ = last;
  total_ = total;
  headersChecked_ = true;
}

void TailProbe::OnData() {
  if (!headersChecked_) OnHeaders();
  if (!reply_) return;
  body_ += reply_->readAll();
  // More than the range it named: the server is not to be believed.
  if (body_.size() > last_ - first_ + 1) Drop();
}

void TailProbe::OnFinished() {
  if (!reply_) return;
  if (!headersChecked_) OnHeaders();
  if (!reply_) return;
  OnData();
  if (!reply_) return;
  const bool whole =
      reply_->error() == QNetworkReply::NoError && body_.size() == last_ - first_ + 1;
  std::vector<uint8_t> bytes(body_.cbegin(), body_.cend());
  const int64_t first = first_;
  const int64_t total = total_;
  Drop();
  if (!whole) return;
  const flv_reader::MemorySource source(std::move(bytes), first, total);
  flv_reader::TailOptions options;
  options.bytes = kWindowBytes;
  const flv_reader::TailInfo tail = flv_reader::ReadTail(source, options);
  if (!tail.found || tail.endMs < 0) return;
  emit found(tail.endMs);
}
