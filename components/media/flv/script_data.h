#pragma once

#include <optional>
#include <string>

#include "media/flv/amf.h"
#include "media/flv/facts.h"

// What script tags say, read from their parsed values: onMetaData's claims
// (numbers that are numbers, the keyframes index and cue point lists kept up
// to a bound), an onCuePoint's name, time and type, and the text of
// onTextData and onCaption. Values of the wrong type are left out, never
// converted.
namespace flv_reader {

struct ScriptBounds {
  size_t keyframeValues = 10000;  // of each list
  // Cue points kept: more than a seek bar can tick apart.
  size_t cuePoints = 1000;
  size_t strings = 32;
  size_t stringBytes = 256;
  size_t captionBytes = 1024;
};

// Fills `out` from the object that follows the name "onMetaData"; cue points
// it lists go to `cuePoints` (counted in out.cuePointCount, kept up to the
// bound; duplicates are the caller's to weed out).
void ReadMetadata(const amf::Value& object, const ScriptBounds& bounds, Metadata& out,
                  std::vector<CuePoint>& cuePoints);

// An onCuePoint object, or one entry of onMetaData's cuePoints.
std::optional<CuePoint> ReadCuePoint(const amf::Value& object, size_t nameBytes);

// The text of an onTextData or onCaption value: the "text" member of an
// object, the first string of an array, or the string itself.
std::optional<std::string> ReadCaptionText(const amf::Value& value, size_t maxBytes);

}  // namespace flv_reader
