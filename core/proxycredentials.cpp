#include "core/proxycredentials.h"

#include <QAuthenticator>
#include <QMutex>
#include <QMutexLocker>
#include <QNetworkAccessManager>
#include <QNetworkProxy>

namespace {

struct Kept
{
    QMutex lock;
    QString user;
    QString password;
};

Kept &kept()
{
    static Kept credentials;
    return credentials;
}

} // namespace

void ProxyCredentials::set(const QString &user, const QString &password)
{
    QMutexLocker locker(&kept().lock);
    kept().user = user;
    kept().password = password;
}

void ProxyCredentials::clear()
{
    set(QString(), QString());
}

bool ProxyCredentials::isKept()
{
    QMutexLocker locker(&kept().lock);
    return !kept().user.isEmpty();
}

void ProxyCredentials::watch(QNetworkAccessManager *manager)
{
    QObject::connect(manager, &QNetworkAccessManager::proxyAuthenticationRequired, manager, &answer);
}

// Qt asks again with the same authenticator when the proxy refused what it was given; left
// as it is, the request then fails with ProxyAuthenticationRequiredError. With no kept user
// Qt's own single sign-on (NTLM, Negotiate on Windows) is all there is.
void ProxyCredentials::answer(const QNetworkProxy &, QAuthenticator *authenticator)
{
    QMutexLocker locker(&kept().lock);
    if (kept().user.isEmpty())
        return;
    if (authenticator->user() == kept().user && authenticator->password() == kept().password)
        return;
    authenticator->setUser(kept().user);
    authenticator->setPassword(kept().password);
}
