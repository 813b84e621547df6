#include "about_box/form2.h"

#include <QIconEngine>
#include <QKeyEvent>
#include <QLabel>
#include <QPushButton>
#include <iterator>

#include "assets/assets.h"
#include "interfaces/twips.h"
#include "qt/centring.h"

namespace {

QLabel* MakeLabel(QWidget* parent, const char* name, const QString& text, QRect geometry) {
  auto* label = new QLabel(text, parent);
  label->setObjectName(QLatin1String(name));
  label->setTextFormat(Qt::PlainText);
  label->setAlignment(Qt::AlignLeft | Qt::AlignTop);
  label->setWordWrap(false);
  label->setGeometry(geometry);
  return label;
}

// The credit names the program's author in as many words as the label's
// font leaves room for: the label keeps its fixed width and would cut the
// rest off mid-word, and the platform's default font differs from desktop
// to desktop.
QString CreditFor(const QLabel& label) {
  static const char* const kWordings[] = {"By the Tibrok Flv Player team", "By the Tibrok team"};
  const QFontMetrics metrics(label.font());
  for (const char* wording : kWordings) {
    const QString text = QString::fromLatin1(wording);
    if (metrics.horizontalAdvance(text) <= label.contentsRect().width()) return text;
  }
  return QString::fromLatin1(*std::prev(std::end(kWordings)));
}

// An icon with no picture in it. A window without an icon of its own shows
// the application's; this one is an icon as far as Qt is concerned, but
// gives the window system nothing to show (under X11, no _NET_WM_ICON).
class NoPicture : public QIconEngine {
 public:
  void paint(QPainter*, const QRect&, QIcon::Mode, QIcon::State) override {}
  QPixmap pixmap(const QSize&, QIcon::Mode, QIcon::State) override { return {}; }
  QPixmap scaledPixmap(const QSize&, QIcon::Mode, QIcon::State, qreal) override { return {}; }
  QList<QSize> availableSizes(QIcon::Mode, QIcon::State) override { return {}; }
  QIconEngine* clone() const override { return new NoPicture; }
};

}  // namespace

Form2::Form2() {
  setObjectName(QStringLiteral("Form2"));
  setWindowTitle(QStringLiteral("About Tibrok Flv Player"));
  // The box has no icon of its own, and must not borrow the program's.
  setWindowIcon(QIcon(new NoPicture));
  // A tool window has a thin title bar and no taskbar button; without the
  // min/max hints the frame offers only the close box.
  setWindowFlags(Qt::Tool | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                 Qt::WindowCloseButtonHint | Qt::MSWindowsFixedSizeDialogHint);
  setAttribute(Qt::WA_DeleteOnClose, false);
  setAutoFillBackground(true);
  QPalette white = palette();
  white.setColor(QPalette::Window, Qt::white);
  setPalette(white);
  setFixedSize(twips::ToPixels(5385, logicalDpiX()), twips::ToPixels(3105, logicalDpiX()));
  setSizeGripEnabled(false);

  Image1 = new QLabel(this);
  Image1->setObjectName(QStringLiteral("Image1"));
  Image1->setGeometry(twips::RectToPixels(0, 0, 4350, 840, logicalDpiX()));
  Image1->setAlignment(Qt::AlignLeft | Qt::AlignTop);
  Image1->setScaledContents(false);
  Image1->setPixmap(assets::AboutBanner(devicePixelRatioF()));

  Label2 = MakeLabel(this, "Label2", QString(),
                     twips::RectToPixels(1440, 1560, 3015, 255, logicalDpiX()));
  Label2->setText(CreditFor(*Label2));

  Label1 =
      MakeLabel(this, "Label1", QStringLiteral("(c) 2026 ZoriruVozuvozuzero. All rights reserved."),
                twips::RectToPixels(0, 2760, 4815, 255, logicalDpiX()));
  QFont notice(QStringLiteral("Verdana"));
  notice.setPointSizeF(8.25);
  notice.setWeight(QFont::Normal);
  notice.setItalic(false);
  notice.setUnderline(false);
  notice.setStrikeOut(false);
  Label1->setFont(notice);

  // Created after Label1 so it is drawn in front where the two overlap.
  Command1 = new QPushButton(QStringLiteral("ok"), this);
  Command1->setObjectName(QStringLiteral("Command1"));
  Command1->setGeometry(twips::RectToPixels(4680, 2640, 615, 375, logicalDpiX()));
  Command1->setDefault(false);
  // The focused button answers Enter, as any focused push button does.
  Command1->setAutoDefault(true);
  connect(Command1, &QPushButton::clicked, this, &QDialog::accept);
  Command1->raise();
  Command1->setFocus();
}

void Form2::keyPressEvent(QKeyEvent* event) {
  // The box has no cancel button, so Esc does nothing.
  if (event->key() == Qt::Key_Escape) {
    event->accept();
    return;
  }
  QDialog::keyPressEvent(event);
}

void Form2::showEvent(QShowEvent* event) {
  QDialog::showEvent(event);
  // The screen it opens on decides how many device pixels the banner has.
  Image1->setPixmap(assets::AboutBanner(devicePixelRatioF()));
  CentreOnScreen(this);
  Command1->setFocus();
}
