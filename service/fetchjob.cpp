#include "service/fetchjob.h"

#include "service/httptransfer.h"

#include <QDeadlineTimer>
#include <QMutex>
#include <QMutexLocker>
#include <QSet>
#include <QThread>

namespace {

QMutex &runningLock()
{
    static QMutex lock;
    return lock;
}

QSet<QThread *> &runningThreads()
{
    static QSet<QThread *> threads;
    return threads;
}

} // namespace

FetchJob::FetchJob(const QVariantMap &request, const QString &userId, QObject *parent)
    : QObject(parent)
    , m_request(request)
    , m_userId(userId)
{
    qRegisterMetaType<FetchReport>();
}

FetchJob::~FetchJob() = default;

void FetchJob::setHistoryFolder(const QString &folder)
{
    m_historyFolder = folder;
}

// The thread ends when the fetch does; the job and the thread go once the application's
// loop sees it end, so the signals the fetch emits always have their sender.
void FetchJob::start()
{
    QThread *thread = QThread::create([this] { run(); });
    thread->setObjectName(QStringLiteral("fetch"));
    connect(
        thread, &QThread::finished, thread,
        [thread] {
            const QMutexLocker locker(&runningLock());
            runningThreads().remove(thread);
        },
        Qt::DirectConnection);
    connect(thread, &QThread::finished, this, &QObject::deleteLater);
    connect(thread, &QThread::finished, thread, &QObject::deleteLater);
    {
        const QMutexLocker locker(&runningLock());
        runningThreads().insert(thread);
    }
    thread->start();
}

// On the fetch's own thread: its waits are local event loops of this thread alone.
void FetchJob::run()
{
    HttpTransfer transfer;
    if (!m_historyFolder.isEmpty())
        transfer.setHistoryFolder(m_historyFolder);
    transfer.setUserId(m_userId);
    connect(&transfer, &HttpTransfer::fetchProgress, this, &FetchJob::progress, Qt::DirectConnection);
    transfer.downloadNcFile(m_request);
    emit finished(transfer.lastFetch(), transfer.historyRecorded(), transfer.historyProblem());
}

bool FetchJob::waitForRunning(int timeoutMs)
{
    const QDeadlineTimer deadline(timeoutMs);
    QList<QThread *> threads;
    {
        const QMutexLocker locker(&runningLock());
        threads = runningThreads().values();
    }
    bool ended = true;
    for (QThread *thread : qAsConst(threads))
        ended = thread->wait(deadline) && ended;
    return ended;
}

int FetchJob::running()
{
    const QMutexLocker locker(&runningLock());
    return runningThreads().size();
}
