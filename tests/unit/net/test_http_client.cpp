// The player's HTTP(S) client against servers inside the test on
// 127.0.0.1: one case per way a server can answer, well or badly. The
// limits are shortened so that each bad server is given up in about two
// seconds (long enough for a good one on a busy machine); the bounds
// checked here only catch a hang.
#include <QElapsedTimer>
#include <QTemporaryDir>
#include <QtTest>
#include <cstdlib>
#include <thread>

#include "net/chunked.h"
#include "net/http_client.h"
#include "net/http_file.h"
#include "net/progress_guard.h"
#include "net/response_head.h"
#include "net/url.h"
#include "support/script_server.h"
#include "support/tls_peer.h"

namespace {

using Peer = ScriptServer::Peer;

net::Limits Short() {
  net::Limits limits;
  limits.connectMs = 4000;
  limits.headersMs = 2000;
  limits.silenceMs = 2000;
  limits.windowMs = 2000;
  limits.minWindowBytes = 1024;
  return limits;
}

std::string Body(int size) {
  std::string body;
  for (int i = 0; i < size; ++i) body += char('a' + i * 7 % 26);
  return body;
}

// The whole body, or the failure in words ("error: ...").
std::string Fetch(const std::string& url, const net::Limits& limits = Short(),
                  net::Response* response = nullptr) {
  net::Request request;
  request.url = url;
  net::Opened opened = net::Open(request, limits, std::make_shared<net::CancelFlag>());
  if (!opened.connection) return "error: " + opened.error;
  if (response) *response = opened.connection->response();
  std::string body;
  char buffer[4096];
  for (;;) {
    const int64_t got = opened.connection->Read(buffer, sizeof buffer);
    if (got < 0) return "error: " + opened.connection->Error();
    if (got == 0) return body;
    body.append(buffer, size_t(got));
    if (body.size() > (8u << 20)) return "error: the test's bound";
  }
}

// "bytes=N-" of a request head, -1 without one.
int64_t RangeFrom(const std::string& request) {
  const size_t at = request.find("Range: bytes=");
  return at == std::string::npos ? -1 : std::atoll(request.c_str() + at + 13);
}

// Serves `body` with ranges when `ranges`, as HTTP/1.1 with a length.
ScriptServer::Script FileScript(const std::string& body, bool ranges) {
  return [body, ranges](const std::string& request, Peer& peer) {
    const int64_t from = ranges ? RangeFrom(request) : -1;
    if (from >= 0) {
      peer.Send("HTTP/1.1 206 Partial Content\r\nContent-Range: bytes " + std::to_string(from) +
                "-" + std::to_string(body.size() - 1) + "/" + std::to_string(body.size()) +
                "\r\nContent-Length: " + std::to_string(body.size() - from) + "\r\n\r\n" +
                body.substr(size_t(from)));
    } else {
      peer.Send("HTTP/1.1 200 OK\r\nContent-Length: " + std::to_string(body.size()) + "\r\n\r\n" +
                body);
    }
  };
}

}  // namespace

class TestHttpClient : public QObject {
  Q_OBJECT

  QTemporaryDir dir_;
  tls_peer::Identity authority_;

 private slots:
  void initTestCase() {
    // The client trusts what the system's store holds; here that is the
    // test's own authority alone.
    QVERIFY(dir_.isValid());
    authority_ = tls_peer::Make("Test Authority", "", nullptr, true);
    const std::string bundle = dir_.filePath(QStringLiteral("ca.pem")).toStdString();
    QVERIFY(tls_peer::WritePem(authority_, bundle));
    ::setenv("SSL_CERT_FILE", bundle.c_str(), 1);
    ::setenv("SSL_CERT_DIR", dir_.path().toLocal8Bit().constData(), 1);
  }

  void addressesAndRedirectTargets() {
    const auto url = net::ParseUrl("HTTPS://user:pw@Example.COM:8443/a/b.flv?x=1#frag");
    QVERIFY(url);
    QVERIFY(url->https);
    QCOMPARE(url->host, std::string("example.com"));
    QCOMPARE(url->port, 8443);
    QCOMPARE(url->target, std::string("/a/b.flv?x=1"));
    QCOMPARE(url->Text(), std::string("https://example.com:8443/a/b.flv?x=1"));
    QCOMPARE(net::ParseUrl("http://[::1]/")->HostHeader(), std::string("[::1]"));
    for (const char* bad : {"ftp://h/x", "http:/h/x", "http://", "http://h:99999/", "http://h/a b",
                            "http://h/a\r\nX: y", "http://h:-1/"}) {
      QVERIFY2(!net::ParseUrl(bad), bad);
    }
    bool other = false;
    const net::Url base = *net::ParseUrl("http://h:81/dir/a.flv?q");
    QCOMPARE(net::ResolveLocation(base, "b.flv", &other)->Text(),
             std::string("http://h:81/dir/b.flv"));
    QCOMPARE(net::ResolveLocation(base, "../up/../c.flv", &other)->Text(),
             std::string("http://h:81/c.flv"));
    QCOMPARE(net::ResolveLocation(base, "//g/x", &other)->Text(), std::string("http://g/x"));
    QCOMPARE(net::ResolveLocation(base, "https://g/\xc3\xa9", &other)->Text(),
             std::string("https://g/%C3%A9"));
    for (const char* scheme : {"file:///etc/passwd", "rtmp://h/live", "javascript:x"}) {
      QVERIFY(!net::ResolveLocation(base, scheme, &other));
      QVERIFY2(other, scheme);
    }
  }

