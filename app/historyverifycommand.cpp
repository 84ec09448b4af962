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
const QString noFilesOption = QStringLiteral("no-files");

// Scripts tell these apart: 1 has always meant that the record itself is broken.
constexpr int intact = 0;
constexpr int broken = 1;
constexpr int cannotCheck = 2;
constexpr int programsChanged = 3;

int cannot(const QString &why)
{
    QTextStream(stderr) << "quillet --verify-history: " << why << '\n';
    qCWarning(appLog).noquote() << "history check failed:" << why;
    return cannotCheck;
}

} // namespace

QList<QCommandLineOption> HistoryVerifyCommand::options()
{
    return { QCommandLineOption(verifyOption,
                 QStringLiteral(
                     "Checks the fetch history's hash chain, its kept versions and every task's files in "
                     "place, and exits: 0 all hold, 1 the record is broken, 2 a usage error or it "
                     "cannot check, 3 the record holds but files in place were changed.")),
        QCommandLineOption(expectOption,
            QStringLiteral("With --verify-history: a chain value from an earlier export (64 hexadecimal "
                           "digits) that must still be there."),
            QStringLiteral("CHAIN")),
        QCommandLineOption(noFilesOption,
            QStringLiteral("With --verify-history: checks the chain alone, reading no files.")) };
}

int HistoryVerifyCommand::run(const QCommandLineParser &parser)
{
    const QString usage = QStringLiteral("usage: quillet --verify-history [--expect CHAIN] [--no-files]");
    if (!parser.positionalArguments().isEmpty())
        return cannot(usage);
    const QString expected = parser.value(expectOption).trimmed();
    if (parser.isSet(expectOption) && !HistoryVerifier::isChainValue(expected))
        return cannot(QStringLiteral("--expect takes a chain value of 64 hexadecimal digits, not \"%1\"")
                          .arg(parser.value(expectOption)));
    HistoryVerifier verifier(HistoryStore::defaultFolder());
    const HistoryVerifier::Result result = verifier.verify(expected,
        parser.isSet(noFilesOption) ? HistoryVerifier::Scope::RecordOnly
                                    : HistoryVerifier::Scope::RecordAndFiles);
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
    if (result == HistoryVerifier::Result::ProgramsChanged) {
        out << "the history holds; head " << verifier.head() << "; files in place were changed since\n";
        qCWarning(appLog).noquote() << "history checked: intact, files in place changed:"
                                    << verifier.findings().value(0);
        return programsChanged;
    }
    qCWarning(appLog).noquote() << "history checked: broken:" << verifier.findings().value(0);
    return broken;
}
