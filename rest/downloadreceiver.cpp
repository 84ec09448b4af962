#include "rest/downloadreceiver.h"

#include "core/proxyfactory.h"
#include "rest/downloadsink.h"
#include "rest/restlog.h"

#include <QDebug>
#include <QNetworkReply>
#include <QNetworkRequest>

namespace {

// The most a download reads from the reply at once.
const qint64 pieceSize = 1 << 20;

// progress() is emitted at most this often, in milliseconds.
const qint64 progressInterval = 100;

// The rate floor is checked this many times per rate window.
const int rateSamples = 6;

// After a redirect Qt 5 keeps the redirect's own headers and joins the final response's to
// them ("0, 15000"). What the headers said when the reply was redirected is kept on the
// reply, so that only the final response's part is read.
const char *const redirectHeadersProperty = "quilletRedirectHeaders";

void rememberRedirectHeaders(QNetworkReply *reply)
{
    const QVariantMap headers { { QStringLiteral("Content-Length"), reply->rawHeader("Content-Length") },
        { QStringLiteral("Content-Encoding"), reply->rawHeader("Content-Encoding") } };
    reply->setProperty(redirectHeadersProperty, headers);
}

QByteArray finalHeader(QNetworkReply *reply, const char *name)
{
    const QByteArray value = reply->rawHeader(name);
    const QByteArray before
        = reply->property(redirectHeadersProperty).toMap().value(QLatin1String(name)).toByteArray();
    if (before.isEmpty() || !value.startsWith(before))
        return value;
    QByteArray rest = value.mid(before.size());
    if (rest.startsWith(','))
        rest.remove(0, 1);
    return rest.trimmed();
}

// The announced body length, or -1 when it is unknown or describes an encoded body.
qint64 announcedLength(QNetworkReply *reply)
{
    const QByteArray encoding = finalHeader(reply, "Content-Encoding").trimmed().toLower();
    if (!encoding.isEmpty() && encoding != "identity")
        return -1;
    bool known = false;
    const qint64 bytes = finalHeader(reply, "Content-Length").trimmed().toLongLong(&known);
    return known ? bytes : -1;
}

// A proxy's failure is told apart from the server's: the service may be fine.
DownloadReceiver::Result proxyOutcome(QNetworkReply::NetworkError error, const QUrl &url)
{
    using Result = DownloadReceiver::Result;
    switch (error) {
    case QNetworkReply::ConnectionRefusedError:
    case QNetworkReply::RemoteHostClosedError:
        return ProxyFactory::usesProxy(url) ? Result::ProxyRefused : Result::Saved;
    case QNetworkReply::HostNotFoundError:
        return ProxyFactory::usesProxy(url) ? Result::ProxyUnreachable : Result::Saved;
    case QNetworkReply::ProxyAuthenticationRequiredError:
        return Result::ProxyNeedsSignIn;
    case QNetworkReply::ProxyConnectionRefusedError:
    case QNetworkReply::ProxyConnectionClosedError:
        return Result::ProxyRefused;
    case QNetworkReply::ProxyNotFoundError:
    case QNetworkReply::UnknownProxyError:
        return Result::ProxyUnreachable;
    case QNetworkReply::ProxyTimeoutError:
        return Result::ProxyTimedOut;
    default:
        return Result::Saved;
    }
}

int httpStatus(QNetworkReply *reply)
{
    const QVariant status = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute);
    return status.isValid() ? status.toInt() : 0;
}

} // namespace

DownloadReceiver::DownloadReceiver(QNetworkReply *reply, DownloadSink &sink, const Limits &limits)
    : m_reply(reply)
    , m_sink(sink)
    , m_limits(limits)
    , m_rateWindow { 0 }
{
    m_sink.setLimits(limits.maxBytes, limits.spareBytes);
    connect(reply, &QNetworkReply::redirected, this, [reply] { rememberRedirectHeaders(reply); });
    connect(reply, &QNetworkReply::metaDataChanged, this, &DownloadReceiver::checkHeaders);
    connect(reply, &QIODevice::readyRead, this, &DownloadReceiver::step);
    connect(reply, &QNetworkReply::finished, this, &DownloadReceiver::step);
    connect(&sink, &DownloadSink::idle, this, &DownloadReceiver::step);
    connect(
        reply, &QNetworkReply::downloadProgress, this, [this](qint64 bytes, qint64) { m_arrived = bytes; });
    m_rateCheck.setInterval(qMax(1, m_limits.rateWindowMs / rateSamples));
    connect(&m_rateCheck, &QTimer::timeout, this, &DownloadReceiver::checkRate);
    // A finished reply is judged as it stands, however long a deeper event loop keeps this
    // one from returning.
    connect(reply, &QNetworkReply::finished, &m_rateCheck, &QTimer::stop);
}

// Returns Saved when the whole body went to the sink, otherwise why the transfer was given up.
DownloadReceiver::Result DownloadReceiver::receive()
{
    m_sinceProgress.start();
    m_rateCheck.start();
    checkHeaders();
    step();
    if (!isDone())
        m_wait.exec();
    // A wait interrupted by the application quitting ends before the transfer is done: it is
    // abandoned, and the caller's cancel waits for the piece being written.
    if (!isDone()) {
        m_reply->abort();
        qCWarning(restLog) << "download abandoned: the wait for it was interrupted";
        return Result::NetworkError;
    }
    emit progress(m_received, announcedLength(m_reply));
    return outcome();
}

