#pragma once

#include <QDBusAbstractAdaptor>
#include <QDBusObjectPath>
#include <QVariantMap>

class MprisBackend;
class QDBusMessage;

// org.mpris.MediaPlayer2.Player: what plays in the player area.
class MprisPlayerAdaptor : public QDBusAbstractAdaptor {
  Q_OBJECT
  Q_CLASSINFO("D-Bus Interface", "org.mpris.MediaPlayer2.Player")
  Q_PROPERTY(QString PlaybackStatus READ PlaybackStatus)
  Q_PROPERTY(double Rate READ Rate WRITE SetRate)
  Q_PROPERTY(double MinimumRate READ MinimumRate)
  Q_PROPERTY(double MaximumRate READ MaximumRate)
  Q_PROPERTY(QVariantMap Metadata READ Metadata)
  Q_PROPERTY(double Volume READ Volume WRITE SetVolume)
  Q_PROPERTY(qlonglong Position READ Position)
  Q_PROPERTY(bool CanGoNext READ CanGoElsewhere)
  Q_PROPERTY(bool CanGoPrevious READ CanGoElsewhere)
  Q_PROPERTY(bool CanPlay READ CanPlay)
  Q_PROPERTY(bool CanPause READ CanPause)
  Q_PROPERTY(bool CanSeek READ CanSeek)
  Q_PROPERTY(bool CanControl READ CanControl)

 public:
  // `owner` holds the adaptor and the connection; `mpris` is what it reads and asks.
  MprisPlayerAdaptor(QObject* owner, MprisBackend& mpris);

  QString PlaybackStatus() const;
  // The playback speed; a rate beyond the bounds is taken as the nearest,
  // and 0 pauses, as MPRIS has it.
  double Rate() const;
  void SetRate(double rate);
  double MinimumRate() const;
  double MaximumRate() const;
  QVariantMap Metadata() const;
  double Volume() const;
  void SetVolume(double volume);
  qlonglong Position() const;
  bool CanGoElsewhere() const { return false; }
  bool CanPlay() const;
  bool CanPause() const;
  bool CanSeek() const;
  bool CanControl() const { return true; }

 public slots:
  // There is one address and no list to move along.
  void Next() {}
  void Previous() {}
  void Pause();
  void PlayPause();
  void Stop();
  void Play();
  void Seek(qlonglong offset);
  void SetPosition(const QDBusObjectPath& trackId, qlonglong position);
  void OpenUri(const QString& uri, const QDBusMessage& message);

 signals:
  void Seeked(qlonglong Position);

 private:
  MprisBackend& mpris_;
};
