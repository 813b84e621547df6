// The MP4 reader on files made in the test: what a whole file holds, where a
// file cut short stops, and the files the engine must never be given (a
// compressed header, sample tables past the bounds, a header cut or missing),
// however few bytes they take.

#include <QtTest>
#include <span>

#include "media/mp4/report.h"
#include "media/mp4/walker.h"
#include "support/mp4_builder.h"

using namespace mp4_reader;
using mp4test::Box;
using mp4test::FullBox;
using mp4test::U32;

namespace {

Facts Walk(const QByteArray& bytes, const Limits& limits = {}) {
  flv_reader::MemorySource source{
      std::span(reinterpret_cast<const uint8_t*>(bytes.constData()), size_t(bytes.size()))};
  return mp4_reader::Walk(source, limits);
}

// Where the samples of mp4test::Make's file start: its media bytes are last.
qsizetype MediaStart(const QByteArray& file, const mp4test::Movie& m) {
  qsizetype media = 0;
  for (const mp4test::Track& t : m.tracks) media += qsizetype(t.samples) * t.sampleSize;
  return file.size() - media;
}

// One video track whose samples all lie in fragments: two moofs of `perRun`
// samples (40 ms, 100 bytes each), each followed by its mdat.
QByteArray Fragmented(uint32_t perRun, uint32_t claimedInSecond = 0) {
  mp4test::Movie m;
  mp4test::Track t;
  t.samples = 0;
  m.tracks = {t};
  QByteArray moov = mp4test::Moov(m, {{}});
  const QByteArray trex = FullBox("trex", U32(1) + U32(1) + U32(40) + U32(100) + U32(0));
  moov = Box("moov", moov.mid(8) + Box("mvex", trex));
  QByteArray file = Box("ftyp", QByteArray("iso5") + U32(0)) + moov;
  for (int f = 0; f < 2; ++f) {
    const uint32_t count = f == 1 && claimedInSecond ? claimedInSecond : perRun;
    // Default base is the moof; the data offset skips the moof and the mdat header.
    const QByteArray tfhd = FullBox("tfhd", U32(1));
    const QByteArray tfdt = FullBox("tfdt", U32(f * perRun * 40));
    const int moofBytes = 8 + 16 + 8 + tfhd.size() + tfdt.size() + 20;
    const QByteArray trun = Box("trun", U32(0x1) + U32(count) + U32(moofBytes + 8));
    file += Box("moof", FullBox("mfhd", U32(f + 1)) + Box("traf", tfhd + tfdt + trun));
    file += Box("mdat", QByteArray(qsizetype(perRun) * 100, 'v'));
  }
  return file;
}

}  // namespace

class TestMp4Walk : public QObject {
  Q_OBJECT

 private slots:
  void wholeFile() {
    const Facts f = Walk(mp4test::Make(mp4test::AudioVideo()));
    QCOMPARE(f.refusal, Refusal::kNone);
    QCOMPARE(f.brand, std::string("isom"));
    QCOMPARE(f.tracks.size(), size_t(2));
    QCOMPARE(f.tracks[0].kind, TrackKind::kVideo);
    QCOMPARE(f.tracks[0].samples, 50);
    QCOMPARE(f.tracks[1].sampleRate, 44100);
    QVERIFY(!f.cut);
    QCOMPARE(HeldMs(f), 2020);  // the sound's 87 frames of 1024 samples
    QCOMPARE(ClaimedMs(f), 2020);
    QCOMPARE(EngineEnd(f), -1);
    QCOMPARE(f.problemCount, 0);
    const std::string report = Report(f);
    for (const char* line : {"Container: MP4 (brand \"isom\"), audio + video\n",
                             "Video: H.264 (\"avc1\"), 320x240, 25.00 fps, 20 kbit/s, 50 frames\n",
                             "Audio: AAC (\"mp4a\"), 44.1 kHz, stereo, 14 kbit/s\n",
                             "Length: 2.02 s\n", "Problems: none\n"}) {
      QVERIFY2(report.find(line) != std::string::npos, report.c_str());
    }
    // The header after the media plays the same.
    mp4test::Movie last = mp4test::AudioVideo();
    last.headerFirst = false;
    QCOMPARE(HeldMs(Walk(mp4test::Make(last))), 2020);
  }

