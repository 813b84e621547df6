#pragma once

#include <QDBusAbstractAdaptor>
#include <QStringList>

class MprisBackend;

// org.mpris.MediaPlayer2: the program as a whole.
class MprisRootAdaptor : public QDBusAbstractAdaptor {
  Q_OBJECT
  Q_CLASSINFO("D-Bus Interface", "org.mpris.MediaPlayer2")
  Q_PROPERTY(bool CanQuit READ CanQuit)
  Q_PROPERTY(bool CanRaise READ CanRaise)
  Q_PROPERTY(bool HasTrackList READ HasTrackList)
  Q_PROPERTY(QString Identity READ Identity)
  Q_PROPERTY(QString DesktopEntry READ DesktopEntry)
  Q_PROPERTY(QStringList SupportedUriSchemes READ SupportedUriSchemes)
  Q_PROPERTY(QStringList SupportedMimeTypes READ SupportedMimeTypes)

 public:
  // `owner` holds the adaptor and the connection; `mpris` is what it reads and asks.
  MprisRootAdaptor(QObject* owner, MprisBackend& mpris);

  bool CanQuit() const;
  bool CanRaise() const;
  bool HasTrackList() const { return false; }
  QString Identity() const { return QStringLiteral("Tibrok Flv Player"); }
  QString DesktopEntry() const { return QStringLiteral("org.tibrok.FlvPlayer"); }
  QStringList SupportedUriSchemes() const;
  QStringList SupportedMimeTypes() const;

 public slots:
  void Raise();
  void Quit();

 private:
  MprisBackend& mpris_;
};
