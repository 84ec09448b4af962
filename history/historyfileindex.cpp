#include "history/historyfileindex.h"

#include "history/historyconnection.h"
#include "history/historyentry.h"
#include "history/historylog.h"
#include "history/versioninplace.h"

#include <QSqlError>
#include <QSqlQuery>
#include <QVariantList>

HistoryFileIndex::HistoryFileIndex(const QString &folder)
    : m_folder(folder)
{ }

QString HistoryFileIndex::lastError() const
{
    return m_error;
}

// The version in place is the one VersionInPlace names.
bool HistoryFileIndex::find(const QString &name, QList<Hit> &hits)
{
    m_error.clear();
    hits.clear();
    if (name.isEmpty())
        return true;
    HistoryConnection connection(m_folder, QStringLiteral("files"));
    if (!connection.isOpen())
        return fail(QStringLiteral("open"), connection.errorString());
    QSqlQuery query(connection.database());
    query.setForwardOnly(true);
    query.prepare(QStringLiteral("SELECT f.task, f.target, ff.path FROM fetch f "
                                 "JOIN fetch_file ff ON ff.fetch_id = f.id "
                                 "WHERE f.id IN (%1) ORDER BY f.task, ff.path")
                      .arg(VersionInPlace::newestIds(QStringLiteral("'nc'"))));
    if (!query.exec())
        return fail(QStringLiteral("read"), query.lastError().text());
    while (query.next()) {
        const QString path = query.value(2).toString();
        if (nameMatches(path, name))
            hits << Hit { query.value(0).toString(), query.value(1).toString(), path };
    }
    if (query.lastError().isValid())
        return fail(QStringLiteral("read"), query.lastError().text());
    return true;
}

bool HistoryFileIndex::nameMatches(const QString &path, const QString &name)
{
    const QString fileName = path.mid(path.lastIndexOf(QLatin1Char('/')) + 1);
    if (fileName.compare(name, Qt::CaseInsensitive) == 0)
        return true;
    const int dot = fileName.lastIndexOf(QLatin1Char('.'));
    return dot > 0 && fileName.leftRef(dot).compare(name, Qt::CaseInsensitive) == 0;
}

bool HistoryFileIndex::fail(const QString &what, const QString &why)
{
    m_error = QStringLiteral("cannot %1 the history in %2: %3").arg(what, m_folder, why);
    qCWarning(historyLog).noquote() << "history:" << m_error;
    return false;
}
