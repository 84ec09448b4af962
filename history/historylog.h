#ifndef HISTORYLOG_H
#define HISTORYLOG_H

#include <QLoggingCategory>

// The category of the fetch history. qCDebug(historyLog) is detail for a console or debugger and never
// reaches the log file; qCWarning(historyLog) is a failure reason that the technician reads there.
Q_DECLARE_LOGGING_CATEGORY(historyLog)

#endif // HISTORYLOG_H
