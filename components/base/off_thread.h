#pragma once

#include <QFuture>
#include <QFutureWatcher>
#include <QObject>
#include <QtConcurrent/QtConcurrentRun>
#include <utility>

// Work that must not hold up the GUI thread (reading a movie file, looking at
// a local video before it is loaded, connecting to the desktop's bus), and
// the hand-back of its result.
namespace off_thread {

// Runs `work` on the global thread pool; its return value is the result.
// Work that throws still finishes its future (the exception is its result).
template <typename Work>
auto Run(Work work) {
  return QtConcurrent::run(std::move(work));
}

// Hands the result of `future` to `done` on the owner's thread: at once when
// it is there already. If the work threw, `done` gets `failed` instead. The
// watcher belongs to `owner`, so a result that arrives after the owner is
// gone reaches nobody.
template <typename T, typename Done>
void WhenDone(QObject* owner, const QFuture<T>& future, Done done, T failed = T{}) {
  const auto deliver = [done, failed](const QFuture<T>& finished) {
    T result = failed;
    try {
      if (finished.resultCount() > 0) result = finished.result();
    } catch (...) {
      result = failed;
    }
    done(result);
  };
  if (future.isFinished()) {
    deliver(future);
    return;
  }
  auto* watcher = new QFutureWatcher<T>(owner);
  QObject::connect(watcher, &QFutureWatcherBase::finished, owner, [watcher, deliver] {
    deliver(watcher->future());
    watcher->deleteLater();
  });
  watcher->setFuture(future);
}

}  // namespace off_thread
