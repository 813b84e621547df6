#pragma once

#include <QAbstractButton>
#include <QColor>

// The replay button: a see-through disc with the replay sign, large enough
// to find at once over the last frame; the sign keeps its proportion at any
// size the overlay gives the button.
class RoundButton : public QAbstractButton {
 public:
  static constexpr int kSize = 72;

  using QAbstractButton::QAbstractButton;

  void SetColours(const QColor& disc, const QColor& glyph);
  QSize sizeHint() const override { return {kSize, kSize}; }

 protected:
  void paintEvent(QPaintEvent* event) override;
  void enterEvent(QEnterEvent* event) override;
  void leaveEvent(QEvent* event) override;

 private:
  QColor disc_ = Qt::black;
  QColor glyph_ = Qt::white;
};
