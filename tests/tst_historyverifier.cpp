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
    QTest::addColumn<bool>("expectHead");
    QTest::addColumn<int>("result");
    const int intact = int(HistoryVerifier::Result::Intact);
    const int broken = int(HistoryVerifier::Result::Broken);
    QTest::newRow("an intact history holds") << QString() << true << intact;
    QTest::newRow("a row edited") << "UPDATE fetch SET task = 'T9' WHERE id = 2" << false << broken;
    QTest::newRow("a file row edited")
        << "UPDATE fetch_file SET size = 7 WHERE fetch_id = 2" << false << broken;
    QTest::newRow("a row deleted") << "DELETE FROM fetch WHERE id = 2" << false << broken;
    QTest::newRow("the newest rows deleted, against the exported head")
        << "DELETE FROM fetch WHERE id >= 3" << true << broken;
    QTest::newRow("a row without a chain")
        << "INSERT INTO fetch (time, action) VALUES ('x', 'fetch')" << false << broken;
    QTest::newRow("a kept version's file changed") << "kept" << false << broken;
    QTest::newRow("an unreadable store") << "garbage" << false << int(HistoryVerifier::Result::CannotCheck);
}

void tst_HistoryVerifier::findsWhatChanged()
{
    QFETCH(QString, sql);
    QFETCH(bool, expectHead);
    QFETCH(int, result);
    QTemporaryDir dir;
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
    // T5's first version, with real digests, is kept by its second fetch.
    const QString kept = dir.filePath("nc/T5/20260301-080000/p.nc");
    QVERIFY(QDir().mkpath(QFileInfo(kept).path()));
    QFile program(kept);
    QVERIFY(program.open(QIODevice::WriteOnly) && program.write("G0 X1\n") > 0);
    program.close();
    for (const QString &keptPath : { QString(), QStringLiteral("nc/T5/20260301-080000") }) {
        HistoryEntry entry = entries.first();
        entry.task = "T5";
        entry.kind = "nc";
        entry.ok = true;
        entry.keptPath = keptPath;
        entry.files = FileDigest::folderFiles(QFileInfo(kept).path());
        entries << entry;
    }
    QVERIFY(store.add(entries));
    HistoryVerifier verifier(dir.path());
    QCOMPARE(verifier.verify(), HistoryVerifier::Result::Intact);
    const QString head = verifier.head();

    const QString file = HistoryConnection::fileName(dir.path());
    if (sql == "kept") {
        QVERIFY(program.open(QIODevice::WriteOnly) && program.write("G0 X2\n") > 0);
        program.close();
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
    const HistoryVerifier::Result found = verifier.verify(expectHead ? head : QString());
    QCOMPARE(int(found), result);
    QCOMPARE(verifier.findings().isEmpty(), result == int(HistoryVerifier::Result::Intact));
}

QTEST_GUILESS_MAIN(tst_HistoryVerifier)
#include "tst_historyverifier.moc"
