#include "history/tasklistconnection.h"

#include <QStringList>

namespace {

// Each step brings the schema from the version before it to its own; a released step never
// changes.
const QList<QStringList> &schemaSteps()
{
    static const QList<QStringList> steps {
        {
            QStringLiteral("CREATE TABLE task_list ("
                           " user_id TEXT NOT NULL,"
                           " day TEXT NOT NULL,"
                           " received_at TEXT NOT NULL,"
                           " task_count INTEGER NOT NULL,"
                           " tasks TEXT NOT NULL,"
                           " PRIMARY KEY (user_id, day))"),
        },
    };
    return steps;
}

} // namespace

TaskListConnection::TaskListConnection(const QString &folder)
    : SqliteConnection(fileName(folder), QStringLiteral("task lists"), QStringLiteral("tasklists"))
{
    openReadWrite();
}

TaskListConnection::~TaskListConnection() = default;

QString TaskListConnection::fileName(const QString &folder)
{
    return folder + QStringLiteral("/tasklists.sqlite");
}

int TaskListConnection::schemaVersion()
{
    return ::schemaSteps().size();
}

const QList<QStringList> &TaskListConnection::schemaSteps() const
{
    return ::schemaSteps();
}

QString TaskListConnection::setAside(const QString &folder)
{
    return SqliteConnection::setAside(fileName(folder), QStringLiteral("task lists"));
}
