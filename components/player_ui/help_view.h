#pragma once

#include <QColor>
#include <QString>
#include <QWidget>

// The keys of the player area, listed over the picture: written from the
// action table, so the list cannot fall out of date, and shown as plain text
// only. It takes no input: clicks and the wheel reach the player area below.
class HelpView : public QWidget {
  Q_OBJECT

 public:
  explicit HelpView(QWidget* area);

  void SetColours(const QColor& band, const QColor& text);
  // Centred in the area less `bottom` pixels at its foot (the bar's), as
  // large as the list or the area allows.
  void Place(int bottom);
  // The list as shown, a line per action: keys, a tab, what they do.
  QString Text() const;

 protected:
  void paintEvent(QPaintEvent* event) override;

 private:
  QColor band_ = Qt::black;
};
