#ifndef TASKSESSION_H
#define TASKSESSION_H

#include "service/errorinfo.h"

#include <QDate>
#include <QDateTime>
#include <QObject>
#include <QPointer>
#include <QString>
#include <QTime>
#include <QVariantList>
#include <QVariantMap>

class DeviceCall;
class RefreshSchedule;

// The task window's session with the service: signed in, offline (the service could not be
// reached, the kept lists are shown) or signing in again (an offline retry is on its way).
// It owns the reload schedule and its back-off, the reason shown while the service fails and
// since when, the lists kept on this PC and when each was last confirmed. The window shows
// what it says and forwards the operator's actions; it decides nothing of this itself.
class TaskSession : public QObject
{
    Q_OBJECT

public:
    enum class State
    {
        SignedIn,
        Offline,
        SigningInAgain,
    };
    Q_ENUM(State)

    explicit TaskSession(QObject *parent = nullptr);
    ~TaskSession() override;

    void startOnline(const QString &uid);
    // signIn is the sign-in window's request (it holds the password's digest, in memory
    // only), sent again on the schedule until the service answers.
    void startOffline(const QString &uid, const QVariantMap &signIn, const QString &why);
    void stop();

    State state() const;
    bool isOffline() const;
    QString uid() const;
    RefreshSchedule *schedule() const;
    // Since when the service has been failing (null while it answers), and why, in words.
    QTime failingSince() const;
    QString reason() const;

    // A reload's outcome. Success keeps the list the service sent, every time: a list
    // confirmed unchanged counts as received then, and a keep that failed is tried again.
    // Either arms the next reload.
    void reloadSucceeded(const QString &date, const QVariantList &tasks, const QDateTime &receivedAt);
    void reloadFailed(const QString &date, const ErrorInfo &failure);

    // The day an offline window opens on: today's kept list, else the newest kept day's.
    static QDate offlineDay(const QString &uid);
    // When the list an offline window would open on was last received; invalid when none.
    static QDateTime keptListTime(const QString &uid);
    // The kept list of day; false when there is none.
    bool keptList(const QDate &day, QVariantList &tasks, QDateTime &receivedAt) const;
    // The next kept day from shown in direction (-1 or 1); invalid when there is none.
    QDate nextKeptDay(const QDate &shown, int direction) const;

    // Offline: signs in again unless a retry is already on its way.
    void retrySignIn();

signals:
    // Back online with the user id the service returned, or refused: the password was
    // changed on the service. A retry that failed again updates the reason.
    void wentOnline(const QString &uid);
    void signInRefused();
    void stillOffline();

private:
    void signInAnswered(const QVariantMap &reply, const ErrorInfo &error);
    void keep(const QString &date, const QVariantList &tasks, const QDateTime &receivedAt);

    State m_state = State::SignedIn;
    QString m_uid;
    QVariantMap m_signInRequest;
    QString m_reason;
    QTime m_failingSince;
    RefreshSchedule *m_schedule;
    QPointer<DeviceCall> m_retry;
};

#endif // TASKSESSION_H
