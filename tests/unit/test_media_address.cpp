// Which addresses the player plays and what it makes of them, decided before
// anything is opened: every way in (command line, Open, drop, the desktop)
// goes through this one decision.
#include <QtTest>

#include "media/media_address.h"
#include "media/path_bytes.h"

using media_address::Address;
using media_address::Kind;
using media_address::Resolve;

namespace {

const QString kBase = QStringLiteral("/base");

}  // namespace

class TestMediaAddress : public QObject {
  Q_OBJECT

 private slots:
  void addressesBecomeSafeTargets() {
    struct Case {
      const char* raw;
      Kind kind;
      const char* target;  // the path bytes or the URL
    };
    const Case cases[] = {
        {"\"/v/a b.flv\"", Kind::kLocalFile, "/v/a b.flv"},
        {"\"\"/v/a.flv\"\"", Kind::kLocalFile, "/base/\"/v/a.flv\""},  // one pair of quotes only
        {"clip.flv", Kind::kLocalFile, "/base/clip.flv"},
        {"-", Kind::kLocalFile, "/base/-"},  // not stdin
        {"--vo=x11", Kind::kLocalFile, "/base/--vo=x11"},
        {"C:clip.flv", Kind::kLocalFile, "/base/C:clip.flv"},
        {"clip.flv,x", Kind::kLocalFile, "/base/clip.flv,x"},
        {"dir/av://lavfi:x", Kind::kLocalFile, "/base/dir/av://lavfi:x"},
        {"file:///v/a%20b.flv", Kind::kLocalFile, "/v/a b.flv"},
        {"FILE://localhost/v/a.flv", Kind::kLocalFile, "/v/a.flv"},
        {"file:///v/a.flv?x=1#y", Kind::kLocalFile, "/v/a.flv"},
        {"file:///v/%C3%BC.flv", Kind::kLocalFile, "/v/\xc3\xbc.flv"},
        // A name that is not UTF-8 keeps its bytes.
        {"file:///v/%FF%FE.flv", Kind::kLocalFile, "/v/\xff\xfe.flv"},
        {"http://example.com/a b.flv?q=1", Kind::kNetwork, "http://example.com/a%20b.flv?q=1"},
        // A space would let librtmp-style options ride along.
        {"rtmp://host/app/stream live=1", Kind::kNetwork, "rtmp://host/app/stream%20live=1"},
        {"rtmpte://host/app", Kind::kNetwork, "rtmpte://host/app"},
    };
    for (const Case& c : cases) {
      const Address a = Resolve(QString::fromUtf8(c.raw), kBase);
      QVERIFY2(a.kind == c.kind, qPrintable(QString::fromUtf8(c.raw) + ": " + a.reason));
      QCOMPARE(a.IsLocal() ? a.path : a.url.toUtf8(), QByteArray(c.target));
    }
    QCOMPARE(Resolve("rtmps://h/app/s", kBase).protocol, media_address::Protocol::kRtmp);
    QCOMPARE(Resolve("https://h/s.flv", kBase).protocol, media_address::Protocol::kHttp);
  }

  void refusalsSayWhy() {
    const std::pair<QString, const char*> cases[] = {
        {"av://lavfi:testsrc", "\"av://\" are not allowed"},
        {"\"lavfi://testsrc\"", "\"lavfi://\" are not allowed"},
        {"file://server/share/a.flv", "on this computer"},
        {"file://127.0.0.1/tmp/clip.flv", "on this computer"},
        {"file:///", "names no file"},
        {"http:///a.flv", "not valid"},
        {"\"\"", "no video address"},
        {QStringLiteral("/v/a.flv") + QChar(u'\0') + "x", "NUL"},
        // Decoded before it is judged: an encoded NUL or line break is no
        // part of a file name the player will open.
        {"file:///dev/zero%00", "control character"},
        {"file:///tmp/a%00.flv", "control character"},
        {"FILE://localhost/tmp/a%0Ab.flv", "control character"},
        {"file:///tmp/a%7F.flv", "control character"},
    };
    for (const auto& [raw, reason] : cases) {
      const Address a = Resolve(raw, kBase);
      QVERIFY2(a.IsRefused(), qPrintable(raw));
      QVERIFY2(a.reason.contains(QLatin1String(reason)), qPrintable(a.reason));
      QVERIFY(a.path.isEmpty() && a.url.isEmpty());
    }
  }

