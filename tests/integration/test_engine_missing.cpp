// The player when its video engine cannot be loaded: CTest runs this suite
// with a broken libmpv.so.2 first on the library search path.
#include <QSignalSpy>
#include <QtTest>
#include <memory>

#include "engine/mpv_library.h"
#include "player/mpv_player.h"
#include "support/test_support.h"

class TestEngineMissing : public QObject {
  Q_OBJECT

 private slots:
  void theLibrarySaysWhyItIsMissing() {
    QVERIFY(!mpv_library::Available());
    QVERIFY2(mpv_library::Error().contains(QLatin1String("libmpv.so.")),
             qPrintable(mpv_library::Error()));
  }

  void thePlayerSaysSoAndKeepsWorking() {
    std::unique_ptr<QWidget> host;
    MpvPlayer* player = testsupport::ShowPlayerIn(host);
    QVERIFY(player);
    const QString movies = QStringLiteral(TIBROK_SOURCE_DIR "/assets/movies/");
    QSignalSpy loaded(player, &MpvPlayer::movieLoaded);

    for (int attempt = 0; attempt < 2; ++attempt) {
      player->LoadMovie(0, movies + QStringLiteral("player.n"));
      player->SetVariable(QStringLiteral("myuri"), QStringLiteral("/nonexistent/clip.flv"));
      QVERIFY(loaded.wait(5000));
      QVERIFY2(player->State().message().startsWith(
                   QLatin1String("Cannot play videos: the video engine could not be loaded (")),
               qPrintable(player->State().message()));
      QVERIFY2(player->State().message().contains(QLatin1String("libmpv.so.")),
               qPrintable(player->State().message()));
      QVERIFY(!player->HasEngine());
      // Controls without an engine do nothing, and nothing breaks.
      player->Commands().Play();
      player->Commands().SeekTo(3);
      player->Commands().SetVolume(50);
      player->Commands().Stop();
      QCOMPARE(player->State().volume(), 50.0);
    }

    // A movie without video needs no engine and shows as usual.
    player->LoadMovie(0, movies + QStringLiteral("player22.swf"));
    QVERIFY(loaded.wait(5000));
    QCOMPARE(player->State().message(), QString());
  }
};

QTEST_MAIN(TestEngineMissing)
#include "test_engine_missing.moc"
