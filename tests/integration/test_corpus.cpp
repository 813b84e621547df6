// Every real-world FLV in the shared corpus, played the way the program plays
// a file: each one either plays (its position moves or it reaches its end,
// and a file with video puts a picture on the screen) or says why it cannot,
// within a few seconds. Without the corpus, the cases on files made here run
// alone.
#include <QDir>
#include <QTemporaryDir>
#include <QtTest>
#include <memory>

#include "engine/mpv_library.h"
#include "media/content_sniffer.h"
#include "media/local_file.h"
#include "player/mpv_player.h"
#include "support/corpus.h"
#include "support/flv_tags.h"
#include "support/playback_watch.h"
#include "support/test_support.h"

namespace {

enum class Plays { kVideo, kAudioOnly, kMessage };

struct Expectation {
  const char* file;
  Plays plays;
  QSize video;  // the size the engine reports, for kVideo
  // The length Duration() settles on; negative where it is not known up
  // front and grows while the file is read.
  double duration;
  const char* message = nullptr;  // part of the message, for kMessage
  bool blackPicture = false;      // the file's only frame is black itself
};

// Durations are where the last frame ends, counted from the first frame:
// what the files' own timestamps span and their last frame lasts, which is
// not always what their metadata claims (some claim the last frame's start).
const Expectation kExpectations[] = {
    {"aac48k_stereo_audioonly.flv", Plays::kAudioOnly, {}, 1.021},
    {"alaw8k_audioonly.flv", Plays::kAudioOnly, {}, 1.0},
    // An AMF object without its end marker and one wrong PreviousTagSize:
    // the demuxer skips the metadata and resyncs past the bad field.
    {"bad_amf_meta_flv1_mp3.flv", Plays::kVideo, {320, 240}, 33.019},
    // Text-mode line-ending conversion put a CR before every LF: the only
    // video tag has a stream id of 0x13 and a body cut to a fifth, and is an
    // inter frame with no key frame before it. Nothing in it decodes.
    {"crlf_mangled_flashsv.flv",
     Plays::kMessage,
     {},
     -1,
     "it holds no picture or sound that could be decoded"},
    // The last frame at 4.166 s lasts a twelfth of a second.
    {"cuepoints_vp6f_800x600.flv", Plays::kVideo, {800, 600}, 4.249},
    // A single frame and no metadata: no duration, and the position never
    // moves; it ends at once with its frame on the screen.
    {"flashsv_128x128_oneframe_nometa.flv", Plays::kVideo, {128, 128}, 0},
    // A reserved bit in the header flags is ignored. onMetaData claims the
    // last frame's start, 4.995 s; it lasts a third of a second.
    {"flashsv_466x311_hdrflag0x09.flv", Plays::kVideo, {466, 311}, 5.328},
    // Nothing claims a length: it is measured, the last frame (4.995 s)
    // lasting as long as those before it (a third of a second).
    {"flashsv_466x311_nometa.flv", Plays::kVideo, {466, 311}, 5.328},
    {"flv1_264x95_videoonly.flv", Plays::kVideo, {264, 95}, 2.033},
    // Four frames of flat red, 0.16 s: ends before the position moves much.
    {"flv1_8x8_tiny.flv", Plays::kVideo, {8, 8}, 0.16},
    {"flv1_mp3_flash6_320x240.flv", Plays::kVideo, {320, 240}, 7.4},
    {"flv1_nellymoser8k_128x96_nometa.flv", Plays::kVideo, {128, 96}, 6.739},
    // 232 KB of zeros after the AVC sequence header and more junk between
    // tags: the demuxer resyncs. Tags start at 6.06 s while the metadata
    // claims 31.019 s; the tags hold 24.98 s, and that is the length.
    {"garbage_after_tag3_h264_aac.flv", Plays::kVideo, {640, 480}, 24.98},
    // Composition offsets start the picture at 0.25 s on a clock that
    // starts with the first tag; the last frame ends at 1.25 s.
    {"h264_216x216_multinalu_videoonly.flv", Plays::kVideo, {216, 216}, 1.25},
    {"h264_aac_854x480_short.flv", Plays::kVideo, {854, 480}, 2.02},
    // Speex from the first tag, video only from 1.09 s.
    {"h264_speex_320x240_latevideo.flv", Plays::kVideo, {320, 240}, 29.53},
    // HEVC under the CDN convention of video codec id 12, with AAC, cut from
    // a live push. The engine's own FLV reader knows no codec id 12: the
    // player hands it the file in a form it reads. Its tags' timestamps run
    // from 5606.501 s, but those first two tags are the sequence headers: the
    // first frame is at 5608.500 s, and the clock starts there. The last
    // frame (5616.232 s) lasts as long as those before it, 1/15 s: 7.799 s.
    {"hevc12_aac_544x960_live_start5606s.flv", Plays::kVideo, {544, 960}, 7.799},
    // Nothing after the 9-byte header, not even PreviousTagSize0.
    {"header_only_9bytes.flv", Plays::kMessage, {}, -1, "holds only an FLV header"},
    {"mp3_audioonly.flv", Plays::kAudioOnly, {}, 10.025},
    {"mulaw8k_audioonly.flv", Plays::kAudioOnly, {}, 1.0},
    // 19 onMetaData tags, some mid-stream; the first one's length is where
    // the tags end, counted from 0, and the first frame comes at 0.38 s.
    {"multi_onMetaData_h264_aac.flv", Plays::kVideo, {480, 360}, 32.64},
    {"nellymoser8k_audioonly_nometa.flv", Plays::kAudioOnly, {}, 8.756},
    // Every PreviousTagSize is four too large. Trusted, they made the
    // demuxer drop every tag (no video at all, no sound for the MP3 one);
    // the player has it follow the tag sizes instead. Without metadata and
    // without a trustworthy last PreviousTagSize the length is unknown until
    // the file has been read.
    {"nometa_badprevsize_h264_aac.flv", Plays::kVideo, {160, 120}, -1},
    {"nometa_badprevsize_h264_mp3.flv", Plays::kVideo, {160, 120}, -1},
    // A script tag before every frame.
    {"perframe_scriptdata_h264_mp3.flv", Plays::kVideo, {500, 400}, 4.831},
    // One audio and one video tag of a file whose metadata claims 3.09 s:
    // the frame (a fade from black, all of it darker than 4/255) shows and
    // playback ends at once. Its length is what it holds, one MP3 frame.
    {"trunc_vp6f_mp3_1frame_exif.flv", Plays::kVideo, {192, 154}, 0.052, nullptr, true},
    // onMetaData claims 26.556 s; the frames run to 27.21 s.
    {"ts_backwards_flv1_mp3.flv", Plays::kVideo, {352, 480}, 27.21},
    // The AAC sequence header sits at 0 ms and the sound at 4150.9 s: the
    // file holds 0.37 s, not the 69 minutes its last timestamp suggests. The
    // sound fits the output's buffer, so the end comes at once.
    {"ts_jump_aac_audioonly_nometa.flv", Plays::kAudioOnly, {}, 4151.263 - 4150.892},
    {"vp6f_300x35_videoonly.flv", Plays::kVideo, {300, 35}, 2.583},
    {"vp6f_mp3_flash8_320x240.flv", Plays::kVideo, {320, 240}, 7.4},
};

const Expectation* Find(const QString& file) {
  for (const Expectation& e : kExpectations) {
    if (file == QLatin1String(e.file)) return &e;
  }
  return nullptr;
}

}  // namespace

