// What the desktop reads and sets as the MPRIS rate: the playback speed,
// within the bounds the player keeps, with 0 meaning Pause; and the position
// it reads. On the adaptor itself, without a bus; check_mpris.sh goes through
// a real one.
#include <QtTest>

#include "desktop/mpris.h"
#include "desktop/mpris_player_adaptor.h"
#include "player_model/playback_state.h"
#include "support/recording_commands.h"

class TestMprisRate : public QObject {
  Q_OBJECT

  PlaybackState state_;
  RecordingCommands commands_;
  Mpris mpris_{state_, commands_, {}};
  MprisPlayerAdaptor* adaptor_ = nullptr;

 private slots:
  void initTestCase() {
    adaptor_ = mpris_.findChild<MprisPlayerAdaptor*>();
    QVERIFY(adaptor_);
  }

  void init() { commands_.calls.clear(); }

  void rateIsTheSpeedWithinTheNamedBounds() {
    // Read as the bus reads them: by property name.
    QCOMPARE(adaptor_->property("Rate").toDouble(), 1.0);
    state_.SetSpeed(1.5);
    QCOMPARE(adaptor_->property("Rate").toDouble(), 1.5);
    QCOMPARE(adaptor_->property("MinimumRate").toDouble(), PlayerCommands::kMinSpeed);
    QCOMPARE(adaptor_->property("MaximumRate").toDouble(), PlayerCommands::kMaxSpeed);
    QVERIFY(PlayerCommands::kMinSpeed < 1 && PlayerCommands::kMaxSpeed > 1);
  }

  void settingTheRateSetsTheSpeed() {
    QVERIFY(adaptor_->setProperty("Rate", 2.0));
    QVERIFY(adaptor_->setProperty("Rate", 0.5));
    QCOMPARE(commands_.calls, QStringList({"SetSpeed 2", "SetSpeed 0.5"}));
  }

  void zeroPausesAndNonsenseIsIgnored() {
    adaptor_->setProperty("Rate", 0.0);
    QCOMPARE(commands_.calls, QStringList({"Pause"}));
    commands_.calls.clear();
    for (double rate : {-1.0, qQNaN(), qInf(), -qInf()}) adaptor_->setProperty("Rate", rate);
    QVERIFY2(commands_.calls.isEmpty(), qPrintable(commands_.calls.join(", ")));
  }

  // At the end the engine's clock may pass the length by a frame before it
  // holds there; the desktop is never told a position beyond the track.
  void positionNeverPassesTheLength() {
    state_.SetHasFile(true);
    state_.AnnounceFileLoaded();
    state_.SetDuration(10);
    state_.SetPosition(10.04);
    QCOMPARE(adaptor_->property("Position").toLongLong(), 10'000'000LL);
    state_.SetPosition(4.5);
    QCOMPARE(adaptor_->property("Position").toLongLong(), 4'500'000LL);
    state_.SetDuration(0);  // a live stream: no length to keep to
    state_.SetPosition(12);
    QCOMPARE(adaptor_->property("Position").toLongLong(), 12'000'000LL);
  }
};

int main(int argc, char** argv) {
  // No bus to join: the adaptor is tested on its own.
  qunsetenv("DBUS_SESSION_BUS_ADDRESS");
  qunsetenv("XDG_RUNTIME_DIR");
  QCoreApplication app(argc, argv);
  TestMprisRate test;
  return QTest::qExec(&test, argc, argv);
}
#include "test_mpris_rate.moc"
