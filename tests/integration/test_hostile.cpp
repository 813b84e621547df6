// Files and servers made to abuse the player: whatever a downloaded ".flv"
// holds, the player opens nothing but the address it was given, listens on
// no port, keeps its memory bounded and stays answerable, and every way in
// (the movie variable, a drop) judges an address after decoding it.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <QDir>
#include <QMimeData>
#include <QTcpServer>
#include <QTemporaryDir>
#include <QTimer>
#include <QtEndian>
#include <QtTest>
#include <atomic>
#include <bit>
#include <memory>
#include <thread>

#include "media/path_bytes.h"
#include "player/mpv_player.h"
#include "player/player_probe.h"
#include "player/seek_preview.h"
#include "support/file_server.h"
#include "support/flv_tags.h"
#include "support/mp4_builder.h"
#include "support/playback_watch.h"
#include "support/script_server.h"
#include "support/test_support.h"
#include "support/tls_peer.h"

#ifndef TIBROK_SLOWDOWN
#define TIBROK_SLOWDOWN 1
#endif

namespace {

// What the process has open now: the targets of /proc/self/fd.
QStringList OpenFiles() {
  QStringList targets;
  const QDir fds(QStringLiteral("/proc/self/fd"));
  for (const QString& fd : fds.entryList(QDir::NoDotAndDotDot | QDir::System | QDir::Files)) {
    targets << QFile::symLinkTarget(fds.filePath(fd));
  }
  return targets;
}

// Whether anything on this machine listens on UDP `port`.
bool UdpPortBound(quint16 port) {
  const QString hex = QStringLiteral(":%1 ").arg(port, 4, 16, QLatin1Char('0')).toUpper();
  for (const char* table : {"/proc/net/udp", "/proc/net/udp6"}) {
    if (QString::fromLatin1(testsupport::ReadFile(QLatin1String(table))).contains(hex)) return true;
  }
  return false;
}

// The process's peak resident set, in MiB.
qint64 PeakRssMb() {
  const QByteArray status = testsupport::ReadFile(QStringLiteral("/proc/self/status"));
  const qsizetype at = status.indexOf("VmHWM:");
  return at < 0 ? 0 : status.mid(at + 6, 20).trimmed().split(' ').first().toLongLong() / 1024;
}

// Forgets the peak so far: what a test made for itself does not count.
void ResetPeakRss() {
  QFile refs(QStringLiteral("/proc/self/clear_refs"));
  if (refs.open(QIODevice::WriteOnly)) refs.write("5");
}

// A movie header of one track of `samples` pictures of no bytes, each size
// written out, in a chunk of its own every thousand.
QByteArray MovieHeaderOf(uint32_t samples) {
  mp4test::Track track;
  track.samples = samples;
  track.sampleSize = 0;
  track.perChunk = 1000;
  return mp4test::Moov(mp4test::Movie{{track}}, {std::vector<uint32_t>(mp4test::Chunks(track), 0)});
}

// Every Sorenson H.263 picture header of an FLV whose pictures use 16-bit
// custom sizes, rewritten to claim `width` x `height`.
QByteArray WithPictureSize(QByteArray data, int width, int height) {
  const auto setBits = [&](qsizetype bit, int count, int value) {
    for (int i = 0; i < count; ++i) {
      const int on = (value >> (count - 1 - i)) & 1;
      char& byte = data[(bit + i) / 8];
      const int mask = 1 << (7 - (bit + i) % 8);
      byte = char(on ? (byte | mask) : (byte & ~mask));
    }
  };
  qsizetype at = qFromBigEndian<quint32>(data.constData() + 5) + 4;
  while (at + 11 < data.size()) {
    const quint32 size = qFromBigEndian<quint32>(data.constData() + at) & 0xffffff;
    if ((data[at] & 0x1f) == 9) {
      // After the tag header and the video flags byte: a 17-bit start code,
      // 5 bits of version, 8 of time, 3 of size format, then width, height.
      const qsizetype header = (at + 12) * 8;
      setBits(header + 33, 16, width);
      setBits(header + 49, 16, height);
    }
    at += 11 + size + 4;
  }
  return data;
}

// An FLV header and one script tag: onMetaData with `keys` numbers.
QByteArray ManyKeysThenVideo(const QByteArray& flv, int keys) {
  QByteArray body("\x02\x00\x0aonMetaData\x08", 14);
  body += QByteArray(4, '\0');
  for (int i = 0; i < keys; ++i) {
    const QByteArray key = "k" + QByteArray::number(i);
    body += char(key.size() >> 8);
    body += char(key.size());
    body += key;
    body += QByteArray("\x00\x3f\xf0\x00\x00\x00\x00\x00\x00", 9);
  }
  body += QByteArray("\x00\x00\x09", 3);
  QByteArray tag(11, '\0');
  tag[0] = 18;
  tag[1] = char(body.size() >> 16);
  tag[2] = char(body.size() >> 8);
  tag[3] = char(body.size());
  const quint32 dataOffset = qFromBigEndian<quint32>(flv.constData() + 5);
  QByteArray out = flv.left(dataOffset + 4) + tag + body;
  const quint32 previous = quint32(11 + body.size());
  out += char(previous >> 24);
  out += char(previous >> 16);
  out += char(previous >> 8);
  out += char(previous);
  // The file's own tags follow, its own onMetaData among them.
  return out + flv.mid(dataOffset + 4);
}

// `flv` with every tag's timestamp moved `shiftMs` on: the same size and
// codecs, another file's clock.
QByteArray Shifted(QByteArray flv, quint32 shiftMs) {
  qsizetype at = qFromBigEndian<quint32>(flv.constData() + 5) + 4;
  while (at + 11 <= flv.size()) {
    const quint32 size = qFromBigEndian<quint32>(flv.constData() + at) & 0xffffff;
    const auto* t = reinterpret_cast<const uchar*>(flv.constData() + at + 4);
    const quint32 ms =
        (quint32(t[3]) << 24 | quint32(t[0]) << 16 | quint32(t[1]) << 8 | t[2]) + shiftMs;
    flv[at + 4] = char(ms >> 16);
    flv[at + 5] = char(ms >> 8);
    flv[at + 6] = char(ms);
    flv[at + 7] = char(ms >> 24);
    at += 11 + size + 4;
  }
  return flv;
}

// A server's answer to a request head for `body`: ranges ("bytes=N-" and
// "bytes=-N") honoured, from `tailBody` for the last bytes.
std::string RangeAnswer(const std::string& request, const std::string& body,
                        const std::string& tailBody) {
  const size_t range = request.find("Range: bytes=");
  if (range == std::string::npos) {
    return "HTTP/1.1 200 OK\r\nContent-Length: " + std::to_string(body.size()) + "\r\n\r\n" + body;
  }
  const bool suffix = request[range + 13] == '-';
  const int64_t n = std::atoll(request.c_str() + range + 13 + (suffix ? 1 : 0));
  const std::string& from = suffix ? tailBody : body;
  const int64_t first = suffix ? std::max<int64_t>(int64_t(from.size()) - n, 0) : n;
  return "HTTP/1.1 206 Partial Content\r\nContent-Range: bytes " + std::to_string(first) + "-" +
         std::to_string(from.size() - 1) + "/" + std::to_string(from.size()) +
         "\r\nContent-Length: " + std::to_string(from.size() - size_t(first)) + "\r\n\r\n" +
         from.substr(size_t(first));
}

// Tags one by one, each with its PreviousTagSize field, from bytes that
// hold nothing else.
QList<QByteArray> TagBytes(const QByteArray& tags) {
  QList<QByteArray> out;
  for (qsizetype at = 0; at + 11 <= tags.size();) {
    const qsizetype size = 11 + flv::Uint24(tags.constData() + at + 1) + 4;
    out << tags.mid(at, size);
    at += size;
  }
  return out;
}

quint32 TagTime(const QByteArray& tag) {
  return flv::Uint24(tag.constData() + 4) | quint32(quint8(tag[7])) << 24;
}

// The tags from `fromMs` on, and the file's header and tags before it.
std::pair<QByteArray, QByteArray> SplitAt(const QByteArray& flv, quint32 fromMs) {
  flv::File head = flv::Parse(flv), tail;
  const QList<flv::Tag> all = head.tags;
  head.tags.clear();
  for (const flv::Tag& tag : all) ((tag.timestamp < fromMs) ? head : tail).tags << tag;
  return {flv::Write(head), flv::Write(tail).mid(4)};
}

// `count` onCuePoint tags, a millisecond apart from 0 ms on, each naming a
// cue of its own at its own time.
QByteArray CuePointTags(int count) {
  QByteArray out;
  for (int i = 0; i < count; ++i) {
    const QByteArray name = "cue" + QByteArray::number(i);
    QByteArray body("\x02\x00\x0aonCuePoint\x03", 14);
    body += QByteArray("\x00\x04name\x02", 7) + char(name.size() >> 8) + char(name.size()) + name;
    char time[8];
    qToBigEndian(std::bit_cast<quint64>(i / 1000.0), time);
    body += QByteArray("\x00\x04time\x00", 7) + QByteArray(time, 8);
    body += QByteArray(
        "\x00\x04type\x02\x00\x05"
        "event\x00\x00\x09",
        17);
    flv::File one;
    one.tags = {flv::Tag{18, quint32(i), body}};
    out += flv::Write(one).mid(4);
  }
  return out;
}

// A file written while the test runs: each Append() adds to its end, as a
// recorder does.
class Recording {
 public:
  explicit Recording(const QString& path)
      : fd_(::open(QFile::encodeName(path).constData(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC,
                   0600)) {}
  ~Recording() {
    if (fd_ >= 0) ::close(fd_);
  }
  bool Append(const QByteArray& bytes) {
    const off_t end = ::lseek(fd_, 0, SEEK_END);
    return end >= 0 && ::pwrite(fd_, bytes.constData(), size_t(bytes.size()), end) == bytes.size();
  }
  // A hole: the file grows by `bytes` that take no room on disk.
  bool AppendHole(qint64 bytes) {
    const off_t end = ::lseek(fd_, 0, SEEK_END);
    return end >= 0 && ::ftruncate(fd_, end + off_t(bytes)) == 0;
  }
  bool ok() const { return fd_ >= 0; }

 private:
  int fd_;
};

}  // namespace

class TestHostile : public QObject {
  Q_OBJECT

