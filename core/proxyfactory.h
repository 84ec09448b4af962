#ifndef PROXYFACTORY_H
#define PROXYFACTORY_H

#include <QFuture>
#include <QHash>
#include <QList>
#include <QMutex>
#include <QNetworkProxy>
#include <QNetworkProxyFactory>
#include <QSet>
#include <QString>
#include <QUrl>

#include <memory>

// The application's proxy factory, as "proxy=" in quillet.ini sets it: "system" (the
// default), "none", or "http://host:port". The system's answer (SystemProxy) can take
// seconds (a WPAD search), so on the GUI thread the factory never looks it up and never
// waits: it answers from what it keeps, and looks up on a pool thread what it does not know
// or kept longer than cacheLifetimeMs, answering meanwhile with the older answer, or with no
// proxy before the first one (start-up warms it up for the service's root). Threads other
// than the GUI thread look up in place. An answer given because the look-up failed is not
// kept. Qt itself never sends loopback addresses through a proxy.
class ProxyFactory : public QNetworkProxyFactory
{
public:
    enum class Mode
    {
        System,
        None,
        Fixed
    };

    struct Setting
    {
        Mode mode = Mode::System;
        QNetworkProxy fixed;
    };

    static constexpr int cacheLifetimeMs = 10 * 60 * 1000;

    // The setting a "proxy=" value names. A value with a user name or password, an https
    // proxy (Qt 5 speaks plain HTTP to a proxy) or anything else not understood is refused
    // with problem saying why, and gives System.
    static Setting parse(const QString &value, QString *problem);
    // Makes setting the application's proxy factory, for every transfer object.
    static void install(const Setting &setting);
    // The proxy in use, for the log and the support bundle, never with credentials.
    static QString describe();
    // Starts looking url's proxy up on a pool thread, unless it is known and fresh or the
    // setting needs no look-up; the future finishes once the answer is kept.
    static QFuture<void> warmUp(const QUrl &url);
    // A request for url goes through an HTTP proxy, as far as the answer kept says. A plain
    // HTTP proxy is reached like a server, so a refused or lost connection is the proxy's.
    static bool usesProxy(const QUrl &url);

    QList<QNetworkProxy> queryProxy(const QNetworkProxyQuery &query) override;

private:
    explicit ProxyFactory(const Setting &setting);

    struct Kept
    {
        QList<QNetworkProxy> proxies;
        qint64 until = 0;
    };
    enum class Found
    {
        Fresh,
        Stale,
        Missing
    };
    // Shared with the look-ups still running, which may outlive a factory Qt replaced.
    struct Cache
    {
        QMutex lock;
        QHash<QString, Kept> kept;
        QSet<QString> pending;
    };

    static ProxyFactory *installed();
    static QString keyOf(const QNetworkProxyQuery &query);
    static QString describe(const QNetworkProxy &proxy);
    Found findKept(const QString &key, QList<QNetworkProxy> &proxies);
    QFuture<void> lookUpLater(const QNetworkProxyQuery &query);
    static QList<QNetworkProxy> lookUp(Cache &cache, const QNetworkProxyQuery &query);

    const Setting m_setting;
    const std::shared_ptr<Cache> m_cache;
};

#endif // PROXYFACTORY_H
