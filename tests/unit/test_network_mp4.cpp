// The walk of an MP4 over a connection, on a stand-in that counts what a
// real one would cost: the media data skipped rather than read, requests
// bounded whatever the boxes, and a server without ranges read only in
// its kept start, so that the engine can still read from byte 0.

#include <QtTest>
#include <algorithm>
#include <cstring>

#include "media/network_mp4.h"
#include "support/mp4_builder.h"

namespace {

// A file served as net::HttpFile reads one: the start kept as it comes,
// reading on, reading through a jump of 32 KiB or less, and a request for
// any other jump where the server does ranges.
class FakeRemote final : public network_mp4::Remote {
 public:
  FakeRemote(QByteArray bytes, bool ranges, bool sized = true)
      : bytes_(std::move(bytes)), ranges_(ranges), sized_(sized) {}

  int64_t Read(char* buffer, int64_t size) override {
    if (position_ < kept_) {
      const int64_t n = std::min(size, kept_ - position_);
      std::memcpy(buffer, bytes_.constData() + position_, size_t(n));
      position_ += n;
      return n;
    }
    if (position_ != connection_) {
      const int64_t gap = position_ - connection_;
      if (ranges_ && gap > 0 && gap <= 32 << 10) {
        received_ += gap;
      } else if (ranges_) {
        ++requests_;
      } else {
        return -1;
      }
      connection_ = position_;
    }
    const int64_t n = std::clamp<int64_t>(bytes_.size() - position_, 0, size);
    std::memcpy(buffer, bytes_.constData() + position_, size_t(n));
    if (kept_ == position_) kept_ = std::min<int64_t>(position_ + n, kKept);
    position_ += n;
    connection_ = position_;
    received_ += n;
    farthest_ = std::max(farthest_, connection_);
    return n;
  }
  bool Seek(int64_t offset) override {
    if (!ranges_ && !(offset <= kept_ && connection_ == kept_) && offset != connection_) {
      return false;
    }
    position_ = offset;
    return true;
  }
  int64_t Size() const override { return sized_ ? bytes_.size() : -1; }
  bool Seekable() const override { return ranges_ && sized_; }
  int64_t Requests() const override { return requests_; }
  int64_t Received() const override { return received_; }
  // Whether the engine could now start from byte 0.
  bool BackToStart() { return Seek(0); }
  int64_t Farthest() const { return farthest_; }

 private:
  static constexpr int64_t kKept = 256 << 10;
  QByteArray bytes_;
  bool ranges_, sized_;
  int64_t position_ = 0, connection_ = 0, kept_ = 0, farthest_ = 0;
  int64_t requests_ = 1, received_ = 0;
};

// 40 pictures of 100 KiB: 4 MB of media, its header before or after it.
QByteArray Movie(bool headerFirst, uint32_t samples = 40) {
  mp4test::Track video;
  video.samples = samples;
  video.sampleSize = samples > 1000 ? 10 : 100 << 10;
  mp4test::Movie movie{{video}};
  movie.headerFirst = headerFirst;
  return mp4test::Make(movie);
}

}  // namespace

class TestNetworkMp4 : public QObject {
  Q_OBJECT

 private slots:
  void mediaIsSkippedByOneRangeRequest() {
    FakeRemote remote(Movie(false), true);
    const mp4_reader::Facts facts = network_mp4::Walk(remote);
    QCOMPARE(int(facts.refusal), int(mp4_reader::Refusal::kNone));
    QVERIFY(facts.moovOffset > 4000000);
    QCOMPARE(facts.tracks.at(0).heldSamples, int64_t{40});
    QCOMPARE(remote.Requests(), int64_t{2});
    QVERIFY2(remote.Received() < (200 << 10), qPrintable(QString::number(remote.Received())));
    QVERIFY(remote.BackToStart());
  }

  void serverWithoutRangesIsReadOnlyInItsKeptStart() {
    mp4_reader::Facts facts;
    // Header first: played, and the media left unread for the engine.
    for (const bool sized : {true, false}) {
      FakeRemote first(Movie(true), false, sized);
      facts = network_mp4::Walk(first);
      QCOMPARE(int(facts.refusal), int(mp4_reader::Refusal::kNone));
      QVERIFY(facts.problems.empty());
      QVERIFY(first.Farthest() < (64 << 10));
      QVERIFY(first.BackToStart());
    }

    // A header larger than the kept start cannot be checked.
    FakeRemote large(Movie(true, 120000), false);
    facts = network_mp4::Walk(large);
    QCOMPARE(int(facts.refusal), int(mp4_reader::Refusal::kOutOfReach));
    QVERIFY2(facts.refusalText.find("reaches past its first 256 KiB") != std::string::npos,
             facts.refusalText.c_str());
    QVERIFY(large.BackToStart());
  }

  void requestsAreBoundedWhateverTheBoxes() {
    // Boxes side by side cost no request however many: one skips the media.
    QByteArray tiny = Movie(true, 10);
    for (int i = 0; i < 100000; ++i) tiny += mp4test::Box("free", {});
    FakeRemote packed(tiny, true);
    QCOMPARE(int(network_mp4::Walk(packed).refusal), int(mp4_reader::Refusal::kNone));
    QCOMPARE(packed.Requests(), int64_t{2});

    // Boxes each too long to read through cost a request each: refused at the bound.
    QByteArray spread = Movie(true, 10);
    for (int i = 0; i < 200; ++i) spread += mp4test::Box("free", QByteArray(40 << 10, '\0'));
    FakeRemote far(spread, true);
    const mp4_reader::Facts facts = network_mp4::Walk(far);
    QCOMPARE(int(facts.refusal), int(mp4_reader::Refusal::kNetworkCost));
    QVERIFY2(facts.refusalText.find("more than 64 requests") != std::string::npos,
             facts.refusalText.c_str());
    QCOMPARE(far.Requests(), int64_t{1 + 65});
  }
};

QTEST_GUILESS_MAIN(TestNetworkMp4)
#include "test_network_mp4.moc"