class TestCorpus : public QObject {
  Q_OBJECT

  QTemporaryDir dir_;
  std::unique_ptr<QWidget> host_;
  MpvPlayer* player_ = nullptr;
  playback::StallMeter meter_;
  double longestStallMs_ = 0;  // while the corpus played

  playback::Outcome Watch(const QString& path, bool expectVideo = false) {
    playback::Watch watch;
    watch.boundMs = 6000;
    watch.checkPictures = true;
    watch.expectVideo = expectVideo;
    return playback::PlayAndWatch(*player_, path, watch, &meter_);
  }

 private slots:
  void initTestCase() {
    // Loaded before anything is timed, as the program has it loaded by the
    // time it plays.
    QVERIFY2(mpv_library::Available(), qPrintable(mpv_library::Error()));
    QVERIFY(dir_.isValid());
    TIBROK_CORPUS_INIT(QStringLiteral("its %1 files are not played, the files made here are")
                           .arg(std::size(kExpectations)));
    // One player for every file, as in the program, so that what one file
    // leaves behind can trip the next.
    player_ = testsupport::ShowPlayerIn(host_);
    QVERIFY(player_);
  }

  void cleanupTestCase() {
    qInfo("longest GUI stall while the corpus played: %.1f ms", longestStallMs_);
    host_.reset();
  }

