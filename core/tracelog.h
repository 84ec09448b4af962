#ifndef TRACELOG_H
#define TRACELOG_H

#include <QLoggingCategory>

// What every request sent and received, and what each reload decided, at debug level only:
// it repeats with every request, so it has a category of its own that a developer can
// silence apart from the libraries' categories. The device-service client's labelled reply
// dumps ("qqqqqqqqqqqqqqq", "wqqqqqq") go here.
Q_DECLARE_LOGGING_CATEGORY(traceLog)

#endif // TRACELOG_H
