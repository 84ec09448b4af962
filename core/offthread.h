#ifndef OFFTHREAD_H
#define OFFTHREAD_H

#include <QCoreApplication>
#include <QEventLoop>
#include <QFutureWatcher>
#include <QtConcurrent/QtConcurrentRun>

// Long file work (writing, syncing, unpacking) done for a caller that expects a plain
// synchronous call: the work runs on a pool thread while the caller waits in a local event
// loop, so the window goes on painting and its timers keep running meanwhile.
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
        QFutureWatcher<Result> watcher;
        QEventLoop loop;
        QObject::connect(&watcher, &QFutureWatcherBase::finished, &loop, &QEventLoop::quit);
        // The watcher reports a finished future through an event, so quit() cannot come
        // before exec() has started.
        watcher.setFuture(QtConcurrent::run(work));
        loop.exec(QEventLoop::AllEvents);
        return watcher.result();
    }
};

#endif // OFFTHREAD_H
