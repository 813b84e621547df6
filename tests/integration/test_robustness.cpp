// The player under abuse: thousands of damaged FLVs one after another through
// one player, and hundreds of movie replacements. Nothing may crash, no file
// may keep the player (or the GUI thread) past its bound, and memory must not
// grow with the number of files played. The damaged files are made from
// corpus files, or from files ffmpeg makes here when the corpus is absent.
#include <QDir>
#include <QElapsedTimer>
#include <QRandomGenerator>
#include <QTemporaryDir>
#include <QtTest>
#include <cmath>
#include <cstring>
#include <limits>
#include <memory>
#ifdef __GLIBC__
#include <malloc.h>
#endif

#include "engine/mpv_library.h"
#include "player/mpv_player.h"
#include "support/corpus.h"
#include "support/flv_tags.h"
#include "support/playback_watch.h"
#include "support/test_support.h"

#ifndef TIBROK_FUZZ_DEFAULT_COUNT
#define TIBROK_FUZZ_DEFAULT_COUNT 2000
#endif
#ifndef TIBROK_SLOWDOWN
#define TIBROK_SLOWDOWN 1
#endif

namespace {

// Corpus files whose tags seed the mutations: every codec the corpus has.
// Larger ones are cut to their first tags (kSourceBytes), which keeps each
// damaged file quick to write and to open.
const char* const kSources[] = {
    "flv1_8x8_tiny.flv",
    "h264_216x216_multinalu_videoonly.flv",
    "vp6f_300x35_videoonly.flv",
    "flashsv_128x128_oneframe_nometa.flv",
    "alaw8k_audioonly.flv",
    "mulaw8k_audioonly.flv",
    "aac48k_stereo_audioonly.flv",
    "cuepoints_vp6f_800x600.flv",
    "nellymoser8k_audioonly_nometa.flv",
    "trunc_vp6f_mp3_1frame_exif.flv",
    "ts_jump_aac_audioonly_nometa.flv",
    "flv1_264x95_videoonly.flv",
    "mp3_audioonly.flv",
    "h264_aac_854x480_short.flv",
    "h264_speex_320x240_latevideo.flv",
    "flashsv_466x311_nometa.flv",
    "flv1_nellymoser8k_128x96_nometa.flv",
    "bad_amf_meta_flv1_mp3.flv",
};
// Without the corpus: its codecs as far as ffmpeg writes them (not VP6),
// sound alone and picture alone among them.
const char* const kMadeSources[][2] = {
    {"flv1_mp3.flv", "-c:v flv1 -c:a libmp3lame -ar 22050"},
    {"h264_aac.flv", "-c:v libx264 -c:a aac"},
    {"flashsv_nellymoser.flv", "-c:v flashsv -c:a nellymoser -ar 8000"},
    {"flashsv2_adpcm.flv", "-c:v flashsv2 -c:a adpcm_swf -ar 22050"},
    {"h264_only.flv", "-c:v libx264 -an"},
    {"alaw_only.flv", "-vn -c:a pcm_alaw -ar 8000 -ac 1"},
    {"speex_only.flv", "-vn -c:a libspeex -ar 16000"},
};
constexpr qsizetype kSourceBytes = 64 * 1024;
constexpr quint32 kSeed = 20240613;
constexpr int kBoundMs = 1000;
// The longest the GUI thread may go without turning: while damaged files
// open one after another, and while good ones replace each other. Sanitized
// builds run everything several times slower, and so the thread too.
// A window that goes a second without answering is hung, on any machine; how
// long it goes between turns otherwise is a figure for the benchmark
// (bench/run.sh), which a busy machine must not turn into a failure here.
constexpr double kHangMs = 1000.0 * TIBROK_SLOWDOWN;

int EnvInt(const char* name, int fallback) {
  bool ok = false;
  const int value = qEnvironmentVariableIntValue(name, &ok);
  return ok ? value : fallback;
}

// The resident set of this process, in KiB.
qint64 RssKb() {
  // Files under /proc report a size of 0: read them whole, not up to a size.
  for (const QByteArray& line :
       testsupport::ReadFile(QStringLiteral("/proc/self/status")).split('\n')) {
    if (line.startsWith("VmRSS:")) return line.mid(6).trimmed().split(' ').value(0).toLongLong();
  }
  return -1;
}

// AMF0 values, for metadata that lies.
namespace amf {
QByteArray String(const QByteArray& s) {
  QByteArray out(1, '\x02');
  out.append(char(s.size() >> 8)).append(char(s.size())).append(s);
  return out;
}
QByteArray Key(const QByteArray& s) { return String(s).mid(1); }
QByteArray Number(double value) {
  QByteArray out(1, '\x00');
  quint64 bits;
  std::memcpy(&bits, &value, sizeof bits);
  for (int i = 7; i >= 0; --i) out.append(char(bits >> (8 * i)));
  return out;
}
QByteArray EndOfObject() { return QByteArray("\x00\x00\x09", 3); }
}  // namespace amf

// Makes damaged FLVs out of good ones. Each file depends only on the seed
// and its index, so one of thousands can be made again on its own.
class Mutator {
 public:
  explicit Mutator(QList<flv::File> sources) : sources_(std::move(sources)) {}

