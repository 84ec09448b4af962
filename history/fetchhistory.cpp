#include "history/fetchhistory.h"

#include "core/hiddenfile.h"
#include "core/offthread.h"
#include "history/filedigest.h"
#include "history/historylog.h"

#include <QDebug>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QMetaEnum>
#include <QSaveFile>

#include <limits>

namespace {

constexpr qint64 copyBlockSize = 1 << 20;

bool isPdf(const QString &kind)
{
    return kind == QLatin1String("pdf");
}

} // namespace

FetchHistory::FetchHistory(const QString &folder)
    : m_store(folder)
    , m_versions(folder)
{ }

QString FetchHistory::folder() const
{
    return m_store.folder();
}

HistoryStore &FetchHistory::store()
{
    return m_store;
}

VersionKeeper &FetchHistory::versions()
{
    return m_versions;
}

QString FetchHistory::lastError() const
{
    return m_store.lastError();
}

HistoryEntry FetchHistory::lastRestore() const
{
    return m_lastRestore;
}

// The row is committed on a pool thread, as every other write is: opening the store and
// syncing its file can take a noticeable part of a second on a slow disk.
qint64 FetchHistory::beginFetch(HistoryEntry &entry)
{
    return OffThread::run([&]() -> qint64 {
        entry.keptPath = m_versions.newVersionPath(entry.kind, entry.task, entry.time);
        HistoryEntry start = entry;
        start.outcome = QString::fromLatin1(HistoryEntry::startedOutcome);
        start.ok = false;
        start.startId = 0;
        return m_store.add(start) ? start.id : 0;
    });
}

bool FetchHistory::completeFetch(qint64 startId, HistoryEntry &entry, const QString &writtenFile,
    const QString &unpackedFolder, const QByteArray &sha256FromDownload)
{
    entry.startId = startId;
    if (sha256FromDownload.isEmpty() || writtenFile.isEmpty())
        return record(entry, writtenFile, unpackedFolder);
    entry.sha256 = QString::fromLatin1(sha256FromDownload.toHex());
    if (entry.bytes == 0)
        entry.bytes = QFileInfo(writtenFile).size();
    return record(entry, QString(), unpackedFolder);
}

bool FetchHistory::record(HistoryEntry &entry, const QString &writtenFile, const QString &unpackedFolder)
{
    return OffThread::run([&] { return recordHere(entry, writtenFile, unpackedFolder); });
}

bool FetchHistory::recordHere(HistoryEntry &entry, const QString &writtenFile, const QString &unpackedFolder)
{
    digestWritten(entry, writtenFile, unpackedFolder);
    QList<HistoryEntry> entries { entry };
    const bool interrupted = entry.kind == QLatin1String(VersionKeeper::interruptedKind);
    VersionKeeper::Order order;
    if (!entry.kind.isEmpty() && (interrupted || VersionKeeper::isUsableTask(entry.task))
        && m_store.keptSequence(order.sequence)) {
        if (!entry.keptPath.isEmpty())
            order.spare << entry.keptPath;
        for (const QString &pruned : m_versions.prune(entry.kind, entry.task, order)) {
            HistoryEntry prune;
            prune.time = QDateTime::currentDateTime();
            prune.action = QString::fromLatin1(HistoryEntry::pruneAction);
            prune.userId = entry.userId;
            prune.device = entry.device;
            prune.task = entry.task;
            prune.kind = entry.kind;
            prune.keptPath = pruned;
            prune.outcome = QStringLiteral("Pruned");
            prune.ok = true;
            entries << prune;
        }
    }
    const bool added = m_store.add(entries);
    entry.id = entries.first().id;
    return added;
}

// An NC program is known by its archive's digest; its files are listed one by one.
void FetchHistory::digestWritten(
    HistoryEntry &entry, const QString &writtenFile, const QString &unpackedFolder)
{
    if (!writtenFile.isEmpty())
        entry.sha256 = FileDigest::sha256(writtenFile, &entry.bytes);
    if (unpackedFolder.isEmpty())
        return;
    entry.files = FileDigest::folderFiles(unpackedFolder);
    if (writtenFile.isEmpty() && entry.sha256.isEmpty()) {
        entry.bytes = 0;
        for (const HistoryFile &file : qAsConst(entry.files))
            entry.bytes += file.size;
    }
}

