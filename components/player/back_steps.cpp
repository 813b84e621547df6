#include "player/back_steps.h"

#include <algorithm>

BackSteps::BackSteps(std::function<bool()> send, QObject* parent)
    : QObject(parent), send_(std::move(send)) {
  timer_.setSingleShot(true);
  timer_.setInterval(2000);
  connect(&timer_, &QTimer::timeout, this, &BackSteps::Done);
}

void BackSteps::Request() {
  if (underWay_) {
    waiting_ = std::min(waiting_ + 1, kMostWaiting);
    return;
  }
  Send();
}

void BackSteps::Landed() {
  if (underWay_) Done();
}

void BackSteps::Send() {
  if (!send_()) {
    waiting_ = 0;
    return;
  }
  underWay_ = true;
  timer_.start();
}

void BackSteps::Done() {
  underWay_ = false;
  timer_.stop();
  if (waiting_ == 0) return;
  --waiting_;
  Send();
}
