#include "history/historystore.h"

#include "history/historychain.h"
#include "history/historyconnection.h"
#include "history/historylog.h"
#include "history/versioninplace.h"

#include <QCoreApplication>
#include <QDebug>
#include <QHash>
#include <QSqlError>
#include <QSqlQuery>

#include <algorithm>

// SQLite turns the stored UTC time into local time as the rows are read: converting 100,000
// texts into local date-times in Qt would take seconds.
const QString HistoryStore::listColumns
    = QStringLiteral("id, time, action, user_id, device, task, kind, source, target, bytes, sha256, outcome, "
                     "ok, duration_ms, kept_path, start_id, %1, chain")
          .arg(localTimeSql(QStringLiteral("%Y-%m-%d %H:%M:%f")));
const QString HistoryStore::timeFormat = QStringLiteral("yyyy-MM-dd HH:mm:ss.zzz");

HistoryStore::HistoryStore(const QString &folder, HistoryConnection::Access access)
    : m_folder(folder)
    , m_access(access)
{ }

QString HistoryStore::defaultFolder()
{
    return QCoreApplication::applicationDirPath() + QStringLiteral("/history");
}

QString HistoryStore::folder() const
{
    return m_folder;
}

QString HistoryStore::lastError() const
{
    return m_error;
}

bool HistoryStore::add(HistoryEntry &entry)
{
    QList<HistoryEntry> entries { entry };
    const bool added = add(entries);
    entry.id = entries.first().id;
    return added;
}

// A file found damaged while writing is set aside, and the entries go into a new one.
bool HistoryStore::add(QList<HistoryEntry> &entries)
{
    m_error.clear();
    bool damaged = false;
    if (write(entries, damaged))
        return true;
    if (!damaged || m_access == HistoryConnection::Access::ReadOnly
        || HistoryConnection::setAside(m_folder).isEmpty())
        return false;
    return write(entries, damaged);
}

bool HistoryStore::write(QList<HistoryEntry> &entries, bool &damaged)
{
    HistoryConnection connection(m_folder, QStringLiteral("rw"), m_access);
    if (!connection.isOpen())
        return fail(QStringLiteral("open"), connection.errorString());
    QSqlDatabase db = connection.database();
    // IMMEDIATE takes the write lock before the head is read, so that two writers cannot
    // both append after the same row and fork the chain.
    QSqlQuery begin(db);
    if (!begin.exec(QStringLiteral("BEGIN IMMEDIATE"))) {
        damaged = HistoryConnection::isCorruption(begin.lastError());
        return fail(QStringLiteral("begin"), begin.lastError().text());
    }
    HistoryChain::Head head;
    QSqlError error;
    if (!HistoryChain::readHead(db, head, error)) {
        damaged = HistoryConnection::isCorruption(error);
        db.rollback();
        return fail(QStringLiteral("read the chain of"), error.text());
    }
    for (HistoryEntry &entry : entries) {
        if (!HistoryChain::append(db, rowValues(entry), fileValues(entry), head, error)) {
            damaged = HistoryConnection::isCorruption(error);
            db.rollback();
            return fail(QStringLiteral("add"), error.text());
        }
        entry.id = head.lastId;
    }
    if (!db.commit()) {
        damaged = HistoryConnection::isCorruption(db.lastError());
        const QString why = db.lastError().text();
        db.rollback();
        return fail(QStringLiteral("commit"), why);
    }
    return true;
}

// In the order of HistoryChain::rowColumns, without the id. A row written now has no
// original time: its time was UTC from the start.
QVariantList HistoryStore::rowValues(const HistoryEntry &entry)
{
    return QVariantList { timeText(entry), entry.action, entry.userId, entry.device, entry.task, entry.kind,
        entry.source, entry.target, entry.bytes, entry.sha256, entry.outcome, entry.ok ? 1 : 0,
        entry.durationMs, entry.keptPath, QVariant(),
        entry.startId > 0 ? QVariant(entry.startId) : QVariant(QVariant::LongLong) };
}

QList<QVariantList> HistoryStore::fileValues(const HistoryEntry &entry)
{
    QList<QVariantList> files;
    for (const HistoryFile &file : entry.files)
        files << QVariantList { file.path, file.size, file.sha256 };
    return files;
}

