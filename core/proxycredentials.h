#ifndef PROXYCREDENTIALS_H
#define PROXYCREDENTIALS_H

#include <QString>

class QAuthenticator;
class QNetworkAccessManager;
class QNetworkProxy;

// The user name and password the operator gave for the proxy, kept in memory for the whole
// program and never written anywhere. Every transfer object hands them to its proxy through
// watch(); a proxy that refuses them once gets them no second time, so the request fails as
// needing a sign-in instead of asking forever. Safe on any thread.
class ProxyCredentials
{
public:
    static void set(const QString &user, const QString &password);
    static void clear();
    static bool isKept();
    // Answers manager's proxyAuthenticationRequired from the kept credentials.
    static void watch(QNetworkAccessManager *manager);
    static void answer(const QNetworkProxy &proxy, QAuthenticator *authenticator);
};

#endif // PROXYCREDENTIALS_H
