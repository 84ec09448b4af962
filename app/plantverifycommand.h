#ifndef PLANTVERIFYCOMMAND_H
#define PLANTVERIFYCOMMAND_H

#include "plant/plantconfig.h"

#include <QCommandLineOption>
#include <QList>

class QCommandLineParser;

// "quillet --verify-plant [--station ROLE] [--conninfo CONNINFO]": recomputes each
// station's chain from the plant store's rows (PlantVerifier). The plant store is the one
// "plantHistory" in quillet.ini names unless --conninfo names another (a reader's, typically).
class PlantVerifyCommand
{
public:
    // Its options; the first asks for the check. --station and --conninfo serve
    // --plant-history too.
    static QList<QCommandLineOption> options();
    // 0 when every chain holds, 1 when something is broken (named on standard output), 2 when
    // it cannot check (one line on standard error).
    static int run(const QCommandLineParser &parser);
    // The plant store the parser names; refused with why when none is usable.
    static PlantConfig plantStore(const QCommandLineParser &parser, QString &why);
};

#endif // PLANTVERIFYCOMMAND_H
