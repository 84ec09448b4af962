#include "app/historyverifycommand.h"

#include "app/applog.h"

#include "history/historystore.h"
#include "history/historyverifier.h"

#include <QCommandLineParser>
#include <QDebug>
#include <QTextStream>

namespace {

const QString verifyOption = QStringLiteral("verify-history");
const QString expectOption = QStringLiteral("expect");

constexpr int intact = 0;
constexpr int broken = 1;
constexpr int cannotCheck = 2;

int cannot(const QString &why)
{
    QTextStream(stderr) << "quillet --verify-history: " << why << '\n';
    qCWarning(appLog).noquote() << "history check failed:" << why;
    return cannotCheck;
}

} // namespace

QList<QCommandLineOption> HistoryVerifyCommand::options()
{
    return { QCommandLineOption(
                 verifyOption, QStringLiteral("Checks the fetch history's hash chain and exits.")),
        QCommandLineOption(expectOption,
            QStringLiteral(
                "With --verify-history: a chain value from an earlier export that must still be there."),
            QStringLiteral("CHAIN")) };
}

int HistoryVerifyCommand::run(const QCommandLineParser &parser)
{
    if (!parser.positionalArguments().isEmpty())
        return cannot(QStringLiteral("usage: quillet --verify-history [--expect CHAIN]"));
    HistoryVerifier verifier(HistoryStore::defaultFolder());
    const HistoryVerifier::Result result = verifier.verify(parser.value(expectOption));
    if (result == HistoryVerifier::Result::CannotCheck)
        return cannot(verifier.findings().value(0));
    QTextStream out(stdout);
    if (result == HistoryVerifier::Result::Intact) {
        out << "the history holds; head " << verifier.head() << '\n';
        qCInfo(appLog).noquote() << "history checked: intact, head" << verifier.head();
        return intact;
    }
    for (const QString &finding : verifier.findings())
        out << finding << '\n';
    qCWarning(appLog).noquote() << "history checked: broken:" << verifier.findings().value(0);
    return broken;
}
