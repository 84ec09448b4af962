#ifndef NETWORK_H
#define NETWORK_H

#include "service/errorinfo.h"

#include <QByteArray>
#include <QMutex>
#include <QObject>
#include <QPointer>
#include <QString>

class NetworkCall;
class QNetworkAccessManager;
class QUrl;
class QNetworkReply;
class QNetworkRequest;

// A named HTTP client bound to a server root. get() and post() start a request and return
// at once with a NetworkCall that reports its end; runCmd() and getPostResult() are the same
// requests made synchronous with one wait (LocalWait) for the callers that rely on them.
// Windows use the calls and never wait.
class Network : public QObject
{
    Q_OBJECT

public:
    // Why the last request failed, as ErrorInfo::code(). A reply with a status outside
    // 2xx has that HTTP status (100-599) as its code instead.
    enum Failure
    {
        NoFailure = 0,
        CannotConnect = 1, // refused, unreachable or dropped connection
        TimedOut = 2, // no data for transferTimeout(), or the whole request beyond deadline()
        InvalidReply = 3, // set by callers that cannot use the reply text
        Interrupted = 4, // the wait ended early because the application is quitting
        CertificateRefused = 5, // the server's TLS certificate is not trusted; the message says why
        ProxyNeedsSignIn = 6, // the proxy answered 407: no sign-in kept, or it refused the kept one
        ProxyRefused = 7, // the proxy refused the connection or closed it
        ProxyUnreachable = 8, // the proxy's host is not found or cannot be reached
        ProxyTimedOut = 9, // the proxy did not answer in time
    };
    // The Failure of a reply's proxy error, or of a connection error where the request
    // for url went through a proxy; NoFailure for any other error.
    static Failure proxyFailure(int networkError, const QUrl &url);

    // A device-service request that moves no data for this long is abandoned: the task
    // window reloads every 5 s and says when the service fails, so a longer silence is
    // better reported than waited out.
    static constexpr int DeviceRequestIdleTimeoutMs = 10000;
    // No request, however steadily it trickles, takes longer than this.
    static constexpr int DefaultDeadlineMs = 30000;

    // The process-wide instance for name, created on first use. Safe to call before the
    // application object exists; the instance lives until the process ends.
    static Network *getInstance(QString name);

    // The server root, an absolute URL ending with "/"; write it while holding mutex.
    QString rootUrl;
    QMutex mutex;

    // Starts a GET of rootUrl followed by path; the call belongs to parent (abandoned with it).
    NetworkCall *get(const QString &path, QObject *parent = nullptr);
    // Starts a POST of body as a url-encoded form to rootUrl followed by path.
    NetworkCall *post(const QString &path, const QByteArray &body, QObject *parent = nullptr);

    // Qt's words for why the server's certificate was refused, kept on the reply.
    static const char certificateProblemProperty[];

    // GETs rootUrl followed by path. flag is unused and kept for callers that pass it.
    // Returns the reply body, or "" on a transport error, a time-out or a non-2xx status.
    QString runCmd(QString path, bool flag);
    // POSTs body as a url-encoded form to rootUrl followed by path; result as runCmd.
    QString getPostResult(QString path, QByteArray &body);

    // The outcome of the request that finished last: no error after a success.
    ErrorInfo lastError() const;

    void setTransferTimeout(int milliseconds);
    int transferTimeout() const;
    void setDeadline(int milliseconds);
    int deadline() const;

private:
    explicit Network(const QString &name);

    QNetworkAccessManager *manager();
    bool makeRequest(const QString &path, QNetworkRequest *request, ErrorInfo &refusal);
    NetworkCall *watch(QNetworkReply *reply, const QString &path, QObject *parent);
    QString waitForBody(NetworkCall *call);

    const QString m_name;
    int m_timeoutMs = DeviceRequestIdleTimeoutMs;
    int m_deadlineMs = DefaultDeadlineMs;
    ErrorInfo m_lastError;
    QPointer<QNetworkAccessManager> m_manager;
};

#endif // NETWORK_H
