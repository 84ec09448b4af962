#include "app/nccomparecommand.h"

#include "app/serverconfig.h"

#include "history/nccompare.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QFileInfo>
#include <QTextStream>

namespace {

const char *const compareOption = "--compare-nc";

const char *statusWord(NcCompare::Status status)
{
    switch (status) {
    case NcCompare::Status::Added:
        return "added";
    case NcCompare::Status::Removed:
        return "removed";
    default:
        return "changed";
    }
}

QChar marker(NcCompare::LineKind kind)
{
    return kind == NcCompare::LineKind::Removed ? QLatin1Char('-')
        : kind == NcCompare::LineKind::Added    ? QLatin1Char('+')
                                                : QLatin1Char(' ');
}

// Files that differ only in what the comparison leaves aside are not listed.
void printFiles(const NcCompare::Result &result, QTextStream &out)
{
    for (const NcCompare::FileDiff &file : result.files) {
        if (file.status == NcCompare::Status::Equivalent)
            continue;
        out << statusWord(file.status) << ": " << file.path;
        if (file.binary)
            out << " (binary)";
        else if (!file.hunks.isEmpty())
            out << " (" << file.hunks.size() << (file.hunks.size() == 1 ? " hunk)" : " hunks)");
        out << '\n';
    }
}

void printHunks(const QString &older, const QString &newer, const NcCompare::FileDiff &file, QTextStream &out)
{
    out << "--- " << older << '\n' << "+++ " << newer << '\n';
    for (const NcCompare::Hunk &hunk : file.hunks) {
        out << "@@ -" << hunk.oldStart << ',' << hunk.oldCount << " +" << hunk.newStart << ','
            << hunk.newCount << " @@\n";
        for (const NcCompare::Line &line : hunk.lines)
            out << marker(line.kind) << line.text << '\n';
    }
}

} // namespace

QList<QCommandLineOption> NcCompareCommand::options()
{
    return { QCommandLineOption(QLatin1String(compareOption + 2),
        QStringLiteral("Compares two versions of an NC program, A and B (two folders or two files); exit 0 "
                       "when equal, 1 when they differ, 2 on an error."),
        QStringLiteral("A B")) };
}

int NcCompareCommand::run(const QCommandLineParser &parser)
{
    const bool integerIsUnit = ServerConfig::ncIntegerIsUnit(QCoreApplication::applicationDirPath());
    QTextStream out(stdout);
    QTextStream err(stderr);
    const QStringList arguments
        = QStringList { QLatin1String(compareOption), parser.value(QLatin1String(compareOption + 2)) }
        + parser.positionalArguments();
    return execute(arguments, integerIsUnit, out, err);
}

NcCompareCommand::ExitCode NcCompareCommand::execute(
    const QStringList &arguments, bool integerIsUnit, QTextStream &out, QTextStream &err)
{
    if (arguments.size() != 3 || arguments.first() != QLatin1String(compareOption)) {
        err << "quillet --compare-nc: usage: quillet --compare-nc A B (two folders or two files)\n";
        return Failed;
    }
    const QString older = arguments.at(1);
    const QString newer = arguments.at(2);
    const NcCompare::Result result = NcCompare(integerIsUnit).compare(older, newer);
    if (!result.error.isEmpty()) {
        err << "quillet --compare-nc: " << result.error << '\n';
        return Failed;
    }
    printFiles(result, out);
    const bool folders = QFileInfo(older).isDir();
    for (const NcCompare::FileDiff &file : result.files) {
        if (!file.hunks.isEmpty())
            printHunks(folders ? older + QLatin1Char('/') + file.path : older,
                folders ? newer + QLatin1Char('/') + file.path : newer, file, out);
    }
    out.flush();
    return result.same() ? Same : Different;
}
