#ifndef FETCHHISTORY_H
#define FETCHHISTORY_H

#include "history/historyentry.h"
#include "history/historystore.h"
#include "history/versionkeeper.h"

#include <QObject>
#include <QString>

// The history folder as the fetches see it: the store of entries and the versions kept.
// A fetch or restore that sets a version aside is two rows, never one row changed: a start
// row committed before anything moves (it names where the replaced version goes), and a
// completion row after, with the digests of what was written; the windows and the export
// show the completion. Completing prunes the kept versions in the history's own order.
// The file work runs on a pool thread while the caller waits in a local event loop
// (OffThread), so the window keeps painting.
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
        Failed, // the kept version could not be moved back; the current one stays
        Altered // the kept files differ from the SHA-256 the history holds; the current one stays
    };
    Q_ENUM(RestoreResult)

    explicit FetchHistory(const QString &folder = HistoryStore::defaultFolder());

    QString folder() const;
    HistoryStore &store();
    VersionKeeper &versions();
    QString lastError() const;

    // Commits the start row of entry (a fetch or a restore) before anything is set aside,
    // and sets entry.keptPath to where the version it replaces is to be kept (empty for a
    // task number that cannot name a folder). Returns the row's id, or 0 when the store
    // could not take it; the fetch goes ahead without one then.
    qint64 beginFetch(HistoryEntry &entry);
    // Adds the row completing start startId (0 when none was written): its SHA-256 is
    // sha256FromDownload (the raw digest computed while writing) when given, with the
    // entry's bytes unless it has some already, else read from writtenFile; its files are
    // those under unpackedFolder. entry.keptPath must be cleared
    // when nothing was set aside. Then as record().
    bool completeFetch(qint64 startId, HistoryEntry &entry, const QString &writtenFile,
        const QString &unpackedFolder, const QByteArray &sha256FromDownload = QByteArray());
    // Sets the entry's bytes and SHA-256 from writtenFile and its files from every file
    // under unpackedFolder (either may be empty), prunes the task's versions (never the one
    // entry kept, nor the newest), and adds the entry with one entry per pruned version in
    // one transaction. False when the store could not take it; lastError() says why.
    bool record(HistoryEntry &entry, const QString &writtenFile, const QString &unpackedFolder);

    // The SHA-256 of the version of the task in place at target: a PDF's own; an NC
    // program's archive's as its last installing row holds it, while the folder still
    // holds the files that row lists. Empty when unknown. A fetch whose download has this
    // SHA-256 swaps nothing and completes as identicalOutcome.
    QString sha256InPlace(const QString &kind, const QString &task, const QString &target);

    // Puts back a synced copy of the version that entry entryId replaced, after checking it
    // against the SHA-256 the history holds for it, keeping the current one first; records
    // the restore (refused ones too) as done by userId on device.
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

    // Copies a file, or a folder with everything in it, each file synced to the disk
    // before it gets its name; a folder's copy is hidden (HiddenFile) when hidden is set.
    static bool copyPath(const QString &from, const QString &to, bool hidden = false);
    static void removePath(const QString &path);

private:
    bool recordHere(HistoryEntry &entry, const QString &writtenFile, const QString &unpackedFolder);
    RestoreResult restoreHere(const HistoryEntry &replacing, HistoryEntry &restore);
    bool keptIsIntact(const HistoryEntry &replacing, const QString &copy);
    static bool copyFile(const QString &from, const QString &to, bool hidden);
    static void digestWritten(HistoryEntry &entry, const QString &writtenFile, const QString &unpackedFolder);

    HistoryStore m_store;
    VersionKeeper m_versions;
    HistoryEntry m_lastRestore;
};

#endif // FETCHHISTORY_H
