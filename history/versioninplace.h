#ifndef VERSIONINPLACE_H
#define VERSIONINPLACE_H

#include "history/historyentry.h"

#include <QSqlDatabase>
#include <QString>

// Which row of the history is the version of a task's NC program or label PDF in place: the
// newest row of the task and kind that put a version there. That is a fetch or a restore
// that succeeded (ok = 1); a completion that start-up recovery wrote for an interrupted one
// ("Interrupted") only where it names, by its SHA-256, an earlier such row of the task whose
// digests match the files it found. docs/history-chain.md states the rule for other readers
// of the table. Every reader of the history that asks the question goes through here.
class VersionInPlace
{
public:
    // The SQL condition a row of fetch, under the name table, meets when it put a version in
    // place. Only our own constants are in it, no bound values.
    static QString condition(const QString &table = QStringLiteral("fetch"));
    // A sub-select of the id of each task's version in place, by task and kind, for the
    // kinds listed (SQL text literals, "'nc', 'pdf'").
    static QString newestIds(const QString &kinds = QStringLiteral("'nc', 'pdf'"));

    // The version of the task's kind in place just before the row beforeId (the newest,
    // with beforeId past the end), read through db with the columns of
    // HistoryStore::listColumns; false when there is none or on error (error set then).
    static bool before(QSqlDatabase db, const QString &kind, const QString &task, qint64 beforeId,
        HistoryEntry &found, QString &error);
    // The oldest row after afterId that put a version of the task's kind in place.
    static bool after(QSqlDatabase db, const QString &kind, const QString &task, qint64 afterId,
        HistoryEntry &found, QString &error);

private:
    static bool select(QSqlDatabase db, const QString &kind, const QString &task, const QString &order,
        qint64 id, HistoryEntry &found, QString &error);
};

#endif // VERSIONINPLACE_H
