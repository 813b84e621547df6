// The real main window on Qt: layout, menus, sizing of the player area and the
// window surface's answers to mouse presses. Message boxes are recorded
// instead of shown, so nothing here waits on a modal box.
#include <QLineEdit>
#include <QMenuBar>
#include <QSignalSpy>
#include <QTest>

#include "player/mpv_player.h"
#include "player_window/form1.h"
#include "qt/qt_runtime_services.h"
#include "support/fake_engine.h"
#include "support/recording_fakes.h"

namespace {

class RecordingQtRuntime : public QtRuntimeServices {
 public:
  explicit RecordingQtRuntime(QString command)
      : QtRuntimeServices(QStringLiteral("Tibrok flv player"), std::move(command),
                          QStringLiteral(TIBROK_RUNTIME_DIR), nullptr) {}
  QStringList boxes;
  int aboutShown = 0;
  void MsgBox(const QString& text) override { boxes << text; }
  void ShowAboutModal() override { ++aboutShown; }
};

}  // namespace

class TestForm1Window : public QObject {
  Q_OBJECT

  std::unique_ptr<RecordingQtRuntime> runtime;
  std::unique_ptr<Form1> form;
  MpvPlayer* player = nullptr;
  Journal j;
  FakeDialog* cd = nullptr;
  FakeEngines engines;

  void Open(const QString& command = {}) {
    runtime = std::make_unique<RecordingQtRuntime>(command);
    auto dialog = std::make_unique<FakeDialog>(j);
    cd = dialog.get();
    // No real engine in this tier: the player plays on a fake one.
    player = new MpvPlayer(nullptr, engines.Factory());
    form = std::make_unique<Form1>(*runtime, HostedPlayer::Of(player), std::move(dialog));
    runtime->SetMainWindow(form.get());
    form->Load();
    form->ShowCentred();
    QVERIFY(QTest::qWaitForWindowExposed(form.get()));
  }

  // The player area must be outer size less the fixed margins, in pixels.
  void CheckSizingRule() {
    const QSizeF outer = runtime->MainWindowOuterSizeTwips();
    QCOMPARE(player->Width(), float(outer.width() - 30));
    QCOMPARE(player->Height(), float(outer.height() - 822));
    const double perPixel = 1440.0 / form->logicalDpiX();
    QCOMPARE(form->fl->width(), qMax(0, qRound((outer.width() - 30) / perPixel)));
    QCOMPARE(form->fl->height(), qMax(0, qRound((outer.height() - 822) / perPixel)));
  }

 private slots:
  void cleanup() {
    form.reset();
    runtime.reset();
    j.calls.clear();
  }

  void designValues() {
    Open();
    QCOMPARE(form->windowTitle(), QStringLiteral("Tibrok Flv Player"));
    QCOMPARE(form->centralWidget()->size(), QSize(640, 496));
    QCOMPARE(form->centralWidget()->palette().color(QPalette::Window), QColor(Qt::white));
    QVERIFY(form->centralWidget()->autoFillBackground());
    QVERIFY(!form->windowIcon().isNull());
    QVERIFY(!(form->windowState() & (Qt::WindowMinimized | Qt::WindowMaximized)));
    QCOMPARE(form->fl->pos(), QPoint(0, 0));
    QCOMPARE(form->fl->parentWidget(), form->centralWidget());

    QVERIFY(!form->Text1->isVisible());
    QCOMPARE(form->Text1->text(), QStringLiteral("Text1"));
    QCOMPARE(form->Text1->focusPolicy(), Qt::NoFocus);
    // Wholly above the client area.
    QVERIFY(form->Text1->geometry().bottom() < 0);

    // The window is centred on its screen.
    const QRect screen = form->screen()->availableGeometry();
    QVERIFY(qAbs(form->frameGeometry().center().x() - screen.center().x()) <= 1);
    QVERIFY(qAbs(form->frameGeometry().center().y() - screen.center().y()) <= 1);
  }

