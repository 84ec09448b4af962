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
};

// One row of the history: a fetch, a restore, an opened folder or a pruned version.
struct HistoryEntry
{
    static constexpr const char *fetchAction = "fetch";
    static constexpr const char *restoreAction = "restore";
    static constexpr const char *openAction = "open";
    static constexpr const char *pruneAction = "prune";

    qint64 id = 0;
    QDateTime time; // when it happened, for an entry being added
    QString timeText; // as stored ("yyyy-MM-dd HH:mm:ss.zzz", local time), for an entry read back
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
    QList<HistoryFile> files;
};

#endif // HISTORYENTRY_H
