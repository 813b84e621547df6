#pragma once

#include <QString>

namespace testsupport {

// Path of a file in the shared real-world FLV corpus.
QString CorpusFile(const QString& name);

// Makes an FLV with ffmpeg into `dir` and returns its path ("" on failure).
// `videoArgs` and `audioArgs` are ffmpeg arguments such as lavfi sources and
// codecs; the file is `seconds` long.
QString MakeFlv(const QString& dir, const QString& name, const QStringList& ffmpegArgs);

}  // namespace testsupport