  QTemporaryDir dir_;
  QString clip_;  // 400x300 Sorenson H.263 with sound, 3 s
  std::unique_ptr<QWidget> host_;
  MpvPlayer* player_ = nullptr;
  std::unique_ptr<playback::StallMeter> meter_;

  void Play(const QString& address) {
    player_->LoadMovie(0, playback::PlayerMovie());
    player_->SetVariable(QStringLiteral("myuri"), address);
  }

  playback::Outcome Watch(const QString& address, int boundMs = 8000) {
    playback::Watch watch;
    watch.boundMs = boundMs * TIBROK_SLOWDOWN;
    return playback::PlayAndWatch(*player_, address, watch, meter_.get());
  }

  // Plays `address`, which must be refused with `reason`, while watching the
  // files the process holds: none of `forbidden` may ever be among them.
  void VerifyRefusedOpeningNothing(const QString& address, const char* reason,
                                   const QStringList& forbidden) {
    Play(address);
    QElapsedTimer clock;
    clock.start();
    while (clock.elapsed() < 800) {
      for (const QString& file : OpenFiles()) {
        QVERIFY2(!forbidden.contains(file), qPrintable(address + " opened " + file));
      }
      QTest::qWait(10);
      if (player_->State().message().contains(QLatin1String(reason))) break;
    }
    QTRY_VERIFY2(player_->State().message().contains(QLatin1String(reason)),
                 qPrintable(player_->State().message()));
    QCOMPARE(player_->State().loadState(), PlaybackState::LoadState::kFailed);
  }

