#ifndef STANDSTILL_H
#define STANDSTILL_H

#include <QElapsedTimer>
#include <QTimer>

#include <algorithm>

// How long the calling thread's event loop stood still while work ran: the longest gap
// between two ticks of a 1 ms timer, which fires only while the thread dispatches events.
// The work is a synchronous call that waits in a local event loop, as the window's calls do.
class StandStill
{
public:
    template <typename Work>
    static double longestMs(Work work)
    {
        QElapsedTimer clock;
        qint64 last = 0;
        qint64 longest = 0;
        QTimer tick;
        tick.setTimerType(Qt::PreciseTimer);
        tick.setInterval(1);
        QObject::connect(&tick, &QTimer::timeout, [&] {
            const qint64 now = clock.nsecsElapsed();
            longest = std::max(longest, now - last);
            last = now;
        });
        clock.start();
        tick.start();
        work();
        longest = std::max(longest, clock.nsecsElapsed() - last);
        return double(longest) / 1e6;
    }
};

#endif // STANDSTILL_H
