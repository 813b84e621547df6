// What the player makes of a local file before the engine sees it: only FLV
// and MP4 content is handed on; scripts, session descriptions, playlists and
// pages are named and refused; pipes, devices and folders are refused
// without being waited on.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <QTemporaryDir>
#include <QtTest>

#include "engine/engine_options.h"
#include "media/content_sniffer.h"
#include "media/local_file.h"
#include "support/flv_writer.h"
#include "support/mp4_builder.h"
#include "support/test_support.h"

using content_sniffer::Kind;
using flvwrite::Bytes;

namespace {

QByteArray FlvHeader() { return QByteArray("FLV\x01\x05\x00\x00\x00\x09", 9); }

// A header, PreviousTagSize0 and one small video tag.
QByteArray SmallFlv() {
  QByteArray tag("\x09\x00\x00\x05\x00\x00\x00\x00\x00\x00\x00", 11);
  tag += QByteArray("\x12\x00\x00\x00\x00", 5);
  return FlvHeader() + QByteArray(4, '\0') + tag + QByteArray("\x00\x00\x00\x10", 4);
}

QByteArray Mp4Start() {
  return QByteArray(
      "\x00\x00\x00\x18"
      "ftypisom\x00\x00\x02\x00",
      16);
}

}  // namespace

class TestLocalFile : public QObject {
  Q_OBJECT

  QTemporaryDir dir_;

  QString Write(const QString& name, const QByteArray& data) {
    return testsupport::WriteFile(dir_.filePath(name), data);
  }

 private slots:
  void formatsAreToldByTheirFirstBytes() {
    QCOMPARE(content_sniffer::Classify(SmallFlv(), SmallFlv().size()), Kind::kFlv);
    QCOMPARE(content_sniffer::Classify(FlvHeader(), 9), Kind::kFlvHeaderOnly);
    QCOMPARE(content_sniffer::Classify(FlvHeader() + QByteArray(4, '\0'), 13),
             Kind::kFlvHeaderOnly);
    QCOMPARE(content_sniffer::Classify(Mp4Start(), 5000), Kind::kMp4);
    QByteArray version5 = SmallFlv();
    version5[3] = 5;
    QCOMPARE(content_sniffer::Classify(version5, version5.size()), Kind::kOther);
    QCOMPARE(content_sniffer::Classify("", 0), Kind::kOther);
  }

  // What a refused file looks like, in the words the user reads.
  void whatOtherFilesAreIsSaid() {
    const std::pair<QByteArray, const char*> cases[] = {
        {"ffconcat version 1.0\nfile 'secret.flv'\n", "an FFmpeg concat script"},
        {"\xef\xbb\xbf  ffconcat version 1.0\n", "an FFmpeg concat script"},
        {"v=0\no=- 0 0 IN IP4 127.0.0.1\ns=x\nc=IN IP4 0.0.0.0\nm=video 5004 RTP/AVP 96\n",
         "an SDP session description"},
        {"v=0\r\no=- 0 0 IN IP4 127.0.0.1\r\n", "an SDP session description"},
        {"#EXTM3U\n#EXTINF:1,x\n/etc/passwd\n", "an M3U playlist"},
        {"[playlist]\nFile1=/etc/passwd\n", "a PLS playlist"},
        {"# mpv EDL v0\nav://lavfi:testsrc\n", "an EDL playlist"},
        {"<?xml version=\"1.0\"?><playlist version=\"1\">", "an XSPF playlist"},
        {"<ASX version=\"3.0\">", "an ASX playlist"},
        {"<!DOCTYPE html><html><body>Not found</body></html>", "an HTML page"},
        {"\n\n<html><head>", "an HTML page"},
        {"just some words\n", "text"},
        {"PK\x03\x04\x14\x00", "a ZIP archive"},
        {"\x1a\x45\xdf\xa3\x01\x00", "a Matroska or WebM video"},
        {"FWS\x08", "a Flash movie (SWF)"},
        {"\x7f"
         "ELF\x02\x01\x01",
         "a program"},
        {QByteArray(64, '\0'), "zero bytes only"},
        {QByteArray("\x01\x02\x03\x04\x05\x06", 6), "data of an unknown kind"},
    };
    for (const auto& [data, what] : cases) {
      QCOMPARE(content_sniffer::Describe(data, data.size()), QLatin1String(what));
    }
    QCOMPARE(content_sniffer::Describe("", 0), QStringLiteral("an empty file"));
  }

