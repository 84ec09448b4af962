#include "history/historyverifier.h"

#include "history/historychain.h"
#include "history/historyconnection.h"
#include "history/historyentry.h"
#include "history/installedcheck.h"
#include "history/versioninplace.h"
#include "history/versionkeeper.h"

#include <QDir>
#include <QFileInfo>
#include <QRegularExpression>
#include <QSqlError>
#include <QSqlQuery>

HistoryVerifier::HistoryVerifier(const QString &folder)
    : m_folder(folder)
{ }

// The history is closed before the files in place are read: hashing them takes a while.
HistoryVerifier::Result HistoryVerifier::verify(const QString &expectedHead, Scope scope)
{
    m_findings.clear();
    m_head.clear();
    if (!expectedHead.isEmpty() && !isChainValue(expectedHead)) {
        m_findings << QStringLiteral("%1 is no chain value: 64 hexadecimal digits").arg(expectedHead);
        return Result::CannotCheck;
    }
    {
        HistoryConnection connection(m_folder, QStringLiteral("verify"), HistoryConnection::Access::ReadOnly);
        if (!connection.isOpen()) {
            m_findings << connection.errorString();
            return Result::CannotCheck;
        }
        const QByteArray expected = HistoryChain::fromText(expectedHead);
        bool expectedFound = false;
        if (!walk(connection.database(), expected, expectedFound)
            || (scope == Scope::RecordAndFiles && !checkKept(connection.database())))
            return Result::CannotCheck;
        if (!expected.isEmpty() && !expectedFound)
            m_findings << QStringLiteral(
                "the exported head %1 is no longer in the chain: rows were deleted or "
                "rewritten")
                              .arg(expectedHead);
    }
    const bool broken = !m_findings.isEmpty();
    QStringList changed;
    if (scope == Scope::RecordAndFiles && !checkInPlace(changed))
        return Result::CannotCheck;
    m_findings << changed;
    if (broken)
        return Result::Broken;
    return changed.isEmpty() ? Result::Intact : Result::ProgramsChanged;
}

bool HistoryVerifier::isChainValue(const QString &text)
{
    static const QRegularExpression chainValue(QStringLiteral("^[0-9A-Fa-f]{64}$"));
    return chainValue.match(text).hasMatch();
}

// Each task's files where its version in place put them, every one named that differs.
bool HistoryVerifier::checkInPlace(QStringList &changed)
{
    InstalledCheck check(m_folder, HistoryConnection::Access::ReadOnly);
    QList<InstalledCheck::TaskCheck> checks;
    if (!check.checkEveryTask(checks)) {
        m_findings << check.lastError();
        return false;
    }
    for (const InstalledCheck::TaskCheck &task : qAsConst(checks)) {
        if (task.result == InstalledCheck::Result::Changed)
            changed << QStringLiteral("task %1's %2 in place (%3) differs from its rows: %4")
                           .arg(task.task, task.kind == QLatin1String("pdf") ? "label PDF" : "NC program",
                               QDir::toNativeSeparators(task.target), task.differences.summary());
    }
    return true;
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
    QSqlQuery files(db);
    files.prepare(QStringLiteral("SELECT path, size, sha256 FROM fetch_file WHERE fetch_id = ?"));
    if (!kept.exec()) {
        m_findings << kept.lastError().text();
        return false;
    }
    while (kept.next()) {
        if (!keptVersionHolds(db, files, kept))
            return false;
    }
    return true;
}

// False only when the history cannot be read; a version that differs is a finding.
bool HistoryVerifier::keptVersionHolds(QSqlDatabase db, QSqlQuery &files, const QSqlQuery &kept)
{
    const QString path = VersionKeeper(m_folder).absolutePath(kept.value(4).toString());
    if (!QFileInfo::exists(path))
        return true;
    const QString kind = kept.value(2).toString();
    const qint64 startId = kept.value(5).toLongLong();
    HistoryEntry installed;
    QString error;
    if (!VersionInPlace::before(db, kind, kept.value(3).toString(),
            startId > 0 ? startId : kept.value(0).toLongLong(), installed, error)) {
        if (error.isEmpty())
            return true;
        m_findings << error;
        return false;
    }
    const QString sha256 = installed.sha256;
    files.addBindValue(installed.id);
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
