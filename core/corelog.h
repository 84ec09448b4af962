#ifndef CORELOG_H
#define CORELOG_H

#include <QLoggingCategory>

// The category of the base every library builds on. qCDebug(coreLog) is detail for a console or debugger and
// never reaches the log file; qCWarning(coreLog) is a failure reason that the technician reads there.
Q_DECLARE_LOGGING_CATEGORY(coreLog)

#endif // CORELOG_H