bool HistoryStore::find(qint64 id, HistoryEntry &found)
{
    HistoryConnection connection(m_folder, QStringLiteral("rw"), m_access);
    if (!connection.isOpen())
        return fail(QStringLiteral("open"), connection.errorString());
    QSqlQuery query(connection.database());
    query.prepare(QStringLiteral("SELECT %1 FROM fetch WHERE id = ?").arg(listColumns));
    query.addBindValue(id);
    if (!query.exec())
        return fail(QStringLiteral("read"), query.lastError().text());
    if (!query.next())
        return false;
    found = fromQuery(query);
    return true;
}

bool HistoryStore::lastInstalled(
    const QString &kind, const QString &task, qint64 beforeId, HistoryEntry &found)
{
    return installed(kind, task, Direction::Before, beforeId, found);
}

bool HistoryStore::nextInstalled(
    const QString &kind, const QString &task, qint64 afterId, HistoryEntry &found)
{
    return installed(kind, task, Direction::After, afterId, found);
}

bool HistoryStore::installed(
    const QString &kind, const QString &task, Direction direction, qint64 id, HistoryEntry &found)
{
    m_error.clear();
    HistoryConnection connection(m_folder, QStringLiteral("rw"), m_access);
    if (!connection.isOpen())
        return fail(QStringLiteral("open"), connection.errorString());
    QString error;
    const bool next = direction == Direction::After;
    if ((next ? VersionInPlace::after : VersionInPlace::before)(
            connection.database(), kind, task, id, found, error))
        return true;
    return error.isEmpty() ? false : fail(QStringLiteral("read"), error);
}

bool HistoryStore::files(qint64 id, QList<HistoryFile> &found)
{
    HistoryConnection connection(m_folder, QStringLiteral("rw"), m_access);
    if (!connection.isOpen())
        return fail(QStringLiteral("open"), connection.errorString());
    QSqlQuery query(connection.database());
    query.prepare(QStringLiteral("SELECT path, size, sha256 FROM fetch_file WHERE fetch_id = ?"));
    query.addBindValue(id);
    if (!query.exec())
        return fail(QStringLiteral("read"), query.lastError().text());
    found.clear();
    while (query.next())
        found << HistoryFile { query.value(0).toString(), query.value(1).toLongLong(),
            query.value(2).toString() };
    // In the order FileDigest lists a folder, so that the two compare.
    std::sort(found.begin(), found.end(),
        [](const HistoryFile &a, const HistoryFile &b) { return a.path < b.path; });
    return true;
}

// A name pruned once may be given again; the newest row that set it aside counts.
bool HistoryStore::keptSequence(QHash<QString, qint64> &sequence)
{
    HistoryConnection connection(m_folder, QStringLiteral("rw"), m_access);
    if (!connection.isOpen())
        return fail(QStringLiteral("open"), connection.errorString());
    QSqlQuery query(connection.database());
    query.setForwardOnly(true);
    query.prepare(QStringLiteral("SELECT kept_path, MAX(id) FROM fetch WHERE kept_path <> '' AND action <> ? "
                                 "GROUP BY kept_path"));
    query.addBindValue(QString::fromLatin1(HistoryEntry::pruneAction));
    if (!query.exec())
        return fail(QStringLiteral("read"), query.lastError().text());
    sequence.clear();
    while (query.next())
        sequence.insert(query.value(0).toString(), query.value(1).toLongLong());
    return true;
}

bool HistoryStore::unfinished(QList<HistoryEntry> &starts)
{
    HistoryConnection connection(m_folder, QStringLiteral("rw"), m_access);
    if (!connection.isOpen())
        return fail(QStringLiteral("open"), connection.errorString());
    QSqlQuery query(connection.database());
    query.prepare(QStringLiteral("SELECT %1 FROM fetch WHERE outcome = ? AND start_id IS NULL AND NOT EXISTS "
                                 "(SELECT 1 FROM fetch AS done WHERE done.start_id = fetch.id) ORDER BY id")
                      .arg(listColumns));
    query.addBindValue(QString::fromLatin1(HistoryEntry::startedOutcome));
    if (!query.exec())
        return fail(QStringLiteral("read"), query.lastError().text());
    starts.clear();
    while (query.next())
        starts << fromQuery(query);
    return true;
}

bool HistoryStore::forEach(const Filter &filter, const std::function<void(const HistoryEntry &)> &visit)
{
    return select(filter, QStringLiteral("ORDER BY id"), {}, visit);
}

bool HistoryStore::newest(int count, QList<HistoryEntry> &found)
{
    found.clear();
    return select(Filter(), QStringLiteral("ORDER BY id DESC LIMIT ?"), { count },
        [&found](const HistoryEntry &entry) { found.prepend(entry); });
}

