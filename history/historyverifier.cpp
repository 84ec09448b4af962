#include "history/historyverifier.h"

#include "history/historychain.h"
#include "history/historyconnection.h"
#include "history/historyentry.h"
#include "history/installedcheck.h"
#include "history/versionkeeper.h"

#include <QFileInfo>
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
    if (!walk(connection.database(), expected, expectedFound) || !checkKept(connection.database()))
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

// The version a row set aside is the one in place before it started, as a restore checks it;
// of the rows naming a kept path the newest counts, since a pruned name may be given again.
// A version no longer on disk has been pruned.
bool HistoryVerifier::checkKept(QSqlDatabase db)
{
    QSqlQuery kept(db);
    kept.setForwardOnly(true);
    kept.prepare(QStringLiteral("SELECT id, time, kind, task, kept_path, start_id FROM fetch WHERE id IN "
                                "(SELECT MAX(id) FROM fetch WHERE kept_path <> '' AND action <> ? "
                                "GROUP BY kept_path) ORDER BY id"));
    kept.addBindValue(QString::fromLatin1(HistoryEntry::pruneAction));
    QSqlQuery installed(db);
    installed.prepare(QStringLiteral("SELECT id, sha256 FROM fetch WHERE task = ? AND kind = ? AND ok = 1 "
                                     "AND action IN (?, ?) AND id < ? ORDER BY id DESC LIMIT 1"));
    QSqlQuery files(db);
    files.prepare(QStringLiteral("SELECT path, size, sha256 FROM fetch_file WHERE fetch_id = ?"));
    if (!kept.exec()) {
        m_findings << kept.lastError().text();
        return false;
    }
    while (kept.next()) {
        if (!keptVersionHolds(installed, files, kept))
            return false;
    }
    return true;
}

// False only when the history cannot be read; a version that differs is a finding.
bool HistoryVerifier::keptVersionHolds(QSqlQuery &installed, QSqlQuery &files, const QSqlQuery &kept)
{
    const QString path = VersionKeeper(m_folder).absolutePath(kept.value(4).toString());
    if (!QFileInfo::exists(path))
        return true;
    const QString kind = kept.value(2).toString();
    const qint64 startId = kept.value(5).toLongLong();
    for (const QVariant &value : QVariantList { kept.value(3), kind,
             QString::fromLatin1(HistoryEntry::fetchAction), QString::fromLatin1(HistoryEntry::restoreAction),
             startId > 0 ? startId : kept.value(0).toLongLong() })
        installed.addBindValue(value);
    if (!installed.exec()) {
        m_findings << installed.lastError().text();
        return false;
    }
    if (!installed.next())
        return true;
    const QString sha256 = installed.value(1).toString();
    files.addBindValue(installed.value(0));
    if (!files.exec()) {
        m_findings << files.lastError().text();
        return false;
    }
    QList<HistoryFile> rows;
    while (files.next())
        rows << HistoryFile { files.value(0).toString(), files.value(1).toLongLong(),
            files.value(2).toString() };
    // Without digests there is nothing to check against.
    if (kind == QLatin1String("pdf") ? sha256.isEmpty() : rows.isEmpty())
        return true;
    const InstalledCheck::Differences differences = InstalledCheck::compare(kind, path, sha256, rows);
    if (!differences.isEmpty())
        m_findings << QStringLiteral(
            "the kept version %1 (set aside by row %2, %3) differs from its rows: %4")
                          .arg(kept.value(4).toString(), kept.value(0).toString(), kept.value(1).toString(),
                              differences.summary());
    return true;
}
