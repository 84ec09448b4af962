#ifndef SUPPORTBUNDLECOMMAND_H
#define SUPPORTBUNDLECOMMAND_H

#include <QCommandLineOption>
#include <QList>

class QCommandLineParser;

// "quillet --support-bundle FILE.zip": writes the support bundle (SupportBundle) of the
// program's folder, without a window and without the service.
class SupportBundleCommand
{
public:
    // Its option, which asks for the bundle.
    static QList<QCommandLineOption> options();
    // Writes the zip, says where on standard output and returns 0, or says why not in one
    // line on standard error and returns 1.
    static int run(const QCommandLineParser &parser);
};

#endif // SUPPORTBUNDLECOMMAND_H
