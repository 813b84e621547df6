// An http FLV's tail, fetched by a request of its own, counts only when it
// fits the file's start: the tail of another file (another size, other
// codecs, an end hours away for a file of a few kilobytes, an end before
// the start) is ignored.
#include <QtTest>

#include "media/network_tail.h"
#include "unit/flv/flv_builder.h"

namespace {

// Sorenson H.263 (or VP6) every 40 ms with MP3 beside it, `firstMs` to `lastMs`.
flvtest::Bytes Clip(uint32_t firstMs, uint32_t lastMs, bool vp6 = false) {
  flvtest::Builder b;
  for (uint32_t ms = firstMs; ms <= lastMs; ms += 40) {
    if (vp6) {
      b.Tag(9, ms, flvtest::Bytes{uint8_t(ms % 1000 == 0 ? 0x14 : 0x24), 0, 1, 2, 3, 4, 5, 6});
    } else {
      b.H263(ms, ms % 1000 == 0);
    }
    b.Mp3(ms);
  }
  return b.bytes();
}

network_tail::Tail TailOf(const flvtest::Bytes& file, size_t window, int64_t total) {
  network_tail::Tail tail;
  const size_t first = file.size() > window ? file.size() - window : 0;
  tail.bytes.assign(file.begin() + std::ptrdiff_t(first), file.end());
  tail.first = int64_t(first);
  tail.total = total;
  return tail;
}

std::string Head(const flvtest::Bytes& file) {
  return std::string(file.begin(),
                     file.begin() + std::ptrdiff_t(std::min<size_t>(file.size(), 4096)));
}

}  // namespace

class TestNetworkTail : public QObject {
  Q_OBJECT

 private slots:
  void aTailCountsOnlyWhenItFitsTheStart() {
    const flvtest::Bytes file = Clip(0, 10000);
    const int64_t size = int64_t(file.size());
    const std::string head = Head(file);
    QCOMPARE(network_tail::EndIfItFits(head, size, TailOf(file, 8192, size)), int64_t{10000});
    // Without a start to hold it against, the size alone must agree.
    QCOMPARE(network_tail::EndIfItFits({}, size, TailOf(file, 8192, size)), int64_t{10000});

    // The tail of a file of another size.
    const flvtest::Bytes longer = Clip(0, 12000);
    QCOMPARE(network_tail::EndIfItFits(head, size, TailOf(longer, 8192, int64_t(longer.size()))),
             int64_t{-1});
    // Of the same size, but with another video codec.
    const flvtest::Bytes other = Clip(0, 10000, true);
    QCOMPARE(network_tail::EndIfItFits(head, size, TailOf(other, 8192, size)), int64_t{-1});
    // Ten hours on, for a file of a few hundred kilobytes.
    const flvtest::Bytes far = Clip(36000000, 36010000);
    QCOMPARE(network_tail::EndIfItFits(head, size, TailOf(far, 8192, size)), int64_t{-1});
    // Ending before the file starts.
    const flvtest::Bytes late = Clip(20000, 30000);
    QCOMPARE(network_tail::EndIfItFits(Head(late), size, TailOf(file, 8192, size)), int64_t{-1});
    // No size from the main answer (a live stream): nothing to fit.
    QCOMPARE(network_tail::EndIfItFits(head, -1, TailOf(file, 8192, size)), int64_t{-1});
  }
};

QTEST_GUILESS_MAIN(TestNetworkTail)
#include "test_network_tail.moc"
