// The whole program in a real X window: start-up order, the real message
// boxes, the About box (and what the window system is told of its icon),
// Exit, an address typed into the Open dialog, and the run-time error report.
#include <QLineEdit>
#include <QMenuBar>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>
#include <clocale>

#include <QPushButton>
#include "app/application.h"
#include "app/run_time_error.h"

#include "about_box/form2.h"
#include "app/program.h"
#include "assets/assets.h"
#include "player/mpv_player.h"
#include "player/player_probe.h"
#include "qt/qt_common_dialog.h"
#include "support/file_server.h"
#include "support/modal_driver.h"
#include "support/test_support.h"

namespace {

// The icon the window system holds for a window, as xprop prints it; it
// says "not found" when there is none.
QString WindowIconProperty(WId window) {
  QProcess xprop;
  xprop.start(QStringLiteral("xprop"),
              {QStringLiteral("-id"), QString::number(window), QStringLiteral("_NET_WM_ICON")});
  if (!xprop.waitForFinished(10000)) return QStringLiteral("xprop did not finish");
  return QString::fromLocal8Bit(xprop.readAllStandardOutput() + xprop.readAllStandardError());
}

}  // namespace

class TestProgram : public QObject {
  Q_OBJECT

  QTemporaryDir emptyDir;
  QTemporaryDir media;

 private slots:
  void echoBoxComesFirstAsPlainTextWithTheTitle() {
    const QString command = QString::fromUtf8("<b>x</b> \"quoted\" Grüße");
    Program program(command, emptyDir.path());
    bool windowShownDuringEcho = true;
    SeenBox seen;
    ModalDriver driver([&](QWidget* w) {
      auto* box = qobject_cast<QMessageBox*>(w);
      QVERIFY(box);
      seen = Describe(box);
      windowShownDuringEcho = program.form().isVisible();
      QTest::keyClick(box, Qt::Key_Return);
    });
    QVERIFY(program.Start());
    QCOMPARE(driver.handled(), 1);
    QVERIFY(!windowShownDuringEcho);
    QCOMPARE(seen.title, QStringLiteral("Tibrok flv player"));
    QCOMPARE(seen.text, command);
    QCOMPARE(seen.format, Qt::PlainText);
    QCOMPARE(seen.icon, QMessageBox::NoIcon);
    QCOMPARE(seen.buttons, 1);
    QVERIFY(QTest::qWaitForWindowExposed(&program.form()));
    QCOMPARE(program.form().Text1->text(), command);
    QVERIFY(!program.form().Text1->isVisible());
  }

  void surfacePressShowsTheRealNotice() {
    Program program(QString(), emptyDir.path());
    QStringList texts;
    ModalDriver driver([&](QWidget* w) {
      if (auto* box = qobject_cast<QMessageBox*>(w)) texts << box->text();
      QTest::keyClick(w, Qt::Key_Return);
    });
    QVERIFY(program.Start());
    QVERIFY(QTest::qWaitForWindowExposed(&program.form()));
    QWidget* client = program.form().centralWidget();
    QTest::mousePress(client, Qt::RightButton, {},
                      QPoint(client->width() - 3, client->height() - 3));
    QCOMPARE(texts, QStringList({QString(), QStringLiteral("Function is disabled")}));
  }

  void aboutIsModalOwnerlessAndClosesWithEnter() {
    Program program(QString(), emptyDir.path());
    bool sawForm2 = false;
    ModalDriver driver([&](QWidget* w) {
      if (auto* about = qobject_cast<Form2*>(w)) {
        sawForm2 = true;
        QVERIFY(about->parentWidget() == nullptr);
        QVERIFY(about->isModal());
        QCOMPARE(about->windowModality(), Qt::ApplicationModal);
        QVERIFY(QTest::qWaitForWindowExposed(about));
        QCOMPARE(QApplication::focusWidget(), static_cast<QWidget*>(about->Command1));
      }
      QTest::keyClick(w, Qt::Key_Return);
    });
    QVERIFY(program.Start());
    program.form().about->trigger();
    QVERIFY(sawForm2);
    QCOMPARE(driver.handled(), 2);
    QVERIFY(QApplication::activeModalWidget() == nullptr);
    // Built afresh each time.
    program.form().about->trigger();
    QCOMPARE(driver.handled(), 3);
  }

  // QWidget::windowIcon() falls back to the application's icon, and Qt
  // hands the window system whatever it returns: the box must give none.
  void aboutBoxGivesTheWindowSystemNoIcon() {
    QApplication::setWindowIcon(assets::AppIcon());
    Program program(QString(), emptyDir.path());
    QString aboutIcon;
    ModalDriver driver([&](QWidget* w) {
      if (auto* about = qobject_cast<Form2*>(w)) {
        QVERIFY(QTest::qWaitForWindowExposed(about));
        aboutIcon = WindowIconProperty(about->winId());
      }
      QTest::keyClick(w, Qt::Key_Return);
    });
    QVERIFY(program.Start());
    QVERIFY(QTest::qWaitForWindowExposed(&program.form()));
    // The main window has the program's icon, so xprop can see one.
    const QString mainIcon = WindowIconProperty(program.form().winId());
    QVERIFY2(mainIcon.contains(QLatin1String("_NET_WM_ICON(CARDINAL)")), qPrintable(mainIcon));
    program.form().about->trigger();
    QVERIFY2(aboutIcon.contains(QLatin1String("not found")), qPrintable(aboutIcon.left(200)));
    QApplication::setWindowIcon(QIcon());
  }

