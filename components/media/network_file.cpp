#include "media/network_file.h"

#include <QByteArray>
#include <limits>

#include "media/content_sniffer.h"

namespace network_file {
namespace {

// As much as a local file's look takes; an FLV or MP4 is told by far fewer,
// and a slow live stream is not kept waiting for the rest.
constexpr qint64 kHeadBytes = 4096;
constexpr qint64 kEnoughToTell = 64;

}  // namespace

Opening Open(const QString& url, net::Cancel cancel, const net::Limits& limits) {
  Opening result;
  net::Opened failure;
  std::shared_ptr<net::HttpFile> file =
      net::HttpFile::Open(url.toStdString(), limits, cancel, &failure);
  if (!file) {
    result.error = QString::fromStdString(failure.error);
    result.redirectedTo = QString::fromStdString(failure.url);
    return result;
  }
  if (file->Redirects() > 0) result.redirectedTo = QString::fromStdString(file->Url());

  QByteArray head;
  bool ended = false;
  for (;;) {
    const qint64 size = file->Size() >= 0 ? file->Size() : std::numeric_limits<qint64>::max();
    if (head.size() >= kEnoughToTell) {
      const content_sniffer::Kind kind = content_sniffer::Classify(head, size);
      if (kind == content_sniffer::Kind::kFlv || kind == content_sniffer::Kind::kMp4) break;
    }
    if (head.size() >= kHeadBytes) break;
    char buffer[kHeadBytes];
    const int64_t got = file->Read(buffer, kHeadBytes - head.size());
    if (got < 0) {
      result.error = QString::fromStdString(file->Error());
      return result;
    }
    if (got == 0) {
      ended = true;
      break;
    }
    head.append(buffer, qsizetype(got));
  }
  const qint64 size = ended               ? head.size()
                      : file->Size() >= 0 ? file->Size()
                                          : std::numeric_limits<qint64>::max();
  switch (content_sniffer::Classify(head, size)) {
    case content_sniffer::Kind::kFlv:
      result.format = local_file::Format::kFlv;
      break;
    case content_sniffer::Kind::kMp4:
      result.format = local_file::Format::kMp4;
      break;
    case content_sniffer::Kind::kFlvHeaderOnly:
      result.error = QStringLiteral("it holds only an FLV header, and no picture or sound");
      return result;
    case content_sniffer::Kind::kOther:
      result.error = QStringLiteral("it is %1, not an FLV or MP4 video")
                         .arg(content_sniffer::Describe(head, size));
      return result;
  }
  // The engine reads from the start, the bytes looked at included.
  if (!file->Seek(0)) {
    result.error = QStringLiteral("it could not be read again from its start");
    return result;
  }
  result.file = std::move(file);
  return result;
}

}  // namespace network_file