  // Heads and chunks as a server may cut them: the same answer whatever the
  // cut; framing that never ends is refused, not held.
  void framingAtEveryCut() {
    const std::string chunked =
        "5;ext=1\r\nhello\r\n1\r\n \r\n5\r\nworld\r\n0\r\nTrailer: x\r\n\r\n";
    for (size_t cut = 0; cut <= chunked.size(); ++cut) {
      net::ChunkedDecoder decoder;
      std::string out;
      char buffer[3];
      for (const std::string& part : {chunked.substr(0, cut), chunked.substr(cut)}) {
        size_t at = 0;
        while (at < part.size()) {
          size_t used = 0;
          const size_t n =
              decoder.Decode(part.data() + at, part.size() - at, buffer, sizeof buffer, &used);
          out.append(buffer, n);
          at += used;
          QVERIFY(n > 0 || used > 0 || decoder.Done());
          if (decoder.Done()) break;
        }
      }
      QCOMPARE(out, std::string("hello world"));
      QVERIFY(decoder.Done());
    }
    net::ChunkedDecoder endless;
    const std::string extension(net::ChunkedDecoder::kMaxLine + 10, 'f');
    char sink[16];
    size_t used = 0;
    endless.Decode(extension.data(), extension.size(), sink, sizeof sink, &used);
    QVERIFY(endless.Failed());
    net::ChunkedDecoder huge;
    huge.Decode("fffffffffffffffff\r\n", 19, sink, sizeof sink, &used);
    QVERIFY(huge.Failed());

    const std::string head = "HTTP/1.1 200 OK\r\nContent-Length: 5\r\n\r\nbody";
    // Searched again from where the bytes before ended: the head's end is
    // found whichever byte it came with.
    for (size_t cut = 0; cut <= head.size() - 4; ++cut) {
      const size_t early = net::HeadEnd(std::string_view(head).substr(0, cut));
      const size_t end = net::HeadEnd(head, cut);
      QVERIFY(early == std::string_view::npos || early == head.size() - 4);
      QCOMPARE(end, head.size() - 4);
    }
    net::ResponseHead parsed;
    std::string error;
    QVERIFY(!net::ParseHead("HTTP/1.1 200 OK\r\nContent-Length: 5\r\nContent-Length: 6\r\n\r\n",
                            &parsed, &error));
    QVERIFY(!net::ParseHead("ICY 200 OK\r\n\r\n", &parsed, &error));
    int64_t first = 0, last = 0, total = 0;
    QVERIFY(net::ParseContentRange("bytes 100-199/200", &first, &last, &total));
    QCOMPARE(total, 200);
    for (const char* wrong : {"bytes 100-199/*", "bytes 5-4/10", "bytes 0-10/10", "items 0-1/2",
                              "bytes 0-1/99999999999999999999"}) {
      QVERIFY2(!net::ParseContentRange(wrong, &first, &last, &total), wrong);
    }
  }

  // Only time spent waiting for the body counts, and a drip starves.
  void progressCountsOnlyTimeSpentWaiting() {
    net::ProgressGuard drip(1024, 1000);
    for (int i = 0; i < 20 && !drip.Starved(); ++i) {
      drip.Waited(200);
      drip.Received(1);
    }
    QVERIFY(drip.Starved());
    QVERIFY(drip.BytesInWindow() < 10);

    net::ProgressGuard flowing(1024, 1000);
    for (int i = 0; i < 100; ++i) {
      flowing.Waited(100);
      flowing.Received(200);
      QVERIFY(!flowing.Starved());
    }
    // Reads that never wait (a full cache, then a burst) cannot starve it,
    // however many.
    net::ProgressGuard idle(1024, 1000);
    for (int i = 0; i < 100000; ++i) idle.Received(1);
    QVERIFY(!idle.Starved());
    idle.Waited(5000);
    QVERIFY(idle.Starved());
  }

