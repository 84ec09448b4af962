#ifndef HISTORYVERIFYCOMMAND_H
#define HISTORYVERIFYCOMMAND_H

#include <QCommandLineOption>
#include <QList>

class QCommandLineParser;

// "quillet --verify-history [--expect CHAIN]": checks the hash chain of the history kept
// beside the program, read-only, without a window and without the service.
class HistoryVerifyCommand
{
public:
    // Its options; the first asks for the check.
    static QList<QCommandLineOption> options();
    // 0 when everything holds, 1 when something is broken (named on standard output), 2 when
    // it cannot check (one line on standard error).
    static int run(const QCommandLineParser &parser);
};

#endif // HISTORYVERIFYCOMMAND_H
