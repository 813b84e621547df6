// The command line as the program receives it, and the Open dialog on the
// real QFileDialog: what comes back on a choice, on a network address typed
// into it and on Cancel, that a typed local name must still exist, and that
// nothing is written to the user's home meanwhile; the box that echoes it is
// as wide as its caption.
#include <QApplication>
#include <QDialogButtonBox>
#include <QDirIterator>
#include <QLineEdit>
#include <QPointer>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

#include "app/command_line.h"
#include "qt/qt_common_dialog.h"
#include "support/caption_box.h"
#include "support/modal_driver.h"

namespace {

QStringList FilesUnder(const QString& dir) {
  QStringList files;
  QDirIterator it(dir, QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot,
                  QDirIterator::Subdirectories);
  while (it.hasNext()) files << it.next();
  return files;
}

}  // namespace

class TestCommandLine : public QObject {
  Q_OBJECT

  QTemporaryDir media;
  const QString home = qEnvironmentVariable("HOME");

 private slots:
  void argumentsAreJoinedUntouched_data() {
    QTest::addColumn<QStringList>("args");
    QTest::addColumn<QString>("expected");
    QTest::newRow("none") << QStringList{} << QString();
    QTest::newRow("one path with spaces") << QStringList{"/a b/c d.flv"} << "/a b/c d.flv";
    QTest::newRow("words") << QStringList{"/a", "b.flv"} << "/a b.flv";
    QTest::newRow("quotes kept") << QStringList{"\"x y.flv\""} << "\"x y.flv\"";
    QTest::newRow("Qt-looking options")
        << QStringList{"-platform", "x", "-reverse"} << "-platform x -reverse";
    QTest::newRow("empty word") << QStringList{""} << "";
    QTest::newRow("UTF-8") << QStringList{QString::fromUtf8("ñ日.flv")}
                           << QString::fromUtf8("ñ日.flv");
    QTest::newRow("leading space") << QStringList{" lead", "trail "} << " lead trail ";
  }
  void argumentsAreJoinedUntouched() {
    QFETCH(QStringList, args);
    QFETCH(QString, expected);
    std::vector<QByteArray> bytes{"tibrok-flv-player"};
    for (const QString& a : args) bytes.push_back(a.toLocal8Bit());
    std::vector<const char*> argv;
    for (const QByteArray& b : bytes) argv.push_back(b.constData());
    QCOMPARE(CommandLineFromArgv(int(argv.size()), argv.data()), expected);
  }

  void filterTranslation() {
    QCOMPARE(QtCommonDialog::ToQtNameFilters("FLV Files (*.flv)|*.flv"),
             QStringList({"FLV Files (*.flv)"}));
    QCOMPARE(QtCommonDialog::ToQtNameFilters("Video|*.flv;*.f4v|All|*.*"),
             QStringList({"Video (*.flv *.f4v)", "All (*.*)"}));
    QCOMPARE(QtCommonDialog::ToQtNameFilters(""), QStringList({"All Files (*)"}));
  }

  void dialogReturnsTheChoiceThenEmptyOnCancel() {
    const QString clip = media.filePath(QString::fromUtf8("clip é one.flv"));
    QFile f(clip);
    QVERIFY(f.open(QIODevice::WriteOnly));
    f.close();
    const QStringList before = FilesUnder(home);

    QtCommonDialog cd;
    cd.SetDialogTitle("Load a wave file");
    cd.SetFilter("FLV Files (*.flv)|*.flv");
    QString seenTitle;
    QStringList seenFilters;
    bool cancel = false;
    ModalDriver driver([&](QWidget* w) {
      auto* d = qobject_cast<QFileDialog*>(w);
      QVERIFY(d);
      if (cancel) return d->reject();
      seenTitle = d->windowTitle();
      seenFilters = d->nameFilters();
      auto* edit = d->findChild<QLineEdit*>("fileNameEdit");
      QVERIFY(edit);
      edit->setText(clip);
      QTest::keyClick(edit, Qt::Key_Return);
    });
    cd.ShowOpen();
    QCOMPARE(cd.FileName(), clip);
    QCOMPARE(seenTitle, QStringLiteral("Load a wave file"));
    QCOMPARE(seenFilters, QStringList({"FLV Files (*.flv)"}));

    cancel = true;
    cd.ShowOpen();
    QCOMPARE(cd.FileName(), QString());

    // The dialog wants to keep its history in the user's settings.
    QCOMPARE(FilesUnder(home), before);
  }

