// What the fetch history costs: the time a 1 MB fetch gains for its history entry and the
// move of the version it replaces, against the same fetch as it was made before (download,
// then the unpack attempt), both from the simulator in the same run; the history window
// with 100,000 entries (open with the first page shown, filter by a task); what the hash
// chain adds to a fetch's row in that history (reading the head, encoding the row and its
// files, hashing); and "quillet --export-history" of those 100,000 entries and "quillet
// --verify-history" of them with 1,000 tasks' NC programs in place (10 files of 10 KB each),
// run as the program itself.

#include "history/filedigest.h"
#include "history/historychain.h"
#include "history/historyconnection.h"
#include "history/historystore.h"
#include "rest/krestservice.h"
#include "service/archiveunpacker.h"
#include "service/httptransfer.h"
#include "sim/devicesimulator.h"
#include "tasks/historymodel.h"
#include "tasks/historywindow.h"

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QProcess>
#include <QSqlQuery>
#include <QTemporaryDir>

#include <algorithm>
#include <cstdio>

static constexpr int fetchRuns = 41;
static constexpr int entryCount = 100000;
static constexpr int taskCount = 1000;
static constexpr int chainRuns = 101;
static constexpr int chainFiles = 20;
static constexpr int programFiles = 10;
static constexpr int programBytes = 10 * 1024;

static void dropDebugLine(QtMsgType type, const QMessageLogContext &, const QString &message)
{
    if (type != QtDebugMsg)
        std::fprintf(stderr, "%s\n", qPrintable(message));
}

static double median(QList<double> values)
{
    std::sort(values.begin(), values.end());
    return values.at(values.size() / 2);
}

static double msSince(const QElapsedTimer &timer)
{
    return timer.nsecsElapsed() / 1e6;
}

// Fetches alternate between the two ways so that both meet the same disk and cache.
static void benchFetch(const QString &work)
{
    DeviceSimulator sim;
    sim.start(0);
    sim.setFile(QStringLiteral("dl/7.pdf"), "%PDF-" + QByteArray(1 << 20, 'p'));
    const QString url = sim.rootUrl() + QStringLiteral("dl/7.pdf");
    QList<double> before, with;
    for (int run = 0; run < fetchRuns; ++run) {
        QElapsedTimer timer;
        timer.start();
        KRESTService rest;
        rest.downloadFile(url, work + QStringLiteral("/plain/pdf/7.pdf"), QStringLiteral("none"));
        ArchiveUnpacker().unpack(
            work + QStringLiteral("/plain/pdf/7.pdf"), work + QStringLiteral("/plain/pdf/7"));
        before << msSince(timer);

        timer.restart();
        HttpTransfer transfer;
        transfer.setHistoryFolder(work + QStringLiteral("/history"));
        transfer.downloadNcFile({ { QStringLiteral("remoteFile"), url },
            { QStringLiteral("localFile"), work + QStringLiteral("/pdf/7.pdf") },
            { QStringLiteral("localPath"), work + QStringLiteral("/pdf/7") } });
        with << msSince(timer);
        if (!transfer.historyRecorded())
            std::fprintf(stderr, "history not recorded: %s\n", qPrintable(transfer.historyProblem()));
    }
    // The first runs warm up the connection pool, the disk and the database.
    before = before.mid(1);
    with = with.mid(1);
    std::printf(
        "fetch 1 MB PDF over the old one: before %.2f ms, with history %.2f ms, gain %.2f ms (median of %d; "
        "target <= 5 ms)\n",
        median(before), median(with), median(with) - median(before), int(with.size()));
}

// The i-th of entryCount fetches from start on, 50 s apart, of 1 MB each.
static HistoryEntry fetchRow(const QDateTime &start, int i)
{
    HistoryEntry entry;
    entry.time = start.addSecs(i * 50);
    entry.action = QStringLiteral("fetch");
    entry.userId = QStringLiteral("1001");
    entry.task = QStringLiteral("T-%1").arg(i % taskCount);
    entry.bytes = 1 << 20;
    entry.sha256 = QString::number(i, 16).rightJustified(64, QLatin1Char('0'));
    entry.outcome = QStringLiteral("Fetched / Saved / Unpacked");
    entry.ok = true;
    return entry;
}

