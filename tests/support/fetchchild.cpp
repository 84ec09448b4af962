// Fetches one file with its history entry, says so on standard output and then waits to
// be killed: tst_FetchHistory checks that the entry outlives the process.
#include "service/httptransfer.h"

#include <QCoreApplication>
#include <QTextStream>

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    const QStringList args = app.arguments();
    if (args.size() != 4)
        return 2;
    HttpTransfer transfer;
    transfer.setHistoryFolder(args.at(3));
    const bool fetched
        = transfer.downloadNcFile({ { "remoteFile", args.at(1) }, { "localFile", args.at(2) } });
    QTextStream(stdout) << (fetched && transfer.historyRecorded() ? "fetched" : "failed") << Qt::endl;
    return app.exec();
}
