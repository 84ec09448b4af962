#include "core/systemproxy.h"

#include "core/corelog.h"

#include <QElapsedTimer>
#include <QNetworkProxyFactory>
#include <QStringList>
#include <QUrl>

namespace {

#ifdef Q_OS_WIN
// A WPAD search that gives up takes this long or more; Qt then answers with the static
// settings or none, and says nothing of the failure.
constexpr qint64 givenUpAfterMs = 5000;
#else
QString environment(const char *name)
{
    return qEnvironmentVariableIsSet(name) ? qEnvironmentVariable(name) : QString();
}
#endif

} // namespace

SystemProxy::Answer SystemProxy::lookup(const QNetworkProxyQuery &query)
{
#ifdef Q_OS_WIN
    QElapsedTimer clock;
    clock.start();
    Answer answer { QNetworkProxyFactory::systemProxyForQuery(query), false };
    answer.failed = answer.proxies.isEmpty()
        || (clock.elapsed() >= givenUpAfterMs && answer.proxies.first().type() == QNetworkProxy::NoProxy);
    return answer;
#else
    return fromEnvironment(query, environment);
#endif
}

// "host:port" without a scheme is an HTTP proxy, as curl reads it.
SystemProxy::Answer SystemProxy::fromEnvironmentValues(
    const QNetworkProxyQuery &query, const QString &proxy, const QString &noProxy)
{
    const QList<QNetworkProxy> none { QNetworkProxy(QNetworkProxy::NoProxy) };
    if (proxy.trimmed().isEmpty() || bypasses(query.peerHostName(), noProxy))
        return { none, false };
    const QString text = proxy.trimmed();
    const QUrl url = QUrl(text.contains(QLatin1String("://")) ? text : QStringLiteral("http://") + text);
    if (!url.isValid() || url.host().isEmpty() || url.scheme().toLower() != QLatin1String("http")) {
        qCWarning(coreLog) << "proxy from the environment not understood, none used:" << url.host();
        return { none, true };
    }
    return { { QNetworkProxy(QNetworkProxy::HttpProxy, url.host(), quint16(url.port(8080)), url.userName(),
                 url.password()) },
        false };
}

// Entries are host names or domains (".example.com" or "example.com" match the domain and
// its hosts), "*" matches every host; a port after a name is ignored.
bool SystemProxy::bypasses(const QString &host, const QString &noProxy)
{
    const QString lowerHost = host.toLower();
    const QStringList entries = noProxy.split(QLatin1Char(','), Qt::SkipEmptyParts);
    for (QString entry : entries) {
        entry = entry.trimmed().toLower();
        if (entry == QLatin1String("*"))
            return true;
        if (!entry.startsWith(QLatin1Char('[')) && entry.count(QLatin1Char(':')) == 1)
            entry = entry.section(QLatin1Char(':'), 0, 0);
        while (entry.startsWith(QLatin1Char('.')) || entry.startsWith(QLatin1Char('*')))
            entry.remove(0, 1);
        if (!entry.isEmpty() && (lowerHost == entry || lowerHost.endsWith(QLatin1Char('.') + entry)))
            return true;
    }
    return false;
}
