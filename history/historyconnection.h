#ifndef HISTORYCONNECTION_H
#define HISTORYCONNECTION_H

#include <QSqlDatabase>
#include <QSqlError>
#include <QString>

// An open connection to the history file "history.sqlite" in a folder, for the calling
// thread only. Qt SQL connections belong to the thread that made them, so every connection
// is opened under a name of its own and closed again when done: nothing holds the file
// between uses, so a damaged one can be set aside and another process can read it.
//
// Opening creates the folder and the file, turns the write-ahead log on, makes every
// commit reach the disk before it returns, and brings the schema up to date one version
// at a time (PRAGMA user_version), copying an existing file aside before each step. A file that is no
// database or is damaged is renamed with a time stamp, never deleted, and a new one is started.
//
// Opened ReadOnly (for readers outside the client, such as the export), it does none of
// that: a history that is missing, damaged or not readable as it is fails to open.
class HistoryConnection
{
public:
    enum class Access
    {
        ReadWrite,
        ReadOnly
    };

    // purpose tells apart connections that one thread keeps open side by side.
    explicit HistoryConnection(const QString &folder, const QString &purpose = QStringLiteral("rw"),
        Access access = Access::ReadWrite);
    ~HistoryConnection();
    HistoryConnection(const HistoryConnection &) = delete;
    HistoryConnection &operator=(const HistoryConnection &) = delete;

    bool isOpen() const;
    QString errorString() const;
    QSqlDatabase database() const;

    static QString fileName(const QString &folder);
    static int schemaVersion();
    // The file is no database or is damaged.
    static bool isCorruption(const QSqlError &error);
    // The copy of the file made before upgrading it to version.
    static QString copyBeforeUpgradeName(const QString &folder, int version);
    // Renames the history file (and its log) aside; the new name, or empty when it failed.
    static QString setAside(const QString &folder);

private:
    bool open();
    bool prepareFile();
    bool openReadOnly();
    bool upgradeSchema();
    bool finishStep(int version, QSqlError &error);
    bool copyBeforeUpgrade(int version);
    bool fail(const QString &what, const QSqlError &error);
    void close();

    QString m_folder;
    QString m_name;
    QString m_error;
    QSqlError m_lastSqlError;
    bool m_open = false;
};

#endif // HISTORYCONNECTION_H
