#include "history/filedigest.h"
#include "history/historyconnection.h"
#include "history/historystore.h"
#include "history/historyverifier.h"

#include <QFile>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QtTest>

class tst_HistoryVerifier : public QObject
{
    Q_OBJECT

private slots:
    void findsWhatChanged_data();
    void findsWhatChanged();
};

void tst_HistoryVerifier::findsWhatChanged_data()
{
    QTest::addColumn<QString>("sql");
    QTest::addColumn<QString>("expect");
    QTest::addColumn<bool>("chainOnly");
    QTest::addColumn<int>("result");
    const int intact = int(HistoryVerifier::Result::Intact);
    const int broken = int(HistoryVerifier::Result::Broken);
    const int cannot = int(HistoryVerifier::Result::CannotCheck);
    const int changed = int(HistoryVerifier::Result::ProgramsChanged);
    QTest::newRow("an intact history holds") << QString() << "head" << false << intact;
    QTest::newRow("a row edited") << "UPDATE fetch SET task = 'T9' WHERE id = 2"
                                  << "" << false << broken;
    QTest::newRow("a file row edited") << "UPDATE fetch_file SET size = 7 WHERE fetch_id = 2"
                                       << "" << false << broken;
    QTest::newRow("a row deleted") << "DELETE FROM fetch WHERE id = 2"
                                   << "" << false << broken;
    QTest::newRow("the newest rows deleted, against the exported head") << "DELETE FROM fetch WHERE id >= 3"
                                                                        << "head" << false << broken;
    QTest::newRow("a row without a chain") << "INSERT INTO fetch (time, action) VALUES ('x', 'fetch')"
                                           << "" << false << broken;
    QTest::newRow("a kept version's file changed") << "kept"
                                                   << "" << false << broken;
    QTest::newRow("an unreadable store") << "garbage"
                                         << "" << false << cannot;
    QTest::newRow("a program in place changed while the record holds") << "inplace"
                                                                       << "" << false << changed;
    QTest::newRow("a program in place changed, the chain alone checked") << "inplace"
                                                                         << "" << true << intact;
    QTest::newRow("an expected head that is not hexadecimal")
        << QString() << QString(64, QLatin1Char('z')) << false << cannot;
    QTest::newRow("an expected head of 63 digits")
        << QString() << QString(63, QLatin1Char('a')) << false << cannot;
    QTest::newRow("a store of the previous version, upgraded, holds") << "v2"
                                                                      << "" << false << intact;
}