 private slots:
  void initTestCase() {
    QVERIFY(dir_.isValid());
    // 400x300 is past 255, so every picture header carries a 16-bit size.
    clip_ = testsupport::MakeFlv(
        dir_.path(), "clip.flv",
        {"-f", "lavfi", "-i", "testsrc=size=400x300:rate=10", "-f", "lavfi", "-i",
         "sine=sample_rate=22050", "-t", "3", "-c:v", "flv1", "-c:a", "libmp3lame"});
    QVERIFY(!clip_.isEmpty());
  }

  void init() {
    QVERIFY(testsupport::ShowPlayerIn(host_));
    player_ = host_->findChild<MpvPlayer*>();
    meter_ = std::make_unique<playback::StallMeter>();
  }

  void cleanup() {
    meter_.reset();
    host_.reset();
  }

  // A ".flv" holding an FFmpeg concat script names a file beside it, a link
  // to any file the user can read, or a pipe that would block whoever opens
  // it. None is opened, and a good file plays right after.
  void concatScriptsOpenNothing() {
    const QString secret = dir_.filePath(QStringLiteral("secret.flv"));
    QVERIFY(QFile::copy(clip_, secret));
    const QString passwd = dir_.filePath(QStringLiteral("passwd.flv"));
    QVERIFY(QFile::link(QStringLiteral("/etc/passwd"), passwd));
    const QString fifo = dir_.filePath(QStringLiteral("fifo.flv"));
    QCOMPARE(::mkfifo(QFile::encodeName(fifo).constData(), 0600), 0);
    const QStringList forbidden{secret, QStringLiteral("/etc/passwd"), fifo};
    for (const char* named : {"secret.flv", "passwd.flv", "fifo.flv"}) {
      const QString script =
          testsupport::WriteFile(dir_.filePath(QStringLiteral("list-%1").arg(QLatin1String(named))),
                                 QByteArray("ffconcat version 1.0\nfile '") + named + "'\n");
      VerifyRefusedOpeningNothing(script, "it is an FFmpeg concat script", forbidden);
    }
    const playback::Outcome out = Watch(clip_, 3000);
    QVERIFY2(out.Plays(), qPrintable(out.Describe()));
  }