  // Every protocol the engine lists, less the ones the player accepts (http,
  // https, the rtmp family and file:// on this computer).
  void everyOtherProtocolIsRefused_data() {
    QTest::addColumn<QString>("address");
    for (const char* address : {"av://lavfi:testsrc",
                                "lavf://clip.flv",
                                "ffmpeg://clip.flv",
                                "avdevice://x11grab:0",
                                "lavfi://testsrc",
                                "fd://0",
                                "fdclose://0",
                                "memory://FLV",
                                "hex://464c56",
                                "null://",
                                "edl://clip.flv,0,1",
                                "mf://*.png",
                                "appending:///tmp/clip.flv",
                                "slice://0-100@/tmp/clip.flv",
                                "archive:///tmp/a.zip|clip.flv",
                                "data://text/plain,x",
                                "concat://a.flv|b.flv",
                                "md5://clip.flv",
                                "cdda://",
                                "dvd://",
                                "dvdnav://",
                                "bd://",
                                "br://",
                                "bluray://",
                                "bdnav://",
                                "brnav://",
                                "bluraynav://",
                                "dvb://",
                                "smb://h/s/a.flv",
                                "ftp://127.0.0.1/a.flv",
                                "sftp://127.0.0.1/a.flv",
                                "tcp://127.0.0.1:1",
                                "udp://127.0.0.1:1",
                                "unix:///tmp/socket",
                                "tls://127.0.0.1:1",
                                "rtp://127.0.0.1:1",
                                "rtsp://127.0.0.1/a",
                                "rtsps://127.0.0.1/a",
                                "srt://127.0.0.1:1",
                                "srtp://127.0.0.1:1",
                                "rist://127.0.0.1:1",
                                "mms://127.0.0.1/a",
                                "mmst://127.0.0.1/a",
                                "mmsh://127.0.0.1/a",
                                "mmshttp://127.0.0.1/a",
                                "httpproxy://127.0.0.1/a",
                                "gopher://127.0.0.1/a",
                                "gophers://127.0.0.1/a",
                                "ipfs://x",
                                "ipns://x",
                                "tibrok://1"}) {
      QTest::newRow(address) << QString::fromLatin1(address);
    }
  }

  void everyOtherProtocolIsRefused() {
    QFETCH(QString, address);
    const Address a = Resolve(address, kBase);
    QVERIFY(a.IsRefused());
    QVERIFY2(a.reason.contains(QLatin1String("are not allowed")), qPrintable(a.reason));
  }

  // The engine's protocols cut a longer URL to a different address without a
  // word; the player refuses it instead.
  void overlongUrlsAreRefusedNotCut() {
    const auto url = [](const char* scheme, int length) {
      QString u = QStringLiteral("%1://example.com/").arg(QLatin1String(scheme));
      return u + QString(length - u.size(), u'a');
    };
    QVERIFY(Resolve(url("http", media_address::kMaxHttpUrlBytes), kBase).IsNetwork());
    const Address longHttp = Resolve(url("https", media_address::kMaxHttpUrlBytes + 1), kBase);
    QVERIFY(longHttp.IsRefused());
    QVERIFY2(longHttp.reason.contains(QLatin1String("longer than")), qPrintable(longHttp.reason));
    QVERIFY(Resolve(url("rtmp", media_address::kMaxRtmpUrlBytes), kBase).IsNetwork());
    QVERIFY(Resolve(url("rtmp", media_address::kMaxRtmpUrlBytes + 1), kBase).IsRefused());
    // Measured encoded: spaces become three bytes each.
    QVERIFY(Resolve(QStringLiteral("rtmp://h/") + QString(400, u' '), kBase).IsRefused());
  }

  // File names are bytes: what the command line holds as text comes back as
  // the same bytes, whatever they were.
  void namesKeepTheirBytes() {
    const QByteArray names[] = {
        "/tmp/plain.flv",
        "/tmp/\xc3\xbc \xe2\x82\xac \xf0\x9f\x8e\xac.flv",  // valid UTF-8
        "/tmp/latin1-\xe9t\xe9.flv",                        // not UTF-8
        "/tmp/\xff\xfe\x80.flv",
        "/tmp/\xc3.flv",              // a sequence cut short
        "/tmp/\xed\xa0\x80.flv",      // an encoded surrogate
        "/tmp/\xc0\xaf.flv",          // an overlong form
        "/tmp/\xf4\x90\x80\x80.flv",  // past U+10FFFF
    };
    for (const QByteArray& name : names) {
      const QString text = path_bytes::Decode(name);
      QCOMPARE(path_bytes::Encode(text), name);
      const Address a = Resolve(text, kBase);
      QVERIFY(a.IsLocal());
      QCOMPARE(a.path, name);
      // And through a file URL, as a drop or the desktop would send it.
      const Address viaUrl = Resolve(a.Url(), kBase);
      QVERIFY2(viaUrl.IsLocal(), qPrintable(a.Url()));
      QCOMPARE(viaUrl.path, name);
    }
    // Valid text decodes as itself.
    QCOMPARE(path_bytes::Decode("/tmp/\xc3\xbc.flv"), QString::fromUtf8("/tmp/\xc3\xbc.flv"));
  }

  void titlesAreFileNames() {
    QCOMPARE(Resolve("/v/clip one.flv", kBase).Title(), QStringLiteral("clip one.flv"));
    QCOMPARE(Resolve("http://h/live/show.flv?token=1", kBase).Title(), QStringLiteral("show.flv"));
    QCOMPARE(Resolve("rtmp://h/live", kBase).Title(), QStringLiteral("live"));
    QCOMPARE(Resolve("/v/a b.flv", kBase).Url(), QStringLiteral("file:///v/a%20b.flv"));
  }
};

QTEST_APPLESS_MAIN(TestMediaAddress)
#include "test_media_address.moc"
