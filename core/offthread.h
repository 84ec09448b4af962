#ifndef OFFTHREAD_H
#define OFFTHREAD_H

#include "core/localwait.h"

#include <QCoreApplication>
#include <QFutureWatcher>
#include <QtConcurrent/QtConcurrentRun>

// Long file work (writing, syncing, unpacking) done for a caller that expects a plain
// synchronous call: the work runs on a pool thread while the caller waits in a LocalWait, so
// the window goes on painting and its timers keep running meanwhile.
class OffThread
{
public:
    // Runs work and returns its result. The work must not touch objects that the events
    // dispatched meanwhile may change. Without an application object there is no event loop
    // to wait in, and the work runs in place.
    template <typename Work>
    static auto run(Work work) -> decltype(work())
    {
        using Result = decltype(work());
        if (!QCoreApplication::instance())
            return work();
        // Work on a pool thread cannot be abandoned: no deadline, and when the application
        // quits during the wait, result() blocks until the work is done.
        QFutureWatcher<Result> watcher;
        LocalWait wait;
        wait.endOn(&watcher, &QFutureWatcherBase::finished);
        watcher.setFuture(QtConcurrent::run(work));
        wait.exec();
        return watcher.result();
    }
};

#endif // OFFTHREAD_H
