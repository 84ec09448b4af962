#ifndef HISTORYVERIFYCOMMAND_H
#define HISTORYVERIFYCOMMAND_H

#include <QCommandLineOption>
#include <QList>

class QCommandLineParser;

// "quillet --verify-history [--expect CHAIN] [--no-files]": checks the hash chain of the
// history kept beside the program, read-only, without a window and without the service, then
// the kept versions and each task's files in place against their rows.
class HistoryVerifyCommand
{
public:
    // Its options; the first asks for the check.
    static QList<QCommandLineOption> options();
    // 0 when everything holds, 1 when the record is broken (named on standard output), 2 for
    // a mistyped command line or when it cannot check (one line on standard error), 3 when the
    // record holds but programs in place were changed (each file named on standard output).
    static int run(const QCommandLineParser &parser);
};

#endif // HISTORYVERIFYCOMMAND_H