  void bodiesOfEveryFraming() {
    const std::string body = Body(100000);
    ScriptServer withLength(FileScript(body, false));
    ScriptServer chunked([&](const std::string&, Peer& peer) {
      peer.Send("HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n");
      for (size_t at = 0; at < body.size(); at += 7000) {
        const std::string part = body.substr(at, 7000);
        char size[16];
        std::snprintf(size, sizeof size, "%zx", part.size());
        peer.Send(std::string(size) + "\r\n" + part + "\r\n");
      }
      peer.Send("0\r\n\r\n");
    });
    ScriptServer untilClose(
        [&](const std::string&, Peer& peer) { peer.Send("HTTP/1.0 200 OK\r\n\r\n" + body); });
    for (ScriptServer* server : {&withLength, &chunked, &untilClose}) {
      QCOMPARE(Fetch(server->Url()), body);
    }
    const std::string request = withLength.Requests().at(0);
    QVERIFY(request.find("Accept-Encoding: identity\r\n") != std::string::npos);
    QVERIFY(request.find("Cookie") == std::string::npos);

    // A length the connection does not live up to is a failure, not an end.
    ScriptServer shortBody([](const std::string&, Peer& peer) {
      peer.Send("HTTP/1.1 200 OK\r\nContent-Length: 100\r\n\r\nonly this");
    });
    QVERIFY(Fetch(shortBody.Url()).find("closed the connection early") != std::string::npos);
    ScriptServer compressed([](const std::string&, Peer& peer) {
      peer.Send("HTTP/1.1 200 OK\r\nContent-Encoding: gzip\r\nContent-Length: 2\r\n\r\nzz");
    });
    QVERIFY(Fetch(compressed.Url()).find("compressed") != std::string::npos);
  }

  // A server with ranges is read from wherever the reader jumps; one without
  // is a live stream whose kept start can be read again, and nothing else.
  void rangesAndLiveStreams() {
    const std::string body = Body(3 << 20);
    ScriptServer ranges(FileScript(body, true));
    net::Opened failure;
    auto file =
        net::HttpFile::Open(ranges.Url(), Short(), std::make_shared<net::CancelFlag>(), &failure);
    QVERIFY2(file, failure.error.c_str());
    QVERIFY(file->Seekable());
    QCOMPARE(file->Size(), int64_t(body.size()));
    char buffer[1000];
    QCOMPARE(file->Read(buffer, 10), int64_t(10));
    QVERIFY(file->Seek(2 << 20));
    QVERIFY(file->Read(buffer, sizeof buffer) > 0);
    QCOMPARE(std::string(buffer, 10), body.substr(2 << 20, 10));
    QVERIFY(file->Seek(5));  // back into the kept start: no request
    QCOMPARE(file->Read(buffer, 5), int64_t(5));
    QCOMPARE(std::string(buffer, 5), body.substr(5, 5));
    const std::vector<std::string> requests = ranges.Requests();
    QCOMPARE(requests.size(), size_t(2));
    QCOMPARE(RangeFrom(requests[0]), int64_t(0));
    QCOMPARE(RangeFrom(requests[1]), int64_t(2 << 20));

    ScriptServer live(FileScript(body, false));
    auto stream =
        net::HttpFile::Open(live.Url(), Short(), std::make_shared<net::CancelFlag>(), &failure);
    QVERIFY(stream);
    QVERIFY(!stream->Seekable());
    QCOMPARE(stream->Read(buffer, sizeof buffer), int64_t(sizeof buffer));
    QVERIFY(stream->Seek(0));
    QCOMPARE(stream->Read(buffer, 4), int64_t(4));
    QCOMPARE(std::string(buffer, 4), body.substr(0, 4));
    QVERIFY(!stream->Seek(2 << 20));
    QCOMPARE(live.Connections(), 1);
  }

  // Every way a server can keep a request alive without delivering is
  // given up, with its own words.
  void serversThatTalkWithoutDelivering_data() {
    QTest::addColumn<int>("kind");
    QTest::addColumn<QString>("expected");
    QTest::newRow("endless headers") << 0 << "more than 64 KiB of headers";
    QTest::newRow("header drip") << 1 << "did not finish its headers within 2 seconds";
    QTest::newRow("silence") << 2 << "did not answer within 2 seconds";
    QTest::newRow("no body") << 3 << "sent no media within 2 seconds";
    QTest::newRow("body drip") << 4 << "sent only";
    QTest::newRow("chunk-size drip") << 5 << "chunked answer is malformed";
    QTest::newRow("interim answers") << 6 << "more than 64 KiB of headers";
  }

