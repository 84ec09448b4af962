#include "history/versionkeeper.h"

#include "tests/support/testfiles.h"

#include <QTemporaryDir>
#include <QtTest>

class tst_VersionKeeper : public QObject
{
    Q_OBJECT

private slots:
    void prunesOldestFirst_data();
    void prunesOldestFirst();
    void namesAreNotReused();
};

void tst_VersionKeeper::prunesOldestFirst_data()
{
    QTest::addColumn<int>("maxVersions");
    QTest::addColumn<qint64>("maxBytes");
    QTest::addColumn<QStringList>("left");

    // Three versions of task 7 (100 bytes each) and one of task 8 (100 bytes), oldest first:
    // 7/a 8/b 7/c 7/d.
    QTest::newRow("by-count") << 2 << qint64(1000) << QStringList { "pdf/8/b", "pdf/7/c", "pdf/7/d" };
    QTest::newRow("by-bytes-across-tasks") << 5 << qint64(250) << QStringList { "pdf/7/c", "pdf/7/d" };
    QTest::newRow("within-both") << 5 << qint64(400)
                                 << QStringList { "pdf/7/a", "pdf/8/b", "pdf/7/c", "pdf/7/d" };
}

void tst_VersionKeeper::prunesOldestFirst()
{
    QFETCH(int, maxVersions);
    QFETCH(qint64, maxBytes);
    QFETCH(QStringList, left);
    QTemporaryDir dir;
    VersionKeeper keeper(dir.path());
    keeper.setLimits(maxVersions, maxBytes);
    const QDateTime start(QDate(2026, 3, 1), QTime(8, 0));
    const QList<QPair<QString, QString>> made { { "7", "pdf/7/a" }, { "8", "pdf/8/b" }, { "7", "pdf/7/c" },
        { "7", "pdf/7/d" } };
    QMap<QString, QString> named; // "pdf/7/a" -> the name the keeper gave
    for (int i = 0; i < made.size(); ++i) {
        const QString path = keeper.newVersionPath("pdf", made.at(i).first, start.addSecs(i));
        QVERIFY(TestFiles::write(keeper.absolutePath(path), QByteArray(100, 'v')));
        named.insert(made.at(i).second, path);
    }

    const QStringList removed = keeper.prune("pdf", "7");
    QStringList kept;
    for (auto it = named.cbegin(); it != named.cend(); ++it) {
        QCOMPARE(QFileInfo::exists(keeper.absolutePath(it.value())), !removed.contains(it.value()));
        if (!removed.contains(it.value()))
            kept << it.key();
    }
    std::sort(left.begin(), left.end());
    QCOMPARE(kept, left);
}

// Entries point to their versions by name: a name set free by a restore or a pruning within
// the same second is not handed out again.
void tst_VersionKeeper::namesAreNotReused()
{
    QTemporaryDir dir;
    VersionKeeper keeper(dir.path());
    const QDateTime now(QDate(2026, 3, 1), QTime(8, 0));
    const QString first = keeper.newVersionPath("nc", "7", now);
    QVERIFY(QDir().mkpath(keeper.absolutePath(first)));
    const QString second = keeper.newVersionPath("nc", "7", now);
    QVERIFY(QDir().mkpath(keeper.absolutePath(second)));
    QVERIFY(QDir().rmdir(keeper.absolutePath(first)));
    const QString third = keeper.newVersionPath("nc", "7", now);
    QCOMPARE(QStringList({ first, second, third }),
        QStringList({ "nc/7/20260301-080000", "nc/7/20260301-080000-2", "nc/7/20260301-080000-3" }));
    QVERIFY(keeper.newVersionPath("nc", "..", now).isEmpty());
}

QTEST_GUILESS_MAIN(tst_VersionKeeper)
#include "tst_versionkeeper.moc"