  // A session description makes FFmpeg listen for RTP on the ports it names.
  // Neither as a local file nor from a server does it get that far.
  void sessionDescriptionsListenOnNothing() {
    QTcpServer probe;  // a port number nothing else uses
    QVERIFY(probe.listen(QHostAddress::LocalHost));
    const quint16 port = probe.serverPort() & ~1;
    probe.close();
    QVERIFY(!UdpPortBound(port));
    const QByteArray sdp = QStringLiteral(
                               "v=0\no=- 0 0 IN IP4 127.0.0.1\ns=x\nc=IN IP4 0.0.0.0\n"
                               "t=0 0\nm=video %1 RTP/AVP 96\na=rtpmap:96 H264/90000\n")
                               .arg(port)
                               .toLatin1();
    const QString local = testsupport::WriteFile(dir_.filePath(QStringLiteral("s.flv")), sdp);
    VerifyRefusedOpeningNothing(local, "it is an SDP session description", {});
    QVERIFY(!UdpPortBound(port));

    // Over the network the format is probed, but only among FLV and MP4.
    FileServer server(sdp, FileServer::Mode::kRanges, 1 << 20);
    Play(server.Url(QStringLiteral("/s.flv")));
    QTRY_VERIFY_WITH_TIMEOUT(!player_->State().message().isEmpty(), 10000);
    QVERIFY(player_->State().message().startsWith(QLatin1String("Cannot play")));
    QVERIFY(!UdpPortBound(port));
    QVERIFY(!UdpPortBound(port + 1));
  }

  // Hundreds of thousands of metadata keys: the engine parses them in
  // quadratic time (minutes, in which nothing plays and the process cannot
  // end). The player keeps such script data from the engine.
  void absurdScriptDataNeverReachesTheEngine() {
    // Under a megabyte and over ten: both once took the engine minutes.
    for (const int keys : {40000, 700000}) {
      const QString path =
          testsupport::WriteFile(dir_.filePath(QStringLiteral("keys%1.flv").arg(keys)),
                                 ManyKeysThenVideo(testsupport::ReadFile(clip_), keys));
      const playback::Outcome out = Watch(path, 6000);
      QVERIFY2(out.Plays(), qPrintable(QString::number(keys) + ": " + out.Describe()));
    }
  }

  // A picture header claiming 16000x16000 in a small file: the decoders take
  // nothing that large, the user is told, and memory stays bounded.
  void hugePictureHeadersAreRefusedWithinBoundedMemory() {
    const QString path =
        testsupport::WriteFile(dir_.filePath(QStringLiteral("huge.flv")),
                               WithPictureSize(testsupport::ReadFile(clip_), 16000, 16000));
    Play(path);
    QTRY_VERIFY_WITH_TIMEOUT((player_->State().message() + player_->State().decodeProblem())
                                 .contains(QLatin1String("16000x16000 pixels, larger than")),
                             10000 * TIBROK_SLOWDOWN);
    // Before the bound one such file took the process past 1.2 GB.
    const qint64 limit = TIBROK_SLOWDOWN > 1 ? 1500 : 700;
    QVERIFY2(PeakRssMb() < limit, qPrintable(QString::number(PeakRssMb())));
    QVERIFY(Watch(clip_, 3000).Plays());
  }

  // An rtmp server that accepts and says nothing gets the same message as a
  // silent http server, in about the same time; meanwhile the player says
  // that it is waiting.
  void silentRtmpServerTimesOut() {
    QTcpServer silent;
    QVERIFY(silent.listen(QHostAddress::LocalHost));
    QList<QTcpSocket*> held;
    connect(&silent, &QTcpServer::newConnection, this,
            [&] { held << silent.nextPendingConnection(); });
    QElapsedTimer clock;
    clock.start();
    Play(QStringLiteral("rtmp://127.0.0.1:%1/live/stream").arg(silent.serverPort()));
    QTRY_VERIFY_WITH_TIMEOUT(player_->State().progress().startsWith(QLatin1String("Connecting to "
                                                                                  "127.0.0.1")),
                             5000);
    QTRY_VERIFY_WITH_TIMEOUT(!player_->State().message().isEmpty(), 15000 * TIBROK_SLOWDOWN);
    QVERIFY2(player_->State().message().contains(QLatin1String("did not answer within 10 seconds")),
             qPrintable(player_->State().message()));
    QVERIFY2(clock.elapsed() > 9000, qPrintable(QString::number(clock.elapsed())));
    QVERIFY(player_->State().progress().isEmpty());
    QVERIFY(!held.isEmpty());
  }

  // Failing `address`: the message must say `expected`, and the player must
  // have given up (no progress left running) within `boundMs`.
  void VerifyGivenUp(const QString& address, const char* expected, int boundMs) {
    meter_->Reset();
    Play(address);
    QTRY_VERIFY2_WITH_TIMEOUT(
        !player_->State().message().isEmpty(),
        qPrintable(address + QStringLiteral(": load state %1, progress \"%2\"")
                                 .arg(int(player_->State().loadState()))
                                 .arg(player_->State().progress())),
        boundMs * TIBROK_SLOWDOWN);
    QVERIFY2(player_->State().message().contains(QLatin1String(expected)),
             qPrintable(player_->State().message()));
    QCOMPARE(player_->State().loadState(), PlaybackState::LoadState::kFailed);
    QVERIFY(player_->State().progress().isEmpty());
    QVERIFY2(meter_->MaxGapMs() < 1000.0 * TIBROK_SLOWDOWN,
             qPrintable(QString::number(meter_->MaxGapMs())));
  }

