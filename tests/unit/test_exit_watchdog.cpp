// Once the window is gone the process ends within its grace time, even when
// something it waits for in tearing down never returns.
#include <sys/wait.h>
#include <unistd.h>
#include <QtTest>
#include <csignal>

#include "app/exit_watchdog.h"

class TestExitWatchdog : public QObject {
  Q_OBJECT

 private slots:
  void aProcessThatHangsEndsWithItsStatus() {
    QElapsedTimer clock;
    clock.start();
    const pid_t child = ::fork();
    QVERIFY(child >= 0);
    if (child == 0) {
      EndProcessWithin(200, 7);
      // What a stuck teardown looks like: waiting for ever.
      for (;;) ::pause();
    }
    int status = 0;
    pid_t done = 0;
    while ((done = ::waitpid(child, &status, WNOHANG)) == 0 && clock.elapsed() < 5000) {
      QTest::qSleep(20);
    }
    if (done == 0) ::kill(child, SIGKILL);
    QCOMPARE(done, child);
    QVERIFY(WIFEXITED(status));
    QCOMPARE(WEXITSTATUS(status), 7);
    QVERIFY2(clock.elapsed() >= 200, qPrintable(QString::number(clock.elapsed())));
  }
};

QTEST_APPLESS_MAIN(TestExitWatchdog)
#include "test_exit_watchdog.moc"