static bool fillHistory(const QString &folder)
{
    QList<HistoryEntry> entries;
    entries.reserve(entryCount);
    const QDateTime start = QDateTime::currentDateTime().addDays(-60);
    for (int i = 0; i < entryCount; ++i) {
        HistoryEntry entry = fetchRow(start, i);
        entry.device = QStringLiteral("切割机 1号");
        entry.kind = i % 2 ? QStringLiteral("nc") : QStringLiteral("pdf");
        entry.source = QStringLiteral("http://production.example/files/%1.zip").arg(entry.task);
        entry.target = QStringLiteral("C:/Quillet/nc/%1").arg(entry.task);
        entry.durationMs = 120;
        entries << entry;
    }
    HistoryStore store(folder);
    return store.add(entries);
}

static void benchWindow(const QString &folder)
{
    QList<double> open, filter;
    for (int run = 0; run < 5; ++run) {
        QElapsedTimer timer;
        timer.start();
        HistoryWindow window(folder);
        window.show();
        QApplication::processEvents();
        window.repaint();
        open << msSince(timer);
        timer.restart();
        window.setTaskFilter(QStringLiteral("T-%1").arg(123 + run));
        window.repaint();
        filter << msSince(timer);
        if (window.model()->rowCount() != entryCount / taskCount)
            std::fprintf(stderr, "filter shows %d rows\n", window.model()->rowCount());
    }
    std::printf(
        "history window, %d entries: open with the first page %.1f ms (median of 5; target <= 200 ms)\n",
        entryCount, median(open));
    std::printf("history window, %d entries: filter by a task %.1f ms (median of 5; target <= 100 ms)\n",
        entryCount, median(filter));
}

// The chain's part of writing a fetch's row: inside the transaction that would insert it,
// the head is read and the row with its files encoded and hashed; then the transaction is
// rolled back, so every run meets the same history.
static void benchChain(const QString &folder)
{
    HistoryEntry entry;
    entry.time = QDateTime::currentDateTime();
    entry.action = QStringLiteral("fetch");
    entry.task = QStringLiteral("T-7");
    entry.kind = QStringLiteral("nc");
    entry.target = QStringLiteral("C:/Quillet/nc/T-7");
    entry.sha256 = QString(64, QLatin1Char('a'));
    for (int i = 0; i < chainFiles; ++i)
        entry.files << HistoryFile { QStringLiteral("O%1.nc").arg(i), 50000, QString(64, QLatin1Char('b')) };
    HistoryConnection connection(folder);
    QSqlDatabase db = connection.database();
    QList<double> times;
    for (int run = 0; run < chainRuns; ++run) {
        QSqlQuery begin(db);
        begin.exec(QStringLiteral("BEGIN IMMEDIATE"));
        QElapsedTimer timer;
        timer.start();
        HistoryChain::Head head;
        QSqlError error;
        HistoryChain::readHead(db, head, error);
        QList<QVariantList> files;
        for (const QVariantList &file : HistoryStore::fileValues(entry))
            files << (QVariantList { head.lastId + 1 } + file);
        const QByteArray chain = HistoryChain::link(head.chain,
            HistoryChain::encode(QVariantList { head.lastId + 1 } + HistoryStore::rowValues(entry), files));
        times << msSince(timer);
        db.rollback();
        if (chain.size() != 32 || error.isValid())
            std::fprintf(stderr, "chain not computed: %s\n", qPrintable(error.text()));
    }
    std::printf("hash chain, a fetch's row with %d files in a history of %d entries: %.3f ms (median of %d; "
                "target <= 1 ms)\n",
        chainFiles, entryCount, median(times), chainRuns);
}

