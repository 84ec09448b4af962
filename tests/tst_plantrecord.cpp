#include "plant/plantconnection.h"
#include "plant/plantrecord.h"
#include "tests/support/testpostgres.h"

#include <QtTest>

// The plant record as --plant-history lists it: two stations' rows, a completed fetch's start
// row left out, and each station's head.
class tst_PlantRecord : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void listsWhatTheFilterTakes_data();
    void listsWhatTheFilterTakes();

private:
    QString m_database;
};

void tst_PlantRecord::initTestCase()
{
    QString why;
    if (!TestPostgres::available(why))
        QSKIP(qPrintable(why));
    m_database = TestPostgres::makeDatabase();
    const QString row
        = QStringLiteral("INSERT INTO quillet.history (station, store_id, local_id, time, action, "
                         "task, outcome, start_id, chain) VALUES ('%1', '%2', %3, '%4', 'fetch', "
                         "'%5', '%6', %7, '%8')");
    const QString a = QStringLiteral("00000000-0000-0000-0000-00000000000a");
    const QString b = QStringLiteral("00000000-0000-0000-0000-00000000000b");
    QCOMPARE(
        TestPostgres::exec(QStringLiteral("postgres"), m_database,
            { row.arg("station_a", a, "1", "2026-03-01T01:00:00.000Z", "T-1", "Started", "NULL", "a1"),
                row.arg("station_a", a, "2", "2026-03-01T01:00:01.000Z", "T-1", "Fetched", "'1'", "a2"),
                row.arg("station_b", b, "1", "2026-03-03T01:00:00.000Z", "T-1", "Fetched", "NULL", "b1"),
                row.arg("station_b", b, "2", "2026-03-03T02:00:00.000Z", "T-2", "Fetched", "NULL", "b2") }),
        QString());
}

void tst_PlantRecord::listsWhatTheFilterTakes_data()
{
    QTest::addColumn<QString>("task");
    QTest::addColumn<QString>("station");
    QTest::addColumn<QDate>("since");
    QTest::addColumn<QStringList>("rows"); // station/local id, oldest first
    QTest::addColumn<QStringList>("heads");

    QTest::newRow("everything, the completed start row left out")
        << ""
        << "" << QDate() << QStringList { "station_a/2", "station_b/1", "station_b/2" }
        << QStringList { "station_a a2", "station_b b2" };
    QTest::newRow("one task of every station")
        << "T-1"
        << "" << QDate() << QStringList { "station_a/2", "station_b/1" }
        << QStringList { "station_a a2", "station_b b2" };
    QTest::newRow("one station") << ""
                                 << "station_b" << QDate() << QStringList { "station_b/1", "station_b/2" }
                                 << QStringList { "station_b b2" };
    QTest::newRow("from a day on") << ""
                                   << "" << QDate(2026, 3, 2) << QStringList { "station_b/1", "station_b/2" }
                                   << QStringList { "station_a a2", "station_b b2" };
}

void tst_PlantRecord::listsWhatTheFilterTakes()
{
    QFETCH(QString, task);
    QFETCH(QString, station);
    QFETCH(QDate, since);
    QFETCH(QStringList, rows);
    QFETCH(QStringList, heads);
    // As the command line gives an option not set: a null text.
    if (station.isEmpty())
        station = QString();

    PlantConnection connection(
        PlantConfig::parse(TestPostgres::conninfo(QStringLiteral("reader"), m_database), QString()), "list");
    QCOMPARE(connection.open(), PlantConnection::Result::Connected);
    QStringList listed;
    QString error;
    QVERIFY2(PlantRecord::list(
                 connection.database(), { task, station, since },
                 [&](const HistoryEntry &entry, const QString &from) {
                     listed << from + "/" + QString::number(entry.id);
                 },
                 error),
        qPrintable(error));
    QCOMPARE(listed, rows);
    QList<QPair<QString, QString>> found;
    QVERIFY2(PlantRecord::heads(connection.database(), station, found, error), qPrintable(error));
    QStringList headLines;
    for (const auto &head : found)
        headLines << head.first + " " + head.second;
    QCOMPARE(headLines, heads);
}

QTEST_GUILESS_MAIN(tst_PlantRecord)
#include "tst_plantrecord.moc"
