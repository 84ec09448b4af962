// Fetches one file with its history entry, says so on standard output and then waits to
// be killed: tst_FetchHistory checks that the entry outlives the process. With "stall" it
// holds the history for writing from the download on, so that the fetch waits between its
// swap and its row, and says "swapped" as soon as the file has changed.
#include "history/historyconnection.h"
#include "service/httptransfer.h"

#include <QCoreApplication>
#include <QFile>
#include <QSqlQuery>
#include <QTextStream>
#include <QTimer>

namespace {

QByteArray readAll(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    const QStringList args = app.arguments();
    if (args.size() != 4 && args.size() != 5)
        return 2;
    HttpTransfer transfer;
    transfer.setHistoryFolder(args.at(3));
    const bool stall = args.size() == 5;
    HistoryConnection blocker(args.at(3), QStringLiteral("lock"));
    QSqlQuery lock(blocker.database());
    QTimer poll;
    const QByteArray before = readAll(args.at(2));
    if (stall) {
        QObject::connect(&transfer, &HttpTransfer::fetchProgress, [&] { lock.exec("BEGIN IMMEDIATE"); });
        QObject::connect(&poll, &QTimer::timeout, [&] {
            // Between setting the old file aside and renaming the new one in, there is none.
            const QByteArray now = readAll(args.at(2));
            if (now.isEmpty() || now == before)
                return;
            poll.stop();
            QTextStream(stdout) << "swapped" << Qt::endl;
        });
        poll.start(1);
    }
    const bool fetched
        = transfer.downloadNcFile({ { "remoteFile", args.at(1) }, { "localFile", args.at(2) } });
    if (!stall)
        QTextStream(stdout) << (fetched && transfer.historyRecorded() ? "fetched" : "failed") << Qt::endl;
    return app.exec();
}
