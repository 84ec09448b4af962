#include "core/backoff.h"

#include <QtGlobal>

Backoff::Backoff(int intervalMs, int longestMs)
    : m_random(QRandomGenerator::securelySeeded())
{
    setIntervals(intervalMs, longestMs);
}

void Backoff::setIntervals(int intervalMs, int longestMs)
{
    m_intervalMs = qMax(1, intervalMs);
    m_longestMs = qMax(m_intervalMs, longestMs);
}

int Backoff::interval() const
{
    return m_intervalMs;
}

int Backoff::longest() const
{
    return m_longestMs;
}

void Backoff::seed(quint32 value)
{
    m_random.seed(value);
}

int Backoff::delayAfterSuccess()
{
    m_failures = 0;
    return jittered(m_intervalMs, normalJitterPercent);
}

// The first failure waits the normal interval, each further one twice as long as the one
// before, up to the longest wait.
int Backoff::delayAfterFailure()
{
    ++m_failures;
    return jittered(failureBase(), failureJitterPercent);
}

int Backoff::delayAgain()
{
    if (m_failures == 0)
        return jittered(m_intervalMs, normalJitterPercent);
    return jittered(failureBase(), failureJitterPercent);
}

int Backoff::failures() const
{
    return m_failures;
}

int Backoff::failureBase() const
{
    qint64 base = m_intervalMs;
    for (int i = 1; i < m_failures && base < m_longestMs; ++i)
        base *= 2;
    return int(qMin<qint64>(base, m_longestMs));
}

// Uniform within +-percent of ms.
int Backoff::jittered(int ms, int percent)
{
    const qint64 spread = qint64(ms) * percent / 100;
    return int(ms - spread + qint64(m_random.bounded(quint32(2 * spread + 1))));
}
