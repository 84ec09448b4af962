#ifndef TASKLISTCONNECTION_H
#define TASKLISTCONNECTION_H

#include "history/sqliteconnection.h"

#include <QString>

// An open connection to "tasklists.sqlite" in a folder, for the calling thread only, as
// SqliteConnection opens one, beside the fetch history's: the kept task lists have their
// own file and schema, so the fetch history's chain never depends on them. A damaged file is
// set aside and a new one started: the lists are a copy of what the service sent.
class TaskListConnection : public SqliteConnection
{
public:
    explicit TaskListConnection(const QString &folder);
    ~TaskListConnection() override;

    static QString fileName(const QString &folder);
    static int schemaVersion();
    // Renames the file aside; the new name, or empty when it failed.
    static QString setAside(const QString &folder);

protected:
    const QList<QStringList> &schemaSteps() const override;
};

#endif // TASKLISTCONNECTION_H
