#include "media/network_file.h"

#include <QByteArray>
#include <QtEndian>
#include <algorithm>
#include <limits>

#include "media/content_sniffer.h"
#include "media/network_mp4.h"

namespace network_file {
namespace {

// As much as a local file's look takes; an FLV or MP4 is told by far fewer,
// and a slow live stream is not kept waiting for the rest.
constexpr qint64 kHeadBytes = 4096;
constexpr qint64 kEnoughToTell = 64;

// How far into an FLV stream the player looks for the way its codecs are
// written: up to its first video tag, or this many media tags, within the
// start the connection keeps for reading again.
constexpr int kMediaTagsToLook = 16;

enum class Dialect { kUndecided, kLegacy, kModern };

// What the first bytes of a media tag's body say: a video tag with the
// enhanced header bit or codec id 12 (HEVC under the CDN convention), or an
// audio tag of sound format 9 (enhanced), is modern. A legacy video tag
// decides for legacy; legacy sound alone leaves it open.
Dialect TagDialect(uint8_t type, uint8_t first) {
  if (type == 9)
    return (first & 0x80) || (first & 0x0f) == 12 ? Dialect::kModern : Dialect::kLegacy;
  if (type == 8 && (first >> 4) == 9) return Dialect::kModern;
  return Dialect::kUndecided;
}

// Reads on from the connection's current position (just past `head`), tag
// by tag, until the dialect is known. The bytes read stay in the
// connection's kept start, so the engine reads them again.
Dialect FlvDialect(net::HttpFile& file, const QByteArray& head) {
  QByteArray bytes = head;
  const auto readTo = [&](qint64 wanted) {
    while (bytes.size() < wanted) {
      char buffer[4096];
      const qint64 want = std::min<qint64>(sizeof buffer, wanted - bytes.size());
      const int64_t got = file.Read(buffer, want);
      if (got <= 0) return false;
      bytes.append(buffer, qsizetype(got));
    }
    return true;
  };
  if (!readTo(9)) return Dialect::kLegacy;
  qint64 at = qFromBigEndian<quint32>(bytes.constData() + 5) + qint64{4};
  for (int media = 0; media < kMediaTagsToLook;) {
    if (at + 12 > net::HttpFile::kHeadBytes || !readTo(at + 12)) break;
    const auto* tag = reinterpret_cast<const uint8_t*>(bytes.constData() + at);
    const qint64 body = qint64{tag[1]} << 16 | qint64{tag[2]} << 8 | tag[3];
    const uint8_t type = tag[0] & 0x1f;
    if ((type == 8 || type == 9) && body > 0) {
      ++media;
      const Dialect dialect = TagDialect(type, tag[11]);
      if (dialect != Dialect::kUndecided) return dialect;
    }
    at += 11 + body + 4;
  }
  return Dialect::kLegacy;
}

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
  const content_sniffer::Kind kind = content_sniffer::Classify(head, size);
  switch (kind) {
    case content_sniffer::Kind::kFlv:
      result.format = FlvDialect(*file, head) == Dialect::kModern ? local_file::Format::kFlvModern
                                                                  : local_file::Format::kFlv;
      break;
    case content_sniffer::Kind::kMp4: {
      result.format = local_file::Format::kMp4;
      network_mp4::HttpRemote remote(*file);
      result.mp4 = network_mp4::Walk(remote);
      // A connection that failed on the way is the reason, not what the
      // walk made of the bytes it did not get.
      if (file->Failed()) {
        result.error = QString::fromStdString(file->Error());
        return result;
      }
      if (result.mp4.refusal != mp4_reader::Refusal::kNone) {
        result.error = QString::fromStdString(result.mp4.refusalText);
        return result;
      }
      break;
    }
    case content_sniffer::Kind::kFlvHeaderOnly:
    case content_sniffer::Kind::kOther:
      result.error = content_sniffer::Refusal(kind, head, size);
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
