#ifndef NCCOMPARECOMMAND_H
#define NCCOMPARECOMMAND_H

#include <QCommandLineOption>
#include <QList>
#include <QStringList>

class QCommandLineParser;
class QTextStream;

// "quillet --compare-nc A B": compares two versions of an NC program, two folders or two
// files, without a window and without the service. It prints the files that differ and,
// for each changed program, its changed lines as a unified diff of the files' own lines.
// "ncIntegerIsUnit=mm" in quillet.ini reads numbers without a decimal point as millimetres.
class NcCompareCommand
{
public:
    enum ExitCode
    {
        Same = 0,
        Different = 1,
        Failed = 2
    };

    // Its option, which asks for the comparison and takes A; B follows it.
    static QList<QCommandLineOption> options();
    static int run(const QCommandLineParser &parser);
    // Compares as the arguments after the program name say, printing the differences to out
    // or the reason it could not to err (one line).
    static ExitCode execute(
        const QStringList &arguments, bool integerIsUnit, QTextStream &out, QTextStream &err);
};

#endif // NCCOMPARECOMMAND_H
