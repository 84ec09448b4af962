#ifndef TESTPOSTGRES_H
#define TESTPOSTGRES_H

#include <QSqlDatabase>
#include <QString>
#include <QStringList>

// The PostgreSQL server the CTest fixture started (tests/postgres/start.sh), on the port it
// wrote down. Each test makes a database of its own with the plant schema in it, and the
// station roles it signs in as (trust on 127.0.0.1: the roles' rights are under test here,
// not their passwords).
class TestPostgres
{
public:
    // False, and why, when the fixture did not run.
    static bool available(QString &why);
    // A new database with the plant schema, and the roles station_a, station_b, reader and
    // outsider (in neither group).
    static QString makeDatabase();
    // A connection string for role in database, TLS off unless options say otherwise.
    static QString conninfo(const QString &role, const QString &database,
        const QString &options = QStringLiteral("host=127.0.0.1 sslmode=disable"));
    // Where a certificate the fixture made is ("ca.crt", "other-ca.crt"); empty when it made none.
    static QString certificate(const QString &name);
    // Runs the statements as role in database; the first failure's text, or empty.
    static QString exec(const QString &role, const QString &database, const QStringList &statements);
    // The first column of every row the query gives, as text ("NULL" for NULL).
    static QStringList column(const QString &role, const QString &database, const QString &query);
};

#endif // TESTPOSTGRES_H
