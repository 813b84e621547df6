#pragma once

#include "media/flv/facts.h"
#include "media/flv/walk_reader.h"

// Once every tag is counted, what the file says about itself is held against
// what it holds: the header's audio and video flags, onMetaData's claims
// (absurd values, a duration, picture size, file size or codec the tags
// contradict), and its keyframes index, a sample of whose entries is looked
// up in the file. Each disagreement becomes a problem in `facts`.
namespace flv_reader::walk {

void CheckHeaderFlags(Facts& f);
void CheckClaims(Facts& f);
void CheckClaimedIndex(Facts& f, Reader& r);

}  // namespace flv_reader::walk
