#ifndef HISTORYSTORE_H
#define HISTORYSTORE_H

#include "history/historyconnection.h"
#include "history/historyentry.h"

#include <QDate>
#include <QDateTime>
#include <QHash>
#include <QString>
#include <QVariantList>

#include <functional>

class QSqlQuery;

// The history of fetches, restores, opened folders and pruned versions, kept in
// "history.sqlite" in its folder. Every call opens the file for its own thread and closes
// it again (HistoryConnection), so the store may be used from any thread, one call at a time
// per object. A store that cannot be opened or written fails the call and says why in
// lastError(); the next call tries again. A store opened ReadOnly only reads the file as it is.
class HistoryStore
{
public:
    // Which entries a listing or an export takes; empty parts take all.
    struct Filter
    {
        QDate since; // this day and later
        QDate day; // this day only
        QString task;
    };

    // The columns a listing selects, in this order.
    static const QString listColumns;
    static const QString timeFormat;

    explicit HistoryStore(
        const QString &folder, HistoryConnection::Access access = HistoryConnection::Access::ReadWrite);

    // "history" beside the program.
    static QString defaultFolder();
    QString folder() const;
    QString lastError() const;

    // Adds the entries, each with its files, in one transaction and sets their ids.
    bool add(QList<HistoryEntry> &entries);
    bool add(HistoryEntry &entry);
    bool find(qint64 id, HistoryEntry &found);
    // The newest entry before beforeId that put a version of the task's file or folder in
    // place, as VersionInPlace decides it; false when there is none.
    bool lastInstalled(const QString &kind, const QString &task, qint64 beforeId, HistoryEntry &found);
    // The files recorded for entry id, by path.
    bool files(qint64 id, QList<HistoryFile> &found);
    // For every kept path the rows name, the id of the newest row that set it aside: the
    // order in which the versions were kept, whatever the clock said.
    bool keptSequence(QHash<QString, qint64> &sequence);
    // The start rows no completion names yet, oldest first.
    bool unfinished(QList<HistoryEntry> &starts);
    // The oldest such entry after afterId: the one that replaced the version put in place by
    // entry afterId, and kept it; false when there is none.
    bool nextInstalled(const QString &kind, const QString &task, qint64 afterId, HistoryEntry &found);
    // The chain value of the newest chained row (64 zeros when there is none).
    bool head(QString &chain);
    // Calls visit with each entry the filter lets through, oldest first.
    bool forEach(const Filter &filter, const std::function<void(const HistoryEntry &)> &visit);
    // The newest count entries a listing shows, oldest first: the end of forEach without
    // reading the rest.
    bool newest(int count, QList<HistoryEntry> &found);

    // The WHERE clause for filter, with its values to bind in order. It leaves out the start
    // rows of fetches that have completed, so that every fetch is one row.
    static QString whereClause(const Filter &filter, QVariantList &values);
    // The entry's time as stored: ISO 8601 in UTC, with milliseconds.
    static QString timeText(const HistoryEntry &entry);
    static QString utcText(const QDateTime &time);
    // The entry's time in local time, as timeFormat.
    static QString localTimeText(const HistoryEntry &entry);
    // The SQL expression of the stored time in local time, in strftime's format.
    static QString localTimeSql(const QString &format);
    // An entry from a query that selected listColumns.
    static HistoryEntry fromQuery(const QSqlQuery &query);

    // The values HistoryChain::append inserts for the entry and its files.
    static QVariantList rowValues(const HistoryEntry &entry);
    static QList<QVariantList> fileValues(const HistoryEntry &entry);

private:
    bool select(const Filter &filter, const QString &order, const QVariantList &orderValues,
        const std::function<void(const HistoryEntry &)> &visit);
    bool write(QList<HistoryEntry> &entries, bool &damaged);
    enum class Direction
    {
        Before,
        After
    };
    // The version of the task put in place nearest to id in direction (VersionInPlace).
    bool installed(
        const QString &kind, const QString &task, Direction direction, qint64 id, HistoryEntry &found);
    bool fail(const QString &what, const QString &why);

    QString m_folder;
    HistoryConnection::Access m_access;
    QString m_error;
};

#endif // HISTORYSTORE_H
