#include "history/inplacecompare.h"

#include "history/filedigest.h"
#include "history/historystore.h"
#include "history/installedcheck.h"
#include "history/versionkeeper.h"

#include <JlCompress.h>

#include <QFileInfo>
#include <QTemporaryDir>

#include <algorithm>

namespace {

// The differing files, named without their lines, when no original is left to read.
QList<NcCompare::FileDiff> namedOnly(const InstalledCheck::Differences &differences)
{
    QList<NcCompare::FileDiff> files;
    const QList<QPair<NcCompare::Status, const QStringList *>> kinds {
        { NcCompare::Status::Changed, &differences.changed },
        { NcCompare::Status::Removed, &differences.missing }, { NcCompare::Status::Added, &differences.added }
    };
    for (const auto &kind : kinds) {
        for (const QString &path : *kind.second) {
            NcCompare::FileDiff diff;
            diff.path = path;
            diff.status = kind.first;
            files << diff;
        }
    }
    std::sort(files.begin(), files.end(),
        [](const NcCompare::FileDiff &a, const NcCompare::FileDiff &b) { return a.path < b.path; });
    return files;
}

} // namespace

InPlaceCompare::InPlaceCompare(const QString &historyFolder, bool integerIsUnit)
    : m_folder(historyFolder)
    , m_integerIsUnit(integerIsUnit)
{ }

NcCompare::Result InPlaceCompare::compare(const HistoryEntry &entry) const
{
    NcCompare::Result result;
    QList<HistoryFile> rows;
    HistoryStore store(m_folder, HistoryConnection::Access::ReadOnly);
    if (!store.files(entry.id, rows) || rows.isEmpty()) {
        result.error = store.lastError().isEmpty()
            ? QStringLiteral("the history holds no digests of the files fetched then")
            : store.lastError();
        return result;
    }
    const InstalledCheck::Differences differences
        = InstalledCheck::compare(QStringLiteral("nc"), entry.target, entry.sha256, rows);
    if (differences.isEmpty())
        return result;
    // Only the differing files matter: the originals of those changed or removed.
    const QStringList needed = differences.changed + differences.missing;
    QList<HistoryFile> older;
    for (const HistoryFile &row : qAsConst(rows)) {
        if (needed.contains(row.path))
            older << row;
    }
    QList<HistoryFile> newer;
    for (const HistoryFile &file : differences.found) {
        if (!file.sha256.isEmpty())
            newer << file;
    }
    QTemporaryDir extracted;
    QString originals = extracted.isValid() && originalsFromArchive(entry, older, extracted.path())
        ? extracted.path()
        : keptOriginals(entry, older);
    if (originals.isEmpty()) {
        result.files = namedOnly(differences);
        result.originalsMissing = true;
        return result;
    }
    result = NcCompare(m_integerIsUnit)
                 .compare(NcCompare::Side { originals, older }, NcCompare::Side { entry.target, newer });
    return result;
}

// The archive is trusted only as the one fetched: its SHA-256 must be the row's, and each
// file taken from it must have its recorded digest.
bool InPlaceCompare::originalsFromArchive(
    const HistoryEntry &entry, const QList<HistoryFile> &wanted, const QString &into) const
{
    const QString archive = entry.target + QStringLiteral(".zip");
    if (entry.sha256.isEmpty() || !QFileInfo(archive).isFile()
        || FileDigest::sha256(archive).compare(entry.sha256, Qt::CaseInsensitive) != 0)
        return false;
    if (wanted.isEmpty())
        return true;
    QStringList names;
    for (const HistoryFile &file : wanted)
        names << file.path;
    JlCompress::extractFiles(archive, names, into);
    return holds(into, wanted);
}

QString InPlaceCompare::keptOriginals(const HistoryEntry &entry, const QList<HistoryFile> &wanted) const
{
    const VersionKeeper keeper(m_folder);
    const QStringList kept = keeper.versions(entry.kind, entry.task);
    for (auto it = kept.crbegin(); it != kept.crend(); ++it) {
        const QString path = keeper.absolutePath(*it);
        if (QFileInfo(path).isDir() && holds(path, wanted))
            return path;
    }
    return QString();
}

bool InPlaceCompare::holds(const QString &folder, const QList<HistoryFile> &wanted)
{
    for (const HistoryFile &file : wanted) {
        const QString path = folder + QLatin1Char('/') + file.path;
        if (!QFileInfo(path).isFile()
            || FileDigest::sha256(path).compare(file.sha256, Qt::CaseInsensitive) != 0)
            return false;
    }
    return true;
}