  void everyFileHasAnExpectation() {
    TIBROK_NEEDS_CORPUS();
    const QStringList files = QDir(corpus::Dir()).entryList(QDir::Files);
    int flvs = 0;
    for (const QString& file : files) {
      if (!file.endsWith(QLatin1String(".flv"))) continue;
      ++flvs;
      QVERIFY2(Find(file), qPrintable(file + " is new: say what it should do"));
    }
    QCOMPARE(flvs, int(std::size(kExpectations)));

    // And the manifest describes exactly these files.
    QFile manifest(corpus::File(QStringLiteral("MANIFEST.tsv")));
    QVERIFY(manifest.open(QIODevice::ReadOnly | QIODevice::Text));
    manifest.readLine();  // the column names
    int rows = 0;
    while (!manifest.atEnd()) {
      const QString name = QString::fromUtf8(manifest.readLine()).section(u'\t', 0, 0);
      if (name.trimmed().isEmpty()) continue;
      ++rows;
      QVERIFY2(files.contains(name), qPrintable(name));
    }
    QCOMPARE(rows, flvs);

    // scripts/fetch-corpus.sh fetches what the committed copy lists.
    QVERIFY2(
        testsupport::ReadFile(QStringLiteral(TIBROK_SOURCE_DIR "/scripts/corpus-manifest.tsv")) ==
            testsupport::ReadFile(corpus::File(QStringLiteral("MANIFEST.tsv"))),
        "scripts/corpus-manifest.tsv differs from the corpus's MANIFEST.tsv: copy it over");
  }

  void playsOrSaysWhy_data() {
    TIBROK_NEEDS_CORPUS();
    QTest::addColumn<int>("index");
    for (int i = 0; i < int(std::size(kExpectations)); ++i) {
      QTest::newRow(kExpectations[i].file) << i;
    }
  }

  void playsOrSaysWhy() {
    QFETCH(int, index);
    const Expectation& e = kExpectations[index];
    const QString path = corpus::File(QLatin1String(e.file));
    meter_.Reset();
    const playback::Outcome out = Watch(path, e.plays == Plays::kVideo);
    const QString what =
        out.Describe() + QStringLiteral(", GUI stall %1 ms").arg(meter_.MaxGapMs());
    qInfo("%s", qPrintable(what));
    longestStallMs_ = std::max(longestStallMs_, meter_.MaxGapMs());

    if (e.plays == Plays::kMessage) {
      QVERIFY2(out.message.contains(QLatin1String(e.message)), qPrintable(what));
      QVERIFY2(out.message.contains(path), qPrintable(what));
      QCOMPARE(out.frames, 0);
      return;
    }
    QVERIFY2(out.Plays(), qPrintable(what));
    QVERIFY2(out.advanced >= 0.5 || out.ended, qPrintable(what));
    QVERIFY2(out.ms < 3000, qPrintable(what));
    if (e.plays == Plays::kVideo) {
      QCOMPARE(out.videoSize, e.video);
      QVERIFY2(out.frames > 0, qPrintable(what));
      // A file whose only frame is black must show black: anything else is
      // the picture of the file played before.
      QVERIFY2(out.picture != e.blackPicture, qPrintable(what));
    } else {
      QVERIFY2(out.videoSize.isEmpty() && out.frames == 0, qPrintable(what));
    }
    if (e.duration >= 0) {
      QVERIFY2(std::abs(player_->State().duration() - e.duration) < 0.05, qPrintable(what));
    }
    // A file that ended stays ended: the player does not take it for a
    // failure afterwards.
    if (out.ended) {
      QTest::qWait(300);
      QVERIFY2(player_->State().message().isEmpty(), qPrintable(player_->State().message()));
    }
  }

