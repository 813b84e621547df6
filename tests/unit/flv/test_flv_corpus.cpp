// The FLV reader on the real-world files of the corpus, read in place,
// against what ffprobe finds in them; and on files ffmpeg makes here with
// codecs the corpus lacks, which is all that runs without the corpus.

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QtTest>
#include <map>

#include "media/flv/report.h"
#include "media/flv/tail.h"
#include "media/flv/walker.h"
#include "support/corpus.h"

using namespace flv_reader;

namespace {

Facts Load(const QString& name) {
  auto source = FileSource::Open(corpus::File(name).toStdString());
  if (!source) return {};
  return WalkAll(*source);
}

bool HasText(const Facts& f, ProblemKind kind, const std::string& text) {
  for (const Problem& p : f.problems.Kept()) {
    if (p.kind == kind && p.text.find(text) != std::string::npos) return true;
  }
  return false;
}

int64_t ScriptCount(const Facts& f, const std::string& name) {
  for (const auto& [known, count] : f.scripts.others) {
    if (known == name) return count;
  }
  return 0;
}

// What ffprobe makes of one stream: packets, first and last decoding time.
struct Probed {
  int64_t packets = 0;
  int64_t firstMs = -1;
  int64_t lastMs = -1;
};

std::map<QString, Probed> Probe(const QString& path) {
  std::map<QString, Probed> streams;
  QProcess ffprobe;
  ffprobe.start("ffprobe",
                {"-v", "quiet", "-show_entries", "packet=codec_type,dts", "-of", "csv=p=0", path});
  if (!ffprobe.waitForFinished(60000)) return streams;
  for (const QByteArray& line : ffprobe.readAllStandardOutput().split('\n')) {
    const QList<QByteArray> fields = line.trimmed().split(',');
    if (fields.size() < 2) continue;
    Probed& s = streams[QString::fromLatin1(fields[0])];
    bool ok = false;
    const int64_t dts = fields[1].toLongLong(&ok);
    ++s.packets;
    if (!ok) continue;
    if (s.firstMs < 0) s.firstMs = dts;
    s.lastMs = dts;
  }
  return streams;
}

}  // namespace

class TestFlvCorpus : public QObject {
  Q_OBJECT

 private slots:
  void initTestCase();
  void everyFile_data();
  void everyFile();
  void whatFilesClaimAndHold();
  void damagedFiles();
  void madeByFfmpeg_data();
  void madeByFfmpeg();

 private:
  bool haveFfmpeg_ = false;
};

void TestFlvCorpus::initTestCase() {
  TIBROK_CORPUS_INIT(QStringLiteral("its files are not read, the files ffmpeg makes here are"));
  haveFfmpeg_ = !QStandardPaths::findExecutable("ffmpeg").isEmpty() &&
                !QStandardPaths::findExecutable("ffprobe").isEmpty();
}

void TestFlvCorpus::everyFile_data() {
  TIBROK_NEEDS_CORPUS();
  QTest::addColumn<QString>("name");
  const QStringList names = QDir(corpus::Dir()).entryList({"*.flv"}, QDir::Files, QDir::Name);
  // Every file the manifest lists, no fewer.
  QFile manifest(corpus::File("MANIFEST.tsv"));
  QVERIFY(manifest.open(QIODevice::ReadOnly));
  const qsizetype listed = manifest.readAll().trimmed().count('\n');
  QCOMPARE(names.size(), listed);
  for (const QString& name : names) QTest::newRow(qPrintable(name)) << name;
}