  // https plays only from a server whose certificate the system trusts for
  // its name: one made for another name and signed by itself is refused,
  // with the reason.
  void httpsCertificatesAreChecked() {
    const std::string body = testsupport::ReadFile(clip_).toStdString();
    const tls_peer::Identity impostor =
        tls_peer::Make("other.example", "DNS:other.example", nullptr, false);
    ScriptServer server(
        [&](const std::string& request, ScriptServer::Peer& peer) {
          peer.Send(RangeAnswer(request, body, body));
        },
        tls_peer::Server(impostor));
    VerifyGivenUp(QString::fromStdString(server.Url("/clip.flv", "https")),
                  "its certificate is not valid for 127.0.0.1: self-signed certificate", 10000);
    QVERIFY(!player_->State().hasFile());
    // rtmps is the engine's own TLS, checked all the same.
    ScriptServer rtmps([](const std::string&, ScriptServer::Peer&) {}, tls_peer::Server(impostor));
    VerifyGivenUp(QStringLiteral("rtmps://127.0.0.1:%1/live/stream").arg(rtmps.port()),
                  "its certificate is not valid for 127.0.0.1: ", 15000);
  }

  // Servers that keep talking without delivering: endless headers, headers
  // or a body a byte at a time. Each is given up with its own reason.
  void serversThatDripAreGivenUp() {
    ScriptServer flood([](const std::string&, ScriptServer::Peer& peer) {
      peer.Send("HTTP/1.1 206 Partial Content\r\n");
      while (peer.Send(std::string(1000, 'x') + ": y\r\n")) {
      }
    });
    VerifyGivenUp(QString::fromStdString(flood.Url()), "more than 64 KiB of headers", 10000);
    ScriptServer headerDrip([](const std::string&, ScriptServer::Peer& peer) {
      peer.Send("HTTP/1.1 200 OK\r\n");
      while (peer.Pause(2000) && peer.Send("X")) {
      }
    });
    VerifyGivenUp(QString::fromStdString(headerDrip.Url()),
                  "did not finish its headers within 10 seconds", 20000);
    const std::string body = testsupport::ReadFile(clip_).toStdString();
    ScriptServer bodyDrip([&](const std::string&, ScriptServer::Peer& peer) {
      // The start and a little more, then a byte every two seconds.
      peer.Send("HTTP/1.1 200 OK\r\nContent-Length: " + std::to_string(body.size()) + "\r\n\r\n" +
                body.substr(0, 2000));
      for (size_t at = 2000; at < body.size() && peer.Pause(2000) && peer.Send(body.substr(at, 1));
           ++at) {
      }
    });
    VerifyGivenUp(QString::fromStdString(bodyDrip.Url()), "the server sent only", 30000);
  }

  // A redirect is followed within http(s), and the information view says
  // where it went; one to another scheme is refused.
  void redirectsStayWithinHttpAndAreNamed() {
    FileServer target(testsupport::ReadFile(clip_), FileServer::Mode::kRanges, 1 << 20);
    const std::string moved = target.Url(QStringLiteral("/moved.flv")).toStdString();
    ScriptServer redirect([&](const std::string&, ScriptServer::Peer& peer) {
      peer.Send("HTTP/1.1 302 Found\r\nLocation: " + moved + "\r\nContent-Length: 0\r\n\r\n");
    });
    const playback::Outcome out = Watch(QString::fromStdString(redirect.Url()), 8000);
    QVERIFY2(out.Plays(), qPrintable(out.Describe()));
    QVERIFY2(player_->State().fileReport().contains(
                 QStringLiteral("redirected to %1").arg(QString::fromStdString(moved))),
             qPrintable(player_->State().fileReport()));
    ScriptServer elsewhere([](const std::string&, ScriptServer::Peer& peer) {
      peer.Send("HTTP/1.1 302 Found\r\nLocation: file:///etc/passwd\r\n\r\n");
    });
    VerifyGivenUp(QString::fromStdString(elsewhere.Url()),
                  "it redirects to an address that is not http(s)", 5000);
  }

  // The tail request answered from another file (here the same bytes on a
  // clock ten hours on) does not set the length.
  void aTailFromAnotherFileIsIgnored() {
    const QByteArray clip = testsupport::ReadFile(clip_);
    const std::string body = clip.toStdString();
    const std::string other = Shifted(clip, 36000000).toStdString();
    QCOMPARE(other.size(), body.size());
    ScriptServer server([&](const std::string& request, ScriptServer::Peer& peer) {
      peer.Send(RangeAnswer(request, body, other));
    });
    const playback::Outcome out = Watch(QString::fromStdString(server.Url()), 5000);
    QVERIFY2(out.Plays(), qPrintable(out.Describe()));
    QTRY_COMPARE_WITH_TIMEOUT(int(server.Requests().size()), 2, 5000);
    QTest::qWait(300);
    QVERIFY2(player_->State().duration() < 10,
             qPrintable(QString::number(player_->State().duration())));
    QVERIFY(!player_->State().fileReport().contains(QLatin1String("measured")));
  }

