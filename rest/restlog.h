#ifndef RESTLOG_H
#define RESTLOG_H

#include <QLoggingCategory>

// The category of the REST transfer service. qCDebug(restLog) is detail for a console or debugger and never
// reaches the log file; qCWarning(restLog) is a failure reason that the technician reads there.
Q_DECLARE_LOGGING_CATEGORY(restLog)

#endif // RESTLOG_H
