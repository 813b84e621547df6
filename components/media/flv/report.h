#pragma once

#include <string>

#include "media/flv/facts.h"

// The facts as plain English text for an information view: one line per
// subject ("Container: ...", "Video: ...", "Length: ...", "Problems: ..."),
// lines ending in '\n'. Text taken from the file (metadata strings, cue point
// names, captions) is made valid UTF-8 without control characters and cut
// short; nothing is markup.
namespace flv_reader {

std::string Report(const Facts& facts);

}  // namespace flv_reader
