#include "history/taskliststore.h"

#include "history/historyconnection.h"
#include "history/historylog.h"
#include "history/historystore.h"
#include "history/tasklistconnection.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QSqlError>
#include <QSqlQuery>

namespace {

const QString dayFormat = QStringLiteral("yyyy-MM-dd");

QString jsonText(const QVariantList &tasks)
{
    return QString::fromUtf8(QJsonDocument::fromVariant(tasks).toJson(QJsonDocument::Compact));
}

} // namespace

TaskListStore::TaskListStore(const QString &folder)
    : m_folder(folder.isEmpty() ? HistoryStore::defaultFolder() : folder)
{ }

QString TaskListStore::folder() const
{
    return m_folder;
}

QString TaskListStore::lastError() const
{
    return m_error;
}

QString TaskListStore::timeText(const QDateTime &time)
{
    return time.toUTC().toString(Qt::ISODateWithMs);
}

// A file found damaged while writing is set aside, and the list goes into a new one.
bool TaskListStore::save(const QString &userId, const QDate &day, const QVariantList &tasks,
    const QDateTime &receivedAt, bool *written)
{
    m_error.clear();
    if (written)
        *written = false;
    if (!day.isValid() || !receivedAt.isValid())
        return fail(QStringLiteral("keep"), QStringLiteral("no valid day or time"));
    const QString json = jsonText(tasks);
    bool damaged = false;
    if (write(userId, day, json, tasks.size(), receivedAt, written, damaged))
        return true;
    if (!damaged || TaskListConnection::setAside(m_folder).isEmpty())
        return false;
    return write(userId, day, json, tasks.size(), receivedAt, written, damaged);
}

bool TaskListStore::write(const QString &userId, const QDate &day, const QString &json, int count,
    const QDateTime &receivedAt, bool *written, bool &damaged)
{
    TaskListConnection connection(m_folder);
    if (!connection.isOpen())
        return fail(QStringLiteral("open"), connection.errorString());
    QSqlDatabase db = connection.database();
    // IMMEDIATE takes the write lock before the kept list is read, so that a second writer
    // waits instead of failing when it upgrades its read lock.
    QSqlQuery begin(db);
    if (!begin.exec(QStringLiteral("BEGIN IMMEDIATE"))) {
        damaged = HistoryConnection::isCorruption(begin.lastError());
        return fail(QStringLiteral("begin"), begin.lastError().text());
    }
    QSqlQuery kept(db);
    kept.prepare(QStringLiteral("SELECT tasks FROM task_list WHERE user_id = ? AND day = ?"));
    kept.addBindValue(userId);
    kept.addBindValue(day.toString(dayFormat));
    if (!kept.exec()) {
        const QSqlError error = kept.lastError();
        db.rollback();
        damaged = HistoryConnection::isCorruption(error);
        return fail(QStringLiteral("read"), error.text());
    }
    const bool unchanged = kept.next() && kept.value(0).toString() == json;
    kept.finish();
    if (unchanged) {
        db.rollback();
        return true;
    }
    QSqlQuery replace(db);
    replace.prepare(QStringLiteral("INSERT OR REPLACE INTO task_list (user_id, day, received_at, task_count, "
                                   "tasks) VALUES (?, ?, ?, ?, ?)"));
    for (const QVariant &value :
        QVariantList { userId, day.toString(dayFormat), timeText(receivedAt), count, json })
        replace.addBindValue(value);
    // Only this user's keptDays newest days stay.
    QSqlQuery prune(db);
    prune.prepare(QStringLiteral("DELETE FROM task_list WHERE user_id = ? AND day NOT IN (SELECT day FROM "
                                 "task_list WHERE user_id = ? ORDER BY day DESC LIMIT ?)"));
    for (const QVariant &value : QVariantList { userId, userId, keptDays })
        prune.addBindValue(value);
    if (!replace.exec() || !prune.exec() || !db.commit()) {
        QSqlError error = replace.lastError();
        for (const QSqlError &later : { prune.lastError(), db.lastError() })
            error = error.isValid() ? error : later;
        db.rollback();
        damaged = HistoryConnection::isCorruption(error);
        return fail(QStringLiteral("keep"), error.text());
    }
    if (written)
        *written = true;
    return true;
}

bool TaskListStore::load(const QString &userId, const QDate &day, QVariantList &tasks, QDateTime &receivedAt)
{
    m_error.clear();
    TaskListConnection connection(m_folder);
    if (!connection.isOpen())
        return fail(QStringLiteral("open"), connection.errorString());
    QSqlQuery query(connection.database());
    query.prepare(QStringLiteral("SELECT tasks, received_at FROM task_list WHERE user_id = ? AND day = ?"));
    query.addBindValue(userId);
    query.addBindValue(day.toString(dayFormat));
    if (!query.exec())
        return fail(QStringLiteral("read"), query.lastError().text());
    if (!query.next())
        return false;
    const QJsonDocument document = QJsonDocument::fromJson(query.value(0).toString().toUtf8());
    if (!document.isArray())
        return fail(QStringLiteral("read"),
            QStringLiteral("the list of %1 is no JSON array").arg(day.toString(dayFormat)));
    tasks = document.array().toVariantList();
    // Older rows carry the offset they were written with; either way the instant is shown in
    // the local time of that date, whatever the offset is today.
    receivedAt = QDateTime::fromString(query.value(1).toString(), Qt::ISODateWithMs).toLocalTime();
    return true;
}

QList<QDate> TaskListStore::days(const QString &userId)
{
    m_error.clear();
    QList<QDate> found;
    TaskListConnection connection(m_folder);
    if (!connection.isOpen()) {
        fail(QStringLiteral("open"), connection.errorString());
        return found;
    }
    QSqlQuery query(connection.database());
    query.prepare(QStringLiteral("SELECT day FROM task_list WHERE user_id = ? ORDER BY day DESC"));
    query.addBindValue(userId);
    if (!query.exec())
        fail(QStringLiteral("read"), query.lastError().text());
    while (query.next())
        found << QDate::fromString(query.value(0).toString(), dayFormat);
    return found;
}

QDate TaskListStore::newestDay(const QString &userId)
{
    const QList<QDate> kept = days(userId);
    return kept.isEmpty() ? QDate() : kept.first();
}

QStringList TaskListStore::summary()
{
    m_error.clear();
    QStringList lines;
    TaskListConnection connection(m_folder);
    if (!connection.isOpen()) {
        fail(QStringLiteral("open"), connection.errorString());
        return lines;
    }
    QSqlQuery query(connection.database());
    if (!query.exec(QStringLiteral("SELECT user_id, day, task_count, received_at FROM task_list "
                                   "ORDER BY user_id, day DESC")))
        fail(QStringLiteral("read"), query.lastError().text());
    while (query.next()) {
        lines << QStringLiteral("%1 %2: %3 tasks, received %4")
                     .arg(query.value(0).toString(), query.value(1).toString())
                     .arg(query.value(2).toInt())
                     .arg(query.value(3).toString());
    }
    return lines;
}

bool TaskListStore::fail(const QString &what, const QString &why)
{
    m_error = QStringLiteral("cannot %1 the task lists in %2: %3").arg(what, m_folder, why);
    qCWarning(historyLog).noquote() << "task lists:" << m_error;
    return false;
}
