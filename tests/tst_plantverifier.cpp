#include "history/historystore.h"
#include "plant/plantconnection.h"
#include "plant/plantforwarding.h"
#include "plant/plantverifier.h"
#include "tests/support/testpostgres.h"

#include <QTemporaryDir>
#include <QtTest>

// The plant store's chains recomputed from its rows, after a station forwarded its history.
class tst_PlantVerifier : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void findsWhatChanged_data();
    void findsWhatChanged();
};

void tst_PlantVerifier::initTestCase()
{
    QString why;
    if (!TestPostgres::available(why))
        QSKIP(qPrintable(why));
}

void tst_PlantVerifier::findsWhatChanged_data()
{
    QTest::addColumn<QString>("edit"); // run as the database's owner after forwarding
    QTest::addColumn<QString>("finding"); // empty: the record holds

    QTest::newRow("the record as forwarded holds") << ""
                                                   << "";
    QTest::newRow("an edited row is named") << "UPDATE quillet.history SET task = 'X' WHERE local_id = 2"
                                            << "row 2 (";
    QTest::newRow("an edited file row names its row")
        << "UPDATE quillet.history_file SET sha256 = 'ff' WHERE local_id = 3"
        << "row 3 (";
    QTest::newRow("a deleted row is missing") << "DELETE FROM quillet.history_file WHERE local_id = 2; "
                                                 "DELETE FROM quillet.history WHERE local_id = 2"
                                              << "rows 2 to 2 are missing";
    QTest::newRow("a NULL made empty is an edit")
        << "UPDATE quillet.history SET original_time = '' WHERE local_id = 1"
        << "row 1 (";
}

void tst_PlantVerifier::findsWhatChanged()
{
    QFETCH(QString, edit);
    QFETCH(QString, finding);

    const QString database = TestPostgres::makeDatabase();
    QTemporaryDir dir;
    HistoryStore store(dir.path());
    for (int i = 0; i < 4; ++i) {
        HistoryEntry entry;
        entry.time = QDateTime::currentDateTime();
        entry.action = QStringLiteral("fetch");
        entry.task = QStringLiteral("T-%1").arg(i);
        entry.files = { { QStringLiteral("p.nc"), i, QStringLiteral("00") } };
        QVERIFY(store.add(entry));
    }
    const PlantConfig config
        = PlantConfig::parse(TestPostgres::conninfo(QStringLiteral("station_a"), database), QString());
    {
        PlantForwarding forwarding(config, dir.path(), {});
        forwarding.setIntervals(20, 50, 200);
        QVERIFY(forwarding.start());
        QTRY_COMPARE(TestPostgres::column(
                         QStringLiteral("postgres"), database, "SELECT count(*) FROM quillet.history"),
            QStringList { "4" });
    }
    if (!edit.isEmpty())
        QCOMPARE(TestPostgres::exec(QStringLiteral("postgres"), database, { edit }), QString());

    PlantConnection connection(
        PlantConfig::parse(TestPostgres::conninfo(QStringLiteral("reader"), database), QString()), "verify");
    QCOMPARE(connection.open(), PlantConnection::Result::Connected);
    PlantVerifier verifier;
    const PlantVerifier::Result result = verifier.verify(connection.database(), QStringLiteral("station_a"));
    QVERIFY2(result == (finding.isEmpty() ? PlantVerifier::Result::Intact : PlantVerifier::Result::Broken),
        qPrintable(verifier.summary().join(QLatin1Char('\n'))));
    if (!finding.isEmpty())
        QVERIFY2(verifier.findings().value(0).contains(finding), qPrintable(verifier.findings().join('\n')));
}

QTEST_GUILESS_MAIN(tst_PlantVerifier)
#include "tst_plantverifier.moc"
