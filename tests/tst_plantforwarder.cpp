#include "history/historyconnection.h"
#include "history/historystore.h"
#include "plant/plantforwarding.h"
#include "tests/support/testpostgres.h"

#include <QSignalSpy>
#include <QTemporaryDir>
#include <QtTest>

namespace {

bool synced()
{
    const PlantStatus status = PlantStatusBoard::instance()->current();
    return status.connected && status.backlog == 0;
}

} // namespace

// Forwarding against a real PostgreSQL server (the CTest fixture's): rows arrive once and in
// order while the plant store comes and goes, and the database keeps each station to its own.
class tst_PlantForwarder : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void cleanup();
    void forwardsEveryRowInOrder();
    void rowsWaitWhileTheStoreIsDownAndArriveOnce();
    void aStationTouchesOnlyItsOwnRows_data();
    void aStationTouchesOnlyItsOwnRows();
    void aRepeatWithAnotherChainIsRefused();
    void stoppingMidBacklogLosesAndRepeatsNothing();
    void failuresAreToldApartAndNothingIsWritten_data();
    void failuresAreToldApartAndNothingIsWritten();
    void theServersCertificateIsChecked_data();
    void theServersCertificateIsChecked();

private:
    void addRows(int count, const QString &task);
    void startForwarding(const QString &role = QStringLiteral("station_a"));
    bool stopForwarding();
    QStringList plant(const QString &query) const;

    QString m_database;
    std::unique_ptr<QTemporaryDir> m_dir;
    std::unique_ptr<PlantForwarding> m_forwarding;
};

void tst_PlantForwarder::initTestCase()
{
    QString why;
    if (!TestPostgres::available(why))
        QSKIP(qPrintable(why));
}

void tst_PlantForwarder::init()
{
    m_database = TestPostgres::makeDatabase();
    m_dir.reset(new QTemporaryDir);
}

void tst_PlantForwarder::cleanup()
{
    stopForwarding();
}

void tst_PlantForwarder::addRows(int count, const QString &task)
{
    HistoryStore store(m_dir->path());
    for (int i = 0; i < count; ++i) {
        HistoryEntry entry;
        entry.time = QDateTime::currentDateTime();
        entry.action = QStringLiteral("fetch");
        entry.task = task;
        entry.kind = QStringLiteral("nc");
        entry.source = QStringLiteral("http://files/任务-%1.zip").arg(i);
        entry.ok = true;
        entry.userId = QStringLiteral("");
        entry.files
            = { { QStringLiteral("a.nc"), 3, QStringLiteral("ab") }, { QStringLiteral("b.nc"), 0, {} } };
        QVERIFY(store.add(entry));
    }
}

void tst_PlantForwarder::startForwarding(const QString &role)
{
    m_forwarding.reset(
        new PlantForwarding(PlantConfig::parse(TestPostgres::conninfo(role, m_database), QString()),
            m_dir->path(), { QStringLiteral("设备一"), QStringLiteral("pc-1"), QStringLiteral("0.1.0") }));
    m_forwarding->setIntervals(20, 50, 200);
    QVERIFY(m_forwarding->start());
}

bool tst_PlantForwarder::stopForwarding()
{
    QElapsedTimer timer;
    timer.start();
    const bool stopped = !m_forwarding || m_forwarding->stop();
    m_forwarding.reset();
    return stopped && timer.elapsed() < PlantForwarding::stopWaitMs;
}

QStringList tst_PlantForwarder::plant(const QString &query) const
{
    return TestPostgres::column(QStringLiteral("postgres"), m_database, query);
}

// The fields travel as the text the chain encodes: an empty user stays empty, a
// missing original time stays NULL.
void tst_PlantForwarder::forwardsEveryRowInOrder()
{
    addRows(3, QStringLiteral("T-1"));
    startForwarding();
    QTRY_VERIFY(synced());
    QVERIFY(PlantStatusBoard::instance()->current().connected);
    QCOMPARE(plant("SELECT local_id FROM quillet.history ORDER BY plant_id"), QStringList({ "1", "2", "3" }));
    QCOMPARE(plant("SELECT station || ' ' || source || ' ' || quote_nullable(user_id) || ' ' || "
                   "quote_nullable(original_time) FROM quillet.history WHERE local_id = 2"),
        QStringList { "station_a http://files/任务-1.zip '' NULL" });
    QCOMPARE(plant("SELECT count(*) FROM quillet.history_file"), QStringList { "6" });
    QTRY_COMPARE(plant("SELECT device || ' ' || backlog FROM quillet.station"), QStringList { "设备一 0" });
    QVERIFY(stopForwarding());
}

