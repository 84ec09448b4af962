#ifndef HISTORYEXPORTCOMMAND_H
#define HISTORYEXPORTCOMMAND_H

#include <QCommandLineOption>
#include <QList>

class QCommandLineParser;

// "quillet --export-history FILE.csv [--since yyyy-MM-dd]": writes the history kept beside
// the program to a CSV file for the quality office, without a window and without the
// service.
class HistoryExportCommand
{
public:
    // Its options; the first asks for the export.
    static QList<QCommandLineOption> options();
    // Writes the file, says so on standard output and returns 0, or says why not in one
    // line on standard error and returns 1.
    static int run(const QCommandLineParser &parser);
};

#endif // HISTORYEXPORTCOMMAND_H
