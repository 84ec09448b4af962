#include "history/filedigest.h"
#include "history/historystore.h"
#include "history/installedcheck.h"

#include <QTemporaryDir>
#include <QtTest>

class tst_InstalledCheck : public QObject
{
    Q_OBJECT

private slots:
    void findsWhatChanged_data();
    void findsWhatChanged();
};

void tst_InstalledCheck::findsWhatChanged_data()
{
    QTest::addColumn<QString>("file");
    QTest::addColumn<QByteArray>("content"); // null removes the file
    QTest::addColumn<InstalledCheck::Result>("result");
    QTest::addColumn<QString>("summary");
    const auto unchanged = InstalledCheck::Result::Unchanged;
    const auto changed = InstalledCheck::Result::Changed;
    QTest::newRow("the folder as fetched") << QString() << QByteArray() << unchanged << QString();
    QTest::newRow("a file changed") << "a.nc" << QByteArray("G0 X9\n") << changed << "changed a.nc";
    QTest::newRow("a file missing") << "sub/b.nc" << QByteArray() << changed << "missing sub/b.nc";
    QTest::newRow("a file added") << "sub/c.nc" << QByteArray("G1\n") << changed << "added sub/c.nc";
    QTest::newRow("Thumbs.db in any case is left out")
        << "sub/THUMBS.DB" << QByteArray("x") << unchanged << QString();
}

void tst_InstalledCheck::findsWhatChanged()
{
    QFETCH(QString, file);
    QFETCH(QByteArray, content);
    QFETCH(InstalledCheck::Result, result);
    QFETCH(QString, summary);
    QTemporaryDir dir;
    const QString folder = dir.filePath("nc/T1");
    QVERIFY(QDir().mkpath(folder + "/sub"));
    auto write = [&](const QString &name, const QByteArray &bytes) {
        QFile out(folder + "/" + name);
        return out.open(QIODevice::WriteOnly) && out.write(bytes) == bytes.size();
    };
    QVERIFY(write("a.nc", "G0 X1\n") && write("sub/b.nc", "G0 Y1\n"));
    HistoryEntry entry;
    entry.time = QDateTime::currentDateTime();
    entry.action = HistoryEntry::fetchAction;
    entry.task = "T1";
    entry.kind = "nc";
    entry.target = folder;
    entry.ok = true;
    entry.files = FileDigest::folderFiles(folder);
    HistoryStore store(dir.filePath("history"));
    QVERIFY(store.add(entry));

    if (!file.isEmpty())
        QVERIFY(content.isNull() ? QFile::remove(folder + "/" + file) : write(file, content));
    InstalledCheck check(dir.filePath("history"));
    QCOMPARE(check.check("nc", "T1", folder), result);
    QCOMPARE(check.differences().summary(), summary);
}

QTEST_GUILESS_MAIN(tst_InstalledCheck)
#include "tst_installedcheck.moc"