void tst_PlantForwarder::rowsWaitWhileTheStoreIsDownAndArriveOnce()
{
    addRows(2, QStringLiteral("T-1"));
    startForwarding();
    QTRY_VERIFY(synced());
    const QString closed = TestPostgres::exec(QStringLiteral("postgres"), QStringLiteral("postgres"),
        { QStringLiteral("ALTER DATABASE %1 ALLOW_CONNECTIONS false").arg(m_database),
            QStringLiteral("SELECT pg_terminate_backend(pid) FROM pg_stat_activity WHERE datname = '%1'")
                .arg(m_database) });
    QVERIFY2(closed.isEmpty(), qPrintable(closed));
    addRows(3, QStringLiteral("T-2"));
    QTRY_VERIFY(!PlantStatusBoard::instance()->current().connected);
    QTRY_COMPARE(PlantStatusBoard::instance()->current().backlog, qint64(3));
    QCOMPARE(TestPostgres::exec(QStringLiteral("postgres"), QStringLiteral("postgres"),
                 { QStringLiteral("ALTER DATABASE %1 ALLOW_CONNECTIONS true").arg(m_database) }),
        QString());
    QTRY_VERIFY_WITH_TIMEOUT(synced(), 10000);
    QCOMPARE(plant("SELECT string_agg(local_id::text, ',' ORDER BY plant_id) FROM quillet.history"),
        QStringList { "1,2,3,4,5" });
    QVERIFY(stopForwarding());
}

void tst_PlantForwarder::aStationTouchesOnlyItsOwnRows_data()
{
    QTest::addColumn<QString>("statement");
    QTest::addColumn<bool>("refused");
    QTest::addColumn<QString>("rowsAfter"); // station_b's history rows afterwards

    const QString add = QStringLiteral("INSERT INTO quillet.history (station, store_id, local_id, chain) "
                                       "VALUES ('%1', gen_random_uuid(), 9, 'x')");
    QTest::newRow("a row in another station's name is refused") << add.arg("station_b") << true << "1";
    QTest::newRow("a row in its own name is taken") << add.arg("station_a") << false << "1";
    QTest::newRow("its own history row cannot be changed")
        << "UPDATE quillet.history SET task = 'X' WHERE station = 'station_a'" << true << "1";
    QTest::newRow("its own history row cannot be deleted")
        << "DELETE FROM quillet.history WHERE station = 'station_a'" << true << "1";
    QTest::newRow("another station's row of stations stays as it is")
        << "UPDATE quillet.station SET device = 'X' WHERE station = 'station_b'" << false << "1";
}

void tst_PlantForwarder::aStationTouchesOnlyItsOwnRows()
{
    QFETCH(QString, statement);
    QFETCH(bool, refused);
    QFETCH(QString, rowsAfter);

    QCOMPARE(TestPostgres::exec(QStringLiteral("postgres"), m_database,
                 { "INSERT INTO quillet.history (station, store_id, local_id, chain) VALUES ('station_b', "
                   "gen_random_uuid(), 1, 'y')",
                     "INSERT INTO quillet.history (station, store_id, local_id, chain) VALUES ('station_a', "
                     "gen_random_uuid(), 1, 'y')",
                     "INSERT INTO quillet.station (station, device) VALUES ('station_b', 'B')" }),
        QString());
    QCOMPARE(!TestPostgres::exec(QStringLiteral("station_a"), m_database, { statement }).isEmpty(), refused);
    QCOMPARE(TestPostgres::column(QStringLiteral("station_a"), m_database,
                 "SELECT count(*) FROM quillet.history WHERE station = 'station_b'"),
        QStringList { "0" });
    QCOMPARE(
        plant("SELECT count(*) FROM quillet.history WHERE station = 'station_b'"), QStringList { rowsAfter });
    QCOMPARE(plant("SELECT device FROM quillet.station"), QStringList { "B" });
}

// A backup put back: its rows after the backup have ids the plant store holds with other
// chains. The plant keeps what it has, and the store goes again under a new id.
void tst_PlantForwarder::aRepeatWithAnotherChainIsRefused()
{
    addRows(1, QStringLiteral("T-1"));
    startForwarding();
    QTRY_VERIFY(synced());
    QVERIFY(stopForwarding());
    const QString file = HistoryConnection::fileName(m_dir->path());
    QVERIFY(QFile::copy(file, file + ".backup"));
    addRows(1, QStringLiteral("T-2"));
    startForwarding();
    QTRY_VERIFY(synced());
    const QString firstStore = PlantStatusBoard::instance()->current().storeId;
    QVERIFY(stopForwarding());
    QVERIFY(QFile::remove(file) && QFile::rename(file + ".backup", file));
    addRows(1, QStringLiteral("T-3"));

    startForwarding();
    QTRY_COMPARE(PlantStatusBoard::instance()->current().refused, qint64(1));
    QTRY_VERIFY(synced());
    QVERIFY(PlantStatusBoard::instance()->current().storeId != firstStore);
    QCOMPARE(plant(QStringLiteral("SELECT task FROM quillet.history WHERE store_id = '%1' ORDER BY local_id")
                       .arg(firstStore)),
        QStringList({ "T-1", "T-2" }));
    QCOMPARE(plant(QStringLiteral("SELECT task FROM quillet.history WHERE store_id <> '%1' ORDER BY local_id")
                       .arg(firstStore)),
        QStringList({ "T-1", "T-3" }));
}

