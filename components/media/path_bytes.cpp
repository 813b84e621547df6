#include "media/path_bytes.h"

#include <algorithm>

namespace path_bytes {
namespace {

// The length of the valid UTF-8 sequence at `p` (1 to 4), or 0 when the
// bytes there are not one: overlong forms, surrogates and values past
// U+10FFFF count as invalid, as a strict decoder has it.
int ValidSequence(const uchar* p, qsizetype left) {
  const uchar c = p[0];
  if (c < 0x80) return 1;
  int length = 0;
  char32_t min = 0;
  char32_t value = 0;
  if ((c & 0xe0) == 0xc0) {
    length = 2, min = 0x80, value = c & 0x1f;
  } else if ((c & 0xf0) == 0xe0) {
    length = 3, min = 0x800, value = c & 0x0f;
  } else if ((c & 0xf8) == 0xf0) {
    length = 4, min = 0x10000, value = c & 0x07;
  } else {
    return 0;
  }
  if (left < length) return 0;
  for (int i = 1; i < length; ++i) {
    if ((p[i] & 0xc0) != 0x80) return 0;
    value = (value << 6) | (p[i] & 0x3f);
  }
  if (value < min || value > 0x10ffff || (value >= 0xd800 && value <= 0xdfff)) return 0;
  return length;
}

}  // namespace

QString Decode(const QByteArray& bytes) {
  QString text;
  text.reserve(bytes.size());
  const auto* p = reinterpret_cast<const uchar*>(bytes.constData());
  const qsizetype size = bytes.size();
  for (qsizetype i = 0; i < size;) {
    const int length = ValidSequence(p + i, size - i);
    if (length == 0) {
      text.append(QChar(char16_t(0xdc00 + p[i])));
      ++i;
      continue;
    }
    text.append(QString::fromUtf8(bytes.constData() + i, length));
    i += length;
  }
  return text;
}

QByteArray Encode(const QString& text) {
  const bool plain =
      std::none_of(text.begin(), text.end(), [](QChar c) { return c.isSurrogate(); });
  if (plain) return text.toUtf8();
  QByteArray bytes;
  bytes.reserve(text.size());
  const qsizetype size = text.size();
  for (qsizetype i = 0; i < size; ++i) {
    const char16_t unit = text.at(i).unicode();
    if (QChar::isHighSurrogate(unit) && i + 1 < size && text.at(i + 1).isLowSurrogate()) {
      bytes.append(text.mid(i, 2).toUtf8());
      ++i;
    } else if (unit >= 0xdc80 && unit <= 0xdcff) {
      bytes.append(char(unit - 0xdc00));
    } else if (QChar::isSurrogate(unit)) {
      // A lone surrogate that no byte stands for: not a name this system has.
      bytes.append("\xef\xbf\xbd");
    } else {
      bytes.append(QString(QChar(unit)).toUtf8());
    }
  }
  return bytes;
}

}  // namespace path_bytes