  // File > "Open File / URL": an address of the network typed into the name
  // box comes back as typed, by Return or by the Open button.
  void typedNetworkAddressIsTheChoice_data() {
    QTest::addColumn<QString>("typed");
    QTest::addColumn<QString>("expected");
    QTest::addColumn<bool>("byButton");
    QTest::newRow("http") << "http://example.com/clip.flv"
                          << "http://example.com/clip.flv" << false;
    QTest::newRow("https, spaces around") << "  https://example.com/a b.flv?x=1 "
                                          << "https://example.com/a b.flv?x=1" << false;
    QTest::newRow("rtmp, Open button") << "rtmp://example.com/live/stream"
                                       << "rtmp://example.com/live/stream" << true;
    QTest::newRow("RTMPE upper case") << "RTMPE://example.com/app/x"
                                      << "RTMPE://example.com/app/x" << false;
  }
  void typedNetworkAddressIsTheChoice() {
    QFETCH(QString, typed);
    QFETCH(QString, expected);
    QFETCH(bool, byButton);
    QtCommonDialog cd;
    cd.SetDialogTitle("Load a wave file");
    cd.SetFilter("FLV Files (*.flv)|*.flv");
    bool openEnabled = false;
    ModalDriver driver([&](QWidget* w) {
      auto* d = qobject_cast<QFileDialog*>(w);
      QVERIFY(d);
      auto* edit = d->findChild<QLineEdit*>("fileNameEdit");
      QVERIFY(edit);
      QTest::keyClicks(edit, typed);
      QPushButton* open = d->findChild<QDialogButtonBox*>()->button(QDialogButtonBox::Open);
      openEnabled = open->isEnabled();
      if (byButton) {
        QTest::mouseClick(open, Qt::LeftButton);
      } else {
        QTest::keyClick(edit, Qt::Key_Return);
      }
    });
    cd.ShowOpen();
    QVERIFY(openEnabled);
    QCOMPARE(cd.FileName(), expected);
  }

  // A local name typed in must name a file that is there; so must a
  // scheme the player does not play, which is no address to it.
  // The box's caption is whole in the title bar ("Ti… er" at 150 pixels):
  // the room counts it in bold and the window's buttons, and grows with it.
  void boxIsAsWideAsItsCaption() {
    QFont bold = QApplication::font();
    bold.setBold(true);
    for (const QString& title : {QStringLiteral("Tibrok flv player"), QString(30, u'W')}) {
      const CaptionBox box = ShowCaptionBox(title);
      QVERIFY(box.room > QFontMetrics(bold).horizontalAdvance(title) + 3 * 16);
      QVERIFY2(box.width >= box.room,
               qPrintable(QStringLiteral("%1 < %2").arg(box.width).arg(box.room)));
    }
  }

  void typedNameThatIsNoFileIsRefused_data() {
    QTest::addColumn<QString>("typed");
    QTest::newRow("missing file") << media.filePath("no such clip.flv");
    QTest::newRow("ftp") << "ftp://example.com/clip.flv";
    QTest::newRow("lavfi") << "av://lavfi:testsrc";
  }
  void typedNameThatIsNoFileIsRefused() {
    QFETCH(QString, typed);
    QtCommonDialog cd;
    cd.SetFilter("FLV Files (*.flv)|*.flv");
    bool stayedOpen = false;
    QStringList boxes;
    QPointer<QFileDialog> dialog;
    ModalDriver driver([&](QWidget* w) {
      // Handed again once the chooser's own box has closed over it.
      if (auto* d = qobject_cast<QFileDialog*>(w); d && !dialog) {
        dialog = d;
        auto* edit = d->findChild<QLineEdit*>("fileNameEdit");
        edit->setText(typed);
        // Pressed from outside this call, so that the driver can answer
        // the box the chooser may open meanwhile.
        QTimer::singleShot(0, edit, [edit] { QTest::keyClick(edit, Qt::Key_Return); });
        QTimer::singleShot(300, d, [&] {
          stayedOpen = dialog && dialog->isVisible();
          if (dialog) dialog->reject();
        });
      } else if (auto* box = qobject_cast<QMessageBox*>(w)) {
        boxes << box->text();
        box->close();
      }
    });
    cd.ShowOpen();
    QVERIFY(stayedOpen);
    QCOMPARE(cd.FileName(), QString());
    // The chooser's own word: the file is not there.
    QCOMPARE(boxes.size(), 1);
    QVERIFY2(boxes[0].contains(QLatin1String("not found")), qPrintable(boxes[0]));
  }
};

int main(int argc, char** argv) {
  // A private home, so a stray settings file would show up here.
  static QTemporaryDir* home = new QTemporaryDir;
  qputenv("HOME", home->path().toLocal8Bit());
  for (const char* var : {"XDG_CONFIG_HOME", "XDG_DATA_HOME", "XDG_CACHE_HOME", "XDG_STATE_HOME"})
    qunsetenv(var);
  QApplication app(argc, argv);
  TestCommandLine test;
  return QTest::qExec(&test, argc, argv);
}
#include "test_command_line.moc"
