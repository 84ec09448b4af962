#include "service/network.h"

#include "core/localwait.h"
#include "core/tracelog.h"

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

bool isSuccessStatus(const QVariant &status)
{
    // A non-HTTP reply carries no status; only a present status outside 2xx is a failure.
    if (!status.isValid())
        return true;
    const int code = status.toInt();
    return code >= 200 && code < 300;
}

// Waits with all events delivered. The deadline abandons the reply at once, as the
// inactivity time-out does.
LocalWait::Ended waitForFinished(QNetworkReply *reply, int deadlineMs)
{
    if (reply->isFinished())
        return LocalWait::Ended::Signalled;
    LocalWait wait(deadlineMs);
    wait.endOn(reply, &QNetworkReply::finished);
    QObject::connect(&wait, &LocalWait::deadlinePassed, reply, &QNetworkReply::abort);
    const LocalWait::Ended ended = wait.exec();
    if (ended == LocalWait::Ended::Interrupted)
        reply->abort();
    return ended;
}

// Qt's own words for why a certificate was refused, kept on the reply until it finishes.
const char certificateProblemProperty[] = "quilletCertificateProblem";

void rememberCertificateProblem(QNetworkReply *reply, const QList<QSslError> &errors)
{
    QStringList reasons;
    for (const QSslError &error : errors)
        reasons << error.errorString();
    reply->setProperty(certificateProblemProperty, reasons.join(QStringLiteral("; ")));
}

} // namespace

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

QString Network::runCmd(QString path, bool flag)
{
    Q_UNUSED(flag)
    QNetworkRequest request;
    if (!makeRequest(path, &request))
        return QString();
    return waitForBody(manager()->get(request), path);
}

QString Network::getPostResult(QString path, QByteArray &body)
{
    QNetworkRequest request;
    if (!makeRequest(path, &request))
        return QString();
    request.setHeader(
        QNetworkRequest::ContentTypeHeader, QByteArrayLiteral("application/x-www-form-urlencoded"));
    return waitForBody(manager()->post(request, body), path);
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
    }
    return m_manager;
}

bool Network::makeRequest(const QString &path, QNetworkRequest *request)
{
    m_lastError.clear();
    QCoreApplication *app = QCoreApplication::instance();
    if (!app || QThread::currentThread() != app->thread()) {
        fail(path, CannotConnect, QStringLiteral("requests need the application's thread"));
        return false;
    }

    QString root;
    {
        QMutexLocker locker(&mutex);
        root = rootUrl;
    }
    const QUrl url = requestUrl(root, path);
    if (!url.isValid() || url.isRelative()) {
        fail(path, CannotConnect, QStringLiteral("invalid address ") + url.errorString());
        return false;
    }
    request->setUrl(url);
    request->setTransferTimeout(m_timeoutMs);
    return true;
}

QString Network::waitForBody(QNetworkReply *rawReply, const QString &path)
{
    const std::unique_ptr<QNetworkReply> reply(rawReply);
    const LocalWait::Ended waited = waitForFinished(reply.get(), m_deadlineMs);
    if (waited == LocalWait::Ended::Interrupted) {
        fail(path, Interrupted, QStringLiteral("interrupted, the application is quitting"));
        return QString();
    }
    if (waited == LocalWait::Ended::PastDeadline) {
        fail(path, TimedOut, QStringLiteral("no reply within %1 ms").arg(m_deadlineMs));
        return QString();
    }

    const QVariant status = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute);
    if (reply->error() == QNetworkReply::OperationCanceledError) {
        fail(path, TimedOut, QStringLiteral("timed out after %1 ms").arg(m_timeoutMs));
        return QString();
    }
    if (reply->error() == QNetworkReply::SslHandshakeFailedError) {
        const QString problem = reply->property(certificateProblemProperty).toString();
        fail(path, CertificateRefused, problem.isEmpty() ? reply->errorString() : problem);
        return QString();
    }
    if (reply->error() == QNetworkReply::InsecureRedirectError) {
        fail(path, CannotConnect, QStringLiteral("redirect from https to http refused"));
        return QString();
    }
    if (reply->error() != QNetworkReply::NoError && isSuccessStatus(status)) {
        fail(path, CannotConnect, reply->errorString());
        return QString();
    }
    // Qt's text for a failing status quotes the whole address, and a sign-in's holds the
    // password's MD5, which the service accepts as the password: the reason goes to the log.
    if (!isSuccessStatus(status)) {
        fail(path, status.toInt(), QStringLiteral("HTTP status %1").arg(status.toInt()));
        return QString();
    }
    m_lastError.clear();
    return QString::fromUtf8(reply->readAll());
}

void Network::fail(const QString &path, int code, const QString &reason)
{
    qCDebug(traceLog) << "Network request failed:" << path << reason;
    m_lastError.set(code, reason);
}
