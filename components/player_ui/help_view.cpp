#include "player_ui/help_view.h"

#include <QGridLayout>
#include <QLabel>
#include <QPainter>

#include "player_ui/player_actions.h"

namespace {

QLabel* PlainLabel(const QString& text, QWidget* parent) {
  auto* label = new QLabel(parent);
  // Never read as markup, whatever a translation or a key name holds.
  label->setTextFormat(Qt::PlainText);
  label->setText(text);
  return label;
}

}  // namespace

HelpView::HelpView(QWidget* area) : QWidget(area) {
  setObjectName(QStringLiteral("help"));
  setAccessibleName(tr("Keys"));
  setAttribute(Qt::WA_TransparentForMouseEvents);
  auto* grid = new QGridLayout(this);
  grid->setContentsMargins(16, 12, 16, 12);
  grid->setHorizontalSpacing(16);
  grid->setVerticalSpacing(2);
  QLabel* title = PlainLabel(tr("Keys"), this);
  QFont bold = title->font();
  bold.setBold(true);
  title->setFont(bold);
  grid->addWidget(title, 0, 0, 1, 2);
  int row = 1;
  for (const player_actions::Action& action : player_actions::All()) {
    QLabel* keys = PlainLabel(player_actions::KeyText(action), this);
    keys->setFont(bold);
    keys->setObjectName(QStringLiteral("keys"));
    QLabel* help = PlainLabel(action.help, this);
    help->setObjectName(QStringLiteral("help"));
    grid->addWidget(keys, row, 0, Qt::AlignRight | Qt::AlignTop);
    grid->addWidget(help, row, 1, Qt::AlignLeft | Qt::AlignTop);
    ++row;
  }
  hide();
}

void HelpView::SetColours(const QColor& band, const QColor& text) {
  band_ = band;
  QPalette colours = palette();
  colours.setColor(QPalette::WindowText, text);
  setPalette(colours);
  update();
}

void HelpView::Place(int bottom) {
  const QRect area = parentWidget()->rect().adjusted(8, 8, -8, -8 - bottom);
  QRect box(QPoint(0, 0), sizeHint().boundedTo(area.size().expandedTo(QSize(0, 0))));
  box.moveCenter(area.center());
  setGeometry(box);
}

QString HelpView::Text() const {
  QStringList lines;
  const auto* grid = static_cast<QGridLayout*>(layout());
  for (int row = 1; row < grid->rowCount(); ++row) {
    const auto* keys = static_cast<QLabel*>(grid->itemAtPosition(row, 0)->widget());
    const auto* help = static_cast<QLabel*>(grid->itemAtPosition(row, 1)->widget());
    lines << keys->text() + u'\t' + help->text();
  }
  return lines.join(u'\n');
}

void HelpView::paintEvent(QPaintEvent*) {
  QColor shade = band_;
  shade.setAlphaF(0.85f);
  QPainter painter(this);
  painter.setRenderHint(QPainter::Antialiasing);
  painter.setPen(Qt::NoPen);
  painter.setBrush(shade);
  painter.drawRoundedRect(QRectF(rect()), 8, 8);
}