void TestFlvCorpus::everyFile() {
  QFETCH(QString, name);
  const QString path = corpus::File(name);
  auto source = FileSource::Open(path.toStdString());
  QVERIFY(source);
  const Facts f = WalkAll(*source);
  QVERIFY(f.file.isFlv);
  QCOMPARE(f.file.coverage, Coverage::kComplete);
  QCOMPARE(f.file.size, source->Size());
  QCOMPARE(f.file.tags, f.streams.audio.tags + f.streams.video.tags + f.file.scriptTags);
  QVERIFY(Report(f).rfind("Container: FLV version 1, ", 0) == 0);
  const LengthChoice length = ChooseLength(f);
  QCOMPARE(length.source == LengthSource::kNone,
           f.streams.audio.frames + f.streams.video.frames == 0);
  QVERIFY(length.ms >= 0);

  // The tail read agrees with the walk about the last frames it finds.
  const TailInfo tail = ReadTail(*source);
  QCOMPARE(tail.lastTagCut, f.damage.lastTagCut);
  if (!f.damage.lastTagCut && f.damage.trailingBytes == 0) QCOMPARE(tail.found, f.file.tags > 0);
  if (tail.lastAudioMs >= 0) QCOMPARE(tail.lastAudioMs, f.streams.audio.lastMs);
  if (tail.lastVideoMs >= 0) QCOMPARE(tail.lastVideoMs, f.streams.video.lastMs);
  // (A file that ends in bytes that are no tag may hold its frames far from its end.)
  if (f.streams.audio.frames + f.streams.video.frames > 0 && f.damage.trailingBytes == 0)
    QVERIFY(tail.endMs >= 0);

  // A look at the start and the end gives nearly the length of a full walk.
  const Facts quick = QuickLook(*source);
  if (quick.clock.firstMs >= 0) {
    QCOMPARE(quick.clock.firstMs, f.clock.firstMs);
    QVERIFY2(std::llabs(quick.clock.durationMs - f.clock.durationMs) <= 1000,
             qPrintable(QString("%1 vs %2").arg(quick.clock.durationMs).arg(f.clock.durationMs)));
  }

  // The engine finds no frame the reader misses; in files whose structure
  // is sound both count the same frames at the same times.
  if (!haveFfmpeg_) QSKIP("no ffprobe");
  const auto probed = Probe(path);
  const Probed audio = probed.count("audio") ? probed.at("audio") : Probed{};
  const Probed video = probed.count("video") ? probed.at("video") : Probed{};
  // FFmpeg 5.1 knows neither codec id 12 nor enhanced tags: it hands on
  // every such tag as a packet, configuration records included.
  const bool probeKnowsVideo =
      f.streams.video.codec.fourCc == 0 && f.streams.video.codec.legacy != 12;
  QVERIFY(f.streams.audio.frames >= audio.packets);
  QVERIFY(probeKnowsVideo ? f.streams.video.frames >= video.packets
                          : f.streams.video.tags == video.packets);
  const bool sound = f.damage.resyncs == 0 && f.damage.prevTagSizes.wrong == 0 &&
                     !f.damage.lastTagCut && f.damage.trailingBytes == 0;
  if (sound) {
    QCOMPARE(f.streams.audio.frames, audio.packets);
    QCOMPARE(f.streams.audio.firstMs, audio.firstMs);
    QCOMPARE(f.streams.audio.lastMs, audio.lastMs);
  }
  if (sound && probeKnowsVideo) {
    QCOMPARE(f.streams.video.frames, video.packets);
    QCOMPARE(f.streams.video.firstMs, video.firstMs);
    QCOMPARE(f.streams.video.lastMs, video.lastMs);
  }
}

