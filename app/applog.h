#ifndef APPLOG_H
#define APPLOG_H

#include <QLoggingCategory>

// The category of start-up, the sign-in window and the log file. qCDebug(appLog) is detail for a console or
// debugger and never reaches the log file; qCWarning(appLog) is a failure reason that the technician reads
// there.
Q_DECLARE_LOGGING_CATEGORY(appLog)

#endif // APPLOG_H