  // An rtmp server that answers a byte now and then is given up as one that
  // says nothing would be.
  void drippingRtmpServerIsGivenUp() {
    ScriptServer drip([](const std::string&, ScriptServer::Peer&) {},
                      [](int fd, std::string*) -> std::unique_ptr<ScriptServer::Peer> {
                        for (int i = 0; i < 10; ++i) {
                          std::this_thread::sleep_for(std::chrono::seconds(3));
                          if (::send(fd, "\x03", 1, MSG_NOSIGNAL) != 1) break;
                        }
                        return nullptr;
                      });
    VerifyGivenUp(QStringLiteral("rtmp://127.0.0.1:%1/live/stream").arg(drip.port()),
                  "the server sent no media within 20 seconds", 30000);
  }

  // A server that trickles: the player shows how much has come.
  void tricklingServerShowsWhatHasCome() {
    FileServer server(testsupport::ReadFile(clip_), FileServer::Mode::kRanges, 2000);
    QStringList seen;
    connect(&player_->State(), &PlaybackState::progressChanged, this,
            [&](const QString& text) { seen << text; });
    Play(server.Url());
    QTRY_VERIFY_WITH_TIMEOUT(seen.filter(QStringLiteral(" received")).size() > 0, 10000);
    const QRegularExpression shape(
        QStringLiteral("^Waiting for 127\\.0\\.0\\.1: \\d+ KB( of \\d+ KB)? received$"));
    for (const QString& text : seen.filter(QStringLiteral(" received"))) {
      QVERIFY2(shape.match(text).hasMatch(), qPrintable(text));
    }
  }

  // %00 and other control characters are decoded before the address is
  // judged, whichever way it comes in; the engine never opens /dev/zero.
  void encodedControlCharactersAreRefusedByEveryPath() {
    const QStringList forbidden{QStringLiteral("/dev/zero")};
    for (const char* address :
         {"file:///dev/zero%00", "file:///dev/zero%00.flv", "file://localhost/dev/zero%0a"}) {
      VerifyRefusedOpeningNothing(QLatin1String(address), "control character", forbidden);
    }
    // A drop hands the address to the program, which plays it the one way.
    connect(player_, &MpvPlayer::openRequested, this, &TestHostile::Play);
    for (const bool asUrl : {false, true}) {
      QSignalSpy loaded(&player_->State(), &PlaybackState::fileLoaded);
      Play(clip_);
      QVERIFY(loaded.wait(5000));
      auto data = std::make_unique<QMimeData>();
      if (asUrl) {
        data->setUrls({QUrl::fromEncoded("file:///dev/zero%00")});
      } else {
        data->setText(QStringLiteral("file:///dev/zero%00"));
      }
      const QPointF at(50, 50);
      QDragEnterEvent enter(at.toPoint(), Qt::CopyAction, data.get(), Qt::LeftButton, {});
      QApplication::sendEvent(player_, &enter);
      QVERIFY(enter.isAccepted());
      QDropEvent drop(at, Qt::CopyAction, data.get(), Qt::LeftButton, {});
      QApplication::sendEvent(player_, &drop);
      QTRY_VERIFY2(player_->State().message().contains(QLatin1String("control character")),
                   qPrintable(player_->State().message()));
      QVERIFY(!OpenFiles().contains(QStringLiteral("/dev/zero")));
    }
  }

