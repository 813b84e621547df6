// FLV codecs that the real-world corpus lacks, made with ffmpeg at test time
// and played through the player: PCM, ADPCM, Nellymoser at the rates FLV
// names, Speex beside Sorenson video, and both Screen Video versions. (VP6,
// which ffmpeg cannot encode, is in the corpus.)
#include <QTemporaryDir>
#include <QtTest>
#include <memory>

#include "player/mpv_player.h"
#include "support/playback_watch.h"
#include "support/test_support.h"

namespace {

struct Codec {
  const char* name;
  QStringList audio;  // ffmpeg arguments for the sound; empty for none
  QStringList video;  // and for the picture
  QSize size;         // the picture's size; empty for sound alone
};

const QStringList kSine = {"-f", "lavfi", "-i", "sine=frequency=440:sample_rate=44100"};

QStringList Sound(const char* codec, int rate, int channels = 1) {
  return {"-c:a", codec, "-ar", QString::number(rate), "-ac", QString::number(channels)};
}

QStringList Picture(const char* codec) {
  return {"-c:v", codec, "-pix_fmt", codec == QLatin1String("flv1") ? "yuv420p" : "bgr24"};
}

const Codec kCodecs[] = {
    // FLV sound format 3, and 0 ("platform endian") for 8-bit samples.
    {"pcm_s16le_44k_stereo", Sound("pcm_s16le", 44100, 2), {}, {}},
    {"pcm_u8_11k", Sound("pcm_u8", 11025), {}, {}},
    // The encoder takes 11, 22 and 44 kHz only, which is all FLV can say.
    {"adpcm_swf_11k", Sound("adpcm_swf", 11025), {}, {}},
    {"adpcm_swf_22k_stereo", Sound("adpcm_swf", 22050, 2), {}, {}},
    {"adpcm_swf_44k", Sound("adpcm_swf", 44100), {}, {}},
    // Format 4 (16 kHz), 5 (8 kHz) and 6, whose rate comes from the tag's
    // rate bits; the encoder refuses 5.5 kHz.
    {"nellymoser_16k", Sound("nellymoser", 16000), {}, {}},
    {"nellymoser_44k", Sound("nellymoser", 44100), {}, {}},
    {"nellymoser_22k", Sound("nellymoser", 22050), {}, {}},
    {"nellymoser_11k", Sound("nellymoser", 11025), {}, {}},
    {"nellymoser_8k", Sound("nellymoser", 8000), {}, {}},
    // FLV carries wideband Speex only.
    {"speex_16k", Sound("libspeex", 16000), {}, {}},
    {"speex_16k_sorenson", Sound("libspeex", 16000), Picture("flv1"), {320, 240}},
    {"screen_video", {}, Picture("flashsv"), {320, 240}},
    {"screen_video_2", {}, Picture("flashsv2"), {320, 240}},
    {"screen_video_2_adpcm", Sound("adpcm_swf", 22050), Picture("flashsv2"), {320, 240}},
    {"sorenson_nellymoser_44k", Sound("nellymoser", 44100), Picture("flv1"), {320, 240}},
};

}  // namespace

class TestCodecs : public QObject {
  Q_OBJECT

  QTemporaryDir dir_;
  std::unique_ptr<QWidget> host_;
  MpvPlayer* player_ = nullptr;

 private slots:
  void initTestCase() {
    QVERIFY(dir_.isValid());
    player_ = testsupport::ShowPlayerIn(host_);
    QVERIFY(player_);
  }

  void cleanupTestCase() { host_.reset(); }

  void plays_data() {
    QTest::addColumn<int>("index");
    for (int i = 0; i < int(std::size(kCodecs)); ++i) QTest::newRow(kCodecs[i].name) << i;
  }

  void plays() {
    QFETCH(int, index);
    const Codec& codec = kCodecs[index];
    QStringList args;
    if (!codec.video.isEmpty()) {
      args << "-f"
           << "lavfi"
           << "-i"
           << "testsrc=size=320x240:rate=10";
    }
    if (!codec.audio.isEmpty()) args << kSine;
    args << "-t"
         << "3" << codec.video << codec.audio;
    const QString path =
        testsupport::MakeFlv(dir_.path(), QLatin1String(codec.name) + QLatin1String(".flv"), args);
    QVERIFY2(!path.isEmpty(), codec.name);

    playback::Watch watch;
    watch.checkPictures = true;
    watch.expectVideo = !codec.size.isEmpty();
    const playback::Outcome out = playback::PlayAndWatch(*player_, path, watch);
    const QString what =
        out.Describe() +
        QStringLiteral(", decode problem \"%1\"").arg(player_->State().decodeProblem());
    qInfo("%s", qPrintable(what));
    QVERIFY2(out.Plays() && out.advanced >= 0.5, qPrintable(what));
    QVERIFY2(player_->State().decodeProblem().isEmpty(), qPrintable(what));
    // ADPCM comes in blocks of 4096 samples, the last one padded: 0.37 s at
    // 11 kHz.
    QVERIFY2(player_->State().duration() > 2.95 && player_->State().duration() < 3.4,
             qPrintable(what));
    if (codec.size.isEmpty()) {
      QVERIFY2(out.frames == 0 && out.videoSize.isEmpty(), qPrintable(what));
    } else {
      QCOMPARE(out.videoSize, codec.size);
      QVERIFY2(out.frames > 0 && out.picture, qPrintable(what));
      // With sound too, the picture is no less there.
      QVERIFY(!player_->State().audioOnly());
    }
  }
};

QTEST_MAIN(TestCodecs)
#include "test_codecs.moc"
