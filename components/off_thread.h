#pragma once

#include <QFuture>
#include <QFutureWatcher>
#include <QObject>
#include <QPromise>
#include <QThreadPool>
#include <memory>

// Work that must not hold up the GUI thread (reading a movie file, looking at
// a local video before it is loaded), and the hand-back of its result.
namespace off_thread {

// Runs `work` on the global thread pool; its return value is the result.
template <typename T, typename Work>
QFuture<T> Start(Work work) {
  auto promise = std::make_shared<QPromise<T>>();
  promise->start();
  QThreadPool::globalInstance()->start([promise, work] {
    promise->addResult(work());
    promise->finish();
  });
  return promise->future();
}

// Hands the result of `future` to `done` on the owner's thread: at once when
// it is there already. The watcher belongs to `owner`, so a result that
// arrives after the owner is gone reaches nobody.
template <typename T, typename Done>
void WhenDone(QObject* owner, const QFuture<T>& future, Done done) {
  if (future.isFinished()) {
    done(future.result());
    return;
  }
  auto* watcher = new QFutureWatcher<T>(owner);
  QObject::connect(watcher, &QFutureWatcherBase::finished, owner, [watcher, done] {
    done(watcher->result());
    watcher->deleteLater();
  });
  watcher->setFuture(future);
}

}  // namespace off_thread
