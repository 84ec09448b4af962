#ifndef PLANTLOG_H
#define PLANTLOG_H

#include <QLoggingCategory>

// The category of the plant history. qCDebug(plantLog) is detail for a console or debugger and never reaches
// the log file; qCWarning(plantLog) is a failure reason that the technician reads there.
Q_DECLARE_LOGGING_CATEGORY(plantLog)

#endif // PLANTLOG_H
