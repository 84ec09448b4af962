#include "tests/support/testpostgres.h"

#include "plant/plantconfig.h"
#include "plant/plantschema.h"

#include <QAtomicInteger>
#include <QCoreApplication>
#include <QFile>
#include <QSqlError>
#include <QSqlQuery>
#include <QUuid>
#include <QVariant>

namespace {

QString port()
{
    QFile file(QStringLiteral(QUILLET_TEST_POSTGRES_STATE "/port"));
    return file.open(QIODevice::ReadOnly) ? QString::fromLatin1(file.readAll().trimmed()) : QString();
}

template <typename Use>
void withConnection(const QString &role, const QString &database, Use use)
{
    static QAtomicInteger<quint64> made;
    const QString name = QStringLiteral("test-postgres-%1").arg(++made);
    {
        QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QPSQL"), name);
        PlantConfig::parse(TestPostgres::conninfo(role, database), QString()).apply(db);
        db.open();
        use(db);
    }
    QSqlDatabase::removeDatabase(name);
}

} // namespace

bool TestPostgres::available(QString &why)
{
    if (!QSqlDatabase::isDriverAvailable(QStringLiteral("QPSQL")))
        why = QStringLiteral("Qt's PostgreSQL driver is not installed");
    else if (port().isEmpty())
        why = QStringLiteral("no PostgreSQL server from the fixture (tests/postgres/start.sh)");
    return why.isEmpty();
}

QString TestPostgres::makeDatabase()
{
    const QString database
        = QStringLiteral("plant_%1").arg(QUuid::createUuid().toString(QUuid::Id128).left(12));
    QString failure = exec(QStringLiteral("postgres"), QStringLiteral("postgres"),
        { QStringLiteral("CREATE DATABASE %1 ENCODING 'UTF8' TEMPLATE template0").arg(database) });
    for (const char *role : { "station_a", "station_b", "reader", "outsider" })
        exec(QStringLiteral("postgres"), QStringLiteral("postgres"),
            { QStringLiteral("CREATE ROLE %1 LOGIN").arg(role) });
    withConnection(QStringLiteral("postgres"), database, [&](QSqlDatabase db) {
        QStringList report;
        if (!PlantSchema::setup(db, report, failure))
            qWarning("plant setup failed: %s", qPrintable(failure));
    });
    exec(QStringLiteral("postgres"), database,
        { QStringLiteral("GRANT quillet_station TO station_a, station_b"),
            QStringLiteral("GRANT quillet_reader TO reader") });
    return database;
}

QString TestPostgres::conninfo(const QString &role, const QString &database, const QString &options)
{
    return QStringLiteral("port=%1 dbname=%2 user=%3 connect_timeout=3 %4")
        .arg(port(), database, role, options);
}

QString TestPostgres::certificate(const QString &name)
{
    const QString path = QStringLiteral(QUILLET_TEST_POSTGRES_STATE "/") + name;
    return QFile::exists(path) ? path : QString();
}

QString TestPostgres::exec(const QString &role, const QString &database, const QStringList &statements)
{
    QString failure;
    withConnection(role, database, [&](QSqlDatabase db) {
        if (!db.isOpen()) {
            failure = db.lastError().text();
            return;
        }
        QSqlQuery query(db);
        for (const QString &statement : statements) {
            if (failure.isEmpty() && !query.exec(statement))
                failure = query.lastError().text();
        }
    });
    return failure;
}

QStringList TestPostgres::column(const QString &role, const QString &database, const QString &statement)
{
    QStringList values;
    withConnection(role, database, [&](QSqlDatabase db) {
        QSqlQuery query(db);
        if (!query.exec(statement)) {
            values << QStringLiteral("error: ") + query.lastError().text();
            return;
        }
        while (query.next())
            values << (query.isNull(0) ? QStringLiteral("NULL") : query.value(0).toString());
    });
    return values;
}
