#ifndef NETWORKCALL_H
#define NETWORKCALL_H

#include "service/errorinfo.h"

#include <QObject>
#include <QPointer>
#include <QString>
#include <QTimer>

class QNetworkReply;

// One request of a Network client in flight. It reports once, through finished(), with the
// reply body or why there is none (ErrorInfo with the codes of Network::Failure, or the HTTP
// status); nothing waits for it. Deleting the call abandons its request. A call refused
// before anything was sent reports on the next turn of the event loop, so a caller may
// connect to finished() after making it.
class NetworkCall : public QObject
{
    Q_OBJECT

public:
    // Takes reply over; deadlineMs (0 for none) abandons it however steadily it trickles.
    NetworkCall(QNetworkReply *reply, const QString &path, int idleTimeoutMs, int deadlineMs,
        QObject *parent = nullptr);
    NetworkCall(const QString &path, const ErrorInfo &refusal, QObject *parent = nullptr);
    ~NetworkCall() override;

    bool isFinished() const;
    // The body of a 2xx reply; empty otherwise.
    QString body() const;
    ErrorInfo error() const;

    // Waits for finished() in a LocalWait: for the synchronous slots only, never a window.
    void waitForFinished();

signals:
    void finished();

private:
    void conclude();
    void fail(int code, const QString &reason);
    void finish();
    void interrupt();

    QPointer<QNetworkReply> m_reply;
    QString m_path;
    int m_idleTimeoutMs = 0;
    int m_deadlineMs = 0;
    QTimer m_deadline;
    bool m_pastDeadline = false;
    bool m_interrupted = false;
    bool m_finished = false;
    QString m_body;
    ErrorInfo m_error;
};

#endif // NETWORKCALL_H
