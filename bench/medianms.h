#ifndef MEDIANMS_H
#define MEDIANMS_H

#include <QElapsedTimer>
#include <QList>

#include <algorithm>

// The median of runs timings of work, in milliseconds: one slow run (a page fault, another
// process) does not move it.
template <typename Work>
double medianMs(int runs, Work work)
{
    QList<double> times;
    for (int run = 0; run < runs; ++run) {
        QElapsedTimer timer;
        timer.start();
        work();
        times << timer.nsecsElapsed() / 1e6;
    }
    std::sort(times.begin(), times.end());
    return times.at(runs / 2);
}

#endif // MEDIANMS_H
