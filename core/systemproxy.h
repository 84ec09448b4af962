#ifndef SYSTEMPROXY_H
#define SYSTEMPROXY_H

#include <QList>
#include <QNetworkProxy>
#include <QNetworkProxyQuery>
#include <QString>

// The system's proxy for one request. On Windows that is the Internet settings with PAC and
// WPAD, as Qt's system proxy factory reads them; elsewhere the environment: http_proxy,
// https_proxy and no_proxy, each in lower case and, where that is unset, in upper case.
// A look-up may take seconds (a WPAD search), so it never runs on the GUI thread.
class SystemProxy
{
public:
    struct Answer
    {
        QList<QNetworkProxy> proxies;
        // The look-up failed and the answer is a fallback, not to be kept.
        bool failed = false;
    };

    static Answer lookup(const QNetworkProxyQuery &query);
    // The environment's answer; env reads a variable.
    template <typename Env>
    static Answer fromEnvironment(const QNetworkProxyQuery &query, Env env);

private:
    static Answer fromEnvironmentValues(
        const QNetworkProxyQuery &query, const QString &proxy, const QString &noProxy);
    static bool bypasses(const QString &host, const QString &noProxy);
};

template <typename Env>
SystemProxy::Answer SystemProxy::fromEnvironment(const QNetworkProxyQuery &query, Env env)
{
    const auto either = [&env](const char *lower, const char *upper) {
        const QString value = env(lower);
        return value.isNull() ? env(upper) : value;
    };
    const bool https = query.url().scheme().compare(QLatin1String("https"), Qt::CaseInsensitive) == 0;
    const QString proxy = https ? either("https_proxy", "HTTPS_PROXY") : either("http_proxy", "HTTP_PROXY");
    return fromEnvironmentValues(query, proxy, either("no_proxy", "NO_PROXY"));
}

#endif // SYSTEMPROXY_H
