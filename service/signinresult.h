#ifndef SIGNINRESULT_H
#define SIGNINRESULT_H

#include "service/errorinfo.h"

#include <QObject>
#include <QVariantMap>

// How a sign-in request ended, decided in one place for the sign-in window and for the task
// window that retries it while working offline: only a service that cannot be reached may
// let a user work with what this PC kept.
class SignInResult
{
    Q_GADGET

public:
    enum class Outcome
    {
        Accepted, // the service's reply with a non-zero status
        Refused, // the service's reply with status 0: the user name or password is wrong
        Unreachable, // no connection, a time-out, a 5xx status, a reply that is not the service's, or a
                     // proxy that failed or wants a sign-in (asked for once by the window)
        Rejected, // a refused certificate, a 4xx status or the program quitting: no offline use
    };
    Q_ENUM(Outcome)

    // failure is the request's lastError(), reply the map it returned.
    static Outcome decide(const ErrorInfo &failure, const QVariantMap &reply);
    static const char *name(Outcome outcome);
};

#endif // SIGNINRESULT_H
