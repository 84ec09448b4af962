#ifndef SQLITECONNECTION_H
#define SQLITECONNECTION_H

#include <QList>
#include <QSqlDatabase>
#include <QSqlError>
#include <QString>
#include <QStringList>

class QSqlQuery;

// An open connection to one SQLite file of the history folder, for the calling thread only:
// the code the fetch history (HistoryConnection) and the kept task lists
// (TaskListConnection) share. Qt SQL connections belong to the thread that made them, so
// every connection is opened under a name of its own (never one per thread: Qt SQL replaces
// a connection added under a name in use, and the older object would then remove the newer
// one's) and closed again when done, so nothing holds the file between uses.
//
// Opened for writing, it creates the folder and the file, waits up to 5 s for another
// writer, turns the write-ahead log on, makes every commit reach the disk before it returns,
// and brings the schema up to date one step at a time (PRAGMA user_version), each step in a
// BEGIN IMMEDIATE transaction so that another process upgrading the same file waits for it.
// A file that is no database or is damaged is renamed with a time stamp, never deleted, and
// a new one is started. Opened read-only it does none of that.
class SqliteConnection
{
public:
    virtual ~SqliteConnection();
    SqliteConnection(const SqliteConnection &) = delete;
    SqliteConnection &operator=(const SqliteConnection &) = delete;

    bool isOpen() const;
    QString errorString() const;
    QSqlDatabase database() const;

    // The file is no database or is damaged.
    static bool isCorruption(const QSqlError &error);
    // Renames file (and its log) aside; the new name, or empty when it failed. what names
    // the file in the log ("history", "task lists").
    static QString setAside(const QString &file, const QString &what);

protected:
    // file is the full path of the database; purpose tells apart connections that one
    // thread keeps open side by side.
    SqliteConnection(const QString &file, const QString &what, const QString &purpose);

    // For the derived class's constructor: opens the file for writing, setting a damaged one
    // aside once; or only reads it as it is.
    bool openReadWrite();
    bool openReadOnly();

    // The schema's steps, the first creating it; a released step never changes.
    virtual const QList<QStringList> &schemaSteps() const = 0;
    // Before the step to version is made on an existing file; false stops the upgrade.
    virtual bool beforeStep(int version);
    // The part of the step to version that SQL alone cannot do, inside its transaction.
    virtual bool finishStep(int version, QSqlError &error);
    bool fail(const QString &what, const QSqlError &error);
    QString fileName() const;

private:
    bool prepareFile();
    bool isSettled(QSqlQuery &query) const;
    static int schemaVersion(QSqlQuery &query);
    bool upgradeSchema();
    void close();

    QString m_file;
    QString m_what;
    QString m_name;
    QString m_error;
    QSqlError m_lastSqlError;
    bool m_open = false;
};

#endif // SQLITECONNECTION_H
