#include "history/versioninplace.h"

#include "history/historystore.h"

#include <QSqlError>
#include <QSqlQuery>
#include <QVariantList>

namespace {

QString literal(const char *text)
{
    return QStringLiteral("'%1'").arg(QLatin1String(text));
}

QString installingActions()
{
    return literal(HistoryEntry::fetchAction) + QStringLiteral(", ") + literal(HistoryEntry::restoreAction);
}

} // namespace

// An interrupted fetch may have left half of a new program in place: its completion records
// what it found, which is a version only where those are the files of one recorded before.
QString VersionInPlace::condition(const QString &table)
{
    return QStringLiteral(
        "(%1.ok = 1 AND %1.action IN (%2) AND (%1.outcome IS NOT %3 OR EXISTS ("
        "SELECT 1 FROM fetch AS named WHERE named.task = %1.task AND named.kind = %1.kind "
        "AND named.id < %1.start_id AND named.ok = 1 AND named.action IN (%2) "
        "AND named.outcome IS NOT %3 AND named.sha256 <> '' AND named.sha256 = %1.sha256)))")
        .arg(table, installingActions(), literal(HistoryEntry::interruptedOutcome));
}

QString VersionInPlace::newestIds(const QString &kinds)
{
    return QStringLiteral("SELECT MAX(id) FROM fetch WHERE kind IN (%1) AND %2 GROUP BY task, kind")
        .arg(kinds, condition());
}

bool VersionInPlace::before(QSqlDatabase db, const QString &kind, const QString &task, qint64 beforeId,
    HistoryEntry &found, QString &error)
{
    return select(db, kind, task, QStringLiteral("id < ? ORDER BY id DESC"), beforeId, found, error);
}

bool VersionInPlace::after(QSqlDatabase db, const QString &kind, const QString &task, qint64 afterId,
    HistoryEntry &found, QString &error)
{
    return select(db, kind, task, QStringLiteral("id > ? ORDER BY id"), afterId, found, error);
}

bool VersionInPlace::select(QSqlDatabase db, const QString &kind, const QString &task, const QString &order,
    qint64 id, HistoryEntry &found, QString &error)
{
    error.clear();
    QSqlQuery query(db);
    query.prepare(QStringLiteral("SELECT %1 FROM fetch WHERE task = ? AND kind = ? AND %2 AND %3 LIMIT 1")
                      .arg(HistoryStore::listColumns, condition(), order));
    for (const QVariant &value : QVariantList { task, kind, id })
        query.addBindValue(value);
    if (!query.exec()) {
        error = query.lastError().text();
        return false;
    }
    if (!query.next())
        return false;
    found = HistoryStore::fromQuery(query);
    return true;
}