  // File > "Open File / URL" with an http address typed into the dialog:
  // the same sequence as a chosen file, and the video plays.
  void openPlaysAnAddressTypedIntoTheDialog() {
    const QString clip = testsupport::MakeFlv(
        media.path(), "served.flv",
        {"-f", "lavfi", "-i", "testsrc=size=176x144:rate=25", "-t", "6", "-c:v", "flv1"});
    QVERIFY(!clip.isEmpty());
    FileServer server(testsupport::ReadFile(clip), FileServer::Mode::kRanges, 1 << 20);
    Program program(QString(), QStringLiteral(TIBROK_RUNTIME_DIR));
    MpvPlayer* fl = &program.player();
    fl->SetAudioOutput("null");
    ModalDriver driver([&](QWidget* w) {
      if (auto* d = qobject_cast<QFileDialog*>(w)) {
        auto* edit = d->findChild<QLineEdit*>("fileNameEdit");
        QVERIFY(edit);
        QTest::keyClicks(edit, server.Url());
        QTest::keyClick(edit, Qt::Key_Return);
      } else {
        QTest::keyClick(w, Qt::Key_Return);
      }
    });
    QVERIFY(program.Start());
    QVERIFY(QTest::qWaitForWindowExposed(&program.form()));
    program.form().open->trigger();
    QTRY_COMPARE_WITH_TIMEOUT(fl->State().videoSize(), QSize(176, 144), 10000);
    QCOMPARE(fl->State().url(), server.Url());
    const int frames = PlayerProbe::FramesRendered(*fl);
    QTRY_VERIFY_WITH_TIMEOUT(PlayerProbe::FramesRendered(*fl) > frames + 5, 10000);
    QVERIFY(fl->State().message().isEmpty());
  }

  void exitEndsTheEventLoop() {
    Program program(QString(), emptyDir.path());
    ModalDriver driver([](QWidget* w) { QTest::keyClick(w, Qt::Key_Return); });
    QVERIFY(program.Start());
    QTimer::singleShot(100, &program.form(), [&] { program.form().exit->trigger(); });
    QTimer failsafe;
    failsafe.singleShot(10000, [] { QCoreApplication::exit(99); });
    QCOMPARE(QCoreApplication::exec(), 0);
    QVERIFY(!program.form().isVisible());
  }

  void playsTheCommandLineAndOpenReplacesIt() {
    const QString first = testsupport::MakeFlv(
        media.path(), "first clip.flv",
        {"-f", "lavfi", "-i", "testsrc=size=320x240:rate=25", "-f", "lavfi", "-i",
         "sine=frequency=440", "-t", "8", "-c:v", "flv1", "-c:a", "libmp3lame"});
    const QString second = testsupport::MakeFlv(
        media.path(), "second.flv",
        {"-f", "lavfi", "-i", "testsrc2=size=176x144:rate=25", "-t", "8", "-c:v", "flv1"});
    QVERIFY(!first.isEmpty() && !second.isEmpty());

    Program program(first, QStringLiteral(TIBROK_RUNTIME_DIR));
    MpvPlayer* fl = &program.player();
    fl->SetAudioOutput("null");
    ModalDriver driver([&](QWidget* w) {
      if (qobject_cast<QMessageBox*>(w)) QTest::keyClick(w, Qt::Key_Return);
      // File > Open with the real dialog: the choice typed into it.
      if (auto* d = qobject_cast<QFileDialog*>(w)) {
        auto* edit = d->findChild<QLineEdit*>("fileNameEdit");
        QVERIFY(edit);
        edit->setText(second);
        QTest::keyClick(edit, Qt::Key_Return);
      }
    });
    QVERIFY(program.Start());
    QVERIFY(QTest::qWaitForWindowExposed(&program.form()));

    QTRY_VERIFY_WITH_TIMEOUT(PlayerProbe::FramesRendered(*fl) >= 5, 10000);
    QCOMPARE(fl->State().videoSize(), QSize(320, 240));
    const QImage a = fl->grab().toImage();
    const double posA = fl->State().position();
    QTRY_VERIFY_WITH_TIMEOUT(fl->State().position() > posA + 0.5, 10000);
    QVERIFY(fl->grab().toImage() != a);

    // File > Open: the interim movie, then the choice.
    program.form().open->trigger();
    QTRY_COMPARE_WITH_TIMEOUT(fl->State().videoSize(), QSize(176, 144), 10000);
    const int framesBefore = PlayerProbe::FramesRendered(*fl);
    QTRY_VERIFY_WITH_TIMEOUT(PlayerProbe::FramesRendered(*fl) > framesBefore + 5, 10000);
    QCOMPARE(program.form().Text1->text(), first);
  }

  void escapingErrorIsReportedAndEndsWithFailure() {
    class Throwing : public QObject {
     public:
      bool event(QEvent* e) override {
        if (e->type() == QEvent::User) throw std::runtime_error("movie call rejected");
        return QObject::event(e);
      }
    } thrower;
    SeenBox seen;
    ModalDriver driver([&](QWidget* w) {
      if (auto* box = qobject_cast<QMessageBox*>(w)) seen = Describe(box);
      QTest::keyClick(w, Qt::Key_Return);
    });
    QCoreApplication::postEvent(&thrower, new QEvent(QEvent::User));
    QTimer::singleShot(10000, [] { QCoreApplication::exit(99); });
    QCOMPARE(QCoreApplication::exec(), kRunTimeErrorStatus);
    QCOMPARE(seen.title, QStringLiteral("Tibrok flv player"));
    QVERIFY2(seen.text.contains(QStringLiteral("movie call rejected")), qPrintable(seen.text));
  }
};

int main(int argc, char** argv) {
  Application app(argc, argv);
  std::setlocale(LC_NUMERIC, "C");
  TestProgram test;
  return QTest::qExec(&test, argc, argv);
}
#include "test_program.moc"
