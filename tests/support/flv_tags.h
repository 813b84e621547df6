#pragma once

// Takes FLV files apart into tags and puts them back together, for tests that
// make damaged files out of good ones.
#include <QByteArray>
#include <QList>
#include <QtEndian>

namespace flv {

struct Tag {
  quint8 type = 0;  // the whole first byte: filter bit and tag type
  quint32 timestamp = 0;
  QByteArray body;
};

struct File {
  QByteArray header;  // everything before PreviousTagSize0
  QList<Tag> tags;
};

inline quint32 Uint24(const char* p) { return qFromBigEndian<quint32>(p) >> 8; }

inline void AppendUint24(QByteArray& out, quint32 value) {
  out.append(char(value >> 16)).append(char(value >> 8)).append(char(value));
}

inline void AppendUint32(QByteArray& out, quint32 value) {
  AppendUint24(out, value >> 8);
  out.append(char(value));
}

// The tags up to the first one that does not fit in `data`.
inline File Parse(const QByteArray& data) {
  File file;
  if (data.size() < 9) return file;
  const quint32 offset = qFromBigEndian<quint32>(data.constData() + 5);
  if (offset < 9 || offset > quint32(data.size())) return file;
  file.header = data.left(offset);
  qsizetype at = qsizetype(offset) + 4;
  while (at + 11 <= data.size()) {
    const char* h = data.constData() + at;
    const quint32 size = Uint24(h + 1);
    if (at + 11 + qsizetype(size) > data.size()) break;
    Tag tag;
    tag.type = quint8(h[0]);
    tag.timestamp = Uint24(h + 4) | (quint32(quint8(h[7])) << 24);
    tag.body = data.mid(at + 11, size);
    file.tags.append(tag);
    at += 11 + qsizetype(size) + 4;
  }
  return file;
}

// `previousSizeError` is added to every PreviousTagSize, as some writers do.
inline QByteArray Write(const File& file, int previousSizeError = 0) {
  QByteArray out = file.header;
  AppendUint32(out, 0);
  for (const Tag& tag : file.tags) {
    out.append(char(tag.type));
    AppendUint24(out, quint32(tag.body.size()));
    AppendUint24(out, tag.timestamp & 0xffffff);
    out.append(char(tag.timestamp >> 24));
    AppendUint24(out, 0);
    out.append(tag.body);
    AppendUint32(out, quint32(11 + tag.body.size() + previousSizeError));
  }
  return out;
}

}  // namespace flv
