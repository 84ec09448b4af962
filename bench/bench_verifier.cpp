// What the offline sign-in's verifier costs on purpose: OfflineVerifier::remember and check,
// each one PBKDF2-HMAC-SHA256 at 600,000 iterations, against a settings store of their own.

#include "bench/medianms.h"
#include "credentials/offlineverifier.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QTemporaryDir>

#include <algorithm>
#include <cstdio>

static constexpr int runs = 5;

int main(int argc, char *argv[])
{
    // The verifiers go to a throw-away config home, never the user's own settings.
    QTemporaryDir home;
    qputenv("XDG_CONFIG_HOME", QFile::encodeName(home.path()));
    QCoreApplication app(argc, argv);
    const QDateTime now = QDateTime::currentDateTime();
    bool kept = true;
    const double remember
        = medianMs(runs, [&] { kept = kept && OfflineVerifier::remember("demo", "demo123", "42", now); });
    OfflineVerifier::Match match = OfflineVerifier::Match::None;
    const double check = medianMs(runs, [&] { match = OfflineVerifier::check("demo", "demo123", now); });
    std::printf("offline verifier, PBKDF2-HMAC-SHA256 at %d iterations: remember %.0f ms, check %.0f ms (%s; "
                "median of %d)\n",
        OfflineVerifier::iterations, remember, check,
        kept && match == OfflineVerifier::Match::Matches ? "matches" : "FAILED", runs);
    return kept && match == OfflineVerifier::Match::Matches ? 0 : 1;
}
