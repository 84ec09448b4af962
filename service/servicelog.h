#ifndef SERVICELOG_H
#define SERVICELOG_H

#include <QLoggingCategory>

// The category of the device-service client, the settings store and the unpacking. qCDebug(serviceLog) is
// detail for a console or debugger and never reaches the log file; qCWarning(serviceLog) is a failure reason
// that the technician reads there.
Q_DECLARE_LOGGING_CATEGORY(serviceLog)

#endif // SERVICELOG_H
