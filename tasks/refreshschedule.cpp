#include "tasks/refreshschedule.h"

RefreshSchedule::RefreshSchedule(QObject *parent)
    : QObject(parent)
    , m_random(QRandomGenerator::securelySeeded())
{
    m_timer.setSingleShot(true);
    connect(&m_timer, &QTimer::timeout, this, [this] {
        m_nextTry = QDateTime();
        emit due();
    });
}

void RefreshSchedule::setIntervals(int intervalMs, int longestMs)
{
    m_intervalMs = qMax(1, intervalMs);
    m_longestMs = qMax(m_intervalMs, longestMs);
    if (m_timer.isActive() && m_timer.remainingTime() > m_longestMs)
        arm(m_intervalMs);
}

int RefreshSchedule::interval() const
{
    return m_intervalMs;
}

int RefreshSchedule::longest() const
{
    return m_longestMs;
}

void RefreshSchedule::seed(quint32 value)
{
    m_random.seed(value);
}

int RefreshSchedule::delayAfterSuccess()
{
    m_failures = 0;
    return jittered(m_intervalMs, normalJitterPercent);
}

// The first failure waits the normal interval, each further one twice as long as the one
// before, up to the longest wait.
int RefreshSchedule::delayAfterFailure()
{
    ++m_failures;
    return jittered(failureBase(), failureJitterPercent);
}

int RefreshSchedule::failureBase() const
{
    qint64 base = m_intervalMs;
    for (int i = 1; i < m_failures && base < m_longestMs; ++i)
        base *= 2;
    return int(qMin<qint64>(base, m_longestMs));
}

int RefreshSchedule::failures() const
{
    return m_failures;
}

void RefreshSchedule::start()
{
    m_started = true;
    arm(delayAfterSuccess());
}

void RefreshSchedule::stop()
{
    m_started = false;
    m_timer.stop();
    m_nextTry = QDateTime();
}

void RefreshSchedule::reloadSucceeded()
{
    if (m_started)
        arm(delayAfterSuccess());
}

void RefreshSchedule::reloadFailed()
{
    if (m_started)
        arm(delayAfterFailure());
}

void RefreshSchedule::reloadSuperseded()
{
    if (!m_started || m_timer.isActive())
        return;
    if (m_failures == 0)
        arm(jittered(m_intervalMs, normalJitterPercent));
    else
        arm(jittered(failureBase(), failureJitterPercent));
}

bool RefreshSchedule::isActive() const
{
    return m_timer.isActive();
}

QDateTime RefreshSchedule::nextTry() const
{
    return m_nextTry;
}

// Uniform within +-percent of ms.
int RefreshSchedule::jittered(int ms, int percent)
{
    const qint64 spread = qint64(ms) * percent / 100;
    return int(ms - spread + qint64(m_random.bounded(quint32(2 * spread + 1))));
}

void RefreshSchedule::arm(int ms)
{
    m_nextTry = QDateTime::currentDateTime().addMSecs(ms);
    m_timer.start(ms);
}
