// Plays one file through the player component in a real top-level window of
// the video's own size, the way the program hosts it, and prints what that
// cost as one line of JSON starting with "BENCH ".
//
//   bench_player --size WxH [--frames N] [--spawn-ns NS] play FILE
//   bench_player --size WxH [--seeks N | --targets T,T,...] seek FILE
//   bench_player --size WxH replace FILE SECOND_FILE
//   bench_player --size WxH [--seeks N] preview FILE
//   bench_player --size WxH length FILE
//
// "play" plays FILE to its end in real time; "seek" pauses and jumps around
// FILE (to the given targets, in seconds, when there are any) and says where
// each jump landed; "replace" plays FILE a while and then loads SECOND_FILE
// the way the program does (LoadMovie, then SetVariable); "preview" hovers
// the seek bar while FILE plays (bench_preview.h); "length" times
// SetVariable("myuri", FILE) to the moment the player knows FILE's length,
// with the engine already made and idle. FILE may be an http:// address.
// Times are in milliseconds, CPU in seconds of all threads together.
#include <sys/resource.h>
#include <time.h>
#include <unistd.h>

#include <QApplication>
#include <QCommandLineParser>
#include <QElapsedTimer>
#include <QEvent>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTimer>
#include <QWidget>
#include <algorithm>
#include <clocale>
#include <cstdio>
#include <functional>
#include <memory>

#include "bench/bench_figures.h"
#include "bench/bench_preview.h"
#include "engine/mpv_library.h"
#include "player/mpv_player.h"
#include "player/player_probe.h"

