#ifndef REFRESHSCHEDULE_H
#define REFRESHSCHEDULE_H

#include <QDateTime>
#include <QObject>
#include <QRandomGenerator>
#include <QTimer>

// When the task window reloads next. While the service answers, every 5 s with a jitter of
// +-10 %, so that PCs started together drift apart. While reloads fail, the wait doubles
// from 5 s up to 60 s, each with a jitter of +-20 %, so that a fleet of PCs spares a service
// that is down and does not hit it all in the same second when it comes back. The first
// success returns to 5 s.
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
    static constexpr int normalJitterPercent = 10;
    static constexpr int failureJitterPercent = 20;

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
    int jittered(int ms, int percent);
    int failureBase() const;
    void arm(int ms);

    QRandomGenerator m_random;
    QTimer m_timer;
    QDateTime m_nextTry;
    int m_intervalMs = defaultIntervalMs;
    int m_longestMs = defaultLongestMs;
    int m_failures = 0;
    bool m_started = false;
};

#endif // REFRESHSCHEDULE_H
