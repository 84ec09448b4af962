#ifndef TLSTRUST_H
#define TLSTRUST_H

#include <QCoreApplication>
#include <QString>

// Whom https connections trust: the system's own roots (the Windows certificate store,
// /etc/ssl/certs elsewhere), plus a company CA that a deployment names in quillet.ini.
// Certificate errors are never ignored anywhere in the client; this is the one place that
// decides which certificates are good.
class TlsTrust
{
    Q_DECLARE_TR_FUNCTIONS(TlsTrust)

public:
    // Adds the PEM certificates in caFile to the application's default TLS configuration,
    // which every request made afterwards uses. Returns "" on success or when no file is
    // named, else why the file cannot be used, in words for the operator (also logged).
    static QString addCompanyCa(const QString &caFile);
};

#endif // TLSTRUST_H