  // Cut in the third video chunk: the engine stops at the first sample it
  // cannot read, in whichever track, and must not be shown half of one.
  void cutShort() {
    const mp4test::Movie m = mp4test::AudioVideo();
    const QByteArray whole = mp4test::Make(m);
    const qsizetype media = MediaStart(whole, m);
    // Chunks: video 500 bytes, sound 400, taking turns; 2.5 samples into V2.
    const Facts f = Walk(whole.left(media + 2 * 900 + 250));
    QCOMPARE(f.refusal, Refusal::kNone);
    QVERIFY(f.cut);
    QCOMPARE(f.tracks[0].heldSamples, 12);
    QCOMPARE(f.tracks[1].heldSamples, 20);
    QCOMPARE(f.cutMs, 464);  // 20 x 1024 / 44100: the sound is cut first
    QCOMPARE(HeldMs(f), 464);
    QCOMPARE(EngineEnd(f), media + 2 * 900 + 200);  // where video sample 12 starts
    QCOMPARE(CutShort(f), std::string("it is cut off after 0:00; the header claims 0:02"));
    QVERIFY2(Report(f).find("Length: 0.46 s held (the header claims 2.02 s)") != std::string::npos,
             Report(f).c_str());
    QVERIFY2(Report(f).find("at 0:00.5 (offset " + std::to_string(media + 2000) +
                            "): the file ends inside its media data (12 of 50 video samples, "
                            "20 of 87 sound samples are in it)") != std::string::npos,
             Report(f).c_str());

    // Cut right after a sample: that sample is held.
    const Facts exact = Walk(whole.left(media + 500 + 80));
    QCOMPARE(exact.tracks[0].heldSamples, 5);
    QCOMPARE(exact.tracks[1].heldSamples, 2);
  }

  void headerMissingCutOrCompressed_data() {
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<int>("refusal");
    QTest::addColumn<QString>("says");
    mp4test::Movie m = mp4test::AudioVideo();
    const QByteArray first = mp4test::Make(m);
    m.headerFirst = false;
    const QByteArray last = mp4test::Make(m);
    const QByteArray ftyp = first.left(32);
    QTest::newRow("cut before the header")
        << last.left(2000) << int(Refusal::kCutBeforeHeader) << "before its movie header";
    QTest::newRow("cut inside the header")
        << first.left(200) << int(Refusal::kHeaderCut) << "cut off inside its movie header";
    QTest::newRow("no header") << ftyp + Box("mdat", QByteArray(300, 'x'))
                               << int(Refusal::kNoHeader) << "holds no movie header";
    // A real zlib stream, as the engine would inflate it.
    const QByteArray packed = qCompress(first.mid(32, first.size() - 32 - 8 - 8480), 9).mid(4);
    const QByteArray cmov = Box(
        "moov",
        Box("cmov", Box("dcom", "zlib") + Box("cmvd", U32(uint32_t(packed.size() * 40)) + packed)));
    QTest::newRow("compressed header")
        << ftyp + cmov << int(Refusal::kCompressedHeader) << "movie header (moov) is compressed";
  }
  void headerMissingCutOrCompressed() {
    QFETCH(QByteArray, bytes);
    QFETCH(int, refusal);
    QFETCH(QString, says);
    const Facts f = Walk(bytes);
    QCOMPARE(int(f.refusal), refusal);
    QVERIFY2(QString::fromStdString(f.refusalText).contains(says), f.refusalText.c_str());
  }

  // Ten hours at 60 frames a second, with its sound, is a real file; eight
  // million sizes, or a claim of a hundred million in a few bytes, is not.
  void sampleBounds() {
    mp4test::Movie tenHours;
    mp4test::Track video;
    video.timescale = 60;
    video.delta = 1;
    video.samples = 2160000;
    video.sampleSize = 1;
    video.perChunk = 60;
    mp4test::Track sound = mp4test::AudioVideo().tracks[1];
    sound.timescale = 48000;
    sound.samples = 1687500;
    sound.sampleSize = 1;
    sound.perChunk = 47;
    tenHours.tracks = {video, sound};
    const Facts real = Walk(mp4test::Make(tenHours));
    QCOMPARE(real.refusal, Refusal::kNone);
    QCOMPARE(HeldMs(real), 36000000);

    mp4test::Movie eight;
    video.samples = 8 << 20;
    video.perChunk = 1000;
    eight.tracks = {video};
    const Facts table = Walk(mp4test::Make(eight));
    QCOMPARE(table.refusal, Refusal::kTooManySamples);
    QVERIFY2(table.refusalText.find("8388608 samples, more than the player allows (4194304)") !=
                 std::string::npos,
             table.refusalText.c_str());

    mp4test::Movie claim;
    video.samples = 10;
    video.constantSize = true;
    video.claimedSamples = 100000000;
    claim.tracks = {video};
    const QByteArray tiny = mp4test::Make(claim);
    QVERIFY(tiny.size() < 2000);
    QCOMPARE(Walk(tiny).refusal, Refusal::kTooManySamples);

    // Two tracks within their own bound, past the file's together.
    Limits limits;
    limits.maxTrackSamples = 100;
    limits.maxFileSamples = 120;
    const Facts both = Walk(mp4test::Make(mp4test::AudioVideo()), limits);
    QCOMPARE(both.refusal, Refusal::kTooManySamples);
    QVERIFY(both.refusalText.find("its tracks claim 137 samples") != std::string::npos);
  }

