#include "history/taskliststore.h"

#include <QTemporaryDir>
#include <QtTest>
#include <ctime>

namespace {

QVariantList tasksNamed(const QString &number)
{
    return { QVariantMap { { QStringLiteral("task_num"), number }, { QStringLiteral("name"), "柜体" } } };
}

} // namespace

class tst_TaskListStore : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void saveTwice_data();
    void saveTwice();
    void keepsTheNewestDaysPerUser();
};

// Central European time, with its summer time, wherever the tests run.
void tst_TaskListStore::initTestCase()
{
    qputenv("TZ", "CET-1CEST,M3.5.0,M10.5.0/3");
#ifdef Q_OS_WIN
    _tzset();
#else
    tzset();
#endif
}

void tst_TaskListStore::saveTwice_data()
{
    QTest::addColumn<QString>("secondUser");
    QTest::addColumn<QVariantList>("second");
    QTest::addColumn<bool>("expectWritten");
    QTest::addColumn<QDate>("day");
    QTest::addColumn<int>("localHour"); // of 00:00 UTC that day, as shown
    const QDate winter(2026, 12, 9);
    QTest::newRow("an identical list keeps the time it first came")
        << "7" << tasksNamed("T1") << false << winter << 1;
    QTest::newRow("a changed list is kept with its own time")
        << "7" << tasksNamed("T2") << true << winter << 1;
    QTest::newRow("another user's list leaves this one alone")
        << "8" << tasksNamed("T2") << true << winter << 1;
    QTest::newRow("a summer list shows in summer time, whatever offset it came with")
        << "7" << tasksNamed("T2") << true << QDate(2026, 7, 1) << 2;
}

void tst_TaskListStore::saveTwice()
{
    QFETCH(QString, secondUser);
    QFETCH(QVariantList, second);
    QFETCH(bool, expectWritten);
    QFETCH(QDate, day);
    QFETCH(int, localHour);
    QTemporaryDir dir;
    TaskListStore store(dir.path());
    const QDateTime firstTime(day, QTime(8, 0, 1, 250), Qt::OffsetFromUTC, 8 * 3600);
    bool written = false;
    QVERIFY2(store.save("7", day, tasksNamed("T1"), firstTime, &written), qPrintable(store.lastError()));
    QVERIFY(written);
    QVERIFY(store.save(secondUser, day, second, firstTime.addSecs(5), &written));
    QCOMPARE(written, expectWritten);

    QVariantList tasks;
    QDateTime receivedAt;
    QVERIFY(store.load(secondUser, day, tasks, receivedAt));
    QCOMPARE(tasks, second);
    QCOMPARE(receivedAt, expectWritten ? firstTime.addSecs(5) : firstTime);
    QCOMPARE(receivedAt.timeSpec(), Qt::LocalTime);
    QCOMPARE(receivedAt.time(), QTime(localHour, 0, expectWritten ? 6 : 1, 250));
    QVERIFY(store.load("7", day, tasks, receivedAt));
    QCOMPARE(tasks, secondUser == "7" ? second : tasksNamed("T1"));
}

void tst_TaskListStore::keepsTheNewestDaysPerUser()
{
    QTemporaryDir dir;
    TaskListStore store(dir.path());
    const QDate first(2026, 11, 1);
    const QDateTime at(first, QTime(7, 30));
    QVERIFY(store.save("other", first.addDays(-30), tasksNamed("T0"), at));
    for (int day = 0; day < TaskListStore::keptDays + 2; ++day)
        QVERIFY(store.save("7", first.addDays(day), tasksNamed(QString::number(day)), at.addDays(day)));

    const QList<QDate> days = store.days("7");
    QCOMPARE(days.size(), TaskListStore::keptDays);
    QCOMPARE(days.first(), first.addDays(TaskListStore::keptDays + 1));
    QCOMPARE(days.last(), first.addDays(2));
    QCOMPARE(store.newestDay("7"), days.first());
    QCOMPARE(store.days("other"), QList<QDate> { first.addDays(-30) });
    QCOMPARE(store.summary().size(), TaskListStore::keptDays + 1);
    QVERIFY(store.summary().contains("other 2026-10-02: 1 tasks, received " + TaskListStore::timeText(at)));
}

QTEST_GUILESS_MAIN(tst_TaskListStore)
#include "tst_taskliststore.moc"
