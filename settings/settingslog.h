#ifndef SETTINGSLOG_H
#define SETTINGSLOG_H

#include <QLoggingCategory>

// The category of the device settings form. qCDebug(settingsLog) is detail for a console or debugger and
// never reaches the log file; qCWarning(settingsLog) is a failure reason that the technician reads there.
Q_DECLARE_LOGGING_CATEGORY(settingsLog)

#endif // SETTINGSLOG_H
