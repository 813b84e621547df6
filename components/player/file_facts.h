#pragma once

#include <QList>
#include <QString>
#include <optional>
#include <utility>

#include "media/flv/facts.h"
#include "media/mp4/facts.h"
#include "media/stream_facts.h"

// What the player's own reading of a local FLV or MP4 says, put on the
// player's clock (which starts at an FLV's first frame, and where the engine
// starts an MP4): the length, the cue points and captions in time order, the
// FLV names of codecs the engine cannot name, and what a file that failed or
// was cut short holds. Values only: the reading itself runs elsewhere
// (FileReading, or once before an MP4 opens) and hands its facts over.
class FileFacts {
 public:
  // Takes a newer reading of the file; anything but an FLV's is ignored.
  void Apply(const flv_reader::Facts& facts);
  // Takes an MP4's reading, whole before the engine opens it.
  void Apply(const mp4_reader::Facts& facts);
  void Forget();

  // Whether the reading gave a length (and the clock's origin).
  bool Known() const { return known_; }
  double Origin() const { return origin_; }
  // False when the clock starts where the engine's does (an MP4's).
  bool OwnOrigin() const { return !mp4_; }
  double Length() const { return length_; }
  const flv_reader::Facts& Facts() const { return facts_; }

  stream_facts::CuePoints CuePoints() const;
  // The caption for a moment on the player's clock; empty when none. A
  // caption says nothing of how long it lasts: it stays until the next, or
  // for as long as a line of subtitles usually does.
  QString CaptionAt(double seconds) const;
  // Why an FLV the engine gave up on could not play; empty when the reading
  // found nothing to say.
  QString WhatItHolds() const;
  // An MP4 cut short, in words to show where playback stops ("It is cut off
  // after 0:25; the header claims 5:26"); empty otherwise.
  QString CutShort() const;
  // The engine's tracks, with a stream it cannot decode named by its FLV codec
  // (the engine names no codec it has no decoder for).
  stream_facts::Tracks Named(stream_facts::Tracks tracks, bool audioUndecodable,
                             bool videoUndecodable, bool pictureTooLarge) const;
  // The reading's report for the information view; empty without an FLV's
  // reading, whether or not it gave a length.
  QString Report() const;
  // The rate the engine's decoder puts the sound out at. AAC at a core rate
  // of 24 kHz or less may carry SBR that its configuration does not name
  // (HE-AAC, signalled implicitly), which doubles the rate: only the decoder
  // finds it, and the report then gives the rate put out.
  bool WantsSoundRate() const;
  void SetSoundRate(int hertz) { soundRate_ = hertz; }
  // For a file still being written (`growing`) whose end the reading found
  // to hold no tag: that it holds no media after its last frame, and that
  // the player waits. Empty otherwise.
  QString Waiting(bool growing) const;

 private:
  flv_reader::Facts facts_;
  std::optional<mp4_reader::Facts> mp4_;
  bool known_ = false;
  double origin_ = 0;
  double length_ = 0;
  int soundRate_ = 0;
  // On the player's clock, in time order.
  QList<std::pair<double, QString>> cues_;
  QList<std::pair<double, QString>> captions_;
};
