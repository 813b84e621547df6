#pragma once

#include "media/flv/byte_source.h"
#include "media/mp4/facts.h"

// Walks an MP4 file's boxes: the top level (ftyp, moov, mdat, moof, mfra,
// free and the rest), the movie header's tree down to the sample tables,
// and the fragments. Every size and count is checked against the file and
// against `limits`; memory stays a few blocks whatever the file claims, and
// the time spent follows the tables' real size, which the bounds cap. A
// file the engine must not be given comes back with a refusal.
namespace mp4_reader {

Facts Walk(const flv_reader::ByteSource& source, const Limits& limits = {});

}  // namespace mp4_reader
