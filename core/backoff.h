#ifndef BACKOFF_H
#define BACKOFF_H

#include <QRandomGenerator>

// The fleet's back-off: while something answers, the normal interval with a jitter of
// +-10 %, so that PCs started together drift apart; while it fails, the wait doubles from the
// interval up to the longest wait, each with a jitter of +-20 %, so that a fleet of PCs
// spares a service that is down and does not hit it all in the same second when it comes
// back. The first success returns to the interval. The task window's reloads and the
// plant history's forwarding share it. The random source is seedable, so that a run can be
// replayed. Not thread-safe: one owner draws from it.
class Backoff
{
public:
    static constexpr int normalJitterPercent = 10;
    static constexpr int failureJitterPercent = 20;

    Backoff(int intervalMs, int longestMs);

    void setIntervals(int intervalMs, int longestMs);
    int interval() const;
    int longest() const;
    void seed(quint32 value);

    // The wait drawn after an attempt that succeeded or failed.
    int delayAfterSuccess();
    int delayAfterFailure();
    // The wait the last outcome asked for, drawn again without counting an outcome.
    int delayAgain();
    // Attempts failed in a row.
    int failures() const;

private:
    int jittered(int ms, int percent);
    int failureBase() const;

    QRandomGenerator m_random;
    int m_intervalMs;
    int m_longestMs;
    int m_failures = 0;
};

#endif // BACKOFF_H