  QByteArray Make(quint32 seed, int index, QString* how) const {
    QRandomGenerator rng(seed ^ (quint32(index) * 2654435761u));
    QStringList steps;
    flv::File file = sources_[rng.bounded(int(sources_.size()))];
    for (int n = 1 + rng.bounded(3); n > 0; --n) steps << MutateTags(rng, file);
    QByteArray bytes;
    if (rng.bounded(8) == 0) {
      const int error = rng.bounded(-16, 17);
      bytes = flv::Write(file, error);
      steps << QStringLiteral("PreviousTagSize%1%2").arg(error < 0 ? "" : "+").arg(error);
    } else {
      bytes = flv::Write(file);
    }
    for (int n = rng.bounded(3); n > 0; --n) steps << MutateBytes(rng, bytes);
    *how = steps.join(QStringLiteral(", "));
    return bytes;
  }

 private:
  static int Pick(QRandomGenerator& rng, const flv::File& file) {
    return file.tags.isEmpty() ? -1 : rng.bounded(int(file.tags.size()));
  }

  QString MutateTags(QRandomGenerator& rng, flv::File& file) const {
    switch (rng.bounded(9)) {
      case 0: {  // tags of another file spliced in, timestamps and all
        const flv::File& other = sources_[rng.bounded(int(sources_.size()))];
        if (other.tags.isEmpty()) return QStringLiteral("nothing to splice");
        const int from = rng.bounded(int(other.tags.size()));
        const int count = 1 + rng.bounded(int(other.tags.size()) - from);
        const int at = rng.bounded(int(file.tags.size()) + 1);
        for (int i = 0; i < count; ++i) file.tags.insert(at + i, other.tags[from + i]);
        return QStringLiteral("spliced %1 tags at %2").arg(count).arg(at);
      }
      case 1: {  // a timestamp jumps or goes back
        const int i = Pick(rng, file);
        if (i < 0) return QStringLiteral("no tag for a timestamp");
        static const quint32 kJumps[] = {0, 1, 4150892, 0x7fffffff, 0xffffffff, 0x00ffffff};
        const quint32 ts = rng.bounded(2) ? kJumps[rng.bounded(int(std::size(kJumps)))]
                                          : file.tags[i].timestamp + rng.bounded(-5000, 5001);
        // From this tag on, or for this tag alone.
        const quint32 shift = ts - file.tags[i].timestamp;
        const int last = rng.bounded(2) ? int(file.tags.size()) : i + 1;
        for (int j = i; j < last; ++j) file.tags[j].timestamp += shift;
        return QStringLiteral("timestamp of tag %1 to %2").arg(i).arg(ts);
      }
      case 2: {  // another codec claimed for the same data
        const int i = Pick(rng, file);
        if (i < 0 || file.tags[i].body.isEmpty()) return QStringLiteral("no body for a codec");
        file.tags[i].body[0] = char(rng.bounded(256));
        return QStringLiteral("codec byte of tag %1").arg(i);
      }
      case 3: {  // tags dropped, doubled or swapped
        const int i = Pick(rng, file), j = Pick(rng, file);
        if (i < 0) return QStringLiteral("no tag to move");
        switch (rng.bounded(3)) {
          case 0:
            file.tags.removeAt(i);
            return QStringLiteral("dropped tag %1").arg(i);
          case 1:
            file.tags.insert(i, file.tags[i]);
            return QStringLiteral("doubled tag %1").arg(i);
          default:
            file.tags.swapItemsAt(i, j);
            return QStringLiteral("swapped tags %1 and %2").arg(i).arg(j);
        }
      }
      case 4: {  // header flags, version, data offset
        const int byte = 3 + rng.bounded(6);
        if (byte < 5) {
          file.header[byte] = char(rng.bounded(256));
        } else {
          static const quint32 kOffsets[] = {0, 1, 8, 10, 13, 1000, 0x7fffffff, 0xffffffff};
          const quint32 offset = kOffsets[rng.bounded(int(std::size(kOffsets)))];
          for (int k = 0; k < 4; ++k) file.header[5 + k] = char(offset >> (8 * (3 - k)));
        }
        return QStringLiteral("header byte %1").arg(byte);
      }
      case 5: {  // a body cut short, its tag size following
        const int i = Pick(rng, file);
        if (i < 0) return QStringLiteral("no body to cut");
        file.tags[i].body.truncate(rng.bounded(int(file.tags[i].body.size()) + 1));
        return QStringLiteral("cut body of tag %1").arg(i);
      }
      case 6: {  // noise inside a body, framing intact
        const int i = Pick(rng, file);
        if (i < 0 || file.tags[i].body.isEmpty()) return QStringLiteral("no body for noise");
        QByteArray& body = file.tags[i].body;
        for (int n = 1 + rng.bounded(16); n > 0; --n) {
          body[rng.bounded(int(body.size()))] ^= char(1 << rng.bounded(8));
        }
        return QStringLiteral("noise in tag %1").arg(i);
      }
      case 7: {  // metadata that lies: sizes, rates, a keyframe index into nowhere
        flv::Tag meta;
        meta.type = 18;
        meta.body = amf::String("onMetaData") + QByteArray(1, '\x03');
        const double kLies[] = {0,
                                -1,
                                1e300,
                                std::numeric_limits<double>::quiet_NaN(),
                                std::numeric_limits<double>::infinity(),
                                65536,
                                4151.263};
        for (const char* key : {"duration", "width", "height", "framerate", "audiosamplerate"}) {
          meta.body += amf::Key(key) + amf::Number(kLies[rng.bounded(int(std::size(kLies)))]);
        }
        meta.body += amf::Key("keyframes") + QByteArray(1, '\x03');
        for (const char* key : {"filepositions", "times"}) {
          meta.body += amf::Key(key) + QByteArray("\x0a", 1);
          const int count = rng.bounded(64);
          for (int k = 0; k < 4; ++k) meta.body.append(char(count >> (8 * (3 - k))));
          for (int k = 0; k < count; ++k) meta.body += amf::Number(rng.bounded(1 << 20));
        }
        meta.body += amf::EndOfObject() + amf::EndOfObject();
        file.tags.insert(0, meta);
        return QStringLiteral("lying metadata");
      }
      default: {  // deeply nested or overlong script data
        flv::Tag script;
        script.type = 18;
        script.body = amf::String("onMetaData");
        if (rng.bounded(2)) {
          for (int k = 0; k < 5000; ++k) script.body += QByteArray(1, '\x03') + amf::Key("a");
        } else {
          script.body += QByteArray("\x02\xff\xff", 3) + "short";
        }
        file.tags.insert(rng.bounded(int(file.tags.size()) + 1), script);
        return QStringLiteral("bad script data");
      }
    }
  }

