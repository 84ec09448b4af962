#ifndef PLANTSETUPCOMMAND_H
#define PLANTSETUPCOMMAND_H

#include <QCommandLineOption>
#include <QList>

class QCommandLineParser;

// "quillet --plant-setup CONNINFO": run once by IT as a role with CREATEROLE that owns the
// plant's database; creates or brings up to date the plant history's schema and group roles
// (PlantSchema), prints what it granted and what IT adds per station. Idempotent.
class PlantSetupCommand
{
public:
    static QList<QCommandLineOption> options();
    // 0 when the schema is in place, 1 (one line on standard error) when not.
    static int run(const QCommandLineParser &parser);
};

#endif // PLANTSETUPCOMMAND_H
