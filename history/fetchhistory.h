#ifndef FETCHHISTORY_H
#define FETCHHISTORY_H

#include "history/historyentry.h"
#include "history/historystore.h"
#include "history/versionkeeper.h"

#include <QObject>
#include <QString>

// The history folder as the fetches see it: the store of entries and the versions kept.
// Recording completes an entry with the digests of what was written and prunes the kept
// versions; restoring puts a kept version back. Both do their file work on a pool thread
// while the caller waits in a local event loop (OffThread), so the window keeps painting.
class FetchHistory
{
    Q_GADGET

public:
    enum class RestoreResult
    {
        Restored,
        Unknown, // no such entry, or the history cannot be read
        NotKept, // the entry kept no earlier version, or it has been pruned since
        InUse, // the current file or folder cannot be moved (a file in it may be in use)
        Failed // the kept version could not be moved back; the current one stays
    };
    Q_ENUM(RestoreResult)

    explicit FetchHistory(const QString &folder = HistoryStore::defaultFolder());

    QString folder() const;
    HistoryStore &store();
    VersionKeeper &versions();
    QString lastError() const;

    // Sets the entry's bytes and SHA-256 from writtenFile and its files from every file
    // under unpackedFolder (either may be empty), prunes the task's versions, and adds the
    // entry with one entry per pruned version in one transaction. False when the store
    // could not take it; lastError() says why.
    bool record(HistoryEntry &entry, const QString &writtenFile, const QString &unpackedFolder);

    // Puts back a copy of the version that entry entryId replaced, keeping the current one first,
    // and records the restore (refused ones too) as done by userId on device.
    RestoreResult restore(qint64 entryId, const QString &userId, const QString &device);
    // Where the version that entry put in place is now: its target while no later entry has
    // replaced it, else where the one that replaced it kept it. Empty when it is no longer
    // on disk (pruned, or never kept) or the history cannot be read.
    QString versionPath(const HistoryEntry &entry);
    // The entry restore() added last, when it added one.
    HistoryEntry lastRestore() const;
    // The entry of a restore of the version that replacing replaced, without its outcome.
    static HistoryEntry restoreEntry(
        const HistoryEntry &replacing, const QString &userId, const QString &device);
    static QString outcomeName(RestoreResult result);

private:
    bool recordHere(HistoryEntry &entry, const QString &writtenFile, const QString &unpackedFolder);
    RestoreResult restoreHere(const HistoryEntry &replacing, HistoryEntry &restore);
    static bool copyPath(const QString &from, const QString &to);
    static void removePath(const QString &path);
    static void digestWritten(HistoryEntry &entry, const QString &writtenFile, const QString &unpackedFolder);

    HistoryStore m_store;
    VersionKeeper m_versions;
    HistoryEntry m_lastRestore;
};

#endif // FETCHHISTORY_H
