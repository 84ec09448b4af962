#ifndef REFRESHSCHEDULE_H
#define REFRESHSCHEDULE_H

#include "core/backoff.h"

#include <QDateTime>
#include <QObject>
#include <QTimer>

// When the task window reloads next, on the fleet's back-off (Backoff): while the service
// answers, every 5 s with a jitter of +-10 %; while reloads fail, the wait doubles from 5 s up
// to 60 s, each with a jitter of +-20 %. The first success returns to 5 s.
//
// The waits are drawn by delayAfterSuccess() and delayAfterFailure(), which a simulation can
// call on their own; reloadSucceeded() and reloadFailed() draw one and arm the timer that
// emits due(). The random source is seedable, so that a run can be replayed.
class RefreshSchedule : public QObject
{
    Q_OBJECT

public:
    static constexpr int defaultIntervalMs = 5000;
    static constexpr int defaultLongestMs = 60000;
    static constexpr int normalJitterPercent = Backoff::normalJitterPercent;
    static constexpr int failureJitterPercent = Backoff::failureJitterPercent;

    explicit RefreshSchedule(QObject *parent = nullptr);

    // Shorter waits compress time for tests and simulations; a pending wait longer than the
    // new interval is cut to it.
    void setIntervals(int intervalMs, int longestMs);
    int interval() const;
    int longest() const;
    void seed(quint32 value);

    // The wait before the next reload, drawn after a reload that succeeded or failed.
    int delayAfterSuccess();
    int delayAfterFailure();
    // Reloads failed in a row.
    int failures() const;

    // Arms the first wait; until then, and after stop(), the outcomes arm nothing.
    void start();
    void stop();
    void reloadSucceeded();
    void reloadFailed();
    // A reload whose outcome no longer counts (a newer load replaced it) arms the wait the
    // last outcome asked for, unless one is armed: a tick skipped while it waited would
    // otherwise leave nothing armed.
    void reloadSuperseded();
    bool isActive() const;
    // When due() comes next; invalid while nothing is armed.
    QDateTime nextTry() const;

signals:
    void due();

private:
    void arm(int ms);

    Backoff m_backoff { defaultIntervalMs, defaultLongestMs };
    QTimer m_timer;
    QDateTime m_nextTry;
    bool m_started = false;
};

#endif // REFRESHSCHEDULE_H
