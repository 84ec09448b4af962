#ifndef CREDENTIALSLOG_H
#define CREDENTIALSLOG_H

#include <QLoggingCategory>

// The category of the credential file and the offline sign-in's verifiers. qCDebug(credentialsLog) is
// detail for a console or debugger and never reaches the log file; qCWarning(credentialsLog) is a failure
// reason that the technician reads there. No line carries a password or a verifier.
Q_DECLARE_LOGGING_CATEGORY(credentialsLog)

#endif // CREDENTIALSLOG_H
