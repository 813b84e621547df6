#pragma once

#include <QByteArray>
#include <QList>
#include <utility>

#include "engine/engine.h"

// How the player sets up its engine. The promise: the engine plays exactly
// what it is given, with nothing of the user's own mpv set-up (config,
// scripts, key bindings, auto-loaded files beside the video); it draws only
// through the player's software render context; it reads each file with the
// one demuxer and the protocols that kind of address needs, so no content
// can make it open another file or a socket; and it never waits on a silent
// server for longer than kNetworkTimeoutSeconds, whatever the protocol.
namespace engine_options {

// Flattens alpha onto white before the software renderer, which would
// otherwise drop the alpha channel and show whatever colour hides under it.
// The explicit yuva420p step keeps drawbox off packed RGB input, which
// crashed in FFmpeg 5.1.
inline constexpr char kFlattenAlphaOntoWhite[] =
    "lavfi=\"format=yuva420p,split[bg][fg];[bg]drawbox=c=white:t=fill:replace=1[w];"
    "[w][fg]overlay=format=yuv420\"";

// How long a server may keep the engine waiting, to connect or to send more.
// The engine's own default is a minute, long enough to look like a hang.
constexpr int kNetworkTimeoutSeconds = 10;

// Pictures larger than this many pixels are refused by the decoders: a
// picture header claiming 16000x16000 in a small file would otherwise take
// gigabytes. 4096x4096 lets every real FLV through (4K included).
constexpr qint64 kMaxPicturePixels = qint64{4096} * 4096;
inline constexpr char kMaxPictureText[] = "4096x4096";

struct Option {
  const char* name;
  QByteArray value;
  // An optional option that this libmpv lacks is skipped; a required one
  // that cannot be set stops the start.
  bool required = true;
};

using KeyValues = QList<std::pair<QByteArray, QByteArray>>;

// Options the engine starts with.
QList<Option> ForPlayer(const engine::Settings& settings);

// The preview decoder's width in pixels; the height keeps the picture's shape.
constexpr int kPreviewWidth = 160;

// Options of an engine made for previews: the same isolation from the user's
// set-up and the same limits as the player's, but no video output, no sound,
// no subtitles and no cache, paused, with every frame scaled down to
// kPreviewWidth as it is decoded.
QList<Option> ForPreview();

// Settings for one file, set before each load, for or against: a setting
// left from the file before must not apply to the next.
struct FileOptions {
  // The engine's demuxer: "lavf" (FFmpeg's) for every file but the player's
  // own Matroska view of a modern FLV, which the engine's Matroska reader
  // reads ("mkv"). That reader is fenced in: it reads only the player's
  // stream, and nothing it finds there opens another file.
  QByteArray demuxer = "lavf";
  QByteArray demuxerFormat;  // empty: the demuxer probes among the allowed
  KeyValues demuxerOptions;  // for the FFmpeg demuxer
  KeyValues streamOptions;   // for the FFmpeg protocol a network address uses
};
FileOptions ForFile(const engine::LoadRequest& request);

}  // namespace engine_options
