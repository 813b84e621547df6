#pragma once

#include <QImage>
#include <QObject>

// Small pictures of moments of the file in hand, for the seek bar's preview.
//
// Promises: every call returns at once and nothing is spent before the first
// Request for a file. Requests made while one is under way are not queued:
// only the newest is answered, so a pointer sweeping over the bar costs one
// picture at a time. Pictures come as pictureReady, each with the moment
// asked for; a moment that cannot be had (a stream that cannot seek, a file
// without pictures) gets no answer, and Available() turns false.
class PreviewSource : public QObject {
  Q_OBJECT

 public:
  using QObject::QObject;

  // Whether pictures can be asked for the file in hand.
  virtual bool Available() const = 0;
  // A picture of the moment `seconds` into the file.
  virtual void Request(double seconds) = 0;
  // The pointer has gone: what is still asked for is no longer wanted.
  virtual void Cancel() = 0;

 signals:
  void pictureReady(double seconds, const QImage& picture);
};