QString FetchHistory::sha256InPlace(const QString &kind, const QString &task, const QString &target)
{
    return OffThread::run([&]() -> QString {
        if (isPdf(kind))
            return QFileInfo(target).isFile() ? FileDigest::sha256(target) : QString();
        HistoryEntry installed;
        QList<HistoryFile> files;
        if (!QFileInfo(target).isDir()
            || !m_store.lastInstalled(kind, task, std::numeric_limits<qint64>::max(), installed)
            || installed.target != target || !m_store.files(installed.id, files) || files.isEmpty())
            return QString();
        return files == FileDigest::folderFiles(target) ? installed.sha256 : QString();
    });
}

FetchHistory::RestoreResult FetchHistory::restore(
    qint64 entryId, const QString &userId, const QString &device)
{
    m_lastRestore = HistoryEntry();
    HistoryEntry replacing;
    if (!m_store.find(entryId, replacing))
        return RestoreResult::Unknown;
    HistoryEntry restore = restoreEntry(replacing, userId, device);
    const qint64 startId = QFileInfo::exists(restore.target) ? beginFetch(restore) : 0;
    const RestoreResult result = OffThread::run([&] { return restoreHere(replacing, restore); });
    restore.outcome = outcomeName(result);
    restore.ok = result == RestoreResult::Restored;
    const bool isFile = isPdf(restore.kind);
    if (completeFetch(startId, restore, restore.ok && isFile ? restore.target : QString(),
            restore.ok && !isFile ? restore.target : QString()))
        m_lastRestore = restore;
    return result;
}

// A fetch identical to the version in place replaced nothing: the version lives on past it.
QString FetchHistory::versionPath(const HistoryEntry &entry)
{
    HistoryEntry next;
    QString path = entry.target;
    qint64 after = entry.id;
    while (m_store.nextInstalled(entry.kind, entry.task, after, next)) {
        after = next.id;
        if (next.outcome == QLatin1String(HistoryEntry::identicalOutcome))
            continue;
        path = next.keptPath.isEmpty() ? QString() : m_versions.absolutePath(next.keptPath);
        break;
    }
    if (!m_store.lastError().isEmpty())
        return QString();
    return !path.isEmpty() && QFileInfo::exists(path) ? path : QString();
}

HistoryEntry FetchHistory::restoreEntry(
    const HistoryEntry &replacing, const QString &userId, const QString &device)
{
    HistoryEntry restore;
    restore.time = QDateTime::currentDateTime();
    restore.action = QString::fromLatin1(HistoryEntry::restoreAction);
    restore.userId = userId;
    restore.device = device;
    restore.task = replacing.task;
    restore.kind = replacing.kind;
    restore.source = replacing.keptPath;
    restore.target = replacing.target;
    return restore;
}

QString FetchHistory::outcomeName(RestoreResult result)
{
    return QString::fromLatin1(QMetaEnum::fromType<RestoreResult>().valueToKey(int(result)));
}

