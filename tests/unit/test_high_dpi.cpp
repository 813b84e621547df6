// The windows on a screen of twice the pixel density (run with
// QT_SCALE_FACTOR=2): sizes in twips stay what they are, so every window has
// twice the device pixels; the About banner is drawn for that density, the
// icons have pictures for it, and the player area renders the video at
// device pixels and shows it without scaling it again; a message box is as
// wide as its caption.
#include <QLabel>
#include <QMenuBar>
#include <QTemporaryDir>
#include <QtTest>
#include <memory>

#include "about_box/form2.h"
#include "assets/assets.h"
#include "player/mpv_player.h"
#include "player/picture_layout.h"
#include "player_ui/player_icons.h"
#include "player_window/form1.h"
#include "qt/qt_runtime_services.h"
#include "support/caption_box.h"
#include "support/fake_engine.h"
#include "support/recording_fakes.h"
#include "support/test_support.h"

namespace {

QByteArray SmallFlv() {
  QByteArray flv("FLV\x01\x05\x00\x00\x00\x09\x00\x00\x00\x00", 13);
  flv += QByteArray("\x09\x00\x00\x05\x00\x00\x00\x00\x00\x00\x00\x12\x00\x00\x00\x00", 16);
  return flv + QByteArray("\x00\x00\x00\x10", 4);
}

// A picture where every pixel differs from its neighbours: any scaling,
// smoothing or half-pixel shift shows.
QImage Checkerboard(QSize size) {
  QImage image(size, QImage::Format_RGB32);
  for (int y = 0; y < size.height(); ++y) {
    for (int x = 0; x < size.width(); ++x) {
      image.setPixel(x, y, (x + y) % 2 ? qRgb(250, 20 + x % 200, 10) : qRgb(5, 30, 240 - y % 200));
    }
  }
  return image;
}

// The largest difference of one channel of one pixel between two pictures
// of one size.
int MostDifferent(const QImage& a, const QImage& b) {
  const QImage x = a.convertToFormat(QImage::Format_ARGB32);
  const QImage y = b.convertToFormat(QImage::Format_ARGB32);
  if (x.size() != y.size()) return 255;
  int most = 0;
  for (int row = 0; row < x.height(); ++row) {
    for (int column = 0; column < x.width(); ++column) {
      const QRgb p = x.pixel(column, row);
      const QRgb q = y.pixel(column, row);
      most = std::max({most, std::abs(qRed(p) - qRed(q)), std::abs(qGreen(p) - qGreen(q)),
                       std::abs(qBlue(p) - qBlue(q)), std::abs(qAlpha(p) - qAlpha(q))});
    }
  }
  return most;
}

// Pixels neither see-through nor opaque: the width of a picture's edges.
int HalfCovered(const QImage& picture) {
  const QImage image = picture.convertToFormat(QImage::Format_ARGB32);
  int count = 0;
  for (int y = 0; y < image.height(); ++y) {
    for (int x = 0; x < image.width(); ++x) {
      const int alpha = qAlpha(image.pixel(x, y));
      count += alpha > 24 && alpha < 232;
    }
  }
  return count;
}

class QuietRuntime : public QtRuntimeServices {
 public:
  QuietRuntime()
      : QtRuntimeServices(QStringLiteral("Tibrok flv player"), QString(),
                          QStringLiteral(TIBROK_RUNTIME_DIR), nullptr) {}
  void MsgBox(const QString&) override {}
};

}  // namespace

class TestHighDpi : public QObject {
  Q_OBJECT

 private slots:
  void initTestCase() {
    QVERIFY2(qFuzzyCompare(qApp->devicePixelRatio(), 2.0), "run with QT_SCALE_FACTOR=2");
    // Twips are counted against the logical DPI, which the scale leaves be.
    QCOMPARE(QWidget().logicalDpiX(), 96);
  }

  void aboutBoxKeepsItsTwipsAndItsBannerIsSharp() {
    Form2 box;
    box.show();
    QVERIFY(QTest::qWaitForWindowExposed(&box));
    QCOMPARE(box.size(), QSize(359, 207));
    const QImage shot = box.grab().toImage();
    QCOMPARE(shot.size(), QSize(718, 414));
    QCOMPARE(box.Label2->geometry(), QRect(96, 104, 201, 17));
    // The banner drawn for two device pixels to the pixel, shown as it is.
    const QPixmap banner = box.Image1->pixmap();
    QCOMPARE(banner.devicePixelRatio(), 2.0);
    QCOMPARE(banner.size(), QSize(580, 112));
    QCOMPARE(box.Image1->size(), QSize(290, 56));
    const QImage drawn = QImage(QStringLiteral(":/tibrok/about_banner@2x.bmp"))
                             .convertToFormat(QImage::Format_RGB32);
    QCOMPARE(shot.copy(0, 0, 580, 112).convertToFormat(QImage::Format_RGB32), drawn);
  }

