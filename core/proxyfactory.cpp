#include "core/proxyfactory.h"

#include "core/corelog.h"
#include "core/systemproxy.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QDebug>
#include <QHostAddress>
#include <QMutexLocker>
#include <QThread>
#include <QtConcurrent/QtConcurrentRun>

namespace {

ProxyFactory *current = nullptr;

bool onGuiThread()
{
    const QCoreApplication *app = QCoreApplication::instance();
    return app && QThread::currentThread() == app->thread();
}

qint64 now()
{
    return QDateTime::currentMSecsSinceEpoch();
}

} // namespace

ProxyFactory::ProxyFactory(const Setting &setting)
    : m_setting(setting)
    , m_cache(std::make_shared<Cache>())
{ }

ProxyFactory::Setting ProxyFactory::parse(const QString &value, QString *problem)
{
    const QString text = value.trimmed();
    if (text.isEmpty() || text.compare(QLatin1String("system"), Qt::CaseInsensitive) == 0)
        return {};
    if (text.compare(QLatin1String("none"), Qt::CaseInsensitive) == 0)
        return { Mode::None, QNetworkProxy(QNetworkProxy::NoProxy) };
    const QUrl url(text, QUrl::StrictMode);
    QString why;
    if (!url.userInfo().isEmpty())
        why = QStringLiteral("it holds a user name or password, which the client asks for itself");
    else if (url.scheme().compare(QLatin1String("https"), Qt::CaseInsensitive) == 0)
        why = QStringLiteral("the client speaks plain HTTP to a proxy, use http://");
    else if (url.scheme().compare(QLatin1String("http"), Qt::CaseInsensitive) != 0 || url.host().isEmpty()
        || url.port() <= 0 || (!url.path().isEmpty() && url.path() != QLatin1String("/")))
        why = QStringLiteral("write system, none or http://host:port");
    if (!why.isEmpty()) {
        if (problem)
            *problem = why;
        return {};
    }
    return { Mode::Fixed, QNetworkProxy(QNetworkProxy::HttpProxy, url.host(), quint16(url.port())) };
}

// The factory is never removed: Qt keeps it until the program ends.
void ProxyFactory::install(const Setting &setting)
{
    current = new ProxyFactory(setting);
    QNetworkProxyFactory::setApplicationProxyFactory(current);
}

ProxyFactory *ProxyFactory::installed()
{
    return current;
}

QString ProxyFactory::describe()
{
    if (!installed())
        return QStringLiteral("none (no proxy setting applied)");
    switch (installed()->m_setting.mode) {
    case Mode::None:
        return QStringLiteral("none");
    case Mode::Fixed:
        return describe(installed()->m_setting.fixed);
    case Mode::System:
        break;
    }
#ifdef Q_OS_WIN
    return QStringLiteral("system (Windows Internet settings, PAC and WPAD)");
#else
    const QNetworkProxyQuery http(QUrl(QStringLiteral("http://example.com/")));
    const QNetworkProxyQuery https(QUrl(QStringLiteral("https://example.com/")));
    return QStringLiteral("system (environment: http %1, https %2)")
        .arg(describe(SystemProxy::lookup(http).proxies.value(0)),
            describe(SystemProxy::lookup(https).proxies.value(0)));
#endif
}

QString ProxyFactory::describe(const QNetworkProxy &proxy)
{
    if (proxy.type() != QNetworkProxy::HttpProxy)
        return QStringLiteral("none");
    return QStringLiteral("http://%1:%2").arg(proxy.hostName()).arg(proxy.port());
}

QFuture<void> ProxyFactory::warmUp(const QUrl &url)
{
    ProxyFactory *factory = installed();
    if (!factory || factory->m_setting.mode != Mode::System)
        return QFuture<void>();
    const QNetworkProxyQuery query(url);
    QList<QNetworkProxy> proxies;
    if (factory->findKept(keyOf(query), proxies) == Found::Fresh)
        return QFuture<void>();
    return factory->lookUpLater(query);
}

// Qt sends nothing for a loopback host through a proxy.
bool ProxyFactory::usesProxy(const QUrl &url)
{
    const QString host = url.host().toLower();
    ProxyFactory *factory = installed();
    if (!factory || host == QLatin1String("localhost") || host.startsWith(QLatin1String("localhost."))
        || QHostAddress(host).isLoopback())
        return false;
    QList<QNetworkProxy> proxies { factory->m_setting.fixed };
    if (factory->m_setting.mode == Mode::System
        && factory->findKept(keyOf(QNetworkProxyQuery(url)), proxies) == Found::Missing)
        return false;
    return !proxies.isEmpty() && proxies.first().type() == QNetworkProxy::HttpProxy;
}

// Qt asks on the thread that sends the request; the GUI thread gets what is kept.
QList<QNetworkProxy> ProxyFactory::queryProxy(const QNetworkProxyQuery &query)
{
    if (m_setting.mode != Mode::System)
        return { m_setting.fixed };
    QList<QNetworkProxy> proxies;
    const Found found = findKept(keyOf(query), proxies);
    if (found == Found::Fresh)
        return proxies;
    if (!onGuiThread())
        return lookUp(*m_cache, query);
    lookUpLater(query);
    if (found == Found::Stale)
        return proxies;
    qCDebug(coreLog) << "proxy for" << query.peerHostName() << "not known yet, none used";
    return { QNetworkProxy(QNetworkProxy::NoProxy) };
}

QString ProxyFactory::keyOf(const QNetworkProxyQuery &query)
{
    return query.url().scheme().toLower() + QStringLiteral("://") + query.peerHostName().toLower()
        + QLatin1Char(':') + QString::number(query.peerPort());
}

ProxyFactory::Found ProxyFactory::findKept(const QString &key, QList<QNetworkProxy> &proxies)
{
    QMutexLocker locker(&m_cache->lock);
    const auto found = m_cache->kept.constFind(key);
    if (found == m_cache->kept.cend())
        return Found::Missing;
    proxies = found->proxies;
    return found->until > now() ? Found::Fresh : Found::Stale;
}

// One look-up at a time for each key.
QFuture<void> ProxyFactory::lookUpLater(const QNetworkProxyQuery &query)
{
    const QString key = keyOf(query);
    {
        QMutexLocker locker(&m_cache->lock);
        if (m_cache->pending.contains(key))
            return QFuture<void>();
        m_cache->pending.insert(key);
    }
    const std::shared_ptr<Cache> cache = m_cache;
    return QtConcurrent::run([cache, query, key] {
        lookUp(*cache, query);
        QMutexLocker locker(&cache->lock);
        cache->pending.remove(key);
    });
}

QList<QNetworkProxy> ProxyFactory::lookUp(Cache &cache, const QNetworkProxyQuery &query)
{
    const SystemProxy::Answer answer = SystemProxy::lookup(query);
    QList<QNetworkProxy> proxies = answer.proxies;
    if (proxies.isEmpty())
        proxies << QNetworkProxy(QNetworkProxy::NoProxy);
    if (!answer.failed) {
        QMutexLocker locker(&cache.lock);
        cache.kept.insert(keyOf(query), { proxies, now() + cacheLifetimeMs });
    }
    return proxies;
}
