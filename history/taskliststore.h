#ifndef TASKLISTSTORE_H
#define TASKLISTSTORE_H

#include <QDate>
#include <QDateTime>
#include <QList>
#include <QString>
#include <QStringList>
#include <QVariantList>

// The task lists the task window showed, kept on this PC per user and day so that they can
// be shown while the service cannot be reached: the service's "data" list as received (JSON
// text) and the time it came, in "tasklists.sqlite" in the history folder. Only the
// keptDays most recent days that have a list are kept per user; older ones are dropped
// whenever a list is written.
//
// Every call opens the file for its own thread and closes it again, so a store may be used
// from any thread, one call at a time per object. A failed call says why in lastError().
class TaskListStore
{
public:
    static constexpr int keptDays = 14;

    // folder is the history folder; empty means HistoryStore::defaultFolder().
    explicit TaskListStore(const QString &folder = QString());

    QString folder() const;
    QString lastError() const;

    // Keeps tasks as day's list for userId, received at receivedAt. A list equal to the
    // kept one is not written again, so the kept time stays that of its first arrival;
    // written (when given) says whether anything was written. Only a list the service
    // actually sent belongs here, not the empty one a failed load leaves.
    bool save(const QString &userId, const QDate &day, const QVariantList &tasks, const QDateTime &receivedAt,
        bool *written = nullptr);
    // The kept list of day for userId and when it came, in local time (the zone's offset for
    // that instant); false when there is none or it cannot be read.
    bool load(const QString &userId, const QDate &day, QVariantList &tasks, QDateTime &receivedAt);
    // The days with a kept list for userId, newest first.
    QList<QDate> days(const QString &userId);
    // The newest of days(userId); invalid when there is none.
    QDate newestDay(const QString &userId);
    // One line per user and day ("<user> <day>: <n> tasks, received <time>"), for a support
    // report; the tasks themselves are left out.
    QStringList summary();

    // The text a received time is kept as: ISO 8601 in UTC with milliseconds. Rows kept by
    // older versions carry a UTC offset instead; both read back.
    static QString timeText(const QDateTime &time);

private:
    bool write(const QString &userId, const QDate &day, const QString &json, int count,
        const QDateTime &receivedAt, bool *written, bool &damaged);
    bool fail(const QString &what, const QString &why);

    QString m_folder;
    QString m_error;
};

#endif // TASKLISTSTORE_H
