#ifndef INSTALLEDCHECK_H
#define INSTALLEDCHECK_H

#include "history/historyconnection.h"
#include "history/historyentry.h"

#include <QHash>
#include <QList>
#include <QObject>
#include <QString>
#include <QStringList>

// Checks a task's NC folder or label PDF against the version the history says is in place
// (the newest fetch or restore that put one there): every file's SHA-256 against its file
// row, or the PDF's against the row's own. The files Windows Explorer drops into a folder it
// has shown (Thumbs.db, desktop.ini) are left out on both sides. Reading the files takes a
// while on a large program: callers on the GUI thread run check() through OffThread.
//
// Every call opens the history for its own thread and closes it again, as HistoryStore does.
class InstalledCheck
{
    Q_GADGET

public:
    enum class Result
    {
        Unchanged, // every file is as the version in place recorded it
        Changed, // a file was changed, removed or added since
        NotRecorded, // the history holds no version of it with digests to compare with
        Unreadable // the history cannot be read
    };
    Q_ENUM(Result)

    // What differs, by path inside the folder ("/" separated), or the PDF's file name.
    struct Differences
    {
        QStringList changed;
        QStringList missing;
        QStringList added;
        // The differing files as they are on disk now (a missing one with no SHA-256).
        QList<HistoryFile> found;

        bool isEmpty() const;
        // Every differing name, sorted.
        QStringList names() const;
        // For logs: "changed a.nc, b.nc; missing c.nc; added d.nc".
        QString summary() const;
    };

    // One task's file or folder in a check of every task.
    struct TaskCheck
    {
        QString task;
        QString kind;
        QString target; // where the version in place was put
        Result result = Result::NotRecorded;
        Differences differences;
    };

    // A ReadOnly check leaves the history file as it is (HistoryConnection).
    explicit InstalledCheck(const QString &historyFolder,
        HistoryConnection::Access access = HistoryConnection::Access::ReadWrite);

    // Compares path, the task's NC folder (kind "nc") or label PDF (kind "pdf"), with the
    // version of the task in place.
    Result check(const QString &kind, const QString &task, const QString &path);
    const Differences &differences() const;
    // Checks every task's NC folder and label PDF where its version in place was put, by task
    // and kind; false when the history cannot be read (lastError() says why).
    bool checkEveryTask(QList<TaskCheck> &checks);
    // The entry of the version compared with.
    const HistoryEntry &version() const;
    QString lastError() const;

    // Compares what is at path with a version: for "pdf" the file against sha256, else the
    // folder's files against rows.
    static Differences compare(
        const QString &kind, const QString &path, const QString &sha256, const QList<HistoryFile> &rows);
    // Whether the file at path (its last part) is one Windows writes on its own.
    static bool isIgnored(const QString &path);
    static QString resultName(Result result);

private:
    bool readVersionsInPlace(
        QList<TaskCheck> &checks, QList<HistoryEntry> &versions, QHash<qint64, QList<HistoryFile>> &rows);
    static Differences compareFile(const QString &path, const QString &sha256);
    static Differences compareFolder(const QString &folder, const QList<HistoryFile> &rows);

    QString m_folder;
    HistoryConnection::Access m_access;
    Differences m_differences;
    HistoryEntry m_version;
    QString m_error;
};

#endif // INSTALLEDCHECK_H