// Every task's newest row is its NC program in place, with programFiles files of programBytes
// each on disk; the rows before it are older fetches of the same task without file rows.
static bool fillWithPrograms(const QString &history, const QString &programs)
{
    const QByteArray content
        = QByteArray("N10 G01 X100. Y20. F3000\n").repeated(programBytes / 25 + 1).left(programBytes);
    QList<HistoryEntry> entries;
    entries.reserve(entryCount);
    const QDateTime start = QDateTime::currentDateTime().addDays(-60);
    for (int i = 0; i < entryCount; ++i) {
        HistoryEntry entry = fetchRow(start, i);
        entry.kind = QStringLiteral("nc");
        entry.target = programs + QLatin1Char('/') + entry.task;
        if (i >= entryCount - taskCount) {
            QDir().mkpath(entry.target);
            for (int file = 0; file < programFiles; ++file) {
                QFile program(entry.target + QStringLiteral("/O%1.nc").arg(file));
                if (!program.open(QIODevice::WriteOnly) || program.write(content + entry.task.toUtf8()) < 0)
                    return false;
            }
            entry.files = FileDigest::folderFiles(entry.target);
        }
        entries << entry;
    }
    HistoryStore store(history);
    return store.add(entries);
}

static double verifyMs(const QString &program, const QStringList &options)
{
    QList<double> times;
    for (int run = 0; run < 3; ++run) {
        QElapsedTimer timer;
        timer.start();
        const int code
            = QProcess::execute(program, QStringList { QStringLiteral("--verify-history") } + options);
        times << msSince(timer);
        if (code != 0)
            std::fprintf(stderr, "verify-history exited %d\n", code);
    }
    return median(times);
}

static void benchVerify(const QString &program, const QString &history, const QString &work)
{
    QDir(history).removeRecursively();
    if (!fillWithPrograms(history, work + QStringLiteral("/programs"))) {
        std::fprintf(stderr, "verify-history not measured: the programs cannot be written\n");
        return;
    }
    // Read once, so that the files are in the page cache as on a PC that used them.
    FileDigest::folderFiles(work + QStringLiteral("/programs"));
    const double all = verifyMs(program, {});
    const double chainOnly = verifyMs(program, { QStringLiteral("--no-files") });
    std::printf(
        "quillet --verify-history, %d entries and %d tasks' programs in place (%d files of %d KB each): "
        "%.0f ms; with --no-files %.0f ms (median of 3, process start included; target <= 3000 ms)\n",
        entryCount, taskCount, programFiles, programBytes / 1024, all, chainOnly);
}

static void benchCommands(const QString &work)
{
    const QString program = QStringLiteral(QUILLET_PROGRAM);
    const QString history = QFileInfo(program).absolutePath() + QStringLiteral("/history");
    if (QFileInfo::exists(history)) {
        std::fprintf(stderr, "export not measured: %s exists already\n", qPrintable(history));
        return;
    }
    if (!fillHistory(history))
        return;
    QList<double> times;
    for (int run = 0; run < 3; ++run) {
        QElapsedTimer timer;
        timer.start();
        const int code = QProcess::execute(
            program, { QStringLiteral("--export-history"), work + QStringLiteral("/export.csv") });
        times << msSince(timer);
        if (code != 0)
            std::fprintf(stderr, "export failed with %d\n", code);
    }
    std::printf("quillet --export-history, %d entries: %.0f ms, %.1f MB written (median of 3, process start "
                "included; target <= 2000 ms)\n",
        entryCount, median(times), QFileInfo(work + QStringLiteral("/export.csv")).size() / 1e6);
    benchVerify(program, history, work);
    QDir(history).removeRecursively();
}

int main(int argc, char *argv[])
{
    QApplication app(argc, argv);
    qInstallMessageHandler(dropDebugLine);
    QTemporaryDir work;
    benchFetch(work.path() + QStringLiteral("/fetch"));
    if (!fillHistory(work.path() + QStringLiteral("/window")))
        return 1;
    benchWindow(work.path() + QStringLiteral("/window"));
    benchChain(work.path() + QStringLiteral("/window"));
    benchCommands(work.path());
    return 0;
}
