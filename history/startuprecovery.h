#ifndef STARTUPRECOVERY_H
#define STARTUPRECOVERY_H

#include "history/fetchhistory.h"

#include <QLockFile>
#include <QString>
#include <QStringList>

#include <memory>

// What a fetch or restore cut short by a kill or a power cut left behind, put in order when
// the client starts: every start row without a completion gets one ("Interrupted") saying
// what is on disk then, after a task whose folder or PDF is missing got its set-aside copy
// back (staged under a name of its own, so a staging copy the cut left never stands in the
// way); every other staging name left in "nc/" and "pdf/" (beside the history folder)
// moves to "history/interrupted/<stamp>/", is recorded and pruned like a kept version.
// Nothing else is deleted.
//
// One folder may serve several instances (several Windows accounts): each holds a lock
// file in "history/instances/" while it runs, and recovery runs only when no other one is
// held, since the staging names may be another instance's fetch at work.
class StartupRecovery
{
public:
    enum class Result
    {
        Recovered, // nothing was left, or all of it was put in order
        OtherInstance, // another instance runs on the folder; nothing was touched
        Unavailable // the history could not be read; nothing was touched
    };

    explicit StartupRecovery(const QString &historyFolder = HistoryStore::defaultFolder());
    ~StartupRecovery();

    // Takes this instance's lock, held as long as the object lives, and recovers.
    Result run();
    // For main(): run() on the default history folder, the lock held until the process ends.
    static Result runAtStartUp();

    // The staging names left in folder, by path.
    static QStringList leftovers(const QString &folder);

private:
    bool otherInstanceRuns() const;
    void complete(HistoryEntry start);
    void putBack(const HistoryEntry &start);
    HistoryEntry recordedVersion(const HistoryEntry &start);
    static QString freshStaging(const QString &target);
    void moveAside(const QString &leftover);
    HistoryEntry newEntry(const char *action) const;

    FetchHistory m_history;
    QStringList m_taskFolders;
    QString m_lockName;
    std::unique_ptr<QLockFile> m_lock;
};

#endif // STARTUPRECOVERY_H