  void serversThatTalkWithoutDelivering() {
    QFETCH(int, kind);
    QFETCH(QString, expected);
    ScriptServer server([kind](const std::string&, Peer& peer) {
      switch (kind) {
        case 0:
          peer.Send("HTTP/1.1 206 Partial Content\r\n");
          while (peer.Send("X-A: b\r\n")) {
          }
          break;
        case 1:
          peer.Send("HTTP/1.1 200 OK\r\n");
          while (peer.Pause(200) && peer.Send("X")) {
          }
          break;
        case 2:
          peer.Pause(60000);
          break;
        case 3:
          peer.Send("HTTP/1.1 200 OK\r\n\r\n");
          peer.Pause(60000);
          break;
        case 4:
          peer.Send("HTTP/1.1 200 OK\r\n\r\nFLV");
          while (peer.Pause(150) && peer.Send("x")) {
          }
          break;
        case 5:
          peer.Send("HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n5;");
          while (peer.Send(std::string(512, 'e'))) {
          }
          break;
        case 6:
          while (peer.Send("HTTP/1.1 100 Continue\r\n\r\n")) {
          }
          break;
      }
    });
    QElapsedTimer clock;
    clock.start();
    const std::string got = Fetch(server.Url());
    QVERIFY2(QString::fromStdString(got).contains(expected), got.c_str());
    QVERIFY2(clock.elapsed() < 15000, qPrintable(QString::number(clock.elapsed())));
  }

  void redirectsStayWithinHttp() {
    const std::string body = Body(1000);
    ScriptServer target(FileScript(body, true));
    ScriptServer toTarget([&](const std::string&, Peer& peer) {
      peer.Send("HTTP/1.1 302 Found\r\nLocation: " + target.Url("/moved.flv") +
                "\r\nContent-Length: 0\r\n\r\n");
    });
    net::Response response;
    QCOMPARE(Fetch(toTarget.Url(), Short(), &response), body);
    QCOMPARE(response.url, target.Url("/moved.flv"));
    QCOMPARE(response.redirects, 1);

    ScriptServer elsewhere([](const std::string&, Peer& peer) {
      peer.Send("HTTP/1.1 301 Moved\r\nLocation: file:///etc/passwd\r\n\r\n");
    });
    QCOMPARE(Fetch(elsewhere.Url()),
             std::string("error: it redirects to an address that is not http(s)"));
    ScriptServer loop([](const std::string& request, Peer& peer) {
      const std::string next = request.find("GET /a") == 0 ? "/b" : "/a";
      peer.Send("HTTP/1.1 307 Again\r\nLocation: " + next + "\r\n\r\n");
    });
    QCOMPARE(Fetch(loop.Url("/a")), std::string("error: it redirects more than 5 times"));
    QCOMPARE(loop.Connections(), 6);
  }

  void certificatesAreChecked() {
    const std::string body = Body(5000);
    const tls_peer::Identity good = tls_peer::Make("127.0.0.1", "IP:127.0.0.1", &authority_, false);
    ScriptServer trusted(FileScript(body, false), tls_peer::Server(good));
    QCOMPARE(Fetch(trusted.Url("/clip.flv", "https")), body);

    const tls_peer::Identity selfSigned =
        tls_peer::Make("other.example", "DNS:other.example", nullptr, false);
    ScriptServer impostor(FileScript(body, false), tls_peer::Server(selfSigned));
    QCOMPARE(
        Fetch(impostor.Url("/clip.flv", "https")),
        std::string("error: its certificate is not valid for 127.0.0.1: self-signed certificate"));

    const tls_peer::Identity otherName =
        tls_peer::Make("other.example", "DNS:other.example", &authority_, false);
    ScriptServer misnamed(FileScript(body, false), tls_peer::Server(otherName));
    const std::string got = Fetch(misnamed.Url("/clip.flv", "https"));
    QVERIFY2(got.find("its certificate is not valid for 127.0.0.1: ") != std::string::npos,
             got.c_str());
  }

  void cancelEndsAWaitFromAnotherThread() {
    ScriptServer silent([](const std::string&, Peer& peer) { peer.Pause(60000); });
    auto cancel = std::make_shared<net::CancelFlag>();
    std::thread canceller([cancel] {
      std::this_thread::sleep_for(std::chrono::milliseconds(200));
      cancel->Cancel();
    });
    QElapsedTimer clock;
    clock.start();
    net::Request request;
    request.url = silent.Url();
    const net::Opened opened = net::Open(request, net::Limits{}, cancel);
    canceller.join();
    QVERIFY(!opened.connection);
    QVERIFY(opened.cancelled);
    // The default limits would wait ten seconds.
    QVERIFY2(clock.elapsed() < 5000, qPrintable(QString::number(clock.elapsed())));
  }
};

QTEST_MAIN(TestHttpClient)
#include "test_http_client.moc"
