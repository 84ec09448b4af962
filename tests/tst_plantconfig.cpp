#include "plant/plantconfig.h"

#include <QtTest>

// What plantHistory= may say, and what the client adds or refuses.
class tst_PlantConfig : public QObject
{
    Q_OBJECT

private slots:
    void readsTheConnectionString_data();
    void readsTheConnectionString();
};

void tst_PlantConfig::readsTheConnectionString_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("key");
    QTest::addColumn<QString>("value"); // of key as used; empty when refused
    QTest::addColumn<bool>("warned");

    QTest::newRow("verify-full is asked for when sslmode is absent")
        << "host=db.plant dbname=quillet user=st01"
        << "sslmode"
        << "verify-full" << false;
    QTest::newRow("a weaker sslmode is used as written, with a warning")
        << "host=db user=st01 sslmode=require"
        << "sslmode"
        << "require" << true;
    QTest::newRow("a relative sslrootcert is beside the program") << "host=db sslrootcert=certs/ca.crt"
                                                                  << "sslrootcert"
                                                                  << "/opt/quillet/certs/ca.crt" << false;
    QTest::newRow("a connect time-out is added when absent") << "host=db"
                                                             << "connect_timeout"
                                                             << "10" << false;
    QTest::newRow("a connect time-out written stays") << "host=db connect_timeout=3"
                                                      << "connect_timeout"
                                                      << "3" << false;
    QTest::newRow("keepalives are added when absent") << "host=db"
                                                      << "keepalives"
                                                      << "1" << false;
    QTest::newRow("a quoted value keeps its spaces and escapes")
        << R"(host=db application_name = 'st 01 \'a\'')"
        << "application_name"
        << "st 01 'a'" << false;
    QTest::newRow("a password is refused") << "host=db user=st01 password=secret"
                                           << "host"
                                           << "" << false;
    QTest::newRow("the URI form is refused") << "postgresql://st01@db/quillet"
                                             << "host"
                                             << "" << false;
    QTest::newRow("a keyword without a value is refused") << "host=db dbname"
                                                          << "host"
                                                          << "" << false;
    QTest::newRow("an unclosed quote is refused") << "host='db"
                                                  << "host"
                                                  << "" << false;
}

void tst_PlantConfig::readsTheConnectionString()
{
    QFETCH(QString, text);
    QFETCH(QString, key);
    QFETCH(QString, value);
    QFETCH(bool, warned);

    const PlantConfig config = PlantConfig::parse(text, QStringLiteral("/opt/quillet"));
    QVERIFY(!config.isEmpty());
    QCOMPARE(config.isValid(), !value.isEmpty());
    QCOMPARE(config.value(key), value);
    QCOMPARE(!config.warnings().isEmpty(), warned);
    QVERIFY(!config.conninfo().contains(QLatin1String("secret")));
}

QTEST_GUILESS_MAIN(tst_PlantConfig)
#include "tst_plantconfig.moc"
