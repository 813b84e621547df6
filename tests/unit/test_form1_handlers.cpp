// The main window's handlers against recording fakes: the order of every
// call they make on the runtime, the player and the Open dialog.
#include <QDir>
#include <QTest>

#include "player_window/form1_handlers.h"
#include "support/recording_fakes.h"

class TestForm1Handlers : public QObject {
  Q_OBJECT

  Journal j;
  FakeRuntime runtime{j};
  FakePlayer fl{j};
  FakeTextBox text1{j};
  FakeDialog cd{j};
  Form1Handlers handlers{runtime, fl, text1, cd};

  QString Movie(const char* name) { return runtime.appPath + QDir::separator() + name; }

 private slots:
  void init() {
    j.calls.clear();
    runtime.command.clear();
    runtime.outer = QSizeF(9630, 8235);
    text1.text = QStringLiteral("Text1");
    cd.choice.clear();
  }

  void loadWithoutCommandLineEchoesEmptyTextAndLoadsNothing() {
    handlers.Form_Load();
    QCOMPARE(j.calls, QStringList({"MsgBox()", "Width=9600", "Height=7413"}));
    QCOMPARE(text1.text, QStringLiteral("Text1"));
  }

  void loadPlaysTheCommandLineAfterEchoAndSizing_data() {
    QTest::addColumn<QString>("command");
    QTest::newRow("plain path") << "/home/u/clip.flv";
    QTest::newRow("spaces") << "/home/u/my clips/a b.flv";
    QTest::newRow("quotes kept") << "\"/home/u/my clips/a.flv\"";
    QTest::newRow("non-ASCII") << QString::fromUtf8("/tmp/Überraschung – 日本.flv");
    QTest::newRow("markup stays text") << "<b>x</b>";
    QTest::newRow("names no file") << "not a file at all";
  }
  void loadPlaysTheCommandLineAfterEchoAndSizing() {
    QFETCH(QString, command);
    runtime.command = command;
    handlers.Form_Load();
    QCOMPARE(j.calls, QStringList({"MsgBox(" + command + ")", "Width=9600", "Height=7413",
                                   "Text1=" + command, "LoadMovie(0," + Movie("player.n") + ")",
                                   "SetVariable(myuri," + command + ")"}));
  }

  void myuriIsReadBackFromText1() {
    // The address handed on is what the text box holds after it was set.
    class UpperTextBox : public FakeTextBox {
     public:
      using FakeTextBox::FakeTextBox;
      QString Text() const override { return text.toUpper(); }
    } upper{j};
    Form1Handlers h(runtime, fl, upper, cd);
    runtime.command = "a.flv";
    h.Form_Load();
    QCOMPARE(j.calls.last(), QStringLiteral("SetVariable(myuri,A.FLV)"));
  }

  void sizingUsesOuterSizeLessMarginsWithoutRounding_data() {
    QTest::addColumn<QSizeF>("outer");
    QTest::addColumn<QStringList>("expected");
    QTest::newRow("design") << QSizeF(9630, 8235) << QStringList{"Width=9600", "Height=7413"};
    QTest::newRow("fractional") << QSizeF(10000.5, 9000.25)
                                << QStringList{"Width=9970.5", "Height=8178.25"};
    QTest::newRow("too small: negative")
        << QSizeF(15, 300) << QStringList{"Width=-15", "Height=-522"};
  }
  void sizingUsesOuterSizeLessMarginsWithoutRounding() {
    QFETCH(QSizeF, outer);
    QFETCH(QStringList, expected);
    runtime.outer = outer;
    handlers.Form_Resize();
    QCOMPARE(j.calls, expected);
  }

  void resizeMakesOnlyTheTwoSizeSettings() {
    runtime.command = "a.flv";
    handlers.Form_Load();
    j.calls.clear();
    runtime.outer = QSizeF(12000, 9000);
    handlers.Form_Resize();
    runtime.outer = QSizeF(6000, 4000);
    handlers.Form_Resize();
    QCOMPARE(j.calls, QStringList({"Width=11970", "Height=8178", "Width=5970", "Height=3178"}));
  }

  void openLoadsInterimMovieBeforeTheDialogAndPlaysTheChoice() {
    cd.choice = QString::fromUtf8("/media/Ünïcode dir/clip one.flv");
    handlers.open_Click();
    QCOMPARE(j.calls, QStringList({"DialogTitle=Load a wave file", "Filter=FLV Files (*.flv)|*.flv",
                                   "LoadMovie(0," + Movie("player22.swf") + ")", "ShowOpen",
                                   "LoadMovie(0," + Movie("player.n") + ")",
                                   "SetVariable(myuri," + cd.choice + ")"}));
  }

  void openCancelledLeavesTheInterimMovie() {
    handlers.open_Click();
    QCOMPARE(j.calls, QStringList({"DialogTitle=Load a wave file", "Filter=FLV Files (*.flv)|*.flv",
                                   "LoadMovie(0," + Movie("player22.swf") + ")", "ShowOpen"}));
  }

  void openTwicePlaysTheNewestChoiceAndLeavesText1Alone() {
    runtime.command = "start.flv";
    handlers.Form_Load();
    cd.choice = "/a.flv";
    handlers.open_Click();
    j.calls.clear();
    cd.choice = "/b.flv";
    handlers.open_Click();
    QCOMPARE(j.calls.mid(3), QStringList({"ShowOpen", "LoadMovie(0," + Movie("player.n") + ")",
                                          "SetVariable(myuri,/b.flv)"}));
    QCOMPARE(text1.text, QStringLiteral("start.flv"));
    QVERIFY(!j.calls.join('\n').contains("Text1="));
  }

  void exitAndAboutCallOnlyTheRuntime() {
    handlers.about_Click();
    handlers.exit_Click();
    QCOMPARE(j.calls, QStringList({"ShowAboutModal", "UnloadMainWindow"}));
  }

  void mouseButtonsAnswerDisabledLeftThenRight_data() {
    QTest::addColumn<int>("buttons");
    QTest::addColumn<int>("notices");
    QTest::newRow("left") << 1 << 1;
    QTest::newRow("right") << 2 << 1;
    QTest::newRow("left and right") << 3 << 2;
    QTest::newRow("middle") << 4 << 0;
    QTest::newRow("middle and left") << 5 << 1;
    QTest::newRow("none") << 0 << 0;
  }
  void mouseButtonsAnswerDisabledLeftThenRight() {
    QFETCH(int, buttons);
    QFETCH(int, notices);
    const QStringList expected(notices, QStringLiteral("MsgBox(Function is disabled)"));
    handlers.Form_MouseDown(buttons);
    QCOMPARE(j.calls, expected);
    j.calls.clear();
    handlers.Form_MouseUp(buttons);
    QCOMPARE(j.calls, expected);
  }
};

QTEST_GUILESS_MAIN(TestForm1Handlers)
#include "test_form1_handlers.moc"
