#ifndef HISTORYEXPORTCOMMAND_H
#define HISTORYEXPORTCOMMAND_H

// "quillet --export-history FILE.csv [--since yyyy-MM-dd]": writes the history kept beside
// the program to a CSV file for the quality office, without a window and without the
// service.
class HistoryExportCommand
{
public:
    // The command line asks for the export.
    static bool isRequested(int argc, char *argv[]);
    // Writes the file and returns 0, or says why not on standard error and returns 1.
    static int run(int argc, char *argv[]);
};

#endif // HISTORYEXPORTCOMMAND_H
