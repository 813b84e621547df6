#include "engine/engine_options.h"

namespace engine_options {
namespace {

// What the FFmpeg demuxer may be for each kind of address. A local file's
// format is decided by the player; over the network it is probed, but only
// among these. FFmpeg names its MP4 reader "mov,mp4,m4a,3gp,3g2,mj2".
constexpr char kNetworkFormats[] = "flv,live_flv,mov";
// A demuxer of these formats never opens anything besides its input: the
// protocol list for such nested opens names none that exists.
constexpr char kNoNestedProtocol[] = "none";
// rtmp is the engine's own: its tunnelled flavours (rtmpt) need http too.
constexpr char kRtmpProtocols[] =
    "rtmp,rtmps,rtmpe,rtmpt,rtmpte,rtmpts,ffrtmpcrypt,ffrtmphttp,tcp,tls,http,https";
// Where Debian keeps the trust store as one file: the engine's TLS (rtmps)
// checks certificates against it.
constexpr char kSystemCaBundle[] = "/etc/ssl/certs/ca-certificates.crt";

// What every engine of the player starts with: nothing of the user's own mpv
// set-up, scripts or key bindings (this program is the whole user
// interface), nothing found beside the address, FFmpeg's demuxers only, the
// decoders' picture limit, the network timeout and certificates checked.
QList<Option> Isolated() {
  return {
      {"config", "no"},
      {"load-scripts", "no"},
      {"terminal", "no"},
      {"input-default-bindings", "no"},
      {"ytdl", "no", false},
      {"osc", "no", false},
      {"load-stats-overlay", "no", false},
      {"load-osd-console", "no", false},
      {"load-auto-profiles", "no", false},
      {"input-builtin-bindings", "no", false},
      {"input-vo-keyboard", "no", false},
      {"input-media-keys", "no", false},
      {"resume-playback", "no", false},
      {"access-references", "no", false},
      {"gpu-hwdec-interop", "no", false},
      // Play the address given and nothing found beside it.
      {"sub-auto", "no", false},
      {"audio-file-auto", "no", false},
      {"cover-art-auto", "no", false},
      // FFmpeg's demuxers only: the engine's own readers of playlists, EDL
      // and cue files would open whatever such a file names.
      {"demuxer", "lavf"},
      // The Matroska reader, used only for the player's own view of a
      // modern FLV, would otherwise look for the other parts of a file with
      // linked segments or ordered chapters, beside it and by name.
      {"ordered-chapters", "no"},
      {"ordered-chapters-files", "", false},
      {"vd-lavc-o", "max_pixels=" + QByteArray::number(kMaxPicturePixels)},
      {"hwdec", "no"},
      {"idle", "yes"},
      // The last frame stays up when the video ends.
      {"keep-open", "yes"},
      {"network-timeout", QByteArray::number(kNetworkTimeoutSeconds)},
      // The engine's TLS (rtmps only: http(s) is the player's own) takes no
      // certificate on trust. No switch turns this off.
      {"tls-verify", "yes"},
      {"tls-ca-file", kSystemCaBundle},
  };
}

}  // namespace

QList<Option> ForPlayer(const engine::Settings& settings) {
  QList<Option> options = Isolated();
  options += {
      {"vo", "libmpv"},
      // The component lays the picture out itself (ShowAll) and hands mpv
      // a target of the video's own shape: mpv's software renderer paints
      // letterbox bars black, whatever the movie's background.
      {"keepaspect", "no"},
      {"osd-level", "0"},
      // Hand each frame over when it is due instead of early: an early one
      // makes mpv_render_context_render wait for its time on the GUI thread,
      // which then misses the repaint of the frame before.
      {"video-timing-offset", "0"},
      // One thread converts each frame: helper threads split the same work
      // and cost more CPU in total, for a few milliseconds less latency.
      {"zimg-threads", "1", false},
      // Without a working sound device, play on in silence rather than
      // dropping the audio track.
      {"audio-fallback-to-null", "yes"},
      // The engine's default, stated: at another speed the sound keeps its
      // pitch (the engine puts its time-stretching filter in by itself).
      {"audio-pitch-correction", "yes"},
  };
  if (!settings.audioOutput.isEmpty()) options.append({"ao", settings.audioOutput});
  options.append({"volume", QByteArray::number(settings.volume, 'f', 3)});
  options.append({"mute", QByteArray(settings.muted ? "yes" : "no")});
  options.append({"speed", QByteArray::number(settings.speed, 'f', 6)});
  return options;
}

QList<Option> ForPreview() {
  QList<Option> options = Isolated();
  options += {
      // Pictures are taken from the decoder's output: nothing is shown.
      {"vo", "null"},
      {"aid", "no"},
      {"sid", "no"},
      // Every request is a seek somewhere else: read-ahead would be wasted.
      {"cache", "no"},
      {"pause", "yes"},
      // Scaled as decoded, so a picture taken is small and cheap to copy;
      // an even height keeps the scaler away from odd chroma sizes.
      {"vf", "scale=" + QByteArray::number(kPreviewWidth) + ":-2"},
      {"ao", "null"},
      // One keyframe at a time: more decoding threads each hold pictures of
      // their own (8 MB more at 1080p) for a few milliseconds less, and take
      // cores from the player's own decoder.
      {"vd-lavc-threads", "1"},
  };
  return options;
}

FileOptions ForFile(const engine::LoadRequest& request) {
  using Source = engine::LoadRequest::Source;
  FileOptions options;
  options.demuxerOptions.append(
      std::pair<QByteArray, QByteArray>{"protocol_whitelist", kNoNestedProtocol});
  if (request.source == Source::kHttp &&
      request.format == engine::LoadRequest::Format::kFlvModern) {
    // Turned into Matroska by the player as it comes (http_stream.h), and
    // read by the engine's own Matroska reader, fenced in as for a local file.
    options.demuxer = "mkv";
    return options;
  }
  if (request.source == Source::kHttp) {
    // Read through the player's own connection (http_stream.h), in the
    // format the player found at its start; the engine's protocols are not
    // used at all. The plain FLV demuxer, as a probe of a network stream
    // picks it: a network FLV has no reading of the player's own to say its
    // timestamps leap.
    options.demuxerFormat = request.format == engine::LoadRequest::Format::kMp4 ? "mp4" : "flv";
    options.demuxerOptions.append(std::pair<QByteArray, QByteArray>{
        "format_whitelist",
        request.format == engine::LoadRequest::Format::kMp4 ? "mov" : "flv,live_flv"});
    return options;
  }
  if (request.source == Source::kLocalFile) {
    if (request.format == engine::LoadRequest::Format::kFlvModern && request.matroska) {
      options.demuxer = "mkv";
    } else if (request.format == engine::LoadRequest::Format::kMp4) {
      options.demuxerFormat = "mp4";
      options.demuxerOptions.append(std::pair<QByteArray, QByteArray>{"format_whitelist", "mov"});
    } else {
      // The "live" flavour of the FLV demuxer is the same reader, but tells
      // the engine that timestamps may leap: a video frame more than a few
      // seconds after the one before is then shown at once, where the plain
      // one would hold the picture for the whole leap (up to hours) while
      // the sound played on.
      options.demuxerFormat = "live_flv";
      options.demuxerOptions.append(
          std::pair<QByteArray, QByteArray>{"format_whitelist", "flv,live_flv"});
      if (request.ignorePreviousTagSizes) {
        options.demuxerOptions.append(std::pair<QByteArray, QByteArray>{"flv_ignore_prevtag", "1"});
      }
    }
    return options;
  }
  options.demuxerOptions.append(
      std::pair<QByteArray, QByteArray>{"format_whitelist", kNetworkFormats});
  options.streamOptions.append(
      std::pair<QByteArray, QByteArray>{"protocol_whitelist", kRtmpProtocols});
  // The engine's network timeout reaches http only; this one bounds every
  // read and write of every protocol, rtmp's included (microseconds).
  options.streamOptions.append(std::pair<QByteArray, QByteArray>{
      "rw_timeout", QByteArray::number(qint64{kNetworkTimeoutSeconds} * 1000000)});
  return options;
}

}  // namespace engine_options