// Quitting while batches go: the worker ends within 2 s, and the next start sends the rest,
// a batch cut short ignored as repeats.
void tst_PlantForwarder::stoppingMidBacklogLosesAndRepeatsNothing()
{
    QList<HistoryEntry> entries;
    for (int i = 0; i < 5000; ++i) {
        HistoryEntry entry;
        entry.time = QDateTime::currentDateTime();
        entry.action = QStringLiteral("fetch");
        entry.files = { { QStringLiteral("a.nc"), i, QStringLiteral("ab") } };
        entries << entry;
    }
    QVERIFY(HistoryStore(m_dir->path()).add(entries));
    startForwarding();
    QTRY_VERIFY(PlantStatusBoard::instance()->current().backlog < 5000);
    QVERIFY(stopForwarding());
    // Whatever arrived before the stop is whole batches in order: no gap, every file row there.
    QCOMPARE(plant("SELECT (count(*) = coalesce(max(local_id), 0) AND count(*) = (SELECT count(*) FROM "
                   "quillet.history_file))::text FROM quillet.history"),
        QStringList { "true" });
    startForwarding();
    QTRY_VERIFY_WITH_TIMEOUT(synced(), 20000);
    QCOMPARE(plant("SELECT count(*) || ' ' || count(DISTINCT local_id) || ' ' || max(local_id) FROM "
                   "quillet.history"),
        QStringList { "5000 5000 5000" });
    QCOMPARE(plant("SELECT count(*) FROM quillet.history_file"), QStringList { "5000" });
}

void tst_PlantForwarder::failuresAreToldApartAndNothingIsWritten_data()
{
    QTest::addColumn<QString>("role");
    QTest::addColumn<QString>("setUp"); // run as the database's owner first
    QTest::addColumn<PlantConnection::Result>("problem");

    QTest::newRow("a role the server does not know") << "nobody_here"
                                                     << "SELECT 1" << PlantConnection::Result::MissingRole;
    QTest::newRow("a role without the station's grant")
        << "outsider"
        << "SELECT 1" << PlantConnection::Result::MissingGrant;
    QTest::newRow("a store prepared by a newer client")
        << "station_a"
        << "UPDATE quillet.schema_version SET version = 99" << PlantConnection::Result::NewerSchema;
    QTest::newRow("a store never prepared")
        << "station_a"
        << "DROP SCHEMA quillet CASCADE" << PlantConnection::Result::NotPrepared;
    // The server's answer when it has no slot left for the role, as when it is full.
    QTest::newRow("a server that takes no more connections")
        << "station_full"
        << "DO $$ BEGIN IF NOT EXISTS (SELECT FROM pg_roles WHERE rolname = 'station_full') THEN "
           "CREATE ROLE station_full LOGIN CONNECTION LIMIT 0; END IF; END $$"
        << PlantConnection::Result::ServerFull;
}

void tst_PlantForwarder::failuresAreToldApartAndNothingIsWritten()
{
    QFETCH(QString, role);
    QFETCH(QString, setUp);
    QFETCH(PlantConnection::Result, problem);

    QCOMPARE(TestPostgres::exec(QStringLiteral("postgres"), m_database, { setUp }), QString());
    addRows(2, QStringLiteral("T-1"));
    startForwarding(role);
    QTRY_COMPARE(PlantStatusBoard::instance()->current().problem, problem);
    QCOMPARE(PlantStatusBoard::instance()->current().backlog, qint64(2));
    if (problem != PlantConnection::Result::NotPrepared)
        QCOMPARE(plant("SELECT count(*) FROM quillet.history"), QStringList { "0" });
    QVERIFY(stopForwarding());
    PlantStatusBoard::instance()->publish(PlantStatus());
}

void tst_PlantForwarder::theServersCertificateIsChecked_data()
{
    QTest::addColumn<QString>("authority");
    QTest::addColumn<QString>("host");
    QTest::addColumn<PlantConnection::Result>("result");

    QTest::newRow("signed by the plant's authority")
        << "ca.crt"
        << "host=127.0.0.1" << PlantConnection::Result::Connected;
    QTest::newRow("signed by an authority the station does not trust")
        << "other-ca.crt"
        << "host=127.0.0.1" << PlantConnection::Result::CertificateRefused;
    QTest::newRow("made out for another name")
        << "ca.crt"
        << "host=localhost hostaddr=127.0.0.1" << PlantConnection::Result::CertificateRefused;
}

// verify-full, the mode a station asks for when none is written.
void tst_PlantForwarder::theServersCertificateIsChecked()
{
    QFETCH(QString, authority);
    QFETCH(QString, host);
    QFETCH(PlantConnection::Result, result);

    const QString file = TestPostgres::certificate(authority);
    if (file.isEmpty())
        QSKIP("the server of the tests has no TLS (no openssl where it was started)");
    PlantConnection connection(
        PlantConfig::parse(TestPostgres::conninfo(QStringLiteral("station_a"), m_database,
                               host + QStringLiteral(" sslrootcert=") + file),
            QString()),
        QStringLiteral("tls"));
    const PlantConnection::Result opened = connection.open();
    QVERIFY2(
        opened == result, qPrintable(PlantConnection::resultName(opened) + ": " + connection.errorString()));
}

QTEST_GUILESS_MAIN(tst_PlantForwarder)
#include "tst_plantforwarder.moc"
