#ifndef FETCHJOB_H
#define FETCHJOB_H

#include "service/fetchreport.h"

#include <QObject>
#include <QString>
#include <QVariantMap>

class QThread;

// One fetch of a task file (HttpTransfer::downloadNcFile: the download, the unpacking and
// the history rows) as a flow of its own: it runs on a thread of its own, so that its waits
// never sit inside a window's, and reports once, through finished(), with its whole outcome.
// A window connects to the signals and goes on; a window closed meanwhile is told nothing.
// The job deletes itself once its thread has ended.
//
// A fetch cannot be called back halfway: once started it writes its file and its history
// row or rolls back whole. Quitting the application abandons a download still waiting for
// the server; main() then waits for the fetches to end (waitForRunning).
class FetchJob : public QObject
{
    Q_OBJECT

public:
    // request as downloadNcFile takes it; the history rows name userId.
    FetchJob(const QVariantMap &request, const QString &userId, QObject *parent = nullptr);
    ~FetchJob() override;

    // HistoryStore::defaultFolder() unless set.
    void setHistoryFolder(const QString &folder);
    void start();

    // Waits up to timeoutMs for every fetch still running; false when one is left.
    static bool waitForRunning(int timeoutMs);
    static int running();

signals:
    // bytesTotal is -1 while unknown.
    void progress(qint64 bytesReceived, qint64 bytesTotal);
    void finished(const FetchReport &report, bool historyRecorded, const QString &historyProblem);

private:
    void run();

    QVariantMap m_request;
    QString m_userId;
    QString m_historyFolder;
};

#endif // FETCHJOB_H