void TestFlvCorpus::whatFilesClaimAndHold() {
  TIBROK_NEEDS_CORPUS();
  // Claims 3.09 s with a keyframes index, holds one frame of each stream.
  const Facts trunc = Load("trunc_vp6f_mp3_1frame_exif.flv");
  QCOMPARE(trunc.scripts.metadata.duration.value_or(0), 3.089);
  QCOMPARE(trunc.streams.video.frames, int64_t{1});
  QCOMPARE(trunc.streams.audio.frames, int64_t{1});
  QCOMPARE(trunc.streams.video.width, 192);
  QCOMPARE(trunc.streams.video.height, 154);
  QVERIFY(trunc.problems.Has(ProblemKind::kDurationDisagrees));
  QVERIFY(HasText(trunc, ProblemKind::kKeyframeIndexDisagrees, "past the end of the file"));
  QCOMPARE(ChooseLength(trunc).source, LengthSource::kMeasured);

  // Cue points listed in onMetaData and given again by onCuePoint tags:
  // each once.
  const Facts cues = Load("cuepoints_vp6f_800x600.flv");
  std::vector<std::string> names;
  for (const CuePoint& c : cues.scripts.cuePoints) names.push_back(c.name);
  QCOMPARE(names, (std::vector<std::string>{"one", "two", "three"}));
  QCOMPARE(cues.scripts.cuePointCount, int64_t{3});
  QCOMPARE(cues.streams.video.width, 800);
  QCOMPARE(cues.streams.video.height, 600);

  const Facts multi = Load("multi_onMetaData_h264_aac.flv");
  QCOMPARE(multi.scripts.metadata.tags, int64_t{19});
  const Facts perFrame = Load("perframe_scriptdata_h264_mp3.flv");
  QCOMPARE(ScriptCount(perFrame, "scriptData"), int64_t{288});
  QVERIFY(!perFrame.problems.Has(ProblemKind::kScriptMalformed));
  const Facts flags = Load("flashsv_466x311_hdrflag0x09.flv");
  QVERIFY(HasText(flags, ProblemKind::kHeader, "0x09"));
  QCOMPARE(ScriptCount(flags, "onLastSecond"), int64_t{1});

  // Sound formats the flags byte does not tell.
  const Facts aac = Load("aac48k_stereo_audioonly.flv");
  QCOMPARE(aac.streams.audio.sampleRate, 48000);
  QCOMPARE(aac.streams.audio.channels, 2);
  const Facts speex = Load("h264_speex_320x240_latevideo.flv");
  QCOMPARE(speex.streams.audio.codecId, kAudioSpeex);
  QCOMPARE(speex.streams.audio.sampleRate, 16000);
  QCOMPARE(speex.streams.video.firstMs, int64_t{1090});
  QCOMPARE(Load("alaw8k_audioonly.flv").streams.audio.sampleRate, 8000);
  QCOMPARE(Load("nellymoser8k_audioonly_nometa.flv").streams.audio.codecId, kAudioNelly8k);

  // HEVC under codec id 12 from a phone's live push, cut from a CDN's
  // stream: configuration records at 5606.501 s, the first frames two
  // seconds later. The length runs from the first frame to the last one's
  // end; onMetaData gives no duration, and its codec id, size and frame
  // rate agree with the tags.
  const Facts hevc = Load("hevc12_aac_544x960_live_start5606s.flv");
  QCOMPARE(hevc.streams.video.codec, (CodecTag{12, 0}));
  QCOMPARE(hevc.streams.video.codecId, 12);
  QCOMPARE(hevc.streams.video.sizeFrom, SizeFrom::kFrameHeader);
  QCOMPARE(hevc.streams.video.width, 544);
  QCOMPARE(hevc.streams.video.height, 960);
  QCOMPARE(hevc.streams.video.profile, 1);
  QCOMPARE(hevc.streams.video.bitDepth, 8);
  QCOMPARE(hevc.streams.video.frames, int64_t{117});
  QCOMPARE(hevc.streams.video.keyframes, int64_t{4});
  QCOMPARE(hevc.streams.audio.frames, int64_t{167});
  QCOMPARE(hevc.streams.audio.sampleRate, 44100);
  QCOMPARE(hevc.clock.firstMs, int64_t{5608500});
  QCOMPARE(hevc.clock.lastMs, int64_t{5616232});
  QCOMPARE(hevc.clock.durationMs, int64_t{7799});
  QCOMPARE(ChooseLength(hevc).source, LengthSource::kMeasured);
  QCOMPARE(hevc.problems.Total(), int64_t{0});
  const std::string hevcReport = Report(hevc);
  QVERIFY2(hevcReport.find("Video: HEVC (codec id 12, a CDN extension), Main, 8-bit, 544x960, "
                           "15.00 fps, ") != std::string::npos,
           hevcReport.c_str());

  const std::string vp6 = Report(Load("vp6f_mp3_flash8_320x240.flv"));
  QVERIFY2(vp6.find("Video: On2 VP6, 320x240, 20.00 fps, ") != std::string::npos, vp6.c_str());
  QVERIFY2(vp6.find("Length: 7.45 s measured (onMetaData says 7.40 s)") != std::string::npos,
           vp6.c_str());
}

