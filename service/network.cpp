#include "service/network.h"

#include "core/proxycredentials.h"
#include "core/proxyfactory.h"
#include "core/tracelog.h"
#include "service/networkcall.h"

#include <QCoreApplication>
#include <QDebug>
#include <QMutexLocker>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QSslError>
#include <QThread>
#include <QUrl>

#include <map>
#include <memory>

namespace {

QUrl requestUrl(const QString &root, const QString &path)
{
    // Strict parsing keeps escapes such as "%2F" exactly as the caller wrote them; a path
    // with raw characters that need escaping gets the tolerant parser, which escapes them.
    const QString text = root + path;
    QUrl url = QUrl::fromEncoded(text.toUtf8(), QUrl::StrictMode);
    if (!url.isValid())
        url = QUrl(text, QUrl::TolerantMode);
    return url;
}

void rememberCertificateProblem(QNetworkReply *reply, const QList<QSslError> &errors)
{
    QStringList reasons;
    for (const QSslError &error : errors)
        reasons << error.errorString();
    reply->setProperty(Network::certificateProblemProperty, reasons.join(QStringLiteral("; ")));
}

} // namespace

const char Network::certificateProblemProperty[] = "quilletCertificateProblem";

Network *Network::getInstance(QString name)
{
    static QMutex registryMutex;
    static std::map<QString, std::unique_ptr<Network>> registry;

    QMutexLocker locker(&registryMutex);
    std::unique_ptr<Network> &slot = registry[name];
    if (!slot)
        slot.reset(new Network(name));
    return slot.get();
}

Network::Network(const QString &name)
    : m_name(name)
{ }

void Network::setTransferTimeout(int milliseconds)
{
    m_timeoutMs = qMax(0, milliseconds);
}

int Network::transferTimeout() const
{
    return m_timeoutMs;
}

// 0 lets a request run as long as it keeps moving data.
void Network::setDeadline(int milliseconds)
{
    m_deadlineMs = qMax(0, milliseconds);
}

int Network::deadline() const
{
    return m_deadlineMs;
}

ErrorInfo Network::lastError() const
{
    return m_lastError;
}

NetworkCall *Network::get(const QString &path, QObject *parent)
{
    QNetworkRequest request;
    ErrorInfo refusal;
    if (!makeRequest(path, &request, refusal))
        return new NetworkCall(path, refusal, parent);
    return watch(manager()->get(request), path, parent);
}

NetworkCall *Network::post(const QString &path, const QByteArray &body, QObject *parent)
{
    QNetworkRequest request;
    ErrorInfo refusal;
    if (!makeRequest(path, &request, refusal))
        return new NetworkCall(path, refusal, parent);
    request.setHeader(
        QNetworkRequest::ContentTypeHeader, QByteArrayLiteral("application/x-www-form-urlencoded"));
    return watch(manager()->post(request, body), path, parent);
}

NetworkCall *Network::watch(QNetworkReply *reply, const QString &path, QObject *parent)
{
    return new NetworkCall(reply, path, m_timeoutMs, m_deadlineMs, parent);
}

QString Network::runCmd(QString path, bool flag)
{
    Q_UNUSED(flag)
    return waitForBody(get(path));
}

QString Network::getPostResult(QString path, QByteArray &body)
{
    return waitForBody(post(path, body));
}

QString Network::waitForBody(NetworkCall *rawCall)
{
    const std::unique_ptr<NetworkCall> call(rawCall);
    call->waitForFinished();
    m_lastError = call->error();
    return call->body();
}

// The manager is made on first use, because instances are created before the application
// object exists; it is a child of the application so that it goes away with it. A moved
// service is followed, but never from https to http. Certificate errors are never ignored:
// they are only remembered to say why the request failed.
QNetworkAccessManager *Network::manager()
{
    if (!m_manager) {
        m_manager = new QNetworkAccessManager(QCoreApplication::instance());
        m_manager->setRedirectPolicy(QNetworkRequest::NoLessSafeRedirectPolicy);
        connect(m_manager, &QNetworkAccessManager::sslErrors, m_manager, &rememberCertificateProblem);
        ProxyCredentials::watch(m_manager);
    }
    return m_manager;
}

bool Network::makeRequest(const QString &path, QNetworkRequest *request, ErrorInfo &refusal)
{
    QCoreApplication *app = QCoreApplication::instance();
    if (!app || QThread::currentThread() != app->thread()) {
        refusal.set(CannotConnect, QStringLiteral("requests need the application's thread"));
        return false;
    }

    QString root;
    {
        QMutexLocker locker(&mutex);
        root = rootUrl;
    }
    const QUrl url = requestUrl(root, path);
    if (!url.isValid() || url.isRelative()) {
        refusal.set(CannotConnect, QStringLiteral("invalid address ") + url.errorString());
        return false;
    }
    request->setUrl(url);
    request->setTransferTimeout(m_timeoutMs);
    return true;
}

Network::Failure Network::proxyFailure(int networkError, const QUrl &url)
{
    switch (networkError) {
    case QNetworkReply::ConnectionRefusedError:
    case QNetworkReply::RemoteHostClosedError:
        return ProxyFactory::usesProxy(url) ? ProxyRefused : NoFailure;
    case QNetworkReply::HostNotFoundError:
        return ProxyFactory::usesProxy(url) ? ProxyUnreachable : NoFailure;
    case QNetworkReply::ProxyAuthenticationRequiredError:
        return ProxyNeedsSignIn;
    case QNetworkReply::ProxyConnectionRefusedError:
    case QNetworkReply::ProxyConnectionClosedError:
        return ProxyRefused;
    case QNetworkReply::ProxyNotFoundError:
    case QNetworkReply::UnknownProxyError:
        return ProxyUnreachable;
    case QNetworkReply::ProxyTimeoutError:
        return ProxyTimedOut;
    default:
        return NoFailure;
    }
}
