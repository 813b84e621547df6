#pragma once

// The length to show and the clock the player counts in, from what is known
// of the file in hand: the player's own reading of it, the engine's view, and
// for a network file the timestamp its tail ends at. Plain values and rules,
// no engine: the session feeds it and asks.
//
// The player's clock runs from the file's first frame; the engine's from the
// first timestamp its demuxer saw. Every conversion between them is here.
class LengthClock {
 public:
  // Where the length came from.
  enum class Source {
    kEngine,   // the engine's word (onMetaData, or the container's own)
    kReading,  // the player's reading of the tags
    kTail,     // measured from the last bytes of a network file
    kNone,     // a live stream, or nothing known
  };
  struct Length {
    double seconds = 0;  // 0 when unknown
    bool live = false;   // a network stream with no end
    Source source = Source::kNone;
    bool operator==(const Length&) const = default;
  };

  // A new file: nothing of the one before applies.
  void Reset(bool network);
  // The file goes to another engine (or again to this one): what the engine
  // said no longer applies; what the player found out itself still does.
  void ForgetEngine();

  // The player's reading: the first frame's timestamp and the length from
  // it, in seconds; `known` false when the reading found neither.
  void SetReading(bool known, double origin, double length);
  // From a keyframe index given to the engine: how much earlier than asked
  // it must start a seek, and the first keyframe's time on the file's clock.
  void SetSeekLead(double lead, double firstKeyframe);
  // The engine's reports. `open` says whether the engine has opened the
  // file in hand, so that its figures are this file's and not the one before.
  void SetEngineStart(double startTime);
  void SetEngineFormat(bool flv);
  void SetEngineDuration(double reported, bool open);
  // A network file's last timestamp, in seconds on the file's own clock.
  void SetTailEnd(double seconds);

  Length Current(bool open) const;
  // Seconds on the file's own clock where the player's clock starts.
  double Origin() const;
  // The engine's clock to the player's, never before the first frame.
  double FromEngine(double engineSeconds) const;
  // The player's clock to the engine's.
  double ToEngine(double seconds) const;

  // An exact seek to `seconds` on the player's clock, as the engine is to
  // be asked: the target on its clock, and the lead to set first (negative:
  // leave the lead alone).
  struct Seek {
    double target = 0;
    double lead = -1;
  };
  Seek SeekFor(double seconds) const;
  bool SeeksByIndex() const { return seekLead_ > 0; }

 private:
  bool network_ = false;
  bool haveReading_ = false;
  double readingOrigin_ = 0;
  double readingLength_ = 0;
  double seekLead_ = 0;
  double firstKeyframe_ = 0;
  double engineDuration_ = 0;
  double startTime_ = 0;
  bool isFlv_ = false;
  // A network stream whose length grew as data came: it has none.
  bool lengthUnknown_ = false;
  double tailEnd_ = -1;
};
