#include "local_media.h"

#include <QFile>
#include <QFileInfo>
#include <QtEndian>
#include <array>

namespace local_media {
namespace {

constexpr int kTagHeaderBytes = 11;
// Enough tags to tell a writer's habit from one damaged spot, and few enough
// to cost a handful of small reads.
constexpr int kTagsToCheck = 16;

bool ReadAt(QIODevice& file, qint64 offset, char* data, qint64 size) {
  return file.seek(offset) && file.read(data, size) == size;
}

// An audio, video or script tag with no reserved bits set and stream id 0.
bool LooksLikeTagHeader(const std::array<char, kTagHeaderBytes>& h) {
  const auto flags = static_cast<uchar>(h[0]);
  const int type = flags & 0x1f;
  return (flags & 0xc0) == 0 && (type == 8 || type == 9 || type == 18) && h[8] == 0 && h[9] == 0 &&
         h[10] == 0;
}

quint32 Uint24(const char* p) { return qFromBigEndian<quint32>(p) >> 8; }

}  // namespace

bool IsFlv(QIODevice& file) {
  char header[9];
  if (!ReadAt(file, 0, header, sizeof header) || qstrncmp(header, "FLV", 3) != 0) return false;
  const quint32 dataOffset = qFromBigEndian<quint32>(header + 5);
  return static_cast<uchar>(header[3]) < 5 && header[5] == 0 && dataOffset > 8 &&
         qint64{dataOffset} + 100 < file.size();
}

bool PreviousTagSizesWrong(QIODevice& file) {
  char header[9];
  if (!ReadAt(file, 0, header, sizeof header) || qstrncmp(header, "FLV", 3) != 0) return false;
  const quint32 dataOffset = qFromBigEndian<quint32>(header + 5);
  if (dataOffset < sizeof header) return false;

  // Walks the chain of tags by their own sizes. A tag counts when the next
  // one is where its size says; its PreviousTagSize then either agrees or not.
  qint64 tagAt = qint64{dataOffset} + 4;
  std::array<char, kTagHeaderBytes> tag{};
  if (!ReadAt(file, tagAt, tag.data(), tag.size()) || !LooksLikeTagHeader(tag)) return false;
  int chained = 0, agreeing = 0;
  while (chained < kTagsToCheck) {
    const quint32 bodySize = Uint24(tag.data() + 1);
    const qint64 sizeAt = tagAt + kTagHeaderBytes + bodySize;
    char previousSize[4];
    std::array<char, kTagHeaderBytes> next{};
    if (!ReadAt(file, sizeAt, previousSize, 4) ||
        !ReadAt(file, sizeAt + 4, next.data(), next.size()) || !LooksLikeTagHeader(next)) {
      break;
    }
    ++chained;
    if (qFromBigEndian<quint32>(previousSize) == bodySize + kTagHeaderBytes) ++agreeing;
    tagAt = sizeAt + 4;
    tag = next;
  }
  // One wrong field is damage the demuxer's own resync handles; a chain with
  // not one right field is a writer that got them all wrong.
  return chained >= 2 && agreeing == 0;
}

Findings Inspect(const QString& path) {
  const QFileInfo info(path);
  if (!info.exists()) return {};
  if (!info.isFile()) return {QStringLiteral("it is not a regular file")};
  QFile file(path);
  // The engine reports an unreadable file itself.
  if (!file.open(QIODevice::ReadOnly)) return {};
  Findings findings;
  findings.flv = IsFlv(file);
  findings.previousTagSizesWrong = PreviousTagSizesWrong(file);
  return findings;
}

}  // namespace local_media
