#include "history/historyoutcome.h"

#include <QtTest>

// The outcome column as older clients, the CSV and the chain read it: what is written reads
// back the same, and the text written is the one they know.
class tst_HistoryOutcome : public QObject
{
    Q_OBJECT

private slots:
    void readsBackAsWritten_data();
    void readsBackAsWritten();
};

void tst_HistoryOutcome::readsBackAsWritten_data()
{
    QTest::addColumn<QString>("stored");
    QTest::addColumn<QStringList>("steps");
    QTest::addColumn<bool>("offline");
    QTest::newRow("a fetch names each step")
        << "Fetched / Saved / Unpacked" << QStringList { "Fetched", "Saved", "Unpacked" } << false;
    QTest::newRow("a check before opening names the choice")
        << "Changed / Cancelled" << QStringList { "Changed", "Cancelled" } << false;
    QTest::newRow("a scan made offline is marked so") << "Found / Offline" << QStringList { "Found" } << true;
    QTest::newRow("a single name is one step") << "Restored" << QStringList { "Restored" } << false;
    QTest::newRow("no outcome has no steps") << "" << QStringList() << false;
}

void tst_HistoryOutcome::readsBackAsWritten()
{
    QFETCH(QString, stored);
    QFETCH(QStringList, steps);
    QFETCH(bool, offline);
    const HistoryOutcome read = HistoryOutcome::parse(stored);
    QCOMPARE(read.steps(), steps);
    QCOMPARE(read.isOffline(), offline);
    QCOMPARE(HistoryOutcome(steps, offline).text(), stored);
}

QTEST_GUILESS_MAIN(tst_HistoryOutcome)
#include "tst_historyoutcome.moc"