  static QString MutateBytes(QRandomGenerator& rng, QByteArray& bytes) {
    if (bytes.isEmpty()) return QStringLiteral("empty");
    switch (rng.bounded(4)) {
      case 0: {
        const int flips = 1 + rng.bounded(16);
        for (int n = 0; n < flips; ++n) {
          // Half of them in the first kilobyte, where the headers are.
          const int span = rng.bounded(2) ? std::min<int>(1024, bytes.size()) : bytes.size();
          bytes[rng.bounded(span)] ^= char(1 << rng.bounded(8));
        }
        return QStringLiteral("%1 bit flips").arg(flips);
      }
      case 1: {
        const int at = rng.bounded(int(bytes.size()));
        bytes.truncate(at);
        return QStringLiteral("truncated at %1").arg(at);
      }
      case 2: {  // a tag size that lies, found by walking the tags
        qsizetype at = 13;
        for (int skip = rng.bounded(8); skip > 0 && at + 11 <= bytes.size(); --skip) {
          at += 11 + flv::Uint24(bytes.constData() + at + 1) + 4;
        }
        if (at + 4 > bytes.size()) return QStringLiteral("no tag size to break");
        static const quint32 kSizes[] = {0, 1, 10, 0xffffff, 0x800000};
        const quint32 size = rng.bounded(2) ? kSizes[rng.bounded(int(std::size(kSizes)))]
                                            : flv::Uint24(bytes.constData() + at + 1) +
                                                  quint32(rng.bounded(-64, 65));
        bytes[at + 1] = char(size >> 16);
        bytes[at + 2] = char(size >> 8);
        bytes[at + 3] = char(size);
        return QStringLiteral("tag size at %1 to %2").arg(at).arg(size);
      }
      default: {
        const int at = rng.bounded(int(bytes.size()));
        QByteArray junk(1 + rng.bounded(4096), '\0');
        if (rng.bounded(2)) {
          for (char& c : junk) c = char(rng.bounded(256));
        }
        bytes.insert(at, junk);
        return QStringLiteral("%1 bytes of junk at %2").arg(junk.size()).arg(at);
      }
    }
  }

