#pragma once

// What a codec's own header tells of its pictures or its sound: plain values
// that the header readers fill in and the walk copies into its facts.
namespace flv_reader {

struct PictureSize {
  int width = 0;
  int height = 0;
  bool operator==(const PictureSize&) const = default;
};

// What a configuration record or a key frame tells of the pictures: the
// codec's own profile and level numbers, bit depth and chroma format, and
// the picture size where it is carried. -1 and 0 stand for "not told".
struct VideoFormat {
  PictureSize size;
  int profile = -1;
  int level = -1;
  int bitDepth = 0;
  int chromaFormat = -1;  // 0 monochrome, 1 4:2:0, 2 4:2:2, 3 4:4:4
};

struct SoundFormat {
  int sampleRate = 0;
  int channels = 0;
  int samplesPerFrame = 0;  // 0 when it varies or is unknown
};

}  // namespace flv_reader