  // The player looks for the PreviousTagSize habit of one server before the
  // engine opens a file; the check must single out only such files.
  void wrongPreviousTagSizesAreToldFromDamage() {
    for (const Expectation& e : kExpectations) {
      if (!corpus::Present()) break;
      const FileHandle file(testsupport::OpenReadOnly(corpus::File(e.file)));
      QVERIFY(file.fd() >= 0);
      QCOMPARE(local_file::PreviousTagSizesWrong(file),
               QByteArray(e.file).startsWith("nometa_badprevsize_"));
    }

    const QString made = testsupport::MakeFlv(
        dir_.path(), QStringLiteral("made.flv"),
        {"-f", "lavfi", "-i", "testsrc=size=160x120:rate=10", "-f", "lavfi", "-i",
         "sine=sample_rate=22050", "-t", "3", "-c:v", "flv1", "-c:a", "libmp3lame"});
    QVERIFY(!made.isEmpty());
    const flv::File parsed = flv::Parse(testsupport::ReadFile(made));
    QVERIFY(parsed.tags.size() > 20);

    const auto check = [&](const QString& name, const QByteArray& data, bool flagged) {
      const QString path = dir_.filePath(name);
      QVERIFY(!testsupport::WriteFile(path, data).isEmpty());
      const FileHandle file(testsupport::OpenReadOnly(path));
      QVERIFY(file.fd() >= 0);
      QCOMPARE(local_file::PreviousTagSizesWrong(file), flagged);
    };
    check(QStringLiteral("good.flv"), flv::Write(parsed), false);
    check(QStringLiteral("plus4.flv"), flv::Write(parsed, 4), true);
    check(QStringLiteral("minus1.flv"), flv::Write(parsed, -1), true);
    // One wrong field is damage, not a habit.
    QByteArray once = flv::Write(parsed);
    const qsizetype firstSize = 9 + 4 + 11 + parsed.tags[0].body.size();
    once[firstSize + 3] = char(once[firstSize + 3] + 4);
    check(QStringLiteral("once.flv"), once, false);
    // Not an FLV, or too short to say.
    check(QStringLiteral("text.flv"), "FLV? no, just text\n", false);
    check(QStringLiteral("header.flv"), parsed.header, false);

    // Both kinds play with their picture.
    for (const char* name : {"good.flv", "plus4.flv"}) {
      const playback::Outcome out = Watch(dir_.filePath(QLatin1String(name)), true);
      QVERIFY2(out.Plays() && out.picture && out.videoSize == QSize(160, 120),
               qPrintable(out.Describe()));
    }
  }

  // Every corpus file but the bare header is taken for an FLV by the player's
  // own look at it, and the bare header for what it is.
  void flvFilesAreRecognisedByTheirHeader() {
    TIBROK_NEEDS_CORPUS();
    for (const Expectation& e : kExpectations) {
      const QByteArray data = testsupport::ReadFile(corpus::File(e.file));
      const auto kind = content_sniffer::Classify(data.left(4096), data.size());
      QCOMPARE(kind, QByteArray(e.file).startsWith("header_only_")
                         ? content_sniffer::Kind::kFlvHeaderOnly
                         : content_sniffer::Kind::kFlv);
    }
  }