  // PCM sound is indexed a chunk at a time, in pieces of up to 1024 samples:
  // ten hours of it pass, a chunk claiming four billion samples does not.
  void soundIndexedByChunk() {
    mp4test::Track pcm = mp4test::AudioVideo().tracks[1];
    pcm.codec = "sowt";
    pcm.timescale = 48000;
    pcm.delta = 1;
    pcm.constantSize = true;
    pcm.sampleSize = 4;
    pcm.samples = 4800;  // written; the header claims ten hours
    pcm.perChunk = 4800;
    pcm.claimedSamples = 1728000000;
    mp4test::Movie m;
    m.tracks = {pcm};
    const Facts tenHours = Walk(mp4test::Make(m));
    QCOMPARE(tenHours.refusal, Refusal::kNone);
    QCOMPARE(tenHours.tracks[0].samples, 1728000000);
    // Ten chunks of the file's bytes, each claiming four billion samples.
    pcm.perChunk = 480;
    pcm.claimedPerChunk = 0xffffffff;
    m.tracks = {pcm};
    const Facts many = Walk(mp4test::Make(m));
    QCOMPARE(many.refusal, Refusal::kTooManySamples);
    QVERIFY2(many.refusalText.find("claims 41943040 samples") != std::string::npos,
             many.refusalText.c_str());
  }

  void fragments() {
    const QByteArray file = Fragmented(25);
    const Facts f = Walk(file);
    QCOMPARE(f.refusal, Refusal::kNone);
    QCOMPARE(f.fragments, 2);
    QCOMPARE(f.tracks[0].samples, 50);
    QCOMPARE(HeldMs(f), 2000);
    QVERIFY(!f.cut);
    // Cut in the second fragment's samples, 10.5 samples in.
    const Facts cut = Walk(file.left(file.size() - 1450));
    QVERIFY(cut.cut);
    QCOMPARE(cut.tracks[0].heldSamples, 35);
    QCOMPARE(HeldMs(cut), 1400);
    // A run claiming a billion samples of no bytes each.
    QCOMPARE(Walk(Fragmented(25, 1000000000)).refusal, Refusal::kTooManySamples);
  }

  // Sizes and counts that lie are bounded by the box they are in.
  void liesAreBoundedByTheirBoxes() {
    QByteArray file = mp4test::Make(mp4test::AudioVideo());
    const qsizetype stsz = file.indexOf("stsz");
    qToBigEndian<quint32>(60, file.data() + stsz + 12);  // 60 sizes claimed, 50 written
    Facts f = Walk(file);
    QCOMPARE(f.refusal, Refusal::kNone);
    QVERIFY(f.problemCount >= 1);
    QVERIFY(Report(f).find("its sample size table claims 60 entries, and its box holds 50") !=
            std::string::npos);

    // A track box claiming far past the movie header.
    file = mp4test::Make(mp4test::AudioVideo());
    qToBigEndian<quint32>(0x7fffffff, file.data() + file.indexOf("trak") - 4);
    f = Walk(file);
    QVERIFY(
        Report(f).find("its trak box claims 2147483647 bytes, past the end of the box it is in") !=
        std::string::npos);

    // A size smaller than its own header ends the level; what came before stays.
    file = mp4test::Make(mp4test::AudioVideo());
    const QByteArray moov = Box(
        "moov", file.mid(40, qFromBigEndian<quint32>(file.constData() + 32) - 8) + U32(3) + "bad!");
    f = Walk(file.left(32) + moov);
    QCOMPARE(f.tracks.size(), size_t(2));
    QVERIFY(Report(f).find("a broken box header") != std::string::npos);
  }
};

QTEST_GUILESS_MAIN(TestMp4Walk)
#include "test_mp4_walk.moc"
