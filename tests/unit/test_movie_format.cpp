// The movie file format: what a valid movie gives, and what every kind of
// broken file is refused with.
#include <sys/stat.h>

#include <QTemporaryDir>
#include <QtTest>

#include "media/movie.h"

namespace {

QByteArray Doc(const QByteArray& members) {
  return "{\"format\": \"tibrok-movie\", \"version\": 1" + members + "}";
}

}  // namespace

class TestMovieFormat : public QObject {
  Q_OBJECT

 private slots:
  void shippedMoviesAreValid() {
    const QString dir = QStringLiteral(TIBROK_SOURCE_DIR "/assets/movies/");
    const movie::Result player = movie::ReadFile(dir + "player.n");
    QVERIFY2(player.movie, qPrintable(player.error));
    QCOMPARE(player.movie->kind, movie::Kind::kPlayer);
    const movie::Result interim = movie::ReadFile(dir + "player22.swf");
    QVERIFY2(interim.movie, qPrintable(interim.error));
    QCOMPARE(interim.movie->kind, movie::Kind::kStill);
    QCOMPARE(interim.movie->background, std::optional<QColor>(QColor(Qt::white)));
  }

  void keysAndDefaults() {
    const movie::Result plain = movie::Parse(Doc(", \"kind\": \"still\""));
    QVERIFY2(plain.movie, qPrintable(plain.error));
    QVERIFY(!plain.movie->background);  // transparent
    QVERIFY(plain.movie->text.isEmpty());
    QCOMPARE(plain.movie->textColor, QColor(Qt::black));

    // Editors on Windows start files with a byte-order mark.
    const movie::Result full = movie::Parse(
        "\xEF\xBB\xBF" + Doc(", \"kind\": \"still\", \"background\": \"#1a2B3c\", "
                             "\"textColor\": \"#FF0080\", \"text\": \"\xC3\x9C <b>\""));
    QVERIFY2(full.movie, qPrintable(full.error));
    QCOMPARE(*full.movie->background, QColor(0x1a, 0x2b, 0x3c));
    QCOMPARE(full.movie->textColor, QColor(0xff, 0x00, 0x80));
    QCOMPARE(full.movie->text, QStringLiteral("Ü <b>"));

    const movie::Result transparent =
        movie::Parse(Doc(", \"kind\": \"player\", \"background\": \"transparent\""));
    QVERIFY2(transparent.movie, qPrintable(transparent.error));
    QVERIFY(!transparent.movie->background);
  }

  void brokenDocumentsAreRefused() {
    const std::pair<QByteArray, const char*> cases[] = {
        {QByteArray("FWS\x09\x00\x01", 6), "not valid JSON"},
        {"{\"format\": \"tibrok-movie\"", "not valid JSON"},
        {"[]", "not a JSON object"},
        {"{\"format\": \"swf\", \"version\": 1, \"kind\": \"still\"}", "\"format\" must be"},
        {"{\"format\": \"tibrok-movie\", \"kind\": \"still\"}", "whole number"},
        {"{\"format\": \"tibrok-movie\", \"version\": 1.5, \"kind\": \"still\"}", "whole number"},
        {"{\"format\": \"tibrok-movie\", \"version\": 2, \"kind\": \"still\"}",
         "version 2 is not supported"},
        {Doc(", \"kind\": \"Player\""), "\"kind\" must be"},
        {Doc(", \"kind\": \"still\", \"background\": \"red\""), "\"background\" must be"},
        {Doc(", \"kind\": \"still\", \"background\": \"#1234567\""), "\"background\" must be"},
        {Doc(", \"kind\": \"still\", \"textColor\": \"#GG0000\""), "\"textColor\" must be"},
        {Doc(", \"kind\": \"player\", \"text\": \"hi\""), "only for still movies"},
        {Doc(", \"kind\": \"still\", \"text\": 5"), "must be a string"},
        {Doc(", \"kind\": \"still\", \"text\": \"" + QByteArray(1001, 'x') + "\""),
         "longer than 1000"},
        {Doc(", \"kind\": \"still\", \"backgroud\": \"#000000\""), "unknown key \"backgroud\""},
    };
    for (const auto& [data, reason] : cases) {
      const movie::Result r = movie::Parse(data);
      QVERIFY2(!r.movie, data.constData());
      QVERIFY2(r.error.contains(QLatin1String(reason)), qPrintable(r.error));
    }
  }

  void filesThatAreNotMoviesAreRefusedWithoutReadingThemWhole() {
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    QCOMPARE(movie::ReadFile(dir.filePath("absent.n")).error, QStringLiteral("file not found"));
    QCOMPARE(movie::ReadFile(dir.path()).error, QStringLiteral("not a regular file"));
    // Reading a pipe would wait for a writer forever.
    const QString fifo = dir.filePath("pipe.n");
    QCOMPARE(::mkfifo(QFile::encodeName(fifo).constData(), 0600), 0);
    QCOMPARE(movie::ReadFile(fifo).error, QStringLiteral("not a regular file"));

    // Up to the cap, padding is only JSON whitespace; one byte more is refused.
    const QByteArray doc = Doc(", \"kind\": \"still\"");
    QFile file(dir.filePath("padded.n"));
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write(doc + QByteArray(movie::kMaxFileBytes - doc.size(), ' '));
    file.flush();
    const movie::Result atCap = movie::ReadFile(file.fileName());
    QVERIFY2(atCap.movie, qPrintable(atCap.error));
    file.write(" ");
    file.flush();
    QCOMPARE(movie::ReadFile(file.fileName()).error, QStringLiteral("file is larger than 64 KiB"));
  }
  void movieKeysChooseTheControls() {
    const movie::Result shipped =
        movie::ReadFile(QStringLiteral(TIBROK_SOURCE_DIR "/assets/movies/player.n"));
    QVERIFY2(shipped.movie, qPrintable(shipped.error));
    QVERIFY(shipped.movie->controls);
    QVERIFY(movie::ReadFile(QStringLiteral(TIBROK_SOURCE_DIR "/assets/movies/player22.swf")).movie);

    const QByteArray head = "{\"format\": \"tibrok-movie\", \"version\": 1, ";
    const movie::Result bare = movie::Parse(
        head + "\"kind\": \"player\", \"controls\": false, \"accentColor\": \"#ff8000\"}");
    QVERIFY2(bare.movie, qPrintable(bare.error));
    QVERIFY(!bare.movie->controls);
    QCOMPARE(bare.movie->accentColor, QColor(0xff, 0x80, 0x00));

    const std::pair<QByteArray, const char*> refused[] = {
        {"\"kind\": \"player\", \"controls\": \"no\"}", "\"controls\" must be true or false"},
        {"\"kind\": \"player\", \"accentColor\": \"orange\"}", "\"accentColor\" must be"},
        {"\"kind\": \"still\", \"controls\": true}", "only for player movies"},
        {"\"kind\": \"still\", \"accentColor\": \"#000000\"}", "only for player movies"},
    };
    for (const auto& [members, reason] : refused) {
      const movie::Result r = movie::Parse(head + members);
      QVERIFY2(!r.movie, members.constData());
      QVERIFY2(r.error.contains(QLatin1String(reason)), qPrintable(r.error));
    }
  }
};

QTEST_GUILESS_MAIN(TestMovieFormat)
#include "test_movie_format.moc"
