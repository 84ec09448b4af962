#ifndef PLANTCONNECTION_H
#define PLANTCONNECTION_H

#include "plant/plantconfig.h"

#include <QObject>
#include <QSqlDatabase>
#include <QSqlError>
#include <QString>

// An open connection to the plant store (Qt's QPSQL driver) for the calling thread only,
// under a name of its own, closed again when the object goes. What went wrong is told apart,
// so that the log says whether a certificate, a password, a role, a grant or a full server
// is to blame: libpq and the server say so only in words (the server's in English unless its
// lc_messages says otherwise).
class PlantConnection
{
    Q_GADGET

public:
    enum class Result
    {
        Connected, // open, and the schema is the one this client writes
        NoDriver, // Qt's PostgreSQL driver or libpq is not installed
        Unreachable, // no server answered: down, a wrong address, a firewall, the time-out
        CertificateRefused, // the server's certificate or name did not check out, or TLS failed
        WrongPassword, // no password in pgpass, or a wrong one
        MissingRole, // the role or the database does not exist, or pg_hba.conf lets it not in
        MissingGrant, // the role lacks a privilege it needs
        ServerFull, // the server takes no more connections
        NotPrepared, // no plant schema, or an older one: "quillet --plant-setup" has not run
        NewerSchema, // a newer client prepared the store: this one must not write to it
        Failed // any other failure
    };
    Q_ENUM(Result)

    PlantConnection(const PlantConfig &config, const QString &purpose);
    ~PlantConnection();
    PlantConnection(const PlantConnection &) = delete;
    PlantConnection &operator=(const PlantConnection &) = delete;

    // Connects; Connected or why not.
    Result open();
    // Open, then the schema must be the one this client knows.
    Result openForWriting();
    QSqlDatabase database() const;
    QString errorString() const;

    static Result classify(const QSqlError &error);
    static QString resultName(Result result);

private:
    Result fail(Result result, const QString &why);

    PlantConfig m_config;
    QString m_name;
    QString m_error;
};

#endif // PLANTCONNECTION_H
