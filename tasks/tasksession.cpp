#include "tasks/tasksession.h"

#include "history/taskliststore.h"
#include "service/devicecall.h"
#include "service/httptransfer.h"
#include "service/signinresult.h"
#include "tasks/refreshschedule.h"
#include "tasks/statustext.h"
#include "tasks/taskslog.h"

#include <QDebug>
#include <QThreadPool>
#include <QtConcurrent/QtConcurrentRun>

namespace {

const QString dateFormat = QStringLiteral("yyyy-MM-dd");

// One list after another, in the order they came, on a thread of their own.
QThreadPool &keeper()
{
    static QThreadPool pool;
    pool.setMaxThreadCount(1);
    return pool;
}

} // namespace

TaskSession::TaskSession(QObject *parent)
    : QObject(parent)
    , m_schedule(new RefreshSchedule(this))
{ }

TaskSession::~TaskSession() = default;

void TaskSession::startOnline(const QString &uid)
{
    m_uid = uid;
    m_state = State::SignedIn;
    m_schedule->start();
}

// The sign-in is retried on the back-off of a failing reload.
void TaskSession::startOffline(const QString &uid, const QVariantMap &signIn, const QString &why)
{
    m_uid = uid;
    m_state = State::Offline;
    m_signInRequest = signIn;
    m_reason = why;
    m_failingSince = QTime::currentTime();
    m_schedule->start();
    m_schedule->reloadFailed();
}

void TaskSession::stop()
{
    m_schedule->stop();
    if (m_retry)
        m_retry->abandon();
    m_retry = nullptr;
}

TaskSession::State TaskSession::state() const
{
    return m_state;
}

bool TaskSession::isOffline() const
{
    return m_state != State::SignedIn;
}

QString TaskSession::uid() const
{
    return m_uid;
}

RefreshSchedule *TaskSession::schedule() const
{
    return m_schedule;
}

QTime TaskSession::failingSince() const
{
    return m_failingSince;
}

QString TaskSession::reason() const
{
    return m_reason;
}

void TaskSession::reloadSucceeded(const QString &date, const QVariantList &tasks, const QDateTime &receivedAt)
{
    if (m_failingSince.isValid())
        qCInfo(tasksLog).noquote() << "device service answers again, after failing since"
                                   << StatusText::clock(m_failingSince);
    m_failingSince = QTime();
    m_reason.clear();
    m_schedule->reloadSucceeded();
    keep(date, tasks, receivedAt);
}

void TaskSession::reloadFailed(const QString &date, const ErrorInfo &failure)
{
    m_reason = StatusText::reason(failure);
    if (!m_failingSince.isValid()) {
        m_failingSince = QTime::currentTime();
        qCInfo(tasksLog).noquote() << "device service failing:" << date << "not loaded," << failure.message();
    }
    m_schedule->reloadFailed();
}

// Not waited for: the window goes on while the list is written.
void TaskSession::keep(const QString &date, const QVariantList &tasks, const QDateTime &receivedAt)
{
    const QString user = m_uid;
    const QDate day = QDate::fromString(date, dateFormat);
    QtConcurrent::run(&keeper(), [user, day, tasks, receivedAt] {
        TaskListStore lists;
        if (!lists.save(user, day, tasks, receivedAt))
            qCWarning(tasksLog).noquote()
                << "task list of" << day.toString(dateFormat) << "not kept:" << lists.lastError();
    });
}

QDate TaskSession::offlineDay(const QString &uid)
{
    const QList<QDate> days = TaskListStore().days(uid);
    return days.contains(QDate::currentDate()) ? QDate::currentDate() : days.value(0);
}

QDateTime TaskSession::keptListTime(const QString &uid)
{
    QVariantList tasks;
    QDateTime receivedAt;
    const QDate day = offlineDay(uid);
    return day.isValid() && TaskListStore().load(uid, day, tasks, receivedAt) ? receivedAt : QDateTime();
}

bool TaskSession::keptList(const QDate &day, QVariantList &tasks, QDateTime &receivedAt) const
{
    return TaskListStore().load(m_uid, day, tasks, receivedAt);
}

QDate TaskSession::nextKeptDay(const QDate &shown, int direction) const
{
    QDate next;
    for (const QDate &day : TaskListStore().days(m_uid)) {
        if ((direction < 0 && day < shown && (!next.isValid() || day > next))
            || (direction > 0 && day > shown && (!next.isValid() || day < next)))
            next = day;
    }
    return next;
}

void TaskSession::retrySignIn()
{
    if (m_state != State::Offline)
        return;
    m_state = State::SigningInAgain;
    m_retry = HttpTransfer::startLogin(m_signInRequest, this);
    connect(m_retry, &DeviceCall::finished, this, &TaskSession::signInAnswered);
}

void TaskSession::signInAnswered(const QVariantMap &reply, const ErrorInfo &error)
{
    m_retry->deleteLater();
    const QString userName = m_signInRequest.value("username").toString();
    const SignInResult::Outcome outcome = SignInResult::decide(error, reply);
    if (outcome == SignInResult::Outcome::Accepted) {
        qCInfo(tasksLog).noquote() << "back online: the service accepted the sign-in of" << userName
                                   << "again, unreachable since" << StatusText::clock(m_failingSince);
        const QString newUid = reply.value("data").toMap().value("id").toString();
        m_state = State::SignedIn;
        m_signInRequest.clear();
        if (!newUid.isEmpty())
            m_uid = newUid;
        emit wentOnline(m_uid);
        return;
    }
    if (outcome == SignInResult::Outcome::Refused) {
        qCInfo(tasksLog).noquote() << "offline: the service refused the password of" << userName
                                   << "on its return";
        m_state = State::Offline;
        m_signInRequest.clear();
        m_schedule->stop();
        emit signInRefused();
        return;
    }
    m_state = State::Offline;
    m_reason = StatusText::reason(error);
    m_schedule->reloadFailed();
    emit stillOffline();
}
