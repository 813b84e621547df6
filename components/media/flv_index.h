#pragma once

#include <QByteArray>

#include "flv/facts.h"

// What the engine is told about an FLV before its first tag, in place of the
// file's own onMetaData: the length measured and the keyframes found (time
// and byte position of each), in the "keyframes" object the engine's FLV
// reader takes an index from. With it the engine seeks straight to a
// keyframe, also in files that have no index or a wrong one, instead of
// reading forward from the start; and it believes the true length.
//
// The engine reads a file that starts with Prefix() and goes on with the
// real file's bytes from its first tag (facts.header.dataOffset + 4): the
// positions in the index are where the tags lie in that joined file.
namespace flv_index {

// The FLV header, its first PreviousTagSize, the synthetic onMetaData tag and
// that tag's PreviousTagSize. Empty when the facts give no index to build
// (no keyframes found, or the walk has not covered the whole file).
QByteArray Prefix(const flv_reader::Facts& facts);

// Where the real file's tags start: the prefix takes the place of what came
// before.
qint64 RealStart(const flv_reader::Facts& facts);

// How far before a seek's target the engine must start looking when it
// seeks by an FLV keyframe index. Measured here: the engine's FLV reader
// lands up to two index entries after the target (with a file's own index
// too), and an exact seek cannot step back from there; asked to seek this
// much earlier it lands before the target and decodes forward to it. Three
// of the file's longest keyframe intervals, within bounds; 0 without an
// index.
double SeekLeadSeconds(const flv_reader::Facts& facts);

}  // namespace flv_index
