#include "tasks/refreshschedule.h"

#include <QSignalSpy>
#include <QtTest>

// The waits between reloads: 5 s with a little jitter while the service answers, doubling
// up to 60 s while it fails, back to 5 s on the first success.
class tst_RefreshSchedule : public QObject
{
    Q_OBJECT

private slots:
    void waitsFollowOutcomes_data();
    void waitsFollowOutcomes();
    void jitterSpreadsAndReplays();
    void armsOnlyOnceStarted();
};

void tst_RefreshSchedule::waitsFollowOutcomes_data()
{
    QTest::addColumn<QString>("outcomes"); // S succeeded, F failed
    QTest::addColumn<QList<int>>("bases"); // the wait in ms before jitter, one per outcome

    QTest::newRow("service answers") << "SSS" << QList<int> { 5000, 5000, 5000 };
    QTest::newRow("outage doubles up to a minute")
        << "FFFFFF" << QList<int> { 5000, 10000, 20000, 40000, 60000, 60000 };
    QTest::newRow("first success returns to 5 s") << "FFFS" << QList<int> { 5000, 10000, 20000, 5000 };
    QTest::newRow("a new outage starts again at 5 s") << "FFSF" << QList<int> { 5000, 10000, 5000, 5000 };
}

void tst_RefreshSchedule::waitsFollowOutcomes()
{
    QFETCH(QString, outcomes);
    QFETCH(QList<int>, bases);

    RefreshSchedule schedule;
    schedule.seed(17);
    for (int i = 0; i < outcomes.size(); ++i) {
        const bool failed = outcomes.at(i) == QLatin1Char('F');
        const int wait = failed ? schedule.delayAfterFailure() : schedule.delayAfterSuccess();
        const int percent
            = failed ? RefreshSchedule::failureJitterPercent : RefreshSchedule::normalJitterPercent;
        const int spread = bases.at(i) * percent / 100;
        QVERIFY2(wait >= bases.at(i) - spread && wait <= bases.at(i) + spread,
            qPrintable(QStringLiteral("outcome %1: %2 ms").arg(i).arg(wait)));
    }
}

// Schedules seeded alike draw alike; one schedule's waits spread over the whole range, so
// that PCs started together drift apart.
void tst_RefreshSchedule::jitterSpreadsAndReplays()
{
    RefreshSchedule first;
    RefreshSchedule second;
    first.seed(42);
    second.seed(42);
    int shortest = INT_MAX;
    int longest = 0;
    for (int i = 0; i < 1000; ++i) {
        const int wait = first.delayAfterSuccess();
        QCOMPARE(second.delayAfterSuccess(), wait);
        shortest = qMin(shortest, wait);
        longest = qMax(longest, wait);
    }
    QVERIFY2(
        shortest < 4600 && longest > 5400, qPrintable(QStringLiteral("%1..%2").arg(shortest).arg(longest)));
}

void tst_RefreshSchedule::armsOnlyOnceStarted()
{
    RefreshSchedule schedule;
    schedule.setIntervals(20, 80);
    schedule.reloadFailed();
    QVERIFY(!schedule.isActive());
    QVERIFY(!schedule.nextTry().isValid());

    schedule.start();
    QVERIFY(schedule.isActive());
    QVERIFY(schedule.nextTry() <= QDateTime::currentDateTime().addMSecs(22));
    QSignalSpy due(&schedule, &RefreshSchedule::due);
    QVERIFY(due.wait(1000));
    QVERIFY(!schedule.isActive());

    schedule.reloadFailed();
    schedule.reloadFailed();
    QCOMPARE(schedule.failures(), 2);
    QVERIFY(schedule.nextTry() >= QDateTime::currentDateTime().addMSecs(30));
    schedule.reloadSucceeded();
    QCOMPARE(schedule.failures(), 0);
}

QTEST_GUILESS_MAIN(tst_RefreshSchedule)
#include "tst_refreshschedule.moc"
