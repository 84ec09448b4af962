#ifndef TRACELOG_H
#define TRACELOG_H

#include <QLoggingCategory>

// Messages that help at a debugger or console but would bury the log file: what every
// request sent and received, repeated with each reload. The log file leaves them out; the
// message handler installed before it (a console, a debugger) still gets them.
Q_DECLARE_LOGGING_CATEGORY(traceLog)

#endif // TRACELOG_H
