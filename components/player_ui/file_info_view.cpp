#include "player_ui/file_info_view.h"

#include <QApplication>
#include <QClipboard>
#include <QHBoxLayout>
#include <QLabel>
#include <QMimeData>
#include <QMouseEvent>
#include <QPainter>
#include <QPlainTextEdit>
#include <QScrollBar>
#include <QTextCursor>
#include <QToolButton>
#include <QVBoxLayout>

#include "player_model/playback_state.h"
#include "player_ui/player_actions.h"

namespace {

constexpr int kMargin = 8;

// Copies and drags of a selection carry it as plain text alone, where the
// text widget's own would add an HTML form of it.
class ReportText : public QPlainTextEdit {
 public:
  using QPlainTextEdit::QPlainTextEdit;

 protected:
  QMimeData* createMimeDataFromSelection() const override {
    QString text = textCursor().selectedText();
    text.replace(QChar::ParagraphSeparator, QLatin1Char('\n'));
    text.replace(QChar::LineSeparator, QLatin1Char('\n'));
    auto* data = new QMimeData;
    data->setText(text);
    return data;
  }
};

QToolButton* MakeButton(QWidget* parent, const QString& name, const QString& text,
                        const QString& tooltip, const QString& accessibleName) {
  auto* button = new QToolButton(parent);
  button->setObjectName(name);
  button->setText(text);
  button->setToolTip(tooltip);
  button->setAccessibleName(accessibleName);
  button->setToolButtonStyle(Qt::ToolButtonTextOnly);
  button->setAutoRaise(true);
  return button;
}

}  // namespace

FileInfoView::FileInfoView(const PlaybackState& state, QWidget& area)
    : QWidget(&area), state_(state), area_(area) {
  setObjectName(QStringLiteral("fileInfo"));
  setAccessibleName(tr("File information"));
  hide();

  title_ = new QLabel(tr("File information"), this);
  title_->setTextFormat(Qt::PlainText);
  QFont bold = title_->font();
  bold.setBold(true);
  title_->setFont(bold);

  text_ = new ReportText(this);
  text_->setObjectName(QStringLiteral("fileReport"));
  text_->setAccessibleName(tr("File report"));
  text_->setReadOnly(true);
  text_->setTextInteractionFlags(Qt::TextSelectableByMouse | Qt::TextSelectableByKeyboard);
  text_->setUndoRedoEnabled(false);
  text_->setTabChangesFocus(true);
  text_->setFrameShape(QFrame::NoFrame);
  text_->viewport()->setAutoFillBackground(false);
  text_->setPlaceholderText(tr("Nothing is known about this file yet."));

  copy_ = MakeButton(this, QStringLiteral("copyReport"), tr("Copy"),
                     tr("Copy the whole report to the clipboard"), tr("Copy the report"));
  connect(copy_, &QAbstractButton::clicked, this,
          [this] { QGuiApplication::clipboard()->setText(Content()); });
  close_ = MakeButton(this, QStringLiteral("closeFileInfo"), tr("Close"),
                      player_actions::Tooltip(tr("Close"), player_actions::Id::kFileInfo),
                      tr("Close the file information"));
  connect(close_, &QAbstractButton::clicked, this, [this] { SetOpen(false); });

  auto* header = new QHBoxLayout;
  header->addWidget(title_, 1);
  header->addWidget(copy_);
  header->addWidget(close_);
  auto* layout = new QVBoxLayout(this);
  layout->setContentsMargins(kMargin, kMargin / 2, kMargin, kMargin);
  layout->addLayout(header);
  layout->addWidget(text_, 1);

  // Only while open: showEvent catches up.
  for (auto changed : {&PlaybackState::fileReportChanged, &PlaybackState::messageChanged}) {
    connect(&state_, changed, this, [this] {
      if (isVisible()) Follow();
    });
  }
  SetColours(band_, Qt::white);
}

void FileInfoView::SetColours(const QColor& band, const QColor& text) {
  band_ = band;
  QPalette colours = palette();
  colours.setColor(QPalette::WindowText, text);
  colours.setColor(QPalette::ButtonText, text);
  colours.setColor(QPalette::Text, text);
  colours.setColor(QPalette::Base, Qt::transparent);
  QColor faint = text;
  faint.setAlphaF(0.7f);
  colours.setColor(QPalette::PlaceholderText, faint);
  colours.setColor(QPalette::Highlight, text);
  colours.setColor(QPalette::HighlightedText, band);
  setPalette(colours);
  update();
}

void FileInfoView::Place(int bottom) {
  setGeometry(area_.rect().adjusted(kMargin, kMargin, -kMargin, -kMargin - bottom));
}

void FileInfoView::SetOpen(bool open) {
  if (open == !isHidden()) return;
  if (open) {
    show();
    raise();
    text_->setFocus();
  } else {
    const bool hadFocus = isAncestorOf(QApplication::focusWidget());
    hide();
    if (hadFocus) area_.setFocus();
  }
  emit openChanged(open);
}

QString FileInfoView::Content() const {
  const QString message = state_.message();
  const QString report = state_.fileReport();
  if (message.isEmpty()) return report;
  return report.isEmpty() ? message + u'\n' : message + u'\n' + u'\n' + report;
}

void FileInfoView::Follow() {
  const QString report = Content();
  copy_->setEnabled(!report.isEmpty());
  text_->setAccessibleDescription(report.isEmpty() ? text_->placeholderText() : QString());
  if (report == shown_) return;
  if (!shown_.isEmpty() && report.startsWith(shown_)) {
    // Grown, as while a file still being written is read: added at the
    // end, so that the reader's selection and place stay.
    QTextCursor end(text_->document());
    end.movePosition(QTextCursor::End);
    end.insertText(report.mid(shown_.size()));
  } else {
    const int scrolled = text_->verticalScrollBar()->value();
    text_->setPlainText(report);
    text_->verticalScrollBar()->setValue(scrolled);
  }
  shown_ = report;
}

void FileInfoView::showEvent(QShowEvent* event) {
  QWidget::showEvent(event);
  Follow();
}

void FileInfoView::paintEvent(QPaintEvent*) {
  QPainter painter(this);
  painter.setRenderHint(QPainter::Antialiasing);
  QColor shade = band_;
  shade.setAlphaF(0.85f);
  painter.setPen(Qt::NoPen);
  painter.setBrush(shade);
  painter.drawRoundedRect(QRectF(rect()), 6, 6);
}

// On the picture below, a press would pause and the wheel change the volume.
void FileInfoView::mousePressEvent(QMouseEvent* event) { event->accept(); }
void FileInfoView::mouseDoubleClickEvent(QMouseEvent* event) { event->accept(); }
void FileInfoView::wheelEvent(QWheelEvent* event) { event->accept(); }
