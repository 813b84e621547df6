#pragma once

#include <string>

#include "media/mp4/facts.h"

// The facts as plain English text for the information view, in the FLV
// report's shape: one line per subject ("Container: ...", "Video: ...",
// "Length: ...", "Problems: ..."), lines ending in '\n'. Names taken from
// the file are four printable characters at most; nothing is markup.
namespace mp4_reader {

std::string Report(const Facts& facts);

}  // namespace mp4_reader
