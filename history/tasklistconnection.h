#ifndef TASKLISTCONNECTION_H
#define TASKLISTCONNECTION_H

#include <QSqlDatabase>
#include <QString>

// An open connection to "tasklists.sqlite" in a folder, for the calling thread only, under a
// name of its own beside the fetch history's: the kept task lists have their own file and
// schema, so the fetch history's chain never depends on them.
//
// Opening creates the folder and the file and brings the schema up to date (PRAGMA
// user_version). A file that is no database or is damaged is renamed with a time stamp,
// never deleted, and a new one is started: the lists are a copy of what the service sent.
class TaskListConnection
{
public:
    explicit TaskListConnection(const QString &folder);
    ~TaskListConnection();
    TaskListConnection(const TaskListConnection &) = delete;
    TaskListConnection &operator=(const TaskListConnection &) = delete;

    bool isOpen() const;
    QString errorString() const;
    QSqlDatabase database() const;

    static QString fileName(const QString &folder);
    static int schemaVersion();
    // Renames the file aside; the new name, or empty when it failed.
    static QString setAside(const QString &folder);

private:
    bool open();
    bool prepareFile();
    bool upgradeSchema();
    bool fail(const QString &what, const QSqlError &error);
    void close();

    QString m_folder;
    QString m_name;
    QString m_error;
    bool m_damaged = false;
    bool m_open = false;
};

#endif // TASKLISTCONNECTION_H
