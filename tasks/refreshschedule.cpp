#include "tasks/refreshschedule.h"

RefreshSchedule::RefreshSchedule(QObject *parent)
    : QObject(parent)
{
    m_timer.setSingleShot(true);
    connect(&m_timer, &QTimer::timeout, this, [this] {
        m_nextTry = QDateTime();
        emit due();
    });
}

void RefreshSchedule::setIntervals(int intervalMs, int longestMs)
{
    m_backoff.setIntervals(intervalMs, longestMs);
    if (m_timer.isActive() && m_timer.remainingTime() > m_backoff.longest())
        arm(m_backoff.interval());
}

int RefreshSchedule::interval() const
{
    return m_backoff.interval();
}

int RefreshSchedule::longest() const
{
    return m_backoff.longest();
}

void RefreshSchedule::seed(quint32 value)
{
    m_backoff.seed(value);
}

int RefreshSchedule::delayAfterSuccess()
{
    return m_backoff.delayAfterSuccess();
}

int RefreshSchedule::delayAfterFailure()
{
    return m_backoff.delayAfterFailure();
}

int RefreshSchedule::failures() const
{
    return m_backoff.failures();
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
    if (m_started && !m_timer.isActive())
        arm(m_backoff.delayAgain());
}

bool RefreshSchedule::isActive() const
{
    return m_timer.isActive();
}

QDateTime RefreshSchedule::nextTry() const
{
    return m_nextTry;
}

void RefreshSchedule::arm(int ms)
{
    m_nextTry = QDateTime::currentDateTime().addMSecs(ms);
    m_timer.start(ms);
}
