#ifndef TASKSLOG_H
#define TASKSLOG_H

#include <QLoggingCategory>

// The category of the task and history windows. qCDebug(tasksLog) is detail for a console or debugger and
// never reaches the log file; qCWarning(tasksLog) is a failure reason that the technician reads there.
Q_DECLARE_LOGGING_CATEGORY(tasksLog)

#endif // TASKSLOG_H
