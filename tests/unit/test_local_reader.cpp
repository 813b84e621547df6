// The bytes of a local file as the engine reads them: prefix, patches and
// cuts in their places, holes and long runs of zeros left out, and at the end
// of a file being written a read that waits for media, not for zeros.
#include <fcntl.h>
#include <unistd.h>
#include <QTemporaryDir>
#include <QtTest>
#include <thread>

#include "engine/local_reader.h"

namespace {

constexpr qint64 kMiB = qint64{1} << 20;

QByteArray Pattern(qint64 n, char first) {
  QByteArray bytes(n, Qt::Uninitialized);
  for (qint64 i = 0; i < n; ++i) bytes[i] = char(first + i % 13);
  return bytes;
}

// Everything the engine would get, read the way it reads: in chunks.
QByteArray ReadAll(LocalReader& reader) {
  QByteArray all;
  char chunk[32768];
  for (qint64 got; (got = reader.Read(chunk, sizeof chunk)) > 0;) all.append(chunk, got);
  return all;
}

class File {
 public:
  explicit File(const QString& path)
      : fd_(::open(QFile::encodeName(path).constData(), O_RDWR | O_CREAT | O_TRUNC, 0600)),
        handle_(
            std::make_shared<FileHandle>(::open(QFile::encodeName(path).constData(), O_RDONLY))) {}
  ~File() { ::close(fd_); }
  void Append(const QByteArray& bytes) {
    const off_t end = ::lseek(fd_, 0, SEEK_END);
    QCOMPARE(::pwrite(fd_, bytes.constData(), size_t(bytes.size()), end), ssize_t(bytes.size()));
  }
  void AppendHole(qint64 n) { QCOMPARE(::ftruncate(fd_, ::lseek(fd_, 0, SEEK_END) + n), 0); }
  LocalReader Reader(LocalReader::Cuts cuts = {}, int waitMs = 300) {
    return LocalReader({handle_, {}, {}, 0, std::move(cuts), waitMs});
  }
  std::shared_ptr<FileHandle> handle() const { return handle_; }

 private:
  int fd_;
  std::shared_ptr<FileHandle> handle_;
};

}  // namespace

class TestLocalReader : public QObject {
  Q_OBJECT

  QTemporaryDir dir_;

 private slots:
  // The prefix in place of the file's start, a patched byte, and a cut given
  // at the start, each where it belongs; the size agrees with the bytes.
  void prefixPatchesAndCuts() {
    File file(dir_.filePath("mapped.flv"));
    const QByteArray data = Pattern(3 * kMiB, 'a');
    file.Append(data);
    LocalReader reader(
        {file.handle(), {{100, 'X'}, {2 * kMiB + 5, 'Y'}}, "PREFIX", 10, {{kMiB, 2 * kMiB}}, 300});
    QByteArray expected = "PREFIX" + data.mid(10, kMiB - 10) + data.mid(2 * kMiB);
    expected[6 + 90] = 'X';
    expected[6 + kMiB - 10 + 5] = 'Y';
    QCOMPARE(reader.Size(), expected.size());
    QVERIFY(ReadAll(reader) == expected);
    reader.Seek(6 + kMiB - 10 - 2);
    char two[4];
    QCOMPARE(reader.Read(two, 4), qint64{2});  // not across the cut
  }

  // A hole and a run of written zeros, each of a megabyte or more, are left
  // out; a shorter run of zeros is data like any other.
  void holesAndLongZerosAreLeftOut() {
    File file(dir_.filePath("zeros.flv"));
    const QByteArray head = Pattern(100000, 'a'), middle = Pattern(50000, 'n'),
                     tail = Pattern(70000, 'A');
    file.Append(head);
    file.AppendHole(64 * kMiB);
    file.Append(middle);
    file.Append(QByteArray(3 * kMiB, '\0'));
    file.Append(tail);
    file.Append(QByteArray(200000, '\0'));
    file.Append(tail);
    LocalReader reader = file.Reader();
    QVERIFY(ReadAll(reader) == head + middle + tail + QByteArray(200000, '\0') + tail);
  }

  // At the end of a file being written, a read waits for media: a hole and
  // then data are followed into; zeros appended for longer than the wait
  // end it with the end of the file, though they go on.
  void waitsForMediaNotForZeros() {
    File file(dir_.filePath("growing.flv"));
    file.Append(Pattern(10000, 'a'));
    LocalReader reader = file.Reader({}, 500);
    file.Append(Pattern(10000, 'b'));  // grown since it was opened
    QCOMPARE(ReadAll(reader).size(), 20000);
    std::thread writer([&] {
      std::this_thread::sleep_for(std::chrono::milliseconds(100));
      file.AppendHole(8 * kMiB);
      file.Append(Pattern(5000, 'c'));
    });
    char chunk[65536];
    const qint64 got = reader.Read(chunk, sizeof chunk);
    writer.join();
    QCOMPARE(got, qint64{5000});
    QCOMPARE(chunk[0], 'c');

    std::atomic<bool> writing{true};
    std::thread zeros([&] {
      for (int i = 0; i < 40 && writing; ++i) {
        file.Append(QByteArray(256 << 10, '\0'));
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
      }
    });
    QCOMPARE(reader.Read(chunk, sizeof chunk), qint64{0});
    writing = false;
    zeros.join();
  }
};

QTEST_GUILESS_MAIN(TestLocalReader)
#include "test_local_reader.moc"
