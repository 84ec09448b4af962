#ifndef PLANTCONFIG_H
#define PLANTCONFIG_H

#include <QList>
#include <QPair>
#include <QString>
#include <QStringList>

class QSqlDatabase;

// Where the plant history is: "plantHistory=" in "quillet.ini", a libpq keyword connection
// string ("host=... port=... dbname=... user=... sslrootcert=..."). It never holds a password:
// that comes from libpq's own pgpass file of the OS account, or a client certificate is used.
// A password, the URI form (which Qt's driver cannot take) or a malformed value is refused,
// and nothing connects. Without sslmode the client asks for verify-full; a weaker mode is
// used only when written, with a warning. Relative certificate and key files are relative to
// the program's folder. A connect time-out of 10 s and TCP keepalives are added when absent.
class PlantConfig
{
public:
    static constexpr int connectTimeoutSeconds = 10;

    // Reads "plantHistory" from "quillet.ini" in programFolder; empty when unset.
    static PlantConfig configured(const QString &programFolder);
    static PlantConfig parse(const QString &conninfo, const QString &programFolder);

    // Nothing was configured: nothing changes and nothing connects.
    bool isEmpty() const;
    // Configured and usable.
    bool isValid() const;
    // Why it was refused.
    QString problem() const;
    // What is used as written but weaker than it should be.
    QStringList warnings() const;

    QString value(const QString &key) const;
    // host, port, database and user, never a password, for the log and the support bundle.
    QString description() const;
    // The connection string as it is used, each value quoted as libpq reads it.
    QString conninfo() const;
    // Sets db (a QPSQL connection) up to connect as the string says.
    void apply(QSqlDatabase &db) const;

private:
    bool read(const QString &text);
    void complete(const QString &programFolder);
    bool refuse(const QString &why);

    QList<QPair<QString, QString>> m_values;
    QString m_problem;
    QStringList m_warnings;
    bool m_empty = true;
};

#endif // PLANTCONFIG_H
