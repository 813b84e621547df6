#include "player_ui/seek_bar_accessible.h"

#include <QAccessibleWidget>

#include "player_ui/playback_time.h"
#include "player_ui/player_actions.h"
#include "player_ui/seek_bar.h"

namespace seek_bar_accessible {
namespace {

class SeekBarInterface : public QAccessibleWidget, public QAccessibleValueInterface {
 public:
  explicit SeekBarInterface(SeekBar* bar) : QAccessibleWidget(bar, QAccessible::Slider) {}

  void* interface_cast(QAccessible::InterfaceType type) override {
    if (type == QAccessible::ValueInterface) return static_cast<QAccessibleValueInterface*>(this);
    return QAccessibleWidget::interface_cast(type);
  }

  QString text(QAccessible::Text t) const override {
    if (t == QAccessible::Value) return PlaybackTimeText(Bar()->ShownPosition(), Bar()->Duration());
    return QAccessibleWidget::text(t);
  }

  QVariant currentValue() const override { return Bar()->ShownPosition(); }
  void setCurrentValue(const QVariant& value) override { Bar()->RequestSeek(value.toDouble()); }
  QVariant maximumValue() const override { return Bar()->Duration(); }
  QVariant minimumValue() const override { return 0.0; }
  QVariant minimumStepSize() const override { return player_actions::kSeekStepSeconds; }

 private:
  SeekBar* Bar() const { return static_cast<SeekBar*>(widget()); }
};

QAccessibleInterface* Make(const QString& className, QObject* object) {
  if (className != QLatin1String("SeekBar") || !object || !object->isWidgetType()) return nullptr;
  return new SeekBarInterface(static_cast<SeekBar*>(object));
}

}  // namespace

void Install() {
  static const bool installed = [] {
    QAccessible::installFactory(&Make);
    return true;
  }();
  (void)installed;
}

}  // namespace seek_bar_accessible