void TestFlvCorpus::damagedFiles() {
  TIBROK_NEEDS_CORPUS();
  // One AAC tag ~69 minutes after the configuration before it.
  const Facts jump = Load("ts_jump_aac_audioonly_nometa.flv");
  const Problem* leap = jump.problems.First(ProblemKind::kTimestampLeap);
  QVERIFY(leap);
  QCOMPARE(leap->timeMs, int64_t{4150892});
  QCOMPARE(jump.clock.firstMs, int64_t{4150892});

  for (const char* name : {"nometa_badprevsize_h264_aac.flv", "nometa_badprevsize_h264_mp3.flv"}) {
    const Facts f = Load(name);
    QVERIFY(f.damage.prevTagSizes.allWrongBySame);
    QCOMPARE(f.damage.prevTagSizes.delta, int64_t{4});
    QCOMPARE(f.damage.prevTagSizes.wrong, f.file.tags - 1);  // the last tag has none
    QCOMPARE(f.damage.resyncs, int64_t{0});
    QCOMPARE(f.streams.video.codecId, kVideoH264);
    QVERIFY(f.streams.video.frames > 400);
  }

  // Zeros after the AVC sequence header, and small non-tag regions later.
  const Facts garbage = Load("garbage_after_tag3_h264_aac.flv");
  QCOMPARE(garbage.damage.resyncs, int64_t{50});
  QCOMPARE(garbage.damage.bytesSkipped, int64_t{261723});
  const Problem* zeros = garbage.problems.First(ProblemKind::kZeroFilled);
  QVERIFY(zeros);
  QCOMPARE(zeros->offset, int64_t{354});
  QCOMPARE(garbage.clock.firstMs, int64_t{6060});
  QCOMPARE(garbage.streams.audio.firstMs, int64_t{9450});

  const Facts headerOnly = Load("header_only_9bytes.flv");
  QCOMPARE(headerOnly.file.tags, int64_t{0});
  QVERIFY(headerOnly.problems.Has(ProblemKind::kHeaderOnly));
  QCOMPARE(Load("ts_backwards_flv1_mp3.flv").streams.video.backwards, int64_t{1});
  const Facts badAmf = Load("bad_amf_meta_flv1_mp3.flv");
  QVERIFY(HasText(badAmf, ProblemKind::kScriptMalformed, "end marker"));
  QCOMPARE(badAmf.damage.prevTagSizes.wrong, int64_t{1});
  QCOMPARE(badAmf.scripts.metadata.keyframePositionCount, int64_t{2});
  QVERIFY(!badAmf.problems.Has(ProblemKind::kKeyframeIndexDisagrees));
  // Line endings converted as text: the first tag is all that is readable,
  // and where the rest starts is told.
  const Facts crlf = Load("crlf_mangled_flashsv.flv");
  QCOMPARE(crlf.file.tags, int64_t{1});
  QCOMPARE(crlf.streams.video.frames, int64_t{1});
  QVERIFY(HasText(crlf, ProblemKind::kTrailingBytes, "unreadable after its first tag"));
  QCOMPARE(crlf.problems.First(ProblemKind::kTrailingBytes)->offset, int64_t{13 + 11 + 7168 + 4});
  QVERIFY(!crlf.problems.Has(ProblemKind::kHeaderOnly));
  QCOMPARE(ChooseLength(crlf).ms, int64_t{0});
  QVERIFY(ScriptTagsToHide(crlf).empty());
}

