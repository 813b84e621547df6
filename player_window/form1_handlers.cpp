#include "player_window/form1_handlers.h"

#include <QDir>

namespace {
constexpr char kPlayerMovie[] = "player.n";
constexpr char kInterimMovie[] = "player22.swf";
constexpr char kAddressVariable[] = "myuri";
constexpr char kDisabledNotice[] = "Function is disabled";
constexpr int kLeftButton = 1;
constexpr int kRightButton = 2;
}  // namespace

Form1Handlers::Form1Handlers(RuntimeServices& runtime, PlayerComponent& fl, TextBox& text1,
                             CommonDialog& cd)
    : runtime_(runtime), fl_(fl), text1_(text1), cd_(cd) {}

void Form1Handlers::Form_Load() {
  runtime_.MsgBox(runtime_.Command());
  SizePlayerArea();
  if (runtime_.Command().isEmpty()) return;
  text1_.SetText(runtime_.Command());
  PlayAddress(text1_.Text());
}

void Form1Handlers::Form_Resize() { SizePlayerArea(); }

void Form1Handlers::open_Click() {
  cd_.SetDialogTitle(QStringLiteral("Load a wave file"));
  cd_.SetFilter(QStringLiteral("FLV Files (*.flv)|*.flv"));
  // The interim movie replaces the current one before the dialog opens,
  // whatever the user then chooses.
  fl_.LoadMovie(0, MoviePath(kInterimMovie));
  cd_.ShowOpen();
  if (cd_.FileName().isEmpty()) return;
  PlayAddress(cd_.FileName());
}

void Form1Handlers::PlayAddress(const QString& address) {
  fl_.LoadMovie(0, MoviePath(kPlayerMovie));
  fl_.SetVariable(kAddressVariable, address);
}

void Form1Handlers::exit_Click() { runtime_.UnloadMainWindow(); }

void Form1Handlers::about_Click() { runtime_.ShowAboutModal(); }

void Form1Handlers::Form_MouseDown(int button) { AnswerDisabled(button); }

void Form1Handlers::Form_MouseUp(int button) { AnswerDisabled(button); }

void Form1Handlers::SizePlayerArea() {
  fl_.SetWidth(static_cast<float>(runtime_.MainWindowOuterSizeTwips().width()) - kWidthMarginTwips);
  fl_.SetHeight(static_cast<float>(runtime_.MainWindowOuterSizeTwips().height()) -
                kHeightMarginTwips);
}

QString Form1Handlers::MoviePath(const char* fileName) const {
  return runtime_.AppPath() + QDir::separator() + QLatin1String(fileName);
}

void Form1Handlers::AnswerDisabled(int button) {
  if (button & kLeftButton) runtime_.MsgBox(QString::fromLatin1(kDisabledNotice));
  if (button & kRightButton) runtime_.MsgBox(QString::fromLatin1(kDisabledNotice));
}
