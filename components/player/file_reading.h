#pragma once

#include <QElapsedTimer>
#include <QObject>
#include <QTimer>
#include <atomic>
#include <memory>

#include "media/flv/facts.h"
#include "media/flv_watch.h"

// Goes on reading a local FLV file while it plays: walks the tag headers the
// look before the open did not reach, in slices on a worker thread, and
// again whenever a file still being written grows. Each time it knows more it
// says so with the facts so far, and it says whether the file is being
// written (it grew within the last kStillWrittenMs). Nothing of it runs on
// the GUI thread but the hand-over; stopping it (or deleting it) abandons
// what runs.
class FileReading : public QObject {
  Q_OBJECT

 public:
  explicit FileReading(QObject* parent = nullptr);
  ~FileReading() override;

  // Reads on from where `watch` stands; null stops reading.
  void Follow(std::shared_ptr<FlvWatch> watch);
  // How often a file whose walk is done is looked at for growth; tests
  // shorten it.
  void SetGrowthCheckMs(int ms) { growthTimer_.setInterval(ms); }
  bool Growing() const { return growing_; }

  static constexpr int kStillWrittenMs = 2000;

 signals:
  void factsChanged(const flv_reader::Facts& facts);
  void growingChanged(bool growing);

 private:
  void WalkOn();
  void SetGrowing(bool growing);

  std::shared_ptr<FlvWatch> watch_;
  std::shared_ptr<std::atomic<bool>> cancel_;
  bool walking_ = false;
  QTimer growthTimer_;
  bool growing_ = false;
  QElapsedTimer sinceGrowth_;
};