// The listing's rows that filter lets through, in order (bound values last), one at a time.
bool HistoryStore::select(const Filter &filter, const QString &order, const QVariantList &orderValues,
    const std::function<void(const HistoryEntry &)> &visit)
{
    m_error.clear();
    HistoryConnection connection(m_folder, QStringLiteral("rw"), m_access);
    if (!connection.isOpen())
        return fail(QStringLiteral("open"), connection.errorString());
    QVariantList values;
    QSqlQuery query(connection.database());
    query.setForwardOnly(true);
    query.prepare(
        QStringLiteral("SELECT %1 FROM fetch %2 %3").arg(listColumns, whereClause(filter, values), order));
    for (const QVariant &value : qAsConst(values) + orderValues)
        query.addBindValue(value);
    if (!query.exec())
        return fail(QStringLiteral("read"), query.lastError().text());
    while (query.next())
        visit(fromQuery(query));
    if (query.lastError().isValid())
        return fail(QStringLiteral("read"), query.lastError().text());
    return true;
}

// Times are stored as UTC texts of one length, which sort as they read; a day is the
// operator's local day. A start row that has been completed is left out: its completion
// stands for the whole fetch.
QString HistoryStore::whereClause(const Filter &filter, QVariantList &values)
{
    QStringList conditions { QStringLiteral("NOT EXISTS (SELECT 1 FROM fetch AS done WHERE done.start_id = "
                                            "fetch.id)") };
    if (filter.since.isValid()) {
        conditions << QStringLiteral("time >= ?");
        values << utcText(filter.since.startOfDay());
    }
    if (filter.day.isValid()) {
        conditions << QStringLiteral("time >= ? AND time < ?");
        values << utcText(filter.day.startOfDay()) << utcText(filter.day.addDays(1).startOfDay());
    }
    if (!filter.task.isEmpty()) {
        conditions << QStringLiteral("task = ?");
        values << filter.task;
    }
    return QStringLiteral("WHERE ") + conditions.join(QStringLiteral(" AND "));
}

QString HistoryStore::utcText(const QDateTime &time)
{
    return time.toUTC().toString(Qt::ISODateWithMs);
}

QString HistoryStore::localTimeSql(const QString &format)
{
    return QStringLiteral("strftime('%1', time, 'localtime')").arg(format);
}

QString HistoryStore::timeText(const HistoryEntry &entry)
{
    return entry.timeText.isEmpty() ? utcText(entry.time) : entry.timeText;
}

QString HistoryStore::localTimeText(const HistoryEntry &entry)
{
    if (!entry.localTimeText.isEmpty())
        return entry.localTimeText;
    const QDateTime time
        = entry.timeText.isEmpty() ? entry.time : QDateTime::fromString(entry.timeText, Qt::ISODateWithMs);
    return time.toLocalTime().toString(timeFormat);
}

HistoryEntry HistoryStore::fromQuery(const QSqlQuery &query)
{
    HistoryEntry entry;
    entry.id = query.value(0).toLongLong();
    // Read back as text: turning 100,000 texts into local date-times would take seconds.
    entry.timeText = query.value(1).toString();
    entry.action = query.value(2).toString();
    entry.userId = query.value(3).toString();
    entry.device = query.value(4).toString();
    entry.task = query.value(5).toString();
    entry.kind = query.value(6).toString();
    entry.source = query.value(7).toString();
    entry.target = query.value(8).toString();
    entry.bytes = query.value(9).toLongLong();
    entry.sha256 = query.value(10).toString();
    entry.outcome = query.value(11).toString();
    entry.ok = query.value(12).toInt() != 0;
    entry.durationMs = query.value(13).toLongLong();
    entry.keptPath = query.value(14).toString();
    entry.startId = query.value(15).toLongLong();
    entry.localTimeText = query.value(16).toString();
    entry.chain = query.value(17).toString();
    return entry;
}

bool HistoryStore::head(QString &chain)
{
    m_error.clear();
    HistoryConnection connection(m_folder, QStringLiteral("rw"), m_access);
    if (!connection.isOpen())
        return fail(QStringLiteral("open"), connection.errorString());
    HistoryChain::Head found;
    QSqlError error;
    if (!HistoryChain::readHead(connection.database(), found, error))
        return fail(QStringLiteral("read the chain of"), error.text());
    chain = HistoryChain::toText(found.chain);
    return true;
}

bool HistoryStore::fail(const QString &what, const QString &why)
{
    m_error = QStringLiteral("cannot %1 the history in %2: %3").arg(what, m_folder, why);
    qCWarning(historyLog).noquote() << "history:" << m_error;
    return false;
}
