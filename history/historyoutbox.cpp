#include "history/historyoutbox.h"

#include "history/historychain.h"
#include "history/historyconnection.h"

#include <QSqlError>
#include <QSqlQuery>
#include <QUuid>

HistoryOutbox::HistoryOutbox(const QString &folder, HistoryConnection::Access access)
    : m_folder(folder)
    , m_access(access)
{ }

QString HistoryOutbox::lastError() const
{
    return m_error;
}

bool HistoryOutbox::storeId(QString &id)
{
    m_error.clear();
    HistoryConnection connection(m_folder, QStringLiteral("outbox"), m_access);
    if (!connection.isOpen())
        return fail(QStringLiteral("open"), connection.errorString());
    QSqlQuery query(connection.database());
    if (!query.exec(QStringLiteral("SELECT id FROM store")) || !query.next())
        return fail(QStringLiteral("read the id of"), query.lastError().text());
    id = query.value(0).toString();
    return true;
}

bool HistoryOutbox::backlog(Backlog &found)
{
    m_error.clear();
    HistoryConnection connection(m_folder, QStringLiteral("outbox"), m_access);
    if (!connection.isOpen())
        return fail(QStringLiteral("open"), connection.errorString());
    QSqlQuery query(connection.database());
    if (!query.exec(
            QStringLiteral("SELECT forwarded_id, (SELECT COUNT(*) FROM fetch WHERE id > forwarded_id), "
                           "(SELECT time FROM fetch WHERE id > forwarded_id ORDER BY id LIMIT 1) FROM store"))
        || !query.next())
        return fail(QStringLiteral("read the backlog of"), query.lastError().text());
    found = Backlog { query.value(0).toLongLong(), query.value(1).toLongLong(), query.value(2).toString() };
    return true;
}

bool HistoryOutbox::rowsAfter(qint64 afterId, int limit, QList<Row> &rows)
{
    m_error.clear();
    rows.clear();
    HistoryConnection connection(m_folder, QStringLiteral("outbox"), m_access);
    if (!connection.isOpen())
        return fail(QStringLiteral("open"), connection.errorString());
    QSqlQuery query(connection.database());
    query.setForwardOnly(true);
    query.prepare(QStringLiteral("SELECT %1, chain FROM fetch WHERE id > ? ORDER BY id LIMIT ?")
                      .arg(HistoryChain::rowColumns));
    query.addBindValue(afterId);
    query.addBindValue(limit);
    if (!query.exec())
        return fail(QStringLiteral("read"), query.lastError().text());
    const int chainColumn = HistoryChain::rowColumns.count(QLatin1Char(',')) + 1;
    while (query.next()) {
        Row row;
        row.values = HistoryChain::values(query, chainColumn);
        row.id = row.values.first().toLongLong();
        row.chain = query.isNull(chainColumn) ? QVariant() : query.value(chainColumn);
        rows << row;
    }
    if (rows.isEmpty())
        return true;
    QSqlQuery files(connection.database());
    files.setForwardOnly(true);
    files.prepare(QStringLiteral("SELECT %1 FROM fetch_file WHERE fetch_id BETWEEN ? AND ? ORDER BY fetch_id")
                      .arg(HistoryChain::fileColumns));
    files.addBindValue(rows.first().id);
    files.addBindValue(rows.last().id);
    if (!files.exec())
        return fail(QStringLiteral("read"), files.lastError().text());
    bool more = files.next();
    for (Row &row : rows)
        row.files = HistoryChain::takeFiles(files, more, row.id);
    return true;
}

bool HistoryOutbox::confirm(qint64 id)
{
    m_error.clear();
    HistoryConnection connection(m_folder, QStringLiteral("outbox"), m_access);
    if (!connection.isOpen())
        return fail(QStringLiteral("open"), connection.errorString());
    QSqlQuery query(connection.database());
    query.prepare(QStringLiteral("UPDATE store SET forwarded_id = MAX(forwarded_id, ?)"));
    query.addBindValue(id);
    if (!query.exec())
        return fail(QStringLiteral("move the cursor of"), query.lastError().text());
    return true;
}

bool HistoryOutbox::renewStoreId(QString &id)
{
    m_error.clear();
    HistoryConnection connection(m_folder, QStringLiteral("outbox"), m_access);
    if (!connection.isOpen())
        return fail(QStringLiteral("open"), connection.errorString());
    const QString renewed = QUuid::createUuid().toString(QUuid::WithoutBraces);
    QSqlQuery query(connection.database());
    query.prepare(QStringLiteral("UPDATE store SET id = ?, forwarded_id = 0"));
    query.addBindValue(renewed);
    if (!query.exec())
        return fail(QStringLiteral("renew the id of"), query.lastError().text());
    id = renewed;
    return true;
}

bool HistoryOutbox::fail(const QString &what, const QString &why)
{
    // Not logged here: the forwarder logs a change of state once, not every poll.
    m_error = QStringLiteral("cannot %1 the history in %2: %3").arg(what, m_folder, why);
    return false;
}
