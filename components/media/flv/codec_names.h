#pragma once

#include <cstdint>
#include <string>

#include "media/flv/facts.h"

// What a stream's codec is called, in either way FLV names it: the legacy
// numbers, codec id 12 (HEVC under the CDN convention) and the enhanced
// FourCCs, known or not. A FourCC's bytes come from the file: any that is
// not printable ASCII is written as \xNN, so a name is always plain text.
namespace flv_reader {

// As the information view lists codecs: "H.264", "On2 VP6", "unknown codec
// 9", "HEVC (codec id 12, a CDN extension)", "AV1 (enhanced FLV, av01)",
// "Opus (enhanced FLV)", "VVC (enhanced FLV, vvc1)", "unknown codec
// (enhanced FLV, FourCC "abcd")".
std::string CodecListName(const CodecTag& codec, bool video);

// For a notice that a stream cannot be decoded: legacy codecs with their
// number as FLV defines it ("Nellymoser 8 kHz mono (FLV sound format 5)",
// "HEVC (FLV codec 12, a CDN extension)"), FourCCs as in the list.
std::string CodecNoticeName(const CodecTag& codec, bool video);

// A codec's profile by its own number ("Main 10", "High", "Profile 2"), or
// empty when the codec has no such names or the number is unknown.
std::string ProfileName(const CodecTag& codec, bool video, int profile);

// The FourCC's four characters, non-printable bytes as \xNN.
std::string FourCcText(uint32_t fourCc);

// A codec's identity whichever way it is written: H.264 under codec id 7 and
// as "avc1" are one, HEVC under id 12 and "hvc1", AAC and "mp4a", MP3 and
// ".mp3". Empty for a codec this reader does not know.
std::string CodecFamily(const CodecTag& codec, bool video);

}  // namespace flv_reader