void TestFlvCorpus::madeByFfmpeg_data() {
  QTest::addColumn<QStringList>("codecs");
  QTest::addColumn<int>("videoCodec");
  QTest::addColumn<int>("audioCodec");
  QTest::addColumn<int>("sampleRate");
  QTest::addColumn<int>("sampleBits");
  QTest::newRow("H.263 + ADPCM") << QStringList{"-c:v", "flv", "-c:a", "adpcm_swf", "-ar", "22050"}
                                 << kVideoH263 << kAudioAdpcm << 22050 << 16;
  QTest::newRow("Screen Video + Nellymoser")
      << QStringList{"-c:v", "flashsv", "-c:a", "nellymoser", "-ar", "11025"} << kVideoScreen
      << kAudioNelly << 11025 << 16;
  QTest::newRow("Screen Video 2 + Speex")
      << QStringList{"-c:v", "flashsv2", "-c:a", "libspeex", "-ar", "16000"} << kVideoScreen2
      << kAudioSpeex << 16000 << 16;
  QTest::newRow("H.263 + PCM 8-bit") << QStringList{"-c:v", "flv", "-c:a", "pcm_u8", "-ar", "11025"}
                                     << kVideoH263 << kAudioPcmPlatform << 11025 << 8;
  QTest::newRow("H.263 + PCM little endian")
      << QStringList{"-c:v", "flv", "-c:a", "pcm_s16le", "-ar", "44100"} << kVideoH263
      << kAudioPcmLittle << 44100 << 16;
  QTest::newRow("H.264 + AAC") << QStringList{"-c:v", "libx264", "-c:a", "aac", "-ar", "48000"}
                               << kVideoH264 << kAudioAac << 48000 << 16;
}

void TestFlvCorpus::madeByFfmpeg() {
  QFETCH(QStringList, codecs);
  QFETCH(int, videoCodec);
  QFETCH(int, audioCodec);
  QFETCH(int, sampleRate);
  QFETCH(int, sampleBits);
  if (!haveFfmpeg_) QSKIP("no ffmpeg");
  QTemporaryDir dir;
  const QString path = dir.filePath("made.flv");
  // 324x180: H.264 has to crop its macroblocks, the others have odd sizes.
  QStringList args =
      QString(
          "-v error -f lavfi -i testsrc2=size=324x180:rate=15:duration=3 -f lavfi -i "
          "sine=frequency=440:sample_rate=48000:duration=3")
          .split(' ');
  args << codecs << "-shortest" << path;
  QCOMPARE(QProcess::execute("ffmpeg", args), 0);
  auto source = FileSource::Open(path.toStdString());
  QVERIFY(source);
  const Facts f = WalkAll(*source);
  QCOMPARE(f.streams.video.codecId, videoCodec);
  QCOMPARE(f.streams.audio.codecId, audioCodec);
  QCOMPARE(f.streams.video.sizeFrom, SizeFrom::kFrameHeader);
  QCOMPARE(f.streams.video.width, 324);
  QCOMPARE(f.streams.video.height, 180);
  QVERIFY2(std::fabs(f.streams.video.frameRate - 15) < 0.1,
           qPrintable(QString::number(f.streams.video.frameRate)));
  QCOMPARE(f.streams.video.frames, int64_t{45});
  QCOMPARE(f.streams.audio.sampleRate, sampleRate);
  QCOMPARE(f.streams.audio.sampleBits, sampleBits);
  QCOMPARE(f.streams.audio.channels, 1);
  // ffmpeg writes the real length: the same, give or take the last packet
  // (ADPCM packs 186 ms in one).
  const double slack = std::max(f.streams.audio.frameMs, f.streams.video.frameMs) + 10;
  QVERIFY(f.clock.durationMs >= 3000);
  QVERIFY2(std::fabs(static_cast<double>(f.clock.durationMs) -
                     *f.scripts.metadata.duration * 1000) <= slack,
           qPrintable(QString::number(f.clock.durationMs)));
  QVERIFY(DurationAgrees(f, *f.scripts.metadata.duration));
  QCOMPARE(ChooseLength(f).source, LengthSource::kMeasured);
  QCOMPARE(f.problems.Total(), int64_t{0});
  const std::string report = Report(f);
  const std::string line =
      "Video: " + std::string(VideoCodecName(videoCodec)) + ", 324x180, 15.00 fps";
  QVERIFY2(report.find(line) != std::string::npos, report.c_str());
}

QTEST_GUILESS_MAIN(TestFlvCorpus)
#include "test_flv_corpus.moc"
