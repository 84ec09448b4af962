#include "history/historyverifier.h"

#include "history/historychain.h"
#include "history/historyconnection.h"

#include <QSqlError>
#include <QSqlQuery>

HistoryVerifier::HistoryVerifier(const QString &folder)
    : m_folder(folder)
{ }

HistoryVerifier::Result HistoryVerifier::verify(const QString &expectedHead)
{
    m_findings.clear();
    m_head.clear();
    HistoryConnection connection(m_folder, QStringLiteral("verify"), HistoryConnection::Access::ReadOnly);
    if (!connection.isOpen()) {
        m_findings << connection.errorString();
        return Result::CannotCheck;
    }
    const QByteArray expected = HistoryChain::fromText(expectedHead);
    bool expectedFound = false;
    if (!walk(connection.database(), expected, expectedFound))
        return Result::CannotCheck;
    if (!expected.isEmpty() && !expectedFound)
        m_findings << QStringLiteral("the exported head %1 is no longer in the chain: rows were deleted or "
                                     "rewritten")
                          .arg(expectedHead.trimmed());
    return m_findings.isEmpty() ? Result::Intact : Result::Broken;
}

QStringList HistoryVerifier::findings() const
{
    return m_findings;
}

QString HistoryVerifier::head() const
{
    return m_head;
}

// Each row is checked against the stored chain of the row before it, so an edited row is
// named itself and a deleted one by the row that followed it.
bool HistoryVerifier::walk(QSqlDatabase db, const QByteArray &expected, bool &expectedFound)
{
    QSqlQuery rows(db);
    rows.setForwardOnly(true);
    QSqlQuery files(db);
    files.setForwardOnly(true);
    if (!rows.exec(QStringLiteral("SELECT %1, chain FROM fetch ORDER BY id").arg(HistoryChain::rowColumns))
        || !files.exec(
            QStringLiteral("SELECT %1 FROM fetch_file ORDER BY fetch_id").arg(HistoryChain::fileColumns))) {
        m_findings << (rows.lastError().isValid() ? rows.lastError() : files.lastError()).text();
        return false;
    }
    const int chainColumn = HistoryChain::rowColumns.count(QLatin1Char(',')) + 1;
    QByteArray previous = HistoryChain::genesis();
    bool moreFiles = files.next();
    while (rows.next()) {
        const QVariantList row = HistoryChain::values(rows, chainColumn);
        const qint64 id = row.first().toLongLong();
        const QString where = QStringLiteral("row %1 (%2)").arg(id).arg(row.at(1).toString());
        const QList<QVariantList> rowFiles = HistoryChain::takeFiles(files, moreFiles, id);
        if (rows.isNull(chainColumn)) {
            m_findings << QStringLiteral("%1 is unchained, after the boundary").arg(where);
            continue;
        }
        const QByteArray stored = HistoryChain::fromText(rows.value(chainColumn).toString());
        if (HistoryChain::link(previous, HistoryChain::encode(row, rowFiles)) != stored)
            m_findings << QStringLiteral("%1 does not follow the row before it: edited, or a row before it "
                                         "deleted")
                              .arg(where);
        expectedFound = expectedFound || stored == expected;
        previous = stored;
    }
    m_head = HistoryChain::toText(previous);
    return true;
}
