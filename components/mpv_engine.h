#pragma once

#include <QByteArray>
#include <QList>
#include <QObject>
#include <QString>
#include <atomic>
#include <memory>

struct mpv_handle;
struct mpv_render_context;

// One libmpv core with its software render context, owned together because
// their teardown order is fixed: the render context must go (with its update
// callback cleared first) before the core is destroyed, or the process aborts.
//
// libmpv calls back on its own threads; those callbacks only post a queued,
// coalesced call to the thread that created the engine, which then emits
// eventsPending() or frameReady(). Everything else, including rendering,
// happens on that thread.
class MpvEngine : public QObject {
  Q_OBJECT

 public:
  struct Option {
    const char* name;
    QByteArray value;
    // An optional option that this libmpv lacks is skipped; a required one
    // that cannot be set stops the start.
    bool required = true;
  };

  // Creates, configures and initialises a core and its render context.
  // Returns null and sets `error` when that fails.
  static std::unique_ptr<MpvEngine> Start(const QList<Option>& options, QString* error);
  ~MpvEngine() override;

  mpv_handle* handle() const { return handle_; }
  mpv_render_context* renderContext() const { return render_; }

  // Runs a command with its arguments as an array, without waiting; the reply
  // arrives as an event carrying `replyId`.
  void Command(const QList<QByteArray>& args, quint64 replyId = 0);
  void SetProperty(const char* name, const QByteArray& value);

 signals:
  void eventsPending();
  void frameReady();

 private:
  MpvEngine() = default;
  static void OnWakeup(void* self);
  static void OnRenderUpdate(void* self);

  mpv_handle* handle_ = nullptr;
  mpv_render_context* render_ = nullptr;
  // Set while a hop to the GUI thread is queued, so bursts of callbacks turn
  // into one call.
  std::atomic<bool> wakeupQueued_{false};
  std::atomic<bool> updateQueued_{false};
};
