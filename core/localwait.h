#ifndef LOCALWAIT_H
#define LOCALWAIT_H

#include <QEventLoop>
#include <QObject>
#include <QTimer>

// Blocks a synchronous call in a local event loop that dispatches every event of the
// thread, user input included, so the thread's timers keep running. Windows never wait in
// one: only the synchronous slots that callers outside the windows rely on do, and the
// fetches, each on a thread of its own.
// The wait ends at the first of: the awaited signal (or end()), the deadline, the application
// quitting, or anything else ending the thread's event loops from outside. Only that first
// end counts: a signal that arrives while a deeper wait keeps this one from returning is not
// made late by the deadline passing meanwhile.
class LocalWait : public QObject
{
    Q_OBJECT

public:
    enum class Ended
    {
        Signalled,
        PastDeadline,
        Interrupted, // the application is quitting, or the loop was ended from outside
    };
    Q_ENUM(Ended)

    // For work that cannot be abandoned, such as a pool thread's: only the signal or the
    // application ends the wait.
    static constexpr int NoDeadline = 0;

    explicit LocalWait(int deadlineMs = NoDeadline);

    // Waits for one signal of sender: the usual case.
    template <typename Sender, typename Signal>
    static Ended until(const Sender *sender, Signal signal, int deadlineMs = NoDeadline)
    {
        LocalWait wait(deadlineMs);
        wait.endOn(sender, signal);
        return wait.exec();
    }

    // Lets signal end the wait. An end that comes before exec() is kept, so the connection
    // may be made before whatever emits the signal is started.
    template <typename Sender, typename Signal>
    void endOn(const Sender *sender, Signal signal)
    {
        connect(sender, signal, this, &LocalWait::end);
    }

    // Waits unless the wait has ended already; says what ended it. The deadline counts from
    // here.
    Ended exec();

public slots:
    // Ends the wait as signalled.
    void end();

signals:
    // The deadline ended the wait. Emitted at once, so that what was waited for can be
    // abandoned even while a deeper wait keeps this one from returning.
    void deadlinePassed();

private:
    void finish(Ended how);

    QEventLoop m_loop;
    QTimer m_deadline;
    bool m_ended = false;
    Ended m_how = Ended::Interrupted;
};

#endif // LOCALWAIT_H
