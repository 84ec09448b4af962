#include "service/signinresult.h"

#include "service/network.h"

#include <QMetaEnum>

// A 4xx answer says the request itself is wrong, and a refused certificate may be someone
// else's server: neither is an outage that offline use should bridge.
SignInResult::Outcome SignInResult::decide(const ErrorInfo &failure, const QVariantMap &reply)
{
    if (!failure.hasError() && reply.contains(QStringLiteral("status")))
        return reply.value(QStringLiteral("status")).toInt() != 0 ? Outcome::Accepted : Outcome::Refused;
    const int code = failure.code();
    if (code >= 500 && code < 600)
        return Outcome::Unreachable;
    switch (code) {
    case Network::NoFailure: // a JSON object without a status
    case Network::CannotConnect:
    case Network::TimedOut:
    case Network::InvalidReply:
    // A proxy that is down, or that wants a sign-in the operator cannot or did not give,
    // keeps the service out of reach as a dead line does.
    case Network::ProxyNeedsSignIn:
    case Network::ProxyRefused:
    case Network::ProxyUnreachable:
    case Network::ProxyTimedOut:
        return Outcome::Unreachable;
    default:
        return Outcome::Rejected;
    }
}

const char *SignInResult::name(Outcome outcome)
{
    return QMetaEnum::fromType<Outcome>().valueToKey(int(outcome));
}