  void mainWindowKeepsItsTwips() {
    QuietRuntime runtime;
    FakeEngines engines;
    Form1 form(runtime, HostedPlayer::Of(new MpvPlayer(nullptr, engines.Factory())));
    runtime.SetMainWindow(&form);
    form.Load();
    form.ShowCentred();
    QVERIFY(QTest::qWaitForWindowExposed(&form));
    // 9600 x 7440 twips of client area: 640 x 496 pixels, 1280 x 992 device pixels.
    QCOMPARE(form.centralWidget()->size(), QSize(640, 496));
    QCOMPARE(form.centralWidget()->grab().toImage().size(), QSize(1280, 992));
    // The player area follows the outer size in twips, as at any density.
    const QSizeF outer = runtime.MainWindowOuterSizeTwips();
    QCOMPARE(outer.width(), form.frameGeometry().width() * 15.0);
    QCOMPARE(form.fl->width(), qRound((outer.width() - 30) / 15));
    QCOMPARE(form.fl->height(), qRound((outer.height() - 822) / 15));
  }

  void messageBoxIsAsWideAsItsCaption() {
    const CaptionBox box = ShowCaptionBox(QStringLiteral("Tibrok flv player"));
    QVERIFY2(box.room > 150 && box.width >= box.room,
             qPrintable(QStringLiteral("%1 < %2").arg(box.width).arg(box.room)));
  }

  void iconsHavePicturesForTheDensity() {
    // The program's icon: a picture made for 64 device pixels, not 48 blown up.
    const QIcon app = assets::AppIcon();
    QVERIFY(app.availableSizes().contains(QSize(64, 64)));
    const QPixmap big = app.pixmap(QSize(32, 32), 2.0);
    QCOMPARE(big.size(), QSize(64, 64));
    const QImage drawnFor64 =
        QImage(QStringLiteral(":/tibrok/icon/hicolor/64x64/tibrok-flv-player.png"));
    // Alike but for rounding at the semi-transparent edges (a pixmap keeps
    // its colours premultiplied); the 48-pixel picture blown up differs by
    // up to half the range.
    QVERIFY(MostDifferent(big.toImage(), drawnFor64) <= 8);
    // The player's glyphs are drawn at the size asked, every time.
    const QIcon play = player_icons::Icon(player_icons::Glyph::kPlay, Qt::white);
    const QPixmap glyph = play.pixmap(QSize(20, 20), 2.0);
    QCOMPARE(glyph.size(), QSize(40, 40));
    QCOMPARE(glyph.devicePixelRatio(), 2.0);
    // Edges a device pixel wide: a 20-pixel glyph blown up to 40 would
    // have edges two device pixels wide, and twice the half-covered pixels.
    const QImage blownUp = play.pixmap(QSize(20, 20), 1.0)
                               .toImage()
                               .scaled(40, 40, Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
    const int sharp = HalfCovered(glyph.toImage());
    const int blurred = HalfCovered(blownUp);
    QVERIFY2(sharp * 3 < blurred * 2,
             qPrintable(QStringLiteral("%1 / %2").arg(sharp).arg(blurred)));
  }

  // The frame is rendered at the area's device pixels and painted as it
  // came, to the device pixel, letterbox offsets included.
  void videoIsRenderedAtDevicePixelsAndShownAsIs() {
    QTemporaryDir dir;
    const QString clip = testsupport::WriteFile(dir.filePath("clip.flv"), SmallFlv());
    FakeEngines engines;
    QWidget host;
    host.resize(321, 241);
    auto* player = new MpvPlayer(&host, engines.Factory());
    player->setGeometry(0, 0, 321, 241);
    host.show();
    QVERIFY(QTest::qWaitForWindowExposed(&host));
    player->LoadMovie(0, QStringLiteral(TIBROK_RUNTIME_DIR "/player.n"));
    player->SetVariable(QStringLiteral("myuri"), clip);
    QTRY_VERIFY(engines.last() && !engines.last()->loads.empty());
    FakeEngine* engine = engines.last();
    engine->frame = Checkerboard(QSize(1280, 720));
    engine->OpenFile(1, {1280, 720}, 10);
    engine->Send(engine::Property::kPaused, true);  // the controls stay put
    engine->OfferFrame();
    const QRect target = picture_layout::ShowAll({1280, 720}, QSizeF(642, 482));
    QCOMPARE(engine->Picture().size(), target.size());
    QCOMPARE(engine->Picture().devicePixelRatio(), 2.0);

    const QImage shot = player->grab().toImage().convertToFormat(QImage::Format_RGB32);
    QCOMPARE(shot.size(), QSize(642, 482));
    // Above the control bar, every device pixel is the rendered one.
    const int rows = target.height() / 2;
    QCOMPARE(shot.copy(target.x(), target.y(), target.width(), rows),
             engine->Picture().copy(0, 0, target.width(), rows));
  }
};

QTEST_MAIN(TestHighDpi)
#include "test_high_dpi.moc"