// An error page is not written at all. Only a plain body's announced length is its size on
// disk.
void DownloadReceiver::checkHeaders()
{
    const int status = httpStatus(m_reply);
    // Qt answers a proxy's 407 itself and fails the reply when it cannot: the outcome says so.
    if (status == 407)
        return;
    if (status >= 400) {
        qCWarning(restLog).nospace() << "download refused: HTTP " << status;
        refuse(Result::HttpError);
        return;
    }
    const qint64 length = announcedLength(m_reply);
    if (length > m_limits.maxBytes)
        refuse(Result::TooLarge);
    else if (length > m_limits.spareBytes)
        refuse(Result::NoSpace);
}

void DownloadReceiver::step()
{
    pump();
    if (!isDone())
        return;
    if (m_refusal != Result::Saved || m_sink.hasFailed() || !m_reply->isReadable()
        || m_reply->bytesAvailable() == 0)
        m_wait.end();
}

// Hands what has arrived to the sink, as far as its queue has room; the rest waits in the
// reply until the sink is idle again.
void DownloadReceiver::pump()
{
    if (m_refusal != Result::Saved)
        return;
    if (m_sink.hasFailed()) {
        qCWarning(restLog).noquote().nospace()
            << "cannot write " << m_sink.fileName() << ": " << m_sink.errorString();
        refuse(m_sink.failure());
        return;
    }
    if (!knowEncoding())
        return;
    while (m_sink.wantsMore() && m_reply->bytesAvailable() > 0) {
        const QByteArray piece = m_reply->read(qMin(m_reply->bytesAvailable(), pieceSize));
        m_received += piece.size();
        m_sink.write(piece);
    }
    reportProgress();
}

// The encoding is known with the first byte of the body, redirects followed.
bool DownloadReceiver::knowEncoding()
{
    if (m_encodingKnown || m_reply->bytesAvailable() == 0)
        return true;
    m_encodingKnown = true;
    const QByteArray encoding = finalHeader(m_reply, "Content-Encoding");
    if (m_sink.setEncoding(encoding))
        return true;
    qCWarning(restLog).noquote().nospace() << "cannot decode " << encoding;
    refuse(Result::NetworkError);
    return false;
}

void DownloadReceiver::reportProgress()
{
    if (m_sinceProgress.elapsed() < progressInterval)
        return;
    m_sinceProgress.restart();
    emit progress(m_received, announcedLength(m_reply));
}

// The rate counts what the network delivered, whether or not the disk has taken it yet.
void DownloadReceiver::checkRate()
{
    m_rateWindow.append(m_arrived);
    if (m_rateWindow.size() <= rateSamples)
        return;
    const qint64 moved = m_rateWindow.last() - m_rateWindow.first();
    m_rateWindow.removeFirst();
    if (moved * 1000 >= m_limits.minimumRate * m_limits.rateWindowMs)
        return;
    qCWarning(restLog).nospace() << "download too slow: " << moved << " BYTES in " << m_limits.rateWindowMs
                                 << " ms";
    refuse(Result::TooSlow);
}

bool DownloadReceiver::isDone() const
{
    return m_reply->isFinished() && !m_sink.isBusy();
}

// The first reason to give up is the one reported.
void DownloadReceiver::refuse(Result why)
{
    if (m_refusal == Result::Saved)
        m_refusal = why;
    m_reply->abort();
}

DownloadReceiver::Result DownloadReceiver::outcome() const
{
    if (m_refusal != Result::Saved)
        return m_refusal;
    if (m_sink.hasFailed())
        return m_sink.failure();
    const Result transferred = transferOutcome();
    if (transferred == Result::Saved && !m_sink.isComplete()) {
        qCWarning(restLog) << "download incomplete: the gzip body ends early";
        return Result::Incomplete;
    }
    return transferred;
}

// How a reply that the client did not give up on ended.
DownloadReceiver::Result DownloadReceiver::transferOutcome() const
{
    // The redirect's own status stays on a reply whose redirect was refused.
    if (m_reply->error() == QNetworkReply::InsecureRedirectError) {
        qCWarning(restLog) << "download refused: it redirects from https to http";
        return Result::InsecureRedirect;
    }
    const Result proxy = proxyOutcome(m_reply->error(), m_reply->url());
    if (proxy != Result::Saved) {
        qCWarning(restLog).noquote() << "download failed at the proxy:" << m_reply->errorString();
        return proxy;
    }
    // Likewise after a redirect into https whose certificate was refused.
    if (m_reply->error() == QNetworkReply::SslHandshakeFailedError)
        return Result::CertificateRefused;
    const int status = httpStatus(m_reply);
    if (status != 0 && status / 100 != 2) {
        qCWarning(restLog).nospace() << "download refused: HTTP " << status;
        return Result::HttpError;
    }
    const qint64 expected = announcedLength(m_reply);
    const bool cutShort = expected >= 0 && expected != m_received;
    if (cutShort)
        qCWarning(restLog).nospace() << "download incomplete: " << m_received << " of " << expected
                                     << " BYTES";
    // Transport errors have been logged by onError. Only the transfer time-out aborts a
    // reply that the client did not abort itself.
    switch (m_reply->error()) {
    case QNetworkReply::NoError:
        return cutShort ? Result::Incomplete : Result::Saved;
    case QNetworkReply::TimeoutError:
    case QNetworkReply::OperationCanceledError:
        return Result::TimedOut;
    default:
        return cutShort && m_received > 0 ? Result::Incomplete : Result::NetworkError;
    }
}
