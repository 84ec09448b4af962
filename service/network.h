#ifndef NETWORK_H
#define NETWORK_H

#include "service/errorinfo.h"

#include <QByteArray>
#include <QMutex>
#include <QObject>
#include <QPointer>
#include <QString>

class QNetworkAccessManager;
class QNetworkReply;
class QNetworkRequest;

// A named HTTP client bound to a server root. Requests are synchronous for the caller:
// they wait in a LocalWait that keeps handling every event, user input included,
// so a window stays usable while the service is slow. Callers must therefore expect
// their own slots to run during the wait.
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
    };

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
    bool makeRequest(const QString &path, QNetworkRequest *request);
    QString waitForBody(QNetworkReply *reply, const QString &path);
    void fail(const QString &path, int code, const QString &reason);

    const QString m_name;
    int m_timeoutMs = DeviceRequestIdleTimeoutMs;
    int m_deadlineMs = DefaultDeadlineMs;
    ErrorInfo m_lastError;
    QPointer<QNetworkAccessManager> m_manager;
};

#endif // NETWORK_H
