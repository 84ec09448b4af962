#ifndef PLANTHISTORYCOMMAND_H
#define PLANTHISTORYCOMMAND_H

#include <QCommandLineOption>
#include <QList>

class QCommandLineParser;

// "quillet --plant-history [--task T] [--station ROLE] [--since yyyy-MM-dd] [--conninfo
// CONNINFO]": prints the plant history as CSV on standard output, the columns of
// --export-history with the station last, then one chain-head line per station.
class PlantHistoryCommand
{
public:
    // Its options; the first asks for the listing. It shares --station and --conninfo with
    // --verify-plant and --since with --export-history.
    static QList<QCommandLineOption> options();
    // 0 when listed, 1 (one line on standard error) when not.
    static int run(const QCommandLineParser &parser);
};

#endif // PLANTHISTORYCOMMAND_H
