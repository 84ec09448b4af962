#ifndef OFFLINEVERIFIER_H
#define OFFLINEVERIFIER_H

#include <QDateTime>
#include <QObject>
#include <QString>

// Lets a user whom the service accepted before sign in on this PC while the service cannot
// be reached. Each accepted sign-in keeps a verifier of the typed password (PBKDF2-HMAC-SHA256
// with a random salt), never the password or its MD5, in the operating-system account's own
// settings (the registry under HKEY_CURRENT_USER on Windows, the owner-only settings file
// elsewhere), not in the program's folder, which every account may write. A verifier
// lapses lapseDays after the sign-in that kept it.
//
// remember() and check() take about 0.2 s on purpose: call them off the GUI thread
// (OffThread::run in core/offthread.h). Calls for one user must not overlap.
class OfflineVerifier
{
    Q_GADGET

public:
    enum class Match
    {
        Matches, // the password is the one the service last accepted
        Differs,
        None, // no verifier for this user, or a lapsed one
        // The verifier was kept at a time later than now: the clock was set back since, or was
        // set forward then. It lapses, as no time after it can be trusted to end its days.
        ClockMismatch,
    };
    Q_ENUM(Match)

    static constexpr int iterations = 600000;
    static constexpr int saltBytes = 16;
    static constexpr int lapseDays = 14;
    static const char algorithm[];

    // Keeps a verifier of password for user, with the user id the service returned and the
    // time of the sign-in it accepted; false when it could not be computed or stored.
    static bool remember(
        const QString &user, const QString &password, const QString &userId, const QDateTime &now);
    // Compares password with user's verifier in constant time. On Matches, userId and
    // signedInAt (when given) receive what remember() kept, signedInAt in local time. A lapsed
    // verifier is removed, one kept later than now too (ClockMismatch).
    static Match check(const QString &user, const QString &password, const QDateTime &now,
        QString *userId = nullptr, QDateTime *signedInAt = nullptr);
    // Removes user's verifier: the service refused this password.
    static void forget(const QString &user);

    // The settings group of user's verifier; the name is hex-encoded, so that no character
    // of it ("/", "\", "=") can reach another group or key.
    static QString group(const QString &user);
    // Where the verifiers are kept: a file name, or the registry key on Windows.
    static QString storeName();
};

#endif // OFFLINEVERIFIER_H