  void menus() {
    Open();
    const QList<QAction*> top = form->menuBar()->actions();
    QCOMPARE(top.size(), 2);
    QCOMPARE(top[0]->text(), QStringLiteral("&File"));
    QCOMPARE(top[1]->text(), QStringLiteral("&Help"));
    const QList<QAction*> fileItems = form->file->actions();
    const QList<QAction*> helpItems = form->help->actions();
    QCOMPARE(fileItems, QList<QAction*>({form->open, form->exit}));
    QCOMPARE(helpItems, QList<QAction*>({form->about}));
    QCOMPARE(form->open->text(), QStringLiteral("Open File / URL"));
    QCOMPARE(form->exit->text(), QStringLiteral("Exit"));
    QCOMPARE(form->about->text(), QStringLiteral("About"));
    for (QAction* item : fileItems + helpItems) {
      QVERIFY(!item->isSeparator());
      QVERIFY(item->shortcut().isEmpty());
      QVERIFY(!item->isCheckable());
      QVERIFY(item->isEnabled() && item->isVisible());
      QVERIFY2(!item->text().contains('&'), qPrintable(item->text()));
    }
  }

  void startUpEchoesThenPlaysTheCommandLine() {
    const QString command = QString::fromUtf8("\"/tmp/a b/<b>ü</b>.flv\"");
    Open(command);
    QCOMPARE(runtime->boxes, QStringList({command}));
    QCOMPARE(form->Text1->text(), command);
  }

  void startUpWithoutCommandLineEchoesAnEmptyBox() {
    Open();
    QCOMPARE(runtime->boxes, QStringList({QString()}));
    QCOMPARE(form->Text1->text(), QStringLiteral("Text1"));
  }

  void playerAreaFollowsEveryResize() {
    Open();
    CheckSizingRule();
    const QSize before = form->fl->size();
    form->resize(form->size() + QSize(100, 60));
    QTRY_COMPARE(form->fl->size(), before + QSize(100, 60));
    CheckSizingRule();
    form->resize(form->size() - QSize(300, 200));
    QTRY_COMPARE(form->fl->size(), before - QSize(200, 140));
    CheckSizingRule();
  }

  void tinyWindowGivesAnEmptyPlayerAreaAndKeepsRunning() {
    Open();
    form->setMinimumSize(0, 0);
    form->centralWidget()->setMinimumSize(0, 0);
    form->resize(1, 1);
    QTRY_VERIFY(player->Height() < 0);
    QCOMPARE(form->fl->height(), 0);
    QVERIFY(form->isVisible());
  }

  void pressesOnTheUncoveredSurfaceAnswerDisabled() {
    Open();
    QWidget* client = form->centralWidget();
    // Below the player area, where the window's own surface shows.
    const QPoint bare(client->width() - 2, client->height() - 2);
    QVERIFY(client->childAt(bare) == nullptr);
    const QString notice = QStringLiteral("Function is disabled");

    QTest::mousePress(client, Qt::LeftButton, {}, bare);
    QTest::mouseRelease(client, Qt::LeftButton, {}, bare);
    QCOMPARE(runtime->boxes.mid(1), QStringList({notice, notice}));

    runtime->boxes.clear();
    QTest::mousePress(client, Qt::RightButton, {}, bare);
    QTest::mouseRelease(client, Qt::RightButton, {}, bare);
    QCOMPARE(runtime->boxes, QStringList({notice, notice}));

    runtime->boxes.clear();
    QTest::mousePress(client, Qt::MiddleButton, {}, bare);
    QTest::mouseRelease(client, Qt::MiddleButton, {}, bare);
    QTest::mouseClick(form->fl, Qt::LeftButton, {}, QPoint(5, 5));
    QTest::mouseClick(form->fl, Qt::RightButton, {}, QPoint(5, 5));
    QCOMPARE(runtime->boxes, QStringList());
  }

  void menuItemsReachTheirHandlers() {
    Open();
    form->about->trigger();
    QCOMPARE(runtime->aboutShown, 1);

    cd->choice = QStringLiteral("/tmp/x.flv");
    form->open->trigger();
    QCOMPARE(j.calls, QStringList({"DialogTitle=Load a wave file", "Filter=FLV Files (*.flv)|*.flv",
                                   "ShowOpen"}));
    QCOMPARE(form->Text1->text(), QStringLiteral("Text1"));

    form->exit->trigger();
    QTRY_VERIFY(!form->isVisible());
  }
};

QTEST_MAIN(TestForm1Window)
#include "test_form1_window.moc"
