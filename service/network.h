#ifndef NETWORK_H
#define NETWORK_H

#include <QByteArray>
#include <QMutex>
#include <QObject>
#include <QPointer>
#include <QString>

class QNetworkAccessManager;
class QNetworkReply;
class QNetworkRequest;

// A named HTTP client bound to a server root. Requests are synchronous for the caller:
// they wait in a local event loop that keeps painting and timers going but holds back
// user input until the reply is in.
class Network : public QObject
{
    Q_OBJECT

public:
    static constexpr int DefaultTimeoutMs = 10000;

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

    void setTransferTimeout(int milliseconds);
    int transferTimeout() const;

private:
    explicit Network(const QString &name);

    QNetworkAccessManager *manager();
    bool makeRequest(const QString &path, QNetworkRequest *request);
    QString waitForBody(QNetworkReply *reply, const QString &path);

    const QString m_name;
    int m_timeoutMs = DefaultTimeoutMs;
    QPointer<QNetworkAccessManager> m_manager;
};

#endif // NETWORK_H
