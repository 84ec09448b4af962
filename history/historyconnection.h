#ifndef HISTORYCONNECTION_H
#define HISTORYCONNECTION_H

#include "history/sqliteconnection.h"

#include <QSqlError>
#include <QString>

// An open connection to the history file "history.sqlite" in a folder, for the calling
// thread only, as SqliteConnection opens one: nothing holds the file between uses, so a
// damaged one can be set aside and another process can read it. An existing file is copied
// aside before each step of its schema's upgrade.
//
// Opened ReadOnly (for readers outside the client, such as the export), it does none of
// that: a history that is missing, damaged or not readable as it is fails to open.
class HistoryConnection : public SqliteConnection
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
    ~HistoryConnection() override;

    static QString fileName(const QString &folder);
    static int schemaVersion();
    // The file is no database or is damaged.
    static bool isCorruption(const QSqlError &error);
    // The copy of the file made before upgrading it to version.
    static QString copyBeforeUpgradeName(const QString &folder, int version);
    // Renames the history file (and its log) aside; the new name, or empty when it failed.
    static QString setAside(const QString &folder);

protected:
    const QList<QStringList> &schemaSteps() const override;
    bool beforeStep(int version) override;
    bool finishStep(int version, QSqlError &error) override;

private:
    QString m_folder;
};

#endif // HISTORYCONNECTION_H