void tst_HistoryVerifier::findsWhatChanged()
{
    QFETCH(QString, sql);
    QFETCH(QString, expect);
    QFETCH(bool, chainOnly);
    QFETCH(int, result);
    QTemporaryDir dir;
    const QString file = HistoryConnection::fileName(dir.path());
    if (sql == "v2") {
        // As the previous version wrote it: schema 2, no chain column.
        if (QStandardPaths::findExecutable("sqlite3").isEmpty())
            QSKIP("no sqlite3 tool to write the old history with");
        QCOMPARE(
            QProcess::execute("sqlite3",
                { file,
                    "CREATE TABLE fetch (id INTEGER PRIMARY KEY, time TEXT NOT NULL, action TEXT NOT NULL, "
                    "user_id TEXT, device TEXT, task TEXT, kind TEXT, source TEXT, target TEXT, bytes "
                    "INTEGER, sha256 TEXT, outcome TEXT, ok INTEGER, duration_ms INTEGER, kept_path TEXT, "
                    "original_time TEXT, start_id INTEGER);"
                    "CREATE TABLE fetch_file (fetch_id INTEGER NOT NULL, path TEXT NOT NULL, size INTEGER, "
                    "sha256 TEXT);"
                    "INSERT INTO fetch VALUES (1, '2026-03-01T08:00:00.000Z', 'fetch', 'u', 'd', 'T1', 'nc', "
                    "'http://x/T1.zip', '', 9, 'ab', 'Fetched / Saved / Unpacked', 1, 5, '', "
                    "'2026-03-01 16:00:00', NULL);"
                    "INSERT INTO fetch_file VALUES (1, 'a.nc', 9, 'cd');"
                    "PRAGMA user_version = 2;" }),
            0);
        HistoryStore store(dir.path());
        HistoryEntry old;
        QVERIFY(store.find(1, old));
        QCOMPARE(old.outcome, QStringLiteral("Fetched / Saved / Unpacked"));
        QList<HistoryFile> files;
        QVERIFY(store.files(1, files));
        QCOMPARE(files.value(0).sha256, QStringLiteral("cd"));
        HistoryVerifier verifier(dir.path());
        QCOMPARE(int(verifier.verify()), result);
        return;
    }
    HistoryStore store(dir.path());
    QList<HistoryEntry> entries;
    for (const char *task : { "T1", "T2", "T3", "T4" }) {
        HistoryEntry entry;
        entry.time = QDateTime::currentDateTimeUtc();
        entry.action = HistoryEntry::fetchAction;
        entry.task = task;
        entry.files = { { "a.nc", 3, "aa" }, { "b.nc", 4, QString() } };
        entries << entry;
    }
    // T5's first version, with real digests, is kept by its second fetch, which is in place.
    const QString kept = dir.filePath("nc/T5/20260301-080000/p.nc");
    const QString inPlace = dir.filePath("place/T5/p.nc");
    for (const QString &path : { kept, inPlace }) {
        QVERIFY(QDir().mkpath(QFileInfo(path).path()));
        QFile program(path);
        QVERIFY(program.open(QIODevice::WriteOnly) && program.write("G0 X1\n") > 0);
    }
    for (const QString &keptPath : { QString(), QStringLiteral("nc/T5/20260301-080000") }) {
        HistoryEntry entry = entries.first();
        entry.task = "T5";
        entry.kind = "nc";
        entry.ok = true;
        entry.keptPath = keptPath;
        entry.target = QFileInfo(inPlace).path();
        entry.files = FileDigest::folderFiles(QFileInfo(kept).path());
        entries << entry;
    }
    QVERIFY(store.add(entries));
    HistoryVerifier verifier(dir.path());
    QCOMPARE(verifier.verify(), HistoryVerifier::Result::Intact);
    const QString head = verifier.head();

    if (sql == "kept" || sql == "inplace") {
        QFile program(sql == "kept" ? kept : inPlace);
        QVERIFY(program.open(QIODevice::Append) && program.write("M30\n") > 0);
    } else if (sql == "garbage") {
        QFile::remove(file);
        QFile garbage(file);
        QVERIFY(garbage.open(QIODevice::WriteOnly));
        garbage.write(QByteArray(4096, 'x'));
    } else if (!sql.isEmpty()) {
        // The edits are made as an intruder would, with the sqlite3 tool; Windows builds
        // tested under Wine have none to start.
        if (QStandardPaths::findExecutable("sqlite3").isEmpty())
            QSKIP("no sqlite3 tool to edit the history with");
        QCOMPARE(QProcess::execute("sqlite3", { file, sql }), 0);
    }
    const HistoryVerifier::Result found = verifier.verify(expect == "head" ? head : expect,
        chainOnly ? HistoryVerifier::Scope::RecordOnly : HistoryVerifier::Scope::RecordAndFiles);
    QCOMPARE(int(found), result);
    QCOMPARE(verifier.findings().isEmpty(), result == int(HistoryVerifier::Result::Intact));
    if (sql == "inplace" && !chainOnly)
        QVERIFY2(verifier.findings().join('\n').contains("changed p.nc"),
            qPrintable(verifier.findings().join('\n')));
}

QTEST_GUILESS_MAIN(tst_HistoryVerifier)
#include "tst_historyverifier.moc"
