#include "history/fetchhistory.h"

#include "core/offthread.h"
#include "history/filedigest.h"

#include <QDebug>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QMetaEnum>

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

bool FetchHistory::record(HistoryEntry &entry, const QString &writtenFile, const QString &unpackedFolder)
{
    return OffThread::run([&] { return recordHere(entry, writtenFile, unpackedFolder); });
}

bool FetchHistory::recordHere(HistoryEntry &entry, const QString &writtenFile, const QString &unpackedFolder)
{
    digestWritten(entry, writtenFile, unpackedFolder);
    QList<HistoryEntry> entries { entry };
    if (!entry.kind.isEmpty() && VersionKeeper::isUsableTask(entry.task)) {
        for (const QString &pruned : m_versions.prune(entry.kind, entry.task)) {
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
    if (writtenFile.isEmpty()) {
        entry.bytes = 0;
        for (const HistoryFile &file : qAsConst(entry.files))
            entry.bytes += file.size;
    }
}

FetchHistory::RestoreResult FetchHistory::restore(
    qint64 entryId, const QString &userId, const QString &device)
{
    m_lastRestore = HistoryEntry();
    HistoryEntry replacing;
    if (!m_store.find(entryId, replacing))
        return RestoreResult::Unknown;
    HistoryEntry restore = restoreEntry(replacing, userId, device);
    const RestoreResult result = OffThread::run([&] { return restoreHere(replacing, restore); });
    restore.outcome = outcomeName(result);
    restore.ok = result == RestoreResult::Restored;
    const bool isFile = restore.kind == QLatin1String("pdf");
    if (record(restore, restore.ok && isFile ? restore.target : QString(),
            restore.ok && !isFile ? restore.target : QString()))
        m_lastRestore = restore;
    return result;
}

QString FetchHistory::versionPath(const HistoryEntry &entry)
{
    HistoryEntry next;
    QString path = entry.target;
    if (m_store.nextInstalled(entry.kind, entry.task, entry.id, next))
        path = next.keptPath.isEmpty() ? QString() : m_versions.absolutePath(next.keptPath);
    else if (!m_store.lastError().isEmpty())
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
// after a power cut; then the current version is moved into the history, which on Windows
// fails while a file of it is open, and nothing has changed.
FetchHistory::RestoreResult FetchHistory::restoreHere(const HistoryEntry &replacing, HistoryEntry &restore)
{
    const QString kept = m_versions.absolutePath(replacing.keptPath);
    const QString target = replacing.target;
    if (replacing.keptPath.isEmpty() || !QFileInfo::exists(kept) || target.isEmpty())
        return RestoreResult::NotKept;
    const QFileInfo targetInfo(target);
    const QString staging = targetInfo.absolutePath() + QStringLiteral("/.") + targetInfo.fileName()
        + QStringLiteral(".restoring");
    removePath(staging);
    QDir().mkpath(targetInfo.absolutePath());
    if (!copyPath(kept, staging)) {
        qDebug() << "history: not restored, cannot copy" << kept << "to" << staging;
        removePath(staging);
        return RestoreResult::Failed;
    }
    QString current;
    if (QFileInfo::exists(target)) {
        const QString relative = m_versions.newVersionPath(restore.kind, restore.task, restore.time);
        current = m_versions.absolutePath(relative);
        QDir().mkpath(QFileInfo(current).absolutePath());
        if (relative.isEmpty() || !QDir().rename(target, current)) {
            qDebug() << "history: not restored," << target << "cannot be moved (a file in it may be in use)";
            removePath(staging);
            return RestoreResult::InUse;
        }
        restore.keptPath = relative;
    }
    if (QDir().rename(staging, target))
        return RestoreResult::Restored;
    qDebug() << "history: cannot move" << staging << "to" << target;
    removePath(staging);
    if (!current.isEmpty() && !QDir().rename(current, target))
        qDebug() << "history: the current version of" << target << "is at" << current;
    else
        restore.keptPath.clear();
    return RestoreResult::Failed;
}

bool FetchHistory::copyPath(const QString &from, const QString &to)
{
    if (!QFileInfo(from).isDir())
        return QFile::copy(from, to);
    if (!QDir().mkpath(to))
        return false;
    const QDir source(from);
    for (const QFileInfo &entry :
        source.entryInfoList(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot)) {
        if (entry.isSymLink() || !copyPath(entry.filePath(), to + QLatin1Char('/') + entry.fileName()))
            return false;
    }
    return true;
}

void FetchHistory::removePath(const QString &path)
{
    const QFileInfo info(path);
    if (info.isDir() && !info.isSymLink())
        QDir(path).removeRecursively();
    else if (info.exists() || info.isSymLink())
        QFile::remove(path);
}
