#include "service/networkcall.h"

#include "core/localwait.h"
#include "core/tracelog.h"
#include "service/network.h"

#include <QCoreApplication>
#include <QDebug>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QTimer>

namespace {

bool isSuccessStatus(const QVariant &status)
{
    // A non-HTTP reply carries no status; only a present status outside 2xx is a failure.
    if (!status.isValid())
        return true;
    const int code = status.toInt();
    return code >= 200 && code < 300;
}

} // namespace

NetworkCall::NetworkCall(
    QNetworkReply *reply, const QString &path, int idleTimeoutMs, int deadlineMs, QObject *parent)
    : QObject(parent)
    , m_reply(reply)
    , m_path(path)
    , m_idleTimeoutMs(idleTimeoutMs)
    , m_deadlineMs(deadlineMs)
{
    reply->setParent(this);
    connect(reply, &QNetworkReply::finished, this, &NetworkCall::conclude);
    m_deadline.setSingleShot(true);
    connect(&m_deadline, &QTimer::timeout, this, [this] {
        m_pastDeadline = true;
        if (m_reply)
            m_reply->abort();
    });
    if (deadlineMs > 0)
        m_deadline.start(deadlineMs);
    if (QCoreApplication *app = QCoreApplication::instance())
        connect(app, &QCoreApplication::aboutToQuit, this, &NetworkCall::interrupt);
    if (reply->isFinished())
        QTimer::singleShot(0, this, &NetworkCall::conclude);
}

NetworkCall::NetworkCall(const QString &path, const ErrorInfo &refusal, QObject *parent)
    : QObject(parent)
    , m_path(path)
{
    QTimer::singleShot(0, this, [this, refusal] {
        fail(refusal.code(), refusal.message());
        finish();
    });
}

// An abandoned reply must not report into a call that is going away.
NetworkCall::~NetworkCall()
{
    if (m_reply && !m_reply->isFinished()) {
        disconnect(m_reply, nullptr, this, nullptr);
        m_reply->abort();
    }
}

bool NetworkCall::isFinished() const
{
    return m_finished;
}

QString NetworkCall::body() const
{
    return m_body;
}

ErrorInfo NetworkCall::error() const
{
    return m_error;
}

void NetworkCall::waitForFinished()
{
    if (m_finished)
        return;
    if (LocalWait::until(this, &NetworkCall::finished) == LocalWait::Ended::Interrupted && !m_finished)
        interrupt();
}

void NetworkCall::interrupt()
{
    if (m_finished)
        return;
    m_interrupted = true;
    if (m_reply && !m_reply->isFinished()) {
        m_reply->abort();
        return;
    }
    conclude();
}

void NetworkCall::conclude()
{
    if (m_finished)
        return;
    m_deadline.stop();
    QNetworkReply *reply = m_reply;
    const QVariant status = reply ? reply->attribute(QNetworkRequest::HttpStatusCodeAttribute) : QVariant();
    if (m_interrupted)
        fail(Network::Interrupted, QStringLiteral("interrupted, the application is quitting"));
    else if (!reply)
        fail(Network::CannotConnect, QStringLiteral("the request went away"));
    else if (m_pastDeadline)
        fail(Network::TimedOut, QStringLiteral("no reply within %1 ms").arg(m_deadlineMs));
    else if (reply->error() == QNetworkReply::OperationCanceledError)
        fail(Network::TimedOut, QStringLiteral("timed out after %1 ms").arg(m_idleTimeoutMs));
    else if (reply->error() == QNetworkReply::SslHandshakeFailedError) {
        const QString problem = reply->property(Network::certificateProblemProperty).toString();
        fail(Network::CertificateRefused, problem.isEmpty() ? reply->errorString() : problem);
    } else if (const Network::Failure proxy = Network::proxyFailure(reply->error(), reply->url()))
        fail(proxy, QStringLiteral("proxy failure %1").arg(int(reply->error())));
    else if (reply->error() == QNetworkReply::InsecureRedirectError)
        fail(Network::CannotConnect, QStringLiteral("redirect from https to http refused"));
    else if (reply->error() != QNetworkReply::NoError && isSuccessStatus(status))
        fail(Network::CannotConnect, reply->errorString());
    // Qt's text for a failing status quotes the whole address, and a sign-in's holds the
    // password's MD5, which the service accepts as the password: the reason goes to the log.
    else if (!isSuccessStatus(status))
        fail(status.toInt(), QStringLiteral("HTTP status %1").arg(status.toInt()));
    else
        m_body = QString::fromUtf8(reply->readAll());
    finish();
}

void NetworkCall::fail(int code, const QString &reason)
{
    qCDebug(traceLog) << "Network request failed:" << m_path << reason;
    m_error.set(code, reason);
}

void NetworkCall::finish()
{
    m_finished = true;
    emit finished();
}
