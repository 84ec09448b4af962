#ifndef VERSIONKEEPER_H
#define VERSIONKEEPER_H

#include <QDateTime>
#include <QHash>
#include <QString>
#include <QStringList>

// The earlier versions of the task files, kept in the history folder, outside "nc/" and
// "pdf/" so that nobody browsing those meets an old program: an NC folder as
// "nc/<task>/<yyyyMMdd-hhmmss>/", a label PDF as "pdf/<task>/<yyyyMMdd-hhmmss>.pdf", and
// what an interrupted fetch left behind as "interrupted/<yyyyMMdd-hhmmss>/". At most
// maxVersions() per task and kind are kept, and at most maxBytes() under the history
// folder in all; the oldest go first. The stamps only name: the clock may have been wrong,
// so which is oldest is the history's to say (Order). Paths handed out are relative to the
// history folder.
class VersionKeeper
{
public:
    static constexpr int defaultMaxVersions = 5;
    static constexpr qint64 defaultMaxBytes = qint64(2) << 30;
    // The kind of the leftovers of interrupted fetches; they belong to no task.
    static constexpr const char *interruptedKind = "interrupted";

    // How prune() orders the versions and which it spares.
    struct Order
    {
        // The history's sequence number of each version; versions it does not know are
        // older than all it knows, by name.
        QHash<QString, qint64> sequence;
        // Never removed, such as the version the current fetch set aside.
        QStringList spare;
    };

    explicit VersionKeeper(const QString &historyFolder);

    int maxVersions() const;
    qint64 maxBytes() const;
    void setLimits(int versions, qint64 bytes);

    // True for a task number that can name a folder here.
    static bool isUsableTask(const QString &task);
    // A free place for a version of the task's file or folder set aside at when; nothing
    // is created. Empty for a task number that cannot name a folder.
    QString newVersionPath(const QString &kind, const QString &task, const QDateTime &when) const;
    QString absolutePath(const QString &relative) const;
    // The versions kept for the task, by name.
    QStringList versions(const QString &kind, const QString &task) const;
    // Removes the oldest versions of the task beyond maxVersions(), then the oldest of all
    // while the history folder holds more than maxBytes(); returns what it removed. The
    // newest version of the task and those order spares are never removed.
    QStringList prune(const QString &kind, const QString &task, const Order &order = Order()) const;

private:
    QString taskFolder(const QString &kind, const QString &task) const;
    QStringList allVersions() const;
    static void sortOldestFirst(QStringList &versions, const Order &order);
    qint64 keptSize(const QString &relative) const;
    static qint64 sizeOf(const QString &path);
    bool remove(const QString &relative) const;

    QString m_folder;
    int m_maxVersions = defaultMaxVersions;
    qint64 m_maxBytes = defaultMaxBytes;
};

#endif // VERSIONKEEPER_H