  void onlyFlvAndMp4AreHandedOn() {
    const local_file::Inspection flv = local_file::Inspect(Write("a.flv", SmallFlv()).toUtf8());
    QVERIFY2(flv.error.isEmpty(), qPrintable(flv.error));
    QCOMPARE(flv.format, local_file::Format::kFlv);
    QVERIFY(flv.file && flv.file->Size() == SmallFlv().size());

    const QByteArray mp4Data = mp4test::Make(mp4test::AudioVideo());
    const local_file::Inspection mp4 = local_file::Inspect(Write("really.flv", mp4Data).toUtf8());
    QVERIFY2(mp4.error.isEmpty(), qPrintable(mp4.error));
    QCOMPARE(mp4.format, local_file::Format::kMp4);
    QCOMPARE(mp4.mp4.tracks.size(), size_t(2));
    QCOMPARE(mp4.engineEnd, -1);
    // Cut short: the engine's file ends where the first missing sample starts.
    const local_file::Inspection cut =
        local_file::Inspect(Write("cut.mp4", mp4Data.left(mp4Data.size() - 3000)).toUtf8());
    QVERIFY(cut.mp4.cut && cut.engineEnd > 0 && cut.engineEnd <= mp4Data.size() - 3000);
    // An MP4 the engine must not be given is refused with the walk's reason.
    const local_file::Inspection bare = local_file::Inspect(Write("bare.mp4", Mp4Start()).toUtf8());
    QVERIFY2(bare.error.contains(QLatin1String("before its movie header (moov box)")),
             qPrintable(bare.error));
    QVERIFY(!bare.file);

    const local_file::Inspection concat =
        local_file::Inspect(Write("c.flv", "ffconcat version 1.0\nfile 'a.flv'\n").toUtf8());
    QCOMPARE(concat.error,
             QStringLiteral("it is an FFmpeg concat script, not an FLV or MP4 video"));
    QVERIFY(!concat.file);

    const local_file::Inspection header = local_file::Inspect(Write("h.flv", FlvHeader()).toUtf8());
    QVERIFY(header.error.contains(QLatin1String("only an FLV header")));
    QVERIFY(local_file::Inspect(Write("empty.flv", "").toUtf8()).error.contains("an empty file"));
  }

  // A modern FLV goes to the engine through its Matroska view, read by the
  // engine's Matroska reader for that load alone; a legacy one as it is.
  void modernFlvGoesThroughItsMatroskaView() {
    flvwrite::Stream hevc = flvwrite::MakeStream(false, flvwrite::FourCc("hvc1"), Bytes(23, 1));
    hevc.packets.push_back(flvwrite::MakePacket(0, 0, true, Bytes(40, 7)));
    flvwrite::Stream opus = flvwrite::MakeStream(true, flvwrite::FourCc("Opus"), {});
    opus.packets.push_back(flvwrite::MakePacket(0, 0, true, Bytes(40, 9)));
    for (const auto dialect : {flvwrite::Dialect::kEnhanced, flvwrite::Dialect::kCodecId}) {
      flvwrite::Options options;
      options.dialect = dialect;
      const flvwrite::Bytes bytes = flvwrite::Write({hevc, opus}, options);
      const local_file::Inspection modern =
          local_file::Inspect(Write("m.flv", QByteArray(reinterpret_cast<const char*>(bytes.data()),
                                                        qsizetype(bytes.size())))
                                  .toUtf8());
      QVERIFY2(modern.error.isEmpty() && modern.matroska, qPrintable(modern.error));
      QVERIFY(modern.prefix.isEmpty() && modern.patches.empty());

      engine::LoadRequest request;
      request.format = engine::LoadRequest::Format::kFlvModern;
      request.matroska = modern.matroska;
      QCOMPARE(engine_options::ForFile(request).demuxer, QByteArray("mkv"));
    }
    const local_file::Inspection legacy = local_file::Inspect(Write("l.flv", SmallFlv()).toUtf8());
    QVERIFY(!legacy.matroska);
    engine::LoadRequest request;
    QCOMPARE(engine_options::ForFile(request).demuxer, QByteArray("lavf"));
    request.source = engine::LoadRequest::Source::kHttp;
    QCOMPARE(engine_options::ForFile(request).demuxer, QByteArray("lavf"));
    const auto options = engine_options::ForPlayer({});
    QVERIFY(std::any_of(options.begin(), options.end(), [](const auto& o) {
      return QByteArray(o.name) == "ordered-chapters" && o.value == "no" && o.required;
    }));
  }

  // None of these may block the caller: a FIFO without a writer, a device
  // that never ends, a folder.
  void whatIsNoRegularFileIsRefusedAtOnce() {
    const QByteArray fifo = dir_.filePath(QStringLiteral("pipe.flv")).toUtf8();
    QCOMPARE(::mkfifo(fifo.constData(), 0600), 0);
    QElapsedTimer clock;
    clock.start();
    QCOMPARE(local_file::Inspect(fifo).error, QStringLiteral("it is not a regular file"));
    QCOMPARE(local_file::Inspect("/dev/zero").error, QStringLiteral("it is not a regular file"));
    QCOMPARE(local_file::Inspect(dir_.path().toUtf8()).error,
             QStringLiteral("it is a folder, not a video file"));
    QVERIFY(clock.elapsed() < 1000);
    QCOMPARE(local_file::Inspect(dir_.filePath("absent.flv").toUtf8()).error,
             QStringLiteral("No such file or directory"));
  }

  // The file is opened by its bytes, whatever they are.
  void namesThatAreNotTextOpen() {
    const QByteArray name = dir_.path().toUtf8() + "/latin1-\xe9t\xe9.flv";
    const int fd = ::open(name.constData(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    QVERIFY(fd >= 0);
    const QByteArray data = SmallFlv();
    QCOMPARE(::write(fd, data.constData(), size_t(data.size())), ssize_t(data.size()));
    ::close(fd);
    const local_file::Inspection found = local_file::Inspect(name);
    QVERIFY2(found.error.isEmpty(), qPrintable(found.error));
  }
};

QTEST_APPLESS_MAIN(TestLocalFile)
#include "test_local_file.moc"