  // A recording whose timestamps leap ten minutes ahead halfway (a recorder
  // that lost the stream for a while) plays on at once after the leap, with
  // and without sound, instead of holding the picture for ten minutes.
  void aLeapInTheTimestampsPlaysOn() {
    for (const bool sound : {false, true}) {
      QStringList args{"-f", "lavfi", "-i", "testsrc=size=160x120:rate=10"};
      if (sound)
        args << "-f"
             << "lavfi"
             << "-i"
             << "sine=sample_rate=22050"
             << "-c:a"
             << "libmp3lame";
      args << "-t"
           << "3"
           << "-c:v"
           << "flv1"
           << "-g"
           << "5";
      const QString made = testsupport::MakeFlv(
          dir_.path(), sound ? QStringLiteral("leap_av_src.flv") : QStringLiteral("leap_v_src.flv"),
          args);
      QVERIFY(!made.isEmpty());
      flv::File parsed = flv::Parse(testsupport::ReadFile(made));
      constexpr quint32 kLeapMs = 600000;
      int leapt = 0;
      for (flv::Tag& tag : parsed.tags) {
        const int type = tag.type & 0x1f;
        if ((type == 8 || type == 9) && tag.timestamp >= 1500) {
          tag.timestamp += kLeapMs;
          ++leapt;
        }
      }
      QVERIFY(leapt > 10);
      const QString path =
          dir_.filePath(sound ? QStringLiteral("leap_av.flv") : QStringLiteral("leap_v.flv"));
      QVERIFY(!testsupport::WriteFile(path, flv::Write(parsed)).isEmpty());

      int framesAfterLeap = 0;
      const QMetaObject::Connection counter =
          connect(player_, &MpvPlayer::frameRendered, player_, [&] {
            if (player_->State().position() > kLeapMs / 1000.0) ++framesAfterLeap;
          });
      playback::Watch watch;
      watch.boundMs = 10000;
      watch.advance = 1e9;  // watched to its end
      const playback::Outcome out = playback::PlayAndWatch(*player_, path, watch);
      disconnect(counter);
      const QString what = out.Describe() + QStringLiteral(", %1 frames after the leap, at %2 s")
                                                .arg(framesAfterLeap)
                                                .arg(player_->State().position());
      qInfo("%s: %s", sound ? "with sound" : "video only", qPrintable(what));
      QVERIFY2(out.Plays() && out.ended, qPrintable(what));
      QVERIFY2(framesAfterLeap >= 5, qPrintable(what));
      QVERIFY2(player_->State().position() > kLeapMs / 1000.0 + 1, qPrintable(what));
    }
  }

  // Sound that is decoded but leaves the position where it was (shorter than
  // the output's buffer) is still playback, even right after a file with the
  // same sound format: the check for "nothing decoded" must not fire.
  void shortSoundAfterTheSameFormatIsNotNothing() {
    const QString longer = testsupport::MakeFlv(
        dir_.path(), QStringLiteral("long_aac.flv"),
        {"-f", "lavfi", "-i", "sine=sample_rate=44100", "-t", "3", "-ac", "1", "-c:a", "aac"});
    const QString blip = testsupport::MakeFlv(
        dir_.path(), QStringLiteral("blip_aac.flv"),
        {"-f", "lavfi", "-i", "sine=sample_rate=44100", "-t", "0.1", "-ac", "1", "-c:a", "aac"});
    QVERIFY(!longer.isEmpty() && !blip.isEmpty());
    for (int i = 0; i < 3; ++i) {
      QVERIFY(Watch(longer).Plays());
      const playback::Outcome out = Watch(blip);
      QVERIFY2(out.Plays() && out.ended, qPrintable(out.Describe()));
      QTest::qWait(300);
      QVERIFY2(player_->State().message().isEmpty(), qPrintable(player_->State().message()));
    }
  }
};

QTEST_MAIN(TestCorpus)
#include "test_corpus.moc"
