#pragma once

#include <QByteArray>
#include <QString>

// What a file is, told from its first bytes. The player decides the format
// itself and hands the engine only the two it plays: a general probe would
// obey whatever a downloaded ".flv" really holds (a script naming other
// files to open, a session description that listens on network ports).
namespace content_sniffer {

enum class Kind {
  kFlv,            // "FLV" and a version the FLV reader knows
  kMp4,            // an ISO media file (MP4, 3GP, F4V): real ".flv" downloads often are
  kFlvHeaderOnly,  // an FLV header with nothing after it
  kOther,          // anything else; Describe() says what it looks like
};

// `head` is the start of the file (a few KiB are plenty); `fileSize` its size.
Kind Classify(const QByteArray& head, qint64 fileSize);

// What a file that is neither FLV nor MP4 looks like, to finish the sentence
// "it is ...": "an FFmpeg concat script", "an SDP session description",
// "a playlist", "an HTML page", "text", "a ZIP archive", ...
QString Describe(const QByteArray& head, qint64 fileSize);

// Why a file of `kind` is refused, to finish "Cannot play ...: "; empty for
// the kinds that play.
QString Refusal(Kind kind, const QByteArray& head, qint64 fileSize);

}  // namespace content_sniffer
