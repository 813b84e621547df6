#pragma once

#include <QByteArray>
#include <utility>
#include <vector>

#include "media/flv/facts.h"

// What the engine is told about an FLV before its first tag, in place of the
// file's own onMetaData: the length measured, and for a large file the
// keyframes found (time and byte position of each), in the "keyframes"
// object the engine's FLV reader takes an index from.
//
// Measured with the engine as it is: without an index it seeks exactly and
// fast, but the first seek far ahead reads forward to it (about 3 ms a
// megabyte: 6 s into a 2 GB file). With an index it seeks straight there,
// but lands up to two index entries after the target, so exact seeks must
// start early (SeekLeadSeconds) and decode forward. A small file is
// therefore given no index, its own included; a large one is given ours.
//
// The engine reads a file that starts with Prefix() and goes on with the
// real file's bytes from its first tag (facts.header.dataOffset + 4): the
// positions in the index are where the tags lie in that joined file.
namespace flv_index {

// From this size on a file is given an index: the first seek far ahead
// without one would read forward for longer than a seek with one decodes.
inline constexpr qint64 kIndexFromBytes = qint64{64} << 20;

// Stretches of the file, [from, to), the engine does not see: those the
// walk found to hold no tag. The positions in the index are where the tags
// lie once they are left out.
using Cuts = std::vector<std::pair<qint64, qint64>>;
Cuts NoTagStretches(const flv_reader::Facts& facts);

// Whether the facts hold an index and the file is large enough to be given it.
bool IndexWorthGiving(const flv_reader::Facts& facts, qint64 indexFromBytes);

// The FLV header, its first PreviousTagSize, the synthetic onMetaData tag and
// that tag's PreviousTagSize. Empty when the walk has not covered the whole
// file, or when `withIndex` and the facts have no keyframes to give.
QByteArray Prefix(const flv_reader::Facts& facts, bool withIndex, const Cuts& cuts = {});

// Where the real file's tags start: the prefix takes the place of what came
// before.
qint64 RealStart(const flv_reader::Facts& facts);

// How far before a seek's target the engine must start looking when it
// seeks by an FLV keyframe index. Measured here: the engine's FLV reader
// lands up to two index entries after the target (with a file's own index
// too), and an exact seek cannot step back from there; asked to seek this
// much earlier it lands before the target and decodes forward to it. Two
// of the file's longest keyframe intervals, within bounds; 0 without an
// index.
double SeekLeadSeconds(const flv_reader::Facts& facts);

}  // namespace flv_index
