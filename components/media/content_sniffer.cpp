#include "media/content_sniffer.h"

#include <QtEndian>
#include <algorithm>

namespace content_sniffer {
namespace {

constexpr qint64 kFlvHeaderBytes = 9;
constexpr qint64 kTagHeaderBytes = 11;

bool StartsWith(const QByteArray& head, const char* prefix, qsizetype at = 0) {
  return head.mid(at).startsWith(prefix);
}

// The start of a text file without a byte-order mark and leading blanks.
QByteArray TextStart(const QByteArray& head) {
  QByteArray text = head.startsWith("\xef\xbb\xbf") ? head.mid(3) : head;
  qsizetype i = 0;
  while (i < text.size() &&
         (text[i] == ' ' || text[i] == '\t' || text[i] == '\r' || text[i] == '\n')) {
    ++i;
  }
  return text.mid(i);
}

bool LooksLikeText(const QByteArray& head) {
  if (head.isEmpty()) return false;
  // The last few bytes may cut a character in two.
  const QByteArray body = head.size() > 8 ? head.left(head.size() - 4) : head;
  for (const char c : body) {
    const auto u = uchar(c);
    if (u < 0x20 && u != '\t' && u != '\n' && u != '\r' && u != '\f') return false;
    if (u == 0x7f) return false;
  }
  // Bytes of 0x80 and above must form UTF-8 (or a Latin-1 text, which also
  // passes as text: both are words, not a video).
  return true;
}

bool IsMpegAudioFrame(const QByteArray& head) {
  if (head.size() < 4) return false;
  const auto b0 = uchar(head[0]), b1 = uchar(head[1]), b2 = uchar(head[2]);
  // Frame sync, a layer, a bit rate index and a sample rate that exist.
  return b0 == 0xff && (b1 & 0xe0) == 0xe0 && (b1 & 0x06) != 0 && (b2 & 0xf0) != 0xf0 &&
         (b2 & 0x0c) != 0x0c;
}

}  // namespace

Kind Classify(const QByteArray& head, qint64 fileSize) {
  if (head.size() >= kFlvHeaderBytes && head.startsWith("FLV") && uchar(head[3]) < 5) {
    const quint32 dataOffset = qFromBigEndian<quint32>(head.constData() + 5);
    // Nothing after the header but, at most, the first PreviousTagSize.
    if (fileSize < qint64{std::max<quint32>(dataOffset, kFlvHeaderBytes)} + 4 + kTagHeaderBytes) {
      return Kind::kFlvHeaderOnly;
    }
    return Kind::kFlv;
  }
  if (head.size() >= 12 && StartsWith(head, "ftyp", 4) &&
      qFromBigEndian<quint32>(head.constData()) >= 8) {
    return Kind::kMp4;
  }
  return Kind::kOther;
}

QString Describe(const QByteArray& head, qint64 fileSize) {
  if (fileSize == 0) return QStringLiteral("an empty file");
  const QByteArray text = TextStart(head);
  const QByteArray lower = text.left(256).toLower();
  struct Prefix {
    const char* bytes;
    const char* what;
  };
  static const Prefix kTextFormats[] = {
      {"ffconcat version", "an FFmpeg concat script"},
      {"v=0\n", "an SDP session description"},
      {"v=0\r\n", "an SDP session description"},
      {"#extm3u", "an M3U playlist"},
      {"[playlist]", "a PLS playlist"},
      {"# mpv edl", "an EDL playlist"},
      {"mpv edl", "an EDL playlist"},
      {"edl://", "an EDL playlist"},
      {"[reference]", "a playlist"},
      {"<asx", "an ASX playlist"},
      {"<smil", "a SMIL playlist"},
      {"<!doctype html", "an HTML page"},
      {"<html", "an HTML page"},
      {"#!", "a script"},
  };
  for (const Prefix& p : kTextFormats) {
    if (lower.startsWith(p.bytes)) return QLatin1String(p.what);
  }
  if (lower.startsWith("<?xml")) {
    if (lower.contains("<playlist")) return QStringLiteral("an XSPF playlist");
    if (lower.contains("<html")) return QStringLiteral("an HTML page");
    return QStringLiteral("an XML document");
  }
  static const Prefix kBinaryFormats[] = {
      {"FWS", "a Flash movie (SWF)"},
      {"CWS", "a Flash movie (SWF)"},
      {"ZWS", "a Flash movie (SWF)"},
      {"PK\x03\x04", "a ZIP archive"},
      {"\x1f\x8b", "a gzip-compressed file"},
      {"Rar!", "a RAR archive"},
      {"7z\xbc\xaf", "a 7-Zip archive"},
      {"\x1a\x45\xdf\xa3", "a Matroska or WebM video"},
      {"OggS", "an Ogg file"},
      {"fLaC", "a FLAC sound file"},
      {"ID3", "an MP3 sound file"},
      {"\x89PNG", "a PNG picture"},
      {"\xff\xd8\xff", "a JPEG picture"},
      {"GIF8", "a GIF picture"},
      {"%PDF", "a PDF document"},
      {"\x7f"
       "ELF",
       "a program"},
      {"FLV", "an FLV file of an unknown version"},
  };
  for (const Prefix& p : kBinaryFormats) {
    if (head.startsWith(p.bytes)) return QLatin1String(p.what);
  }
  if (head.startsWith("RIFF") && head.size() >= 12) {
    if (StartsWith(head, "AVI ", 8)) return QStringLiteral("an AVI video");
    if (StartsWith(head, "WAVE", 8)) return QStringLiteral("a WAV sound file");
    return QStringLiteral("a RIFF file");
  }
  if (head.startsWith(QByteArray("\x00\x00\x01\xba", 4))) {
    return QStringLiteral("an MPEG program stream");
  }
  if (head.size() > 188 && head[0] == 0x47 && head[188] == 0x47) {
    return QStringLiteral("an MPEG transport stream");
  }
  if (head.size() > 262 && StartsWith(head, "ustar", 257)) return QStringLiteral("a tar archive");
  if (IsMpegAudioFrame(head)) return QStringLiteral("an MP3 sound file");
  if (std::all_of(head.begin(), head.end(), [](char c) { return c == 0; })) {
    return QStringLiteral("zero bytes only");
  }
  if (LooksLikeText(head)) return QStringLiteral("text");
  return QStringLiteral("data of an unknown kind");
}

QString Refusal(Kind kind, const QByteArray& head, qint64 fileSize) {
  switch (kind) {
    case Kind::kFlv:
    case Kind::kMp4:
      return {};
    case Kind::kFlvHeaderOnly:
      return QStringLiteral("it holds only an FLV header, and no picture or sound");
    case Kind::kOther:
      return QStringLiteral("it is %1, not an FLV or MP4 video").arg(Describe(head, fileSize));
  }
  return {};
}

}  // namespace content_sniffer
