#ifndef HISTORYENTRY_H
#define HISTORYENTRY_H

#include <QDateTime>
#include <QList>
#include <QString>

// One file of an unpacked NC program, by its path inside the task's folder.
struct HistoryFile
{
    QString path;
    qint64 size = 0;
    QString sha256;

    bool operator==(const HistoryFile &other) const
    {
        return path == other.path && size == other.size && sha256 == other.sha256;
    }
};

// One row of the history: a fetch, a restore, an opened folder, a pruned version or a scan.
struct HistoryEntry
{
    static constexpr const char *fetchAction = "fetch";
    static constexpr const char *restoreAction = "restore";
    static constexpr const char *openAction = "open";
    static constexpr const char *pruneAction = "prune";
    // Something an interrupted fetch or restore left beside the task files, moved into the
    // history at start-up.
    static constexpr const char *recoverAction = "recover";
    // A check of a task's files against the version in place, before they were opened or for
    // every task at once, with what the operator chose.
    static constexpr const char *checkAction = "check";
    // The row that marks where the hash chain began: the rows before it were chained by the
    // upgrade that wrote it, not as they were written.
    static constexpr const char *chainAction = "chain";
    // A code scanned or typed into the task window: its source is the code, its outcome
    // what it named (ScanCode::Result), marked offline while working offline (HistoryOutcome).
    static constexpr const char *scanAction = "scan";

    // The outcome of a row written before a fetch or restore sets anything aside; the row
    // that completes it names it in startId.
    static constexpr const char *startedOutcome = "Started";
    // The completion written at start-up for a start that never completed.
    static constexpr const char *interruptedOutcome = "Interrupted";
    // A fetch whose file or archive was the version already in place: nothing was swapped.
    static constexpr const char *identicalOutcome = "Identical";

    qint64 id = 0;
    QDateTime time; // when it happened, for an entry being added
    QString timeText; // as stored (ISO 8601 in UTC, "2026-03-02T02:00:00.000Z"), for an entry read back
    QString localTimeText; // the same in local time ("yyyy-MM-dd HH:mm:ss.zzz"), for an entry read back
    QString action;
    QString userId;
    QString device;
    QString task;
    QString kind; // "pdf" or "nc"
    QString source; // the address fetched from, or the version restored
    QString target; // the local file or folder written
    qint64 bytes = 0;
    QString sha256; // of the file written (an NC program's archive)
    QString outcome; // the results the client tells apart, by name
    bool ok = false; // the new version is in place
    qint64 durationMs = 0;
    QString keptPath; // where the version it replaced was kept, inside the history folder
    qint64 startId = 0; // for a completion, the start row it completes
    QString chain; // the row's link in the hash chain, as read back; empty for an unchained row
    QList<HistoryFile> files;
};

#endif // HISTORYENTRY_H
