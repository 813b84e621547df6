// The player widget on engines played by the test, for what it joins
// together: a copied picture goes to the clipboard (and nowhere on disk), the
// speed reaches every engine it starts, and hovering its seek bar makes the
// preview engine from the same factory, which goes with the widget.
#include <QClipboard>
#include <QDirIterator>
#include <QTemporaryDir>
#include <QtTest>
#include <memory>

#include "fake_engine.h"
#include "mpv_player.h"
#include "player_controls.h"
#include "player_overlay.h"
#include "player_probe.h"
#include "seek_bar.h"
#include "test_support.h"

using Purpose = engine::Settings::Purpose;

namespace {

// A header and one small video tag: enough for the player's look at a file.
QByteArray SmallFlv() {
  QByteArray flv("FLV\x01\x05\x00\x00\x00\x09\x00\x00\x00\x00", 13);
  flv += QByteArray("\x09\x00\x00\x05\x00\x00\x00\x00\x00\x00\x00\x12\x00\x00\x00\x00", 16);
  return flv + QByteArray("\x00\x00\x00\x10", 4);
}

QStringList FilesUnder(const QString& dir) {
  QStringList files;
  QDirIterator it(dir, QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot,
                  QDirIterator::Subdirectories);
  while (it.hasNext()) files << it.next();
  return files;
}

}  // namespace

class TestPlayerWidget : public QObject {
  Q_OBJECT

  QTemporaryDir dir_;
  QString clip_;
  std::unique_ptr<QWidget> host_;
  MpvPlayer* player_ = nullptr;
  FakeEngines engines_;

  // Plays the clip until the player's engine has it open.
  FakeEngine* Open(QSize size = {320, 240}) {
    player_->LoadMovie(0, QStringLiteral(TIBROK_RUNTIME_DIR "/player.n"));
    player_->SetVariable(QStringLiteral("myuri"), clip_);
    if (!QTest::qWaitFor([&] { return engines_.last() && !engines_.last()->loads.empty(); })) {
      return nullptr;
    }
    FakeEngine* engine = engines_.Live(Purpose::kPlayer);
    engine->OpenFile(1, size, 20);
    return engine;
  }

 private slots:
  void initTestCase() { clip_ = testsupport::WriteFile(dir_.filePath("clip.flv"), SmallFlv()); }

  void init() {
    engines_ = FakeEngines();
    host_ = std::make_unique<QWidget>();
    host_->resize(320, 240);
    player_ = new MpvPlayer(host_.get(), engines_.Factory());
    player_->setGeometry(0, 0, 320, 240);
    host_->show();
    QVERIFY(QTest::qWaitForWindowExposed(host_.get()));
  }

  void cleanup() { host_.reset(); }

  void aCopiedPictureGoesToTheClipboardOnly() {
    FakeEngine* engine = Open({640, 360});
    QVERIFY(engine);
    const QStringList filesBefore = FilesUnder(QDir::homePath());
    QApplication::clipboard()->clear();
    player_->CopyPicture();
    QCOMPARE(engine->calls.constLast(), QStringLiteral("grab picture"));
    QImage picture(640, 360, QImage::Format_RGB32);
    picture.fill(QColor(10, 200, 30));
    engine->SendPicture(picture);
    QCOMPARE(QApplication::clipboard()->image().convertToFormat(QImage::Format_RGB32), picture);
    QCOMPARE(PlayerProbe::Overlay(*player_).Notice(),
             QStringLiteral("Picture copied to the clipboard (640\u00d7360)"));
    QCOMPARE(FilesUnder(QDir::homePath()), filesBefore);
  }

  void theSpeedReachesEveryEngineItStarts() {
    player_->SetSpeed(1.5);
    FakeEngine* engine = Open();
    QVERIFY(engine);
    QCOMPARE(engine->settings.speed, 1.5);
    QCOMPARE(player_->State().speed(), 1.5);
  }

  void hoveringTheSeekBarMakesThePreviewEngine() {
    FakeEngine* main = Open();
    QVERIFY(main);
    QCOMPARE(int(engines_.made.size()), 1);
    SeekBar* bar = PlayerProbe::Overlay(*player_).Controls()->Seek();
    QTRY_VERIFY(bar->isVisible() && bar->Duration() == 20);
    QTest::mouseMove(bar, bar->rect().center());
    QTRY_VERIFY(engines_.Live(Purpose::kPreview));
    FakeEngine* preview = engines_.Live(Purpose::kPreview);
    // The same descriptor the player's engine reads.
    QVERIFY(preview->loads.front().file == main->loads.front().file);
    host_.reset();
    QVERIFY(!engines_.IsLive(preview));
  }
};

int main(int argc, char** argv) {
  // A private home, so that a file written would show up here.
  static QTemporaryDir* home = new QTemporaryDir;
  qputenv("HOME", home->path().toLocal8Bit());
  QApplication app(argc, argv);
  TestPlayerWidget test;
  return QTest::qExec(&test, argc, argv);
}
#include "test_player_widget.moc"
