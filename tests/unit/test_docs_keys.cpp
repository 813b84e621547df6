// The keys as README.md and the manual page list them are the keys of the
// action table, which the player area answers and its list of keys shows:
// the same keys, the same words, in the same order.
#include <QFile>
#include <QRegularExpression>
#include <QtTest>

#include "player_ui/player_actions.h"

namespace {

QStringList Lines(const QString& path) {
  QFile file(path);
  if (!file.open(QIODevice::ReadOnly)) return {};
  return QString::fromUtf8(file.readAll()).split(u'\n');
}

// The table's rows as the player's list of keys shows them: keys, a tab,
// what they do.
QStringList FromTable() {
  QStringList rows;
  for (const player_actions::Action& action : player_actions::All()) {
    rows << player_actions::KeyText(action) + u'\t' + action.help;
  }
  return rows;
}

// "| `?`, `F1` | Show or hide ... |" rows under the README's heading.
QStringList FromReadme(const QStringList& lines) {
  static const QRegularExpression kRow(QStringLiteral("^\\| (`[^|]+`) \\| ([^|]+) \\|$"));
  QStringList rows;
  const qsizetype heading = lines.indexOf(QStringLiteral("### Keys in the player area"));
  if (heading < 0) return rows;
  for (qsizetype i = heading + 1; i < lines.size(); ++i) {
    if (lines[i].startsWith(u'#')) break;
    const QRegularExpressionMatch row = kRow.match(lines[i]);
    if (!row.hasMatch()) continue;
    QStringList keys;
    for (const QString& key : row.captured(1).split(QStringLiteral(", "))) {
      keys << key.mid(1, key.size() - 2);  // without the backticks
    }
    rows << keys.join(QStringLiteral(", ")) + u'\t' + row.captured(2);
  }
  return rows;
}

QString Unescape(QString roff) {
  return roff.replace(QLatin1String("\\ "), QLatin1String(" "))
      .replace(QLatin1String("\\-"), QLatin1String("-"))
      .replace(QLatin1String("\\e"), QLatin1String("\\"));
}

// ".TP", ".B keys", "what they do" entries of the manual's KEYS section.
QStringList FromManual(const QStringList& lines) {
  QStringList rows;
  const qsizetype section = lines.indexOf(QStringLiteral(".SH KEYS"));
  if (section < 0) return rows;
  for (qsizetype i = section + 1; i + 2 < lines.size(); ++i) {
    if (lines[i].startsWith(QLatin1String(".SH"))) break;
    if (lines[i] != QLatin1String(".TP") || !lines[i + 1].startsWith(QLatin1String(".B "))) {
      continue;
    }
    rows << Unescape(lines[i + 1].mid(3)) + u'\t' + Unescape(lines[i + 2]);
  }
  return rows;
}

}  // namespace

class TestDocsKeys : public QObject {
  Q_OBJECT

 private slots:
  void readmeListsTheActionTable() {
    const QStringList lines = Lines(QStringLiteral(TIBROK_SOURCE_DIR "/README.md"));
    QVERIFY(!lines.isEmpty());
    QCOMPARE(FromReadme(lines), FromTable());
  }

  void manualListsTheActionTable() {
    const QStringList lines =
        Lines(QStringLiteral(TIBROK_SOURCE_DIR "/packaging/tibrok-flv-player.1"));
    QVERIFY(!lines.isEmpty());
    QCOMPARE(FromManual(lines), FromTable());
  }
};

QTEST_MAIN(TestDocsKeys)
#include "test_docs_keys.moc"
