// Fetches one file with its history entry, says so on standard output and then waits to
// be killed: tst_FetchHistory checks that the entry outlives the process. With "stall" it
// holds the history for writing from the download on, so that the fetch waits between its
// swap and its row, and says "swapped" as soon as the file has changed size (the test
// serves a longer one).
#include "history/historyconnection.h"
#include "service/httptransfer.h"

#include <QCoreApplication>
#include <QFileInfo>
#include <QSqlQuery>
#include <QTextStream>
#include <QTimer>

namespace {

// Looked at by its size, never opened: on Windows a file held open, even for reading,
// cannot be renamed over, and the poll would make the fetch it watches fail.
qint64 sizeOf(const QString &path)
{
    const QFileInfo info(path);
    return info.exists() ? info.size() : -1;
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
    const qint64 before = sizeOf(args.at(2));
    if (stall) {
        QObject::connect(&transfer, &HttpTransfer::fetchProgress, [&] { lock.exec("BEGIN IMMEDIATE"); });
        QObject::connect(&poll, &QTimer::timeout, [&] {
            // Between setting the old file aside and renaming the new one in, there is none.
            const qint64 now = sizeOf(args.at(2));
            if (now <= 0 || now == before)
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