// The kept version is copied, so that it stays kept (and its entry restorable) until it is
// pruned. The copy is made beside the target first, under a hidden name as an unpacking is,
// so that no one browsing nc/ or pdf/ meets a half-copied old program as a task's own, even
// after a power cut; it is synced and checked before the current version is moved into the
// history (where beginFetch() said), which on Windows fails while a file of it is open, and
// nothing has changed.
FetchHistory::RestoreResult FetchHistory::restoreHere(const HistoryEntry &replacing, HistoryEntry &restore)
{
    const QString kept = m_versions.absolutePath(replacing.keptPath);
    const QString target = replacing.target;
    const QString keepCurrentAt = restore.keptPath;
    restore.keptPath.clear();
    if (replacing.keptPath.isEmpty() || !QFileInfo::exists(kept) || target.isEmpty())
        return RestoreResult::NotKept;
    const QFileInfo targetInfo(target);
    const QString staging = targetInfo.absolutePath() + QStringLiteral("/.") + targetInfo.fileName()
        + QStringLiteral(".restoring");
    removePath(staging);
    QDir().mkpath(targetInfo.absolutePath());
    if (!copyPath(kept, staging, true)) {
        qCWarning(historyLog) << "history: not restored, cannot copy" << kept << "to" << staging;
        removePath(staging);
        return RestoreResult::Failed;
    }
    if (!keptIsIntact(replacing, staging)) {
        qCWarning(historyLog) << "history: not restored, the kept" << kept
                              << "differs from its recorded SHA-256";
        removePath(staging);
        return RestoreResult::Altered;
    }
    QString current;
    if (QFileInfo::exists(target)) {
        current = m_versions.absolutePath(keepCurrentAt);
        QDir().mkpath(QFileInfo(current).absolutePath());
        if (keepCurrentAt.isEmpty() || !QDir().rename(target, current)) {
            qCWarning(historyLog) << "history: not restored," << target
                                  << "cannot be moved (a file in it may be in use)";
            removePath(staging);
            return RestoreResult::InUse;
        }
        restore.keptPath = keepCurrentAt;
    }
    HiddenFile::reveal(staging);
    if (QDir().rename(staging, target))
        return RestoreResult::Restored;
    qCWarning(historyLog) << "history: cannot move" << staging << "to" << target;
    removePath(staging);
    if (!current.isEmpty() && !QDir().rename(current, target))
        qCWarning(historyLog) << "history: the current version of" << target << "is at" << current;
    else
        restore.keptPath.clear();
    return RestoreResult::Failed;
}

// The version a row kept is the one in place before it started: the last one installed
// before. Without a recorded digest there is nothing to check against.
bool FetchHistory::keptIsIntact(const HistoryEntry &replacing, const QString &copy)
{
    HistoryEntry installed;
    const qint64 before = replacing.startId > 0 ? replacing.startId : replacing.id;
    if (!m_store.lastInstalled(replacing.kind, replacing.task, before, installed))
        return true;
    if (isPdf(replacing.kind))
        return installed.sha256.isEmpty() || FileDigest::sha256(copy) == installed.sha256;
    QList<HistoryFile> files;
    if (!m_store.files(installed.id, files) || files.isEmpty())
        return true;
    return files == FileDigest::folderFiles(copy);
}

bool FetchHistory::copyPath(const QString &from, const QString &to, bool hidden)
{
    if (!QFileInfo(from).isDir())
        return copyFile(from, to, hidden);
    if (!QDir().mkpath(to))
        return false;
    if (hidden)
        HiddenFile::hide(to);
    const QDir source(from);
    for (const QFileInfo &entry :
        source.entryInfoList(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot)) {
        if (entry.isSymLink() || !copyPath(entry.filePath(), to + QLatin1Char('/') + entry.fileName()))
            return false;
    }
    return true;
}

// QSaveFile syncs the file to the disk before it renames it, so a power cut never leaves a
// name on a file whose content has not reached the disk.
bool FetchHistory::copyFile(const QString &from, const QString &to, bool hidden)
{
    QFile source(from);
    QSaveFile copy(to);
    if (!source.open(QIODevice::ReadOnly) || !copy.open(QIODevice::WriteOnly))
        return false;
    if (hidden)
        HiddenFile::hide(copy);
    QByteArray block(int(copyBlockSize), Qt::Uninitialized);
    for (;;) {
        const qint64 read = source.read(block.data(), copyBlockSize);
        if (read < 0)
            return false;
        if (read == 0)
            break;
        if (copy.write(block.constData(), read) != read)
            return false;
    }
    return copy.commit();
}

void FetchHistory::removePath(const QString &path)
{
    const QFileInfo info(path);
    if (info.isDir() && !info.isSymLink())
        QDir(path).removeRecursively();
    else if (info.exists() || info.isSymLink())
        QFile::remove(path);
}