  QList<flv::File> sources_;
};

}  // namespace

class TestRobustness : public QObject {
  Q_OBJECT

  QTemporaryDir dir_;
  std::unique_ptr<Mutator> mutator_;
  QString good_;       // a small clip that must always play
  QString goodOther_;  // another, of another size and codec
  std::unique_ptr<QWidget> host_;
  MpvPlayer* player_ = nullptr;

 private slots:
  void initTestCase() {
    // Loaded before anything is timed, as the program has it loaded by the
    // time it plays.
    QVERIFY2(mpv_library::Available(), qPrintable(mpv_library::Error()));
#ifdef __GLIBC__
    // Each new engine thread may otherwise get a malloc arena of its own,
    // and the resident set jumps by megabytes at a time for no leak at all.
    mallopt(M_ARENA_MAX, 2);
#endif
    QVERIFY(dir_.isValid());
    TIBROK_CORPUS_INIT(QStringLiteral("the damaged files are made from %1 files ffmpeg makes here "
                                      "instead of its %2")
                           .arg(std::size(kMadeSources))
                           .arg(std::size(kSources)));
    QStringList paths;
    if (corpus::Present()) {
      for (const char* name : kSources) paths << corpus::File(QLatin1String(name));
    } else {
      for (const auto& [name, codecs] : kMadeSources) {
        paths << testsupport::MakeFlv(dir_.path(), QLatin1String(name),
                                      QStringLiteral("-f lavfi -i testsrc2=size=96x64:rate=15 -f "
                                                     "lavfi -i sine -t 1 %1")
                                          .arg(QLatin1String(codecs))
                                          .split(u' '));
      }
    }
    QList<flv::File> sources;
    for (const QString& path : paths) {
      flv::File file = flv::Parse(testsupport::ReadFile(path));
      QVERIFY2(!file.tags.isEmpty(), qPrintable(path));
      qsizetype bytes = 0;
      for (qsizetype i = 0; i < file.tags.size(); ++i) {
        bytes += 15 + file.tags[i].body.size();
        if (bytes > kSourceBytes && i > 0) {
          file.tags.resize(i);
          break;
        }
      }
      sources << file;
    }
    mutator_ = std::make_unique<Mutator>(sources);
    good_ = testsupport::MakeFlv(
        dir_.path(), QStringLiteral("good.flv"),
        {"-f", "lavfi", "-i", "testsrc=size=160x120:rate=25", "-t", "2", "-c:v", "flv1"});
    goodOther_ = testsupport::MakeFlv(
        dir_.path(), QStringLiteral("other.flv"),
        {"-f", "lavfi", "-i", "testsrc2=size=96x64:rate=25", "-f", "lavfi", "-i", "sine", "-t", "2",
         "-c:v", "flashsv", "-c:a", "pcm_s16le", "-ar", "22050"});
    QVERIFY(!good_.isEmpty() && !goodOther_.isEmpty());
  }

  void init() {
    player_ = testsupport::ShowPlayerIn(host_);
    QVERIFY(player_);
  }

  void cleanup() { host_.reset(); }

  // Starting the engine takes the GUI thread a while, once per player: the
  // measurements are about what comes after.
  void WarmUp() {
    playback::Watch watch;
    watch.firstFrameIsEnough = true;
    QVERIFY(playback::PlayAndWatch(*player_, good_, watch).frames > 0);
  }