  // A file name in another encoding than UTF-8 plays: its bytes go from the
  // command line's text to the file the player opens.
  void namesThatAreNotUtf8Play() {
    const QByteArray name = QFile::encodeName(dir_.path()) + "/caf\xe9 \xff.flv";
    const QByteArray data = testsupport::ReadFile(clip_);
    const int fd = ::open(name.constData(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
    QVERIFY(fd >= 0);
    QCOMPARE(::write(fd, data.constData(), size_t(data.size())), ssize_t(data.size()));
    ::close(fd);
    const playback::Outcome out = Watch(path_bytes::Decode(name), 5000);
    QVERIFY2(out.Plays(), qPrintable(out.Describe()));
  }

  // MP4 headers that would cost the engine most of a gigabyte and minutes:
  // a compressed header of 24 million sizes (a 90 KiB file; 0.8 GB and two
  // minutes for the engine alone), eight million sizes written out (a
  // minute). Each is refused with its reason before the engine sees it, and
  // the process stays within its bound.
  void mp4HeadersPastTheBoundsAreRefusedWithinBoundedMemory() {
    const QByteArray ftyp = mp4test::Box("ftyp", QByteArray("isom") + mp4test::U32(0));
    const QByteArray inflated = MovieHeaderOf(24000000);
    const QByteArray packed = qCompress(inflated.mid(8), 9).mid(4);  // zlib, as the box holds it
    const QByteArray cmov = mp4test::Box(
        "moov",
        mp4test::Box("cmov", mp4test::Box("dcom", "zlib") +
                                 mp4test::Box("cmvd", mp4test::U32(uint32_t(inflated.size() - 8)) +
                                                          packed)));
    const QStringList files{
        testsupport::WriteFile(dir_.filePath(QStringLiteral("packed.flv")), ftyp + cmov),
        testsupport::WriteFile(dir_.filePath(QStringLiteral("sizes.mp4")),
                               ftyp + MovieHeaderOf(8 << 20))};
    const char* const reasons[] = {"movie header (moov) is compressed",
                                   "claims 8388608 samples, more than the player allows"};
    ResetPeakRss();
    for (int i = 0; i < files.size(); ++i) {
      Play(files[i]);
      QTRY_VERIFY2_WITH_TIMEOUT(player_->State().message().contains(QLatin1String(reasons[i])),
                                qPrintable(player_->State().message()), 10000 * TIBROK_SLOWDOWN);
      QVERIFY(player_->State().message().startsWith(
          QStringLiteral("Cannot play \"%1\": ").arg(files[i])));
    }
    const qint64 limit = TIBROK_SLOWDOWN > 1 ? 1500 : 700;
    QVERIFY2(PeakRssMb() < limit, qPrintable(QString::number(PeakRssMb())));
    QVERIFY(Watch(clip_, 3000).Plays());
  }

  // Holes (a file's size set far past what was written, as a crashed or
  // careless writer leaves it) are no media: a recording's head, a hole of
  // 100 GB that takes no room on disk and its tail play as one, at once past
  // the hole; and a recording that grows by gigabytes of hole a second
  // between its tags is followed as it grows. Read byte by byte, the holes
  // held the picture for minutes.
  void holesAreSteppedOver() {
    const auto [head, tail] = SplitAt(testsupport::ReadFile(clip_), 1500);
    const QString sparse = dir_.filePath(QStringLiteral("hole.flv"));
    {
      Recording file(sparse);
      QVERIFY(file.ok() && file.Append(head) && file.AppendHole(qint64{100} << 30) &&
              file.Append(tail));
    }
    Play(sparse);
    QVERIFY2(playback::WaitUntil([&] { return player_->State().position() > 2.0; },
                                 15000 * TIBROK_SLOWDOWN),
             qPrintable(QString::number(player_->State().position())));
    QVERIFY(player_->State().message().isEmpty());

    // A recorder that grows the file by a megabyte of hole every millisecond
    // (so that it has grown by the time the engine, which reads far ahead,
    // reaches its end), a gigabyte a second, and writes the next tenth of a
    // second of tags every 100 ms.
    const QList<QByteArray> tags = TagBytes(tail);
    Recording recording(dir_.filePath(QStringLiteral("growing_holes.flv")));
    QVERIFY(recording.ok() && recording.Append(head));
    std::atomic<bool> stop{false};
    std::thread writer([&] {
      qsizetype next = 0;
      for (int ms = 0; !stop && next < tags.size(); ++ms) {
        recording.AppendHole(qint64{1} << 20);
        if (ms % 100 == 0) {
          const quint32 until = 1500 + quint32(ms);
          for (; next < tags.size() && TagTime(tags[next]) < until; ++next) {
            recording.Append(tags[next]);
          }
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
      }
    });
    Play(dir_.filePath(QStringLiteral("growing_holes.flv")));
    const bool followed = playback::WaitUntil([&] { return player_->State().position() > 2.5; },
                                              15000 * TIBROK_SLOWDOWN);
    stop = true;
    writer.join();
    QVERIFY2(followed, qPrintable(QString::number(player_->State().position())));
  }

  // A recording that turns to zeros while it is written (a recorder whose
  // source died, writing on): what came before plays, and the player says
  // what it waits for, for as long as the writer goes on.
  void aRecordingThatTurnsToZerosSaysSo() {
    const auto [head, tail] = SplitAt(testsupport::ReadFile(clip_), 1600);
    Q_UNUSED(tail);
    const QString path = dir_.filePath(QStringLiteral("zeros.flv"));
    Recording recording(path);
    QVERIFY(recording.ok() && recording.Append(head));
    QTimer writer;
    connect(&writer, &QTimer::timeout, this,
            [&] { recording.Append(QByteArray(256 << 10, '\0')); });
    writer.start(100);
    Play(path);
    const auto waiting = [&] {
      return player_->State().progress().contains(
          QLatin1String("holds no media after 0:01; waiting"));
    };
    QVERIFY2(playback::WaitUntil(waiting, 10000 * TIBROK_SLOWDOWN),
             qPrintable(player_->State().progress() + " at " +
                        QString::number(player_->State().position())));
    QVERIFY2(playback::WaitUntil([&] { return player_->State().position() >= 1.0; },
                                 8000 * TIBROK_SLOWDOWN),
             qPrintable(QString::number(player_->State().position())));
    QVERIFY(PlayerProbe::FramesRendered(*player_) > 5);
    QVERIFY(waiting());
  }

  // A hundred thousand onCuePoint tags before the first picture: the
  // engine, taking each for a packet of data, once gave up before it found
  // a picture or sound ("No video or audio streams selected"). The file
  // plays, and what the player keeps of them is bounded.
  void endlessCuePointsBeforeTheMediaPlay() {
    const QByteArray clip = testsupport::ReadFile(clip_);
    const QByteArray data = clip.left(13) + CuePointTags(100000) + clip.mid(13);
    const QString path = testsupport::WriteFile(dir_.filePath(QStringLiteral("cues.flv")), data);
    const playback::Outcome out = Watch(path, 10000);
    QVERIFY2(out.Plays(), qPrintable(out.Describe()));
    QVERIFY2(player_->State().cuePoints().size() <= 1000,
             qPrintable(QString::number(player_->State().cuePoints().size())));
  }

  // An MP4 over http is walked before the engine sees it, through the
  // player's own connection: refused for what a local one is, and where its
  // header cannot be reached without reading the whole file.
  void mp4OverHttpIsHeldToTheLocalBounds() {
    const QByteArray ftyp = mp4test::Box("ftyp", QByteArray("isom") + mp4test::U32(0));
    const QByteArray inflated = MovieHeaderOf(24000000);
    const QByteArray cmov = mp4test::Box(
        "moov",
        mp4test::Box("cmov", mp4test::Box("dcom", "zlib") +
                                 mp4test::Box("cmvd", mp4test::U32(uint32_t(inflated.size() - 8)) +
                                                          qCompress(inflated.mid(8), 9).mid(4))));
    const QByteArray refused[] = {ftyp + cmov, ftyp + MovieHeaderOf(8 << 20)};
    const char* const reasons[] = {"movie header (moov) is compressed",
                                   "claims 8388608 samples, more than the player allows"};
    for (int i = 0; i < 2; ++i) {
      FileServer server(refused[i], FileServer::Mode::kRanges, 64 << 20);
      Play(server.Url(QStringLiteral("/a.mp4")));
      QTRY_VERIFY2_WITH_TIMEOUT(player_->State().message().contains(QLatin1String(reasons[i])),
                                qPrintable(player_->State().message()), 10000 * TIBROK_SLOWDOWN);
    }

    // FFmpeg writes the header after the media unless told otherwise;
    // lossless pictures put it past the 256 KiB a server without ranges
    // can be read again from.
    const QStringList clip{"-f",       "lavfi",   "-i",   "testsrc=size=320x240:rate=25",
                           "-t",       "3",       "-c:v", "libx264",
                           "-g",       "1",       "-qp",  "0",
                           "-pix_fmt", "yuv420p", "-f",   "mp4"};
    const QString atEnd = testsupport::MakeFlv(dir_.path(), "at-end.mp4", clip);
    const QString first = testsupport::MakeFlv(dir_.path(), "first.mp4",
                                               clip + QStringList{"-movflags", "+faststart"});
    QVERIFY(!atEnd.isEmpty() && !first.isEmpty());
    QVERIFY(QFileInfo(atEnd).size() > 256 << 10);
    for (const auto mode : {FileServer::Mode::kRanges, FileServer::Mode::kNoRanges}) {
      for (const QString& file : {first, atEnd}) {
        FileServer server(testsupport::ReadFile(file), mode, 4 << 20);
        const playback::Outcome out = Watch(server.Url(QStringLiteral("/a.mp4")), 6000);
        if (file == atEnd && mode == FileServer::Mode::kNoRanges) {
          QVERIFY2(out.message.contains(QLatin1String(
                       "its movie header comes after the media and the server cannot send "
                       "parts of the file")),
                   qPrintable(out.Describe()));
        } else {
          QVERIFY2(out.Plays(), qPrintable(file + ": " + out.Describe()));
          QCOMPARE(player_->State().videoSize(), QSize(320, 240));
          // No preview: a second connection could be answered with a file
          // the walk never saw.
          PlayerProbe::Preview(*player_).Request(1.0);
          QVERIFY(!PlayerProbe::Preview(*player_).Available());
        }
      }
    }
  }

  // Real ".flv" downloads are sometimes MP4 inside: those still play.
  void mp4NamedFlvPlays() {
    const QString mp4 =
        testsupport::MakeFlv(dir_.path(), "download.flv",
                             {"-f", "lavfi", "-i", "testsrc=size=320x240:rate=10", "-t", "2",
                              "-c:v", "libx264", "-pix_fmt", "yuv420p", "-f", "mp4"});
    QVERIFY(!mp4.isEmpty());
    const playback::Outcome out = Watch(mp4, 5000);
    QVERIFY2(out.Plays(), qPrintable(out.Describe()));
    QCOMPARE(player_->State().videoSize(), QSize(320, 240));
  }
};

QTEST_MAIN(TestHostile)
#include "test_hostile.moc"