namespace {

using bench_figures::Median;
using bench_figures::PeakRssKb;

qint64 BootTimeNs() {
  timespec now{};
  clock_gettime(CLOCK_BOOTTIME, &now);
  return qint64{now.tv_sec} * 1'000'000'000 + now.tv_nsec;
}

// When the kernel started this process, on the CLOCK_BOOTTIME scale: exec and
// library loading count as start-up. The kernel keeps it in clock ticks, so
// it is good to 1/CLK_TCK s (10 ms on most systems).
qint64 ProcessStartNs() {
  QFile stat(QStringLiteral("/proc/self/stat"));
  if (!stat.open(QIODevice::ReadOnly)) return -1;
  const QByteArray line = stat.readAll();
  // The command name may hold spaces and parentheses: fields count from the
  // last ')'.
  const QList<QByteArray> fields = line.mid(line.lastIndexOf(')') + 2).split(' ');
  constexpr int kStartTime = 22 - 3;  // field 22, counted from field 3
  if (fields.size() <= kStartTime) return -1;
  const qint64 ticks = fields[kStartTime].toLongLong();
  return ticks * 1'000'000'000 / sysconf(_SC_CLK_TCK);
}

double CpuSeconds() {
  rusage usage{};
  getrusage(RUSAGE_SELF, &usage);
  return double(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
         double(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

// The host window. It learns when a frame has really gone to the screen:
// widgets paint into the window's backing store while the window handles an
// update request, and the same request then sends the result to the X server.
class HostWindow : public QWidget {
 public:
  explicit HostWindow(QSize size) {
    setWindowTitle(QStringLiteral("bench_player"));
    setFixedSize(size);
    player = new MpvPlayer(this);
    player->setGeometry(rect());
    player->installEventFilter(this);
  }

  MpvPlayer* player = nullptr;
  // Called each time a frame not shown before has reached the screen.
  std::function<void()> onFramePainted;
  int framesPainted = 0;
  // Frames the component drew that the screen never showed, because a newer
  // one replaced them first.
  int framesSkipped = 0;

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override {
    if (watched == player && event->type() == QEvent::Paint) {
      paintedRender_ = PlayerProbe::FramesRendered(*player);
    }
    return QWidget::eventFilter(watched, event);
  }

  bool event(QEvent* event) override {
    const bool handled = QWidget::event(event);
    if (event->type() == QEvent::UpdateRequest && paintedRender_ > shownRender_) {
      framesSkipped += paintedRender_ - shownRender_ - 1;
      shownRender_ = paintedRender_;
      ++framesPainted;
      if (onFramePainted) onFramePainted();
    }
    return handled;
  }

 private:
  int paintedRender_ = 0;
  int shownRender_ = 0;
};

class Bench : public QObject {
 public:
  Bench(HostWindow& window, const QJsonObject& base) : window_(window), result_(base) {}

  void Finish() {
    result_[QStringLiteral("peak_rss_kb")] = PeakRssKb();
    result_[QStringLiteral("cpu_total_s")] = CpuSeconds();
    result_[QStringLiteral("frames_painted")] = window_.framesPainted;
    result_[QStringLiteral("frames_rendered")] = PlayerProbe::FramesRendered(*window_.player);
    result_[QStringLiteral("frames_skipped")] = window_.framesSkipped;
    for (const char* name : {"frame-drop-count", "decoder-frame-drop-count"}) {
      result_[QString::fromLatin1(name)] =
          PlayerProbe::EngineProperty(*window_.player, name).toLongLong();
    }
    if (!window_.player->State().message().isEmpty()) {
      result_[QStringLiteral("message")] = window_.player->State().message();
    }
    std::printf("BENCH %s\n", QJsonDocument(result_).toJson(QJsonDocument::Compact).constData());
    std::fflush(stdout);
    QCoreApplication::exit(result_.contains(QStringLiteral("error")) ? 1 : 0);
  }

  void Fail(const QString& why) {
    result_[QStringLiteral("error")] = why;
    Finish();
  }

  QJsonObject& result() { return result_; }

 private:
  HostWindow& window_;
  QJsonObject result_;
};

void Load(MpvPlayer* player, const QString& movie, const QString& file) {
  player->LoadMovie(0, movie);
  player->SetVariable(QStringLiteral("myuri"), file);
}

}  // namespace

int main(int argc, char** argv) {
  const qint64 processStart = ProcessStartNs();
  // Where the time to the first frame goes, in ms from the process start.
  QJsonObject phases;
  const auto phase = [&](const char* name) {
    phases[QLatin1String(name)] = double(BootTimeNs() - processStart) / 1e6;
  };
  phase("main");
  // The player is wanted at once: the engine loads first, as if linked.
  mpv_library::Preload();
  QApplication app(argc, argv);
  phase("qapplication");
  // libmpv needs C number formatting, as in the program.
  std::setlocale(LC_NUMERIC, "C");

  QCommandLineParser parser;
  parser.addOptions({
      {QStringLiteral("size"), QStringLiteral("Window size, the video's own."),
       QStringLiteral("WxH")},
      {QStringLiteral("frames"), QStringLiteral("Video frames in the file."), QStringLiteral("N")},
      {QStringLiteral("seeks"), QStringLiteral("How many seeks to time."), QStringLiteral("N"),
       QStringLiteral("9")},
      {QStringLiteral("timeout-s"), QStringLiteral("Give up after this long."), QStringLiteral("S"),
       QStringLiteral("120")},
      {QStringLiteral("targets"),
       QStringLiteral("Seek targets in seconds, comma-separated, instead of --seeks spread."),
       QStringLiteral("T,T,...")},
      {QStringLiteral("spawn-ns"),
       QStringLiteral("CLOCK_BOOTTIME of the caller just before it started this program."),
       QStringLiteral("NS")},
  });
  parser.addPositionalArgument(QStringLiteral("mode"),
                               QStringLiteral("play, seek, replace or preview"));
  parser.addPositionalArgument(QStringLiteral("files"), QStringLiteral("FILE [SECOND_FILE]"));
  parser.process(app);
  const QStringList args = parser.positionalArguments();
  const QString mode = args.value(0);
  const QList<QString> sizeParts = parser.value(QStringLiteral("size")).split(u'x');
  const QSize size(sizeParts.value(0).toInt(), sizeParts.value(1).toInt());
  if (args.size() < 2 || size.isEmpty() || (mode == QLatin1String("replace") && args.size() < 3)) {
    parser.showHelp(2);
  }
  // An address stays as given; a path is made absolute, as the program does.
  const auto resolve = [](const QString& arg) {
    return arg.contains(QLatin1String("://")) ? arg : QFileInfo(arg).absoluteFilePath();
  };
  const QString file = resolve(args[1]);
  const QString secondFile = args.size() > 2 ? QFileInfo(args[2]).absoluteFilePath() : QString();
  const QString movie = QCoreApplication::applicationDirPath() + QStringLiteral("/player.n");

  HostWindow window(size);
  MpvPlayer* player = window.player;
  player->SetAudioOutput(QStringLiteral("null"));
  Bench bench(window, QJsonObject{{QStringLiteral("mode"), mode},
                                  {QStringLiteral("file"), file.section(u'/', -1)}});
  QJsonObject& result = bench.result();

  // Nothing may hang a benchmark run for good.
  const int timeoutMs = std::max(1, parser.value(QStringLiteral("timeout-s")).toInt()) * 1000;
  QTimer::singleShot(timeoutMs, &app, [&] { bench.Fail(QStringLiteral("timed out")); });
  QObject::connect(&player->State(), &PlaybackState::messageChanged, &app,
                   [&](const QString& message) {
                     if (!message.isEmpty()) bench.Fail(message);
                   });

  // The start-up figures, common to every mode.
  QElapsedTimer clock;
  clock.start();
  bool started = false;
  double cpuAtFirstFrame = 0;
  qint64 msAtFirstFrame = 0;
  const auto firstFrame = [&] {
    const qint64 now = BootTimeNs();
    result[QStringLiteral("ttff_ms")] = double(now - processStart) / 1e6;
    if (parser.isSet(QStringLiteral("spawn-ns"))) {
      result[QStringLiteral("ttff_spawn_ms")] =
          double(now - parser.value(QStringLiteral("spawn-ns")).toLongLong()) / 1e6;
    }
    cpuAtFirstFrame = CpuSeconds();
    result[QStringLiteral("cpu_to_first_frame_s")] = cpuAtFirstFrame;
    msAtFirstFrame = clock.elapsed();
    started = true;
    phase("first_frame");
    result[QStringLiteral("phases_ms")] = phases;
  };

  // State of every mode, alive as long as the event loop.
  double positionAtFirstFrame = 0;
  QList<double> givenTargets;
  for (const QString& t : parser.value(QStringLiteral("targets")).split(u',', Qt::SkipEmptyParts))
    givenTargets.append(t.toDouble());
  const int seeks = givenTargets.isEmpty()
                        ? std::max(1, parser.value(QStringLiteral("seeks")).toInt())
                        : int(givenTargets.size());
  QList<double> latencies;
  QJsonArray targets;
  QJsonArray landed;
  QJsonArray landedEngine;
  QElapsedTimer lengthClock;
  QElapsedTimer seekClock;
  std::function<void()> nextSeek;
  QElapsedTimer replaceClock;
  QElapsedTimer tickClock;
  double longestGap = 0;
  bool replacing = false;
  bool secondLoaded = false;
  QTimer ticker;
  std::unique_ptr<PreviewBench> previewBench;

  if (mode == QLatin1String("play")) {
    // Real-time playback to the end: CPU from the first frame on, against
    // the media time that passed meanwhile.
    window.onFramePainted = [&] {
      if (started) return;
      firstFrame();
      positionAtFirstFrame = player->State().position();
    };
    QObject::connect(&player->State(), &PlaybackState::endReachedChanged, &app, [&](bool reached) {
      if (!reached || !started) return;
      const double media = player->State().position() - positionAtFirstFrame;
      const double cpu = CpuSeconds() - cpuAtFirstFrame;
      result[QStringLiteral("media_s")] = media;
      result[QStringLiteral("wall_s")] = double(clock.elapsed() - msAtFirstFrame) / 1e3;
      result[QStringLiteral("cpu_playing_s")] = cpu;
      result[QStringLiteral("cpu_per_media_s")] = media > 0 ? cpu / media : -1;
      result[QStringLiteral("frames_in_file")] = parser.value(QStringLiteral("frames")).toInt();
      // The last frame may still be on its way to the screen.
      QTimer::singleShot(100, &app, [&] { bench.Finish(); });
    });
  } else if (mode == QLatin1String("seek")) {
    // Paused, so that the first frame painted after a request is the one
    // sought: the latency is request to that frame on screen.
    nextSeek = [&] {
      if (latencies.size() == seeks) {
        QJsonArray list;
        for (double ms : latencies) list.append(ms);
        result[QStringLiteral("seek_ms")] = list;
        result[QStringLiteral("seek_targets_s")] = targets;
        result[QStringLiteral("seek_landed_s")] = landed;
        result[QStringLiteral("seek_landed_engine_s")] = landedEngine;
        result[QStringLiteral("seek_median_ms")] = Median(latencies);
        bench.Finish();
        return;
      }
      // Spread over the file, every other one going back: the same targets
      // for every run and every player.
      const qsizetype i = latencies.size();
      const double fraction = double((i * 5) % seeks) / seeks;
      const double target = givenTargets.isEmpty()
                                ? player->State().duration() * (0.05 + 0.85 * fraction)
                                : givenTargets[i];
      targets.append(target);
      seekClock.start();
      player->Commands().SeekTo(target);
    };
    window.onFramePainted = [&] {
      if (!started) {
        firstFrame();
        player->Commands().Pause();
        // Let the start settle before the first timed seek.
        QTimer::singleShot(500, &app, [&] { nextSeek(); });
        return;
      }
      if (!seekClock.isValid()) return;
      latencies.append(double(seekClock.nsecsElapsed()) / 1e6);
      seekClock.invalidate();
      // Where it landed, once the player has taken in the engine's answer:
      // paused, the position is that of the frame on screen.
      QTimer::singleShot(200, &app, [&] {
        landed.append(player->State().position());
        landedEngine.append(PlayerProbe::EngineProperty(*player, "time-pos").toDouble());
        nextSeek();
      });
    };
  } else if (mode == QLatin1String("replace")) {
    // Plays FILE for two seconds, then replaces it the way the program does,
    // while a 10 ms timer watches how long the GUI thread goes unserved.
    ticker.setTimerType(Qt::PreciseTimer);
    ticker.setInterval(10);
    QObject::connect(&ticker, &QTimer::timeout, &app, [&] {
      longestGap = std::max(longestGap, double(tickClock.nsecsElapsed()) / 1e6);
      tickClock.restart();
    });
    QObject::connect(&player->State(), &PlaybackState::fileLoaded, &app, [&] {
      if (replacing) secondLoaded = true;
    });
    window.onFramePainted = [&] {
      if (!started) {
        firstFrame();
        QTimer::singleShot(2000, &app, [&] {
          tickClock.start();
          ticker.start();
          replacing = true;
          replaceClock.start();
          Load(player, movie, secondFile);
        });
        return;
      }
      if (!replacing || !secondLoaded || result.contains(QStringLiteral("replace_ms"))) return;
      result[QStringLiteral("replace_ms")] = double(replaceClock.nsecsElapsed()) / 1e6;
      // Keep watching the GUI thread while the new file gets going.
      QTimer::singleShot(1000, &app, [&] {
        ticker.stop();
        result[QStringLiteral("longest_gui_stall_ms")] = longestGap;
        bench.Finish();
      });
    };
  } else if (mode == QLatin1String("preview")) {
    previewBench = std::make_unique<PreviewBench>(*player, seeks + 1);
    window.onFramePainted = [&] {
      if (started) return;
      firstFrame();
      // Into steady playback first: the memory before is the player's own.
      QTimer::singleShot(1500, &app, [&] {
        previewBench->Start([&](const QJsonObject& figures) {
          for (auto it = figures.begin(); it != figures.end(); ++it) result[it.key()] = *it;
          bench.Finish();
        });
      });
    };
  } else if (mode == QLatin1String("length")) {
    // Timed from the address handed over to a length above zero.
    QObject::connect(&player->State(), &PlaybackState::durationChanged, &app, [&](double seconds) {
      if (!lengthClock.isValid() || seconds <= 0 || result.contains(QStringLiteral("length_ms")))
        return;
      result[QStringLiteral("length_ms")] = double(lengthClock.nsecsElapsed()) / 1e6;
      result[QStringLiteral("duration_s")] = seconds;
      bench.Finish();
    });
  } else {
    parser.showHelp(2);
  }

  QObject::connect(player, &MpvPlayer::movieLoaded, &app, [&] { phase("movie_loaded"); });
  QObject::connect(&player->State(), &PlaybackState::fileLoaded, &app,
                   [&] { phase("file_loaded"); });
  QObject::connect(player, &MpvPlayer::frameRendered, &app, [&] {
    if (!phases.contains(QLatin1String("frame_rendered"))) phase("frame_rendered");
  });
  if (mode == QLatin1String("length")) {
    // The engine is made once the movie is read; then it idles a while, as
    // mpv started with --idle does, before the address comes.
    player->LoadMovie(0, movie);
    window.show();
    QObject::connect(player, &MpvPlayer::movieLoaded, &app, [&] {
      QTimer::singleShot(300, &app, [&] {
        lengthClock.start();
        player->SetVariable(QStringLiteral("myuri"), file);
      });
    });
    return app.exec();
  }
  Load(player, movie, file);
  phase("load_called");
  window.show();
  phase("window_shown");
  return app.exec();
}
