#include "player_window/form1.h"

#include <QLineEdit>
#include <QMenuBar>
#include <QMouseEvent>

#include "assets/assets.h"
#include "interfaces/twips.h"
#include "qt/centring.h"
#include "qt/qt_common_dialog.h"

namespace {

// Adapts the hidden line edit to the handlers' text box.
class LineEditTextBox : public TextBox {
 public:
  explicit LineEditTextBox(QLineEdit* edit) : edit_(edit) {}
  void SetText(const QString& text) override { edit_->setText(text); }
  QString Text() const override { return edit_->text(); }

 private:
  QLineEdit* edit_;
};

int ButtonBit(Qt::MouseButton button) {
  switch (button) {
    case Qt::LeftButton:
      return 1;
    case Qt::RightButton:
      return 2;
    case Qt::MiddleButton:
      return 4;
    default:
      return 0;
  }
}

constexpr int kClientWidthTwips = 9600;
constexpr int kClientHeightTwips = 7440;

}  // namespace

Form1::Form1(RuntimeServices& runtime, HostedPlayer player, std::unique_ptr<CommonDialog> cd)
    : cd_(cd ? std::move(cd) : std::make_unique<QtCommonDialog>()) {
  setObjectName(QStringLiteral("Form1"));
  setWindowTitle(QStringLiteral("Tibrok Flv Player"));
  setWindowIcon(assets::AppIcon());

  auto* client = new QWidget(this);
  client->setObjectName(QStringLiteral("client"));
  client->setAutoFillBackground(true);
  QPalette white = client->palette();
  white.setColor(QPalette::Window, Qt::white);
  client->setPalette(white);
  // The surface answers presses itself; it has no menu of its own.
  client->setContextMenuPolicy(Qt::PreventContextMenu);
  client->installEventFilter(this);
  setCentralWidget(client);

  fl = player.widget;
  fl->setParent(client);
  fl->setObjectName(QStringLiteral("fl"));
  fl->setGeometry(twips::RectToPixels(0, 0, 5535, 3495, logicalDpiX()));

  // Text1 keeps the start-up address. It sits above the client area and
  // stays hidden, so it can neither be seen nor take the focus.
  Text1 = new QLineEdit(client);
  Text1->setObjectName(QStringLiteral("Text1"));
  Text1->setGeometry(twips::RectToPixels(3720, -2299, 4215, 285, logicalDpiX()));
  Text1->setText(QStringLiteral("Text1"));
  Text1->setFocusPolicy(Qt::NoFocus);
  Text1->setVisible(false);
  text1Box_ = std::make_unique<LineEditTextBox>(Text1);

  BuildMenus();

  handlers_ = std::make_unique<Form1Handlers>(runtime, *player.component, *text1Box_, *cd_);
  connect(open, &QAction::triggered, this, [this] { handlers_->open_Click(); });
  connect(exit, &QAction::triggered, this, [this] { handlers_->exit_Click(); });
  connect(about, &QAction::triggered, this, [this] { handlers_->about_Click(); });

  resize(twips::ToPixels(kClientWidthTwips, logicalDpiX()),
         twips::ToPixels(kClientHeightTwips, logicalDpiX()) + menuBar()->sizeHint().height());
}

Form1::~Form1() = default;

void Form1::BuildMenus() {
  file = menuBar()->addMenu(QStringLiteral("&File"));
  file->setObjectName(QStringLiteral("file"));
  open = file->addAction(QStringLiteral("Open File / URL"));
  open->setObjectName(QStringLiteral("open"));
  exit = file->addAction(QStringLiteral("Exit"));
  exit->setObjectName(QStringLiteral("exit"));
  help = menuBar()->addMenu(QStringLiteral("&Help"));
  help->setObjectName(QStringLiteral("help"));
  about = help->addAction(QStringLiteral("About"));
  about->setObjectName(QStringLiteral("about"));
}

void Form1::Load() { handlers_->Form_Load(); }

void Form1::PlayAddress(const QString& address) { handlers_->PlayAddress(address); }

void Form1::ShowCentred() {
  setWindowState(Qt::WindowNoState);
  CentreOnScreen(this);
  show();
  // The frame's size is known only once the window is shown.
  CentreOnScreen(this);
}

void Form1::resizeEvent(QResizeEvent* event) {
  QMainWindow::resizeEvent(event);
  sizedForFrame_ = frameGeometry().size();
  if (handlers_) handlers_->Form_Resize();
}

void Form1::moveEvent(QMoveEvent* event) {
  QMainWindow::moveEvent(event);
  // A window manager adds its frame after the first showing, and that moves
  // the window without resizing its client area. The player area follows the
  // outer size, so it follows the frame too.
  if (handlers_ && isVisible() && frameGeometry().size() != sizedForFrame_) {
    sizedForFrame_ = frameGeometry().size();
    handlers_->Form_Resize();
  }
}

bool Form1::eventFilter(QObject* watched, QEvent* event) {
  if (watched == centralWidget() &&
      (event->type() == QEvent::MouseButtonPress || event->type() == QEvent::MouseButtonRelease)) {
    auto* mouse = static_cast<QMouseEvent*>(event);
    // Presses the player area did not take bubble up here; they are the
    // player's, not the window surface's.
    if (centralWidget()->childAt(mouse->position().toPoint()) != nullptr) return false;
    const int bit = ButtonBit(mouse->button());
    if (event->type() == QEvent::MouseButtonPress) {
      handlers_->Form_MouseDown(bit);
    } else {
      handlers_->Form_MouseUp(bit);
    }
    return true;
  }
  return QMainWindow::eventFilter(watched, event);
}