  void damagedFilesNeitherCrashNorHang() {
    const int count = EnvInt("TIBROK_FUZZ_COUNT", TIBROK_FUZZ_DEFAULT_COUNT);
    const quint32 seed = quint32(EnvInt("TIBROK_FUZZ_SEED", int(kSeed)));
    const int only = EnvInt("TIBROK_FUZZ_ONLY", -1);
    qInfo("%d damaged files from seed %u in %s (TIBROK_FUZZ_ONLY=N makes file N alone)", count,
          seed, qPrintable(dir_.path()));

    WarmUp();
    playback::StallMeter meter;
    playback::Watch watch;
    watch.boundMs = kBoundMs;
    watch.advance = 0.05;
    watch.firstFrameIsEnough = true;
    // The good file played now and then, to show the engine is not wedged.
    playback::Watch firstFrame;
    firstFrame.boundMs = 3000;
    firstFrame.firstFrameIsEnough = true;
    int played = 0, ended = 0, refused = 0, unsettled = 0;
    qint64 slowestMs = 0;
    QString longestAt;  // the file during which the longest stall so far came
    QElapsedTimer run;
    run.start();
    // Makes damaged file `i` and plays it; `how` says what was done to it.
    const auto playDamaged = [&](int i, playback::StallMeter& stalls, QString* how) {
      const QByteArray bytes = mutator_->Make(seed, i, how);
      // One name for all: a crash leaves the file that caused it behind.
      const QString path = dir_.filePath(QStringLiteral("damaged.flv"));
      if (testsupport::WriteFile(path, bytes).isEmpty())
        qFatal("cannot write %s", qPrintable(path));
      if (only >= 0) qInfo("file %d: %s", i, qPrintable(*how));
      stalls.Resume();
      return playback::PlayAndWatch(*player_, path, watch, &stalls);
    };
    for (int i = 0; i < count; ++i) {
      if (only >= 0 && i != only) continue;
      QString how;
      const double longestBefore = meter.MaxGapMs();
      const playback::Outcome out = playDamaged(i, meter, &how);
      if (meter.MaxGapMs() > longestBefore) {
        longestAt = QStringLiteral("file %1: %2").arg(i).arg(how);
      }
      slowestMs = std::max(slowestMs, out.ms);
      if (!out.message.isEmpty()) {
        ++refused;
      } else if (out.ended) {
        ++ended;
      } else if (out.frames > 0 || out.advanced > 0) {
        ++played;
      } else {
        ++unsettled;
      }
      QVERIFY2(out.ms <= kBoundMs + kHangMs,
               qPrintable(QStringLiteral("file %1 (%2): %3").arg(i).arg(how, out.Describe())));

      // Now and then a good file, to show the engine is not wedged.
      if (i % 250 == 249) {
        const double longestBeforeGood = meter.MaxGapMs();
        const playback::Outcome check = playback::PlayAndWatch(*player_, good_, firstFrame, &meter);
        if (meter.MaxGapMs() > longestBeforeGood) {
          longestAt = QStringLiteral("the good file after file %1: %2").arg(i).arg(how);
        }
        QVERIFY2(check.frames > 0 && check.message.isEmpty(),
                 qPrintable(QStringLiteral("after file %1: %2").arg(i).arg(check.Describe())));
      }
    }
    qInfo(
        "played %d, ended at once %d, refused with a message %d, still opening at the bound "
        "%d; slowest file %lld ms; whole run %lld s; longest GUI stall %.1f ms (%s)",
        played, ended, refused, unsettled, slowestMs, run.elapsed() / 1000, meter.MaxGapMs(),
        qPrintable(longestAt));
    QVERIFY2(meter.MaxGapMs() < kHangMs, qPrintable(longestAt));
  }

  void replacingMoviesNeverHangs() {
    const int count = EnvInt("TIBROK_REPLACEMENTS", 500);
    WarmUp();
    playback::StallMeter meter;
    playback::Watch watch;
    watch.boundMs = 2000;
    watch.firstFrameIsEnough = true;
    qint64 rssAfter50 = -1;
    int withFrames = 0;
    QElapsedTimer run;
    run.start();
    for (int i = 0; i < count; ++i) {
      const playback::Outcome out =
          playback::PlayAndWatch(*player_, i % 2 ? goodOther_ : good_, watch, &meter);
      QVERIFY2(out.message.isEmpty(), qPrintable(out.message));
      withFrames += out.frames > 0;
      if (i == 49) rssAfter50 = RssKb();
    }
    const qint64 rssEnd = RssKb();
    qInfo(
        "%d replacements in %lld s, %d reached their first frame within %d ms; RSS after 50: "
        "%lld KiB, after %d: %lld KiB (%+lld KiB); longest GUI stall %.1f ms",
        count, run.elapsed() / 1000, withFrames, watch.boundMs, rssAfter50, count, rssEnd,
        rssEnd - rssAfter50, meter.MaxGapMs());
    QVERIFY(withFrames >= count * 9 / 10);
    QVERIFY2(meter.MaxGapMs() < kHangMs, qPrintable(QString::number(meter.MaxGapMs())));
  }
};

QTEST_MAIN(TestRobustness)
#include "test_robustness.moc"
