// The About box on real Qt widgets: layout, focus and how it closes, a credit
// line that fits its label whatever the default font, and no icon.
#include <QApplication>
#include <QLabel>
#include <QPushButton>
#include <QTest>
#include <QTimer>

#include "about_box/form2.h"
#include "assets/assets.h"

class TestAboutBox : public QObject {
  Q_OBJECT

  // Runs `act` once the box is up; returns exec()'s result, or -1 if the box
  // did not close within the time.
  int ExecWith(Form2& box, std::function<void(Form2&)> act) {
    QTimer::singleShot(0, &box, [&] {
      QVERIFY(QTest::qWaitForWindowExposed(&box));
      act(box);
    });
    QTimer::singleShot(3000, &box, [&] {
      if (box.isVisible()) box.done(-1);
    });
    return box.exec();
  }

 private slots:
  void designValues() {
    Form2 box;
    QCOMPARE(box.windowTitle(), QStringLiteral("About Tibrok Flv Player"));
    QCOMPARE(box.size(), QSize(359, 207));
    QCOMPARE(box.minimumSize(), box.maximumSize());
    const Qt::WindowFlags flags = box.windowFlags();
    QVERIFY(flags.testFlag(Qt::Tool));
    QVERIFY(!flags.testFlag(Qt::WindowMinimizeButtonHint));
    QVERIFY(!flags.testFlag(Qt::WindowMaximizeButtonHint));
    QVERIFY(flags.testFlag(Qt::WindowCloseButtonHint));
    QCOMPARE(box.palette().color(QPalette::Window), QColor(Qt::white));

    QCOMPARE(box.Image1->geometry(), QRect(0, 0, 290, 56));
    QCOMPARE(box.Image1->pixmap().size(), QSize(290, 56));
    QCOMPARE(box.Label2->geometry(), QRect(96, 104, 201, 17));
    QCOMPARE(box.Command1->geometry(), QRect(312, 176, 41, 25));
    QCOMPARE(box.Label1->geometry(), QRect(0, 184, 321, 17));
    QCOMPARE(box.Command1->text(), QStringLiteral("ok"));
    QVERIFY(!box.Command1->isDefault());
    QVERIFY(!box.Label1->wordWrap() && !box.Label2->wordWrap());
    QCOMPARE(box.Label1->font().family(), QStringLiteral("Verdana"));
    QCOMPARE(box.Label1->font().pointSizeF(), 8.25);
    QCOMPARE(box.Label1->font().weight(), QFont::Normal);
    QVERIFY(!box.Label1->text().isEmpty() && !box.Label2->text().isEmpty());
  }

  // The label is fixed in size and cuts what does not fit: the credit must
  // fit it, measured with the label's own font, at the default size and at
  // the larger defaults some desktops have.
  void creditFitsItsLabel_data() {
    QTest::addColumn<qreal>("points");
    QTest::newRow("platform default") << qreal(0);
    QTest::newRow("11 pt") << qreal(11);
    QTest::newRow("13 pt") << qreal(13);
  }
  void creditFitsItsLabel() {
    QFETCH(qreal, points);
    const QFont before = QApplication::font();
    if (points > 0) {
      QFont larger = before;
      larger.setPointSizeF(points);
      QApplication::setFont(larger);
    }
    Form2 box;
    QApplication::setFont(before);
    const QLabel* credit = box.Label2;
    QCOMPARE(credit->width(), 201);
    const QFontMetrics metrics(credit->font());
    QVERIFY2(metrics.horizontalAdvance(credit->text()) <= credit->contentsRect().width(),
             qPrintable(QStringLiteral("\"%1\" is %2 px wide")
                            .arg(credit->text())
                            .arg(metrics.horizontalAdvance(credit->text()))));
    QVERIFY2(credit->text().startsWith(QLatin1String("By the Tibrok")), qPrintable(credit->text()));
    QVERIFY(credit->text().endsWith(QLatin1String(" team")));
  }

  // QWidget::windowIcon() falls back to the application's icon, and so does
  // what the window system is given: the box has one that shows nothing.
  void noIconOfItsOwnAndNoneBorrowed() {
    QApplication::setWindowIcon(assets::AppIcon());
    QVERIFY(!QApplication::windowIcon().pixmap(32).isNull());
    Form2 box;
    box.winId();  // the window the window system sees
    for (const QIcon& icon : {box.windowIcon(), box.windowHandle()->icon()}) {
      QVERIFY(!icon.isNull());  // no fallback to the application's
      QVERIFY(icon.availableSizes().isEmpty());
      for (int size : {16, 32, 48, 256}) QVERIFY(icon.pixmap(size).isNull());
    }
    QApplication::setWindowIcon(QIcon());
  }

  void buttonIsDrawnInFrontOfTheNoticeLine() {
    Form2 box;
    const QRect overlap = box.Label1->geometry() & box.Command1->geometry();
    QVERIFY(!overlap.isEmpty());
    QCOMPARE(box.childAt(overlap.center()), static_cast<QWidget*>(box.Command1));
  }

  void enterSpaceAndClickClose_data() {
    QTest::addColumn<int>("how");
    QTest::newRow("Enter") << 0;
    QTest::newRow("Return") << 1;
    QTest::newRow("Space") << 2;
    QTest::newRow("click") << 3;
  }
  void enterSpaceAndClickClose() {
    QFETCH(int, how);
    Form2 box;
    const int result = ExecWith(box, [how](Form2& b) {
      QCOMPARE(QApplication::focusWidget(), static_cast<QWidget*>(b.Command1));
      switch (how) {
        case 0:
          QTest::keyClick(&b, Qt::Key_Enter);
          break;
        case 1:
          QTest::keyClick(&b, Qt::Key_Return);
          break;
        case 2:
          QTest::keyClick(b.Command1, Qt::Key_Space);
          break;
        default:
          QTest::mouseClick(b.Command1, Qt::LeftButton);
          break;
      }
    });
    QCOMPARE(result, int(QDialog::Accepted));
  }

  void escapeDoesNothing() {
    Form2 box;
    bool stillOpen = false;
    const int result = ExecWith(box, [&](Form2& b) {
      QTest::keyClick(&b, Qt::Key_Escape);
      QTest::qWait(50);
      stillOpen = b.isVisible();
      b.done(7);
    });
    QVERIFY(stillOpen);
    QCOMPARE(result, 7);
  }

  void reopenedBoxIsTheSameAndCentred() {
    QStringList seen;
    for (int i = 0; i < 2; ++i) {
      Form2 box;
      ExecWith(box, [&](Form2& b) {
        const QRect screen = b.screen()->availableGeometry();
        QVERIFY(qAbs(b.frameGeometry().center().x() - screen.center().x()) <= 1);
        seen << b.Label1->text() + b.Label2->text() + b.Command1->text();
        b.accept();
      });
    }
    QCOMPARE(seen.size(), 2);
    QCOMPARE(seen[0], seen[1]);
  }
};

QTEST_MAIN(TestAboutBox)
#include "test_about_box.moc"
