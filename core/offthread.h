#ifndef OFFTHREAD_H
#define OFFTHREAD_H

#include "core/localwait.h"

#include <QCoreApplication>
#include <QFutureWatcher>
#include <QPointer>
#include <QThread>
#include <QtConcurrent/QtConcurrentRun>

#include <utility>

// Long file work (writing, syncing, unpacking, hashing) kept off the GUI thread.
//
// then() is what windows use: the work runs on a pool thread and its result comes back to a
// callback on the context's thread once it is done, while the window goes on. A context
// deleted meanwhile (a window closed) gets no callback; the work still runs to its end.
//
// run() is for callers that expect a plain synchronous call (the synchronous slots, the
// command line, a fetch's own thread). On the GUI thread it waits in a LocalWait while the
// work runs on a pool thread; on any other thread, which nothing else waits on, the work
// runs in place, so that no wait is nested in another thread's flow.
class OffThread
{
public:
    template <typename Work, typename Done>
    static void then(QObject *context, Work work, Done done)
    {
        using Result = decltype(work());
        auto *watcher = new QFutureWatcher<Result>(context);
        QObject::connect(watcher, &QFutureWatcherBase::finished, context, [watcher, done]() mutable {
            watcher->deleteLater();
            done(watcher->result());
        });
        watcher->setFuture(QtConcurrent::run(std::move(work)));
    }

    // Runs work and returns its result. The work must not touch objects that the events
    // dispatched meanwhile may change. Without an application object there is no event loop
    // to wait in, and the work runs in place.
    template <typename Work>
    static auto run(Work work) -> decltype(work())
    {
        using Result = decltype(work());
        QCoreApplication *app = QCoreApplication::instance();
        if (!app || QThread::currentThread() != app->thread())
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
