#include "network.h"

#include <QCoreApplication>
#include <QDebug>
#include <QEventLoop>
#include <QMutexLocker>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QNetworkRequest>
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
// object exists; it is a child of the application so that it goes away with it.
QNetworkAccessManager *Network::manager()
{
    if (!m_manager)
        m_manager = new QNetworkAccessManager(QCoreApplication::instance());
    return m_manager;
}

bool Network::makeRequest(const QString &path, QNetworkRequest *request)
{
    QCoreApplication *app = QCoreApplication::instance();
    if (!app || QThread::currentThread() != app->thread()) {
        qDebug() << "Network request failed:" << path << "requests need the application's thread";
        return false;
    }

    QString root;
    {
        QMutexLocker locker(&mutex);
        root = rootUrl;
    }
    const QUrl url = requestUrl(root, path);
    if (!url.isValid() || url.isRelative()) {
        qDebug() << "Network request failed:" << path << "invalid address" << url.errorString();
        return false;
    }
    request->setUrl(url);
    request->setTransferTimeout(m_timeoutMs);
    return true;
}

QString Network::waitForBody(QNetworkReply *rawReply, const QString &path)
{
    const std::unique_ptr<QNetworkReply> reply(rawReply);
    if (!reply->isFinished()) {
        QEventLoop loop;
        connect(reply.get(), &QNetworkReply::finished, &loop, &QEventLoop::quit);
        loop.exec(QEventLoop::ExcludeUserInputEvents);
    }

    const QVariant status = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute);
    if (reply->error() == QNetworkReply::OperationCanceledError) {
        qDebug() << "Network request failed:" << path
                 << QStringLiteral("timed out after %1 ms").arg(m_timeoutMs);
        return QString();
    }
    if (reply->error() != QNetworkReply::NoError) {
        qDebug() << "Network request failed:" << path << reply->errorString();
        return QString();
    }
    if (!isSuccessStatus(status)) {
        qDebug() << "Network request failed:" << path << "HTTP status" << status.toInt();
        return QString();
    }
    return QString::fromUtf8(reply->readAll());
}
