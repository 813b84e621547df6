#include "engine_options.h"

namespace engine_options {

QList<MpvEngine::Option> ForPlayer(const QByteArray& audioOutput, double volume, bool muted) {
  QList<MpvEngine::Option> options{
      // Keep the user's own mpv set-up, scripts and key bindings out: this
      // widget is the whole user interface.
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
      {"vo", "libmpv"},
      // The component lays the picture out itself (ShowAll) and hands mpv
      // a target of the video's own shape: mpv's software renderer paints
      // letterbox bars black, whatever the movie's background.
      {"keepaspect", "no"},
      {"osd-level", "0"},
      {"hwdec", "no"},
      // Hand each frame over when it is due instead of early: an early one
      // makes mpv_render_context_render wait for its time on the GUI thread,
      // which then misses the repaint of the frame before.
      {"video-timing-offset", "0"},
      // One thread converts each frame: helper threads split the same work
      // and cost more CPU in total, for a few milliseconds less latency.
      {"zimg-threads", "1", false},
      {"idle", "yes"},
      // The last frame stays up when the video ends.
      {"keep-open", "yes"},
      // Without a working sound device, play on in silence rather than
      // dropping the audio track.
      {"audio-fallback-to-null", "yes"},
      {"network-timeout", QByteArray::number(kNetworkTimeoutSeconds)},
  };
  if (!audioOutput.isEmpty()) options.append({"ao", audioOutput});
  options.append({"volume", QByteArray::number(volume, 'f', 3)});
  options.append({"mute", QByteArray(muted ? "yes" : "no")});
  return options;
}

}  // namespace engine_options
