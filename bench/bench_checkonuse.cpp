// The check made before a task's files are opened (InstalledCheck): an NC folder of 200
// files, 10 MB in all, against the file rows of the version in place, in a history that
// holds 500 other tasks' programs of as many files. The files are read once first, so they
// are in the page cache, as they are for a program that was just fetched or opened. Reading
// every file's SHA-256 alone (FileDigest::folderFiles) is the yardstick.

#include "bench/medianms.h"
#include "history/filedigest.h"
#include "history/historystore.h"
#include "history/installedcheck.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QTemporaryDir>

#include <algorithm>
#include <cstdio>

static constexpr int fileCount = 200;
static constexpr int fileSize = 50 * 1024;
static constexpr int otherTasks = 500;
static constexpr int runs = 11;

// Blocks as a CAM post writes them, different in every file.
static bool writeProgram(const QString &folder)
{
    if (!QDir().mkpath(folder))
        return false;
    for (int i = 0; i < fileCount; ++i) {
        QByteArray text;
        for (int line = 0; text.size() < fileSize; ++line)
            text += QStringLiteral("N%1 G01 X%2 Y%3 F1200\r\n")
                        .arg(line * 10)
                        .arg(i + line * 0.125)
                        .arg(line % 613)
                        .toLatin1();
        QFile file(QStringLiteral("%1/O%2.nc").arg(folder).arg(i, 4, 10, QLatin1Char('0')));
        if (!file.open(QIODevice::WriteOnly) || file.write(text.left(fileSize)) != fileSize)
            return false;
    }
    return true;
}

static bool fillHistory(const QString &history, const QString &program)
{
    HistoryEntry entry;
    entry.time = QDateTime::currentDateTime();
    entry.action = QStringLiteral("fetch");
    entry.kind = QStringLiteral("nc");
    entry.ok = true;
    entry.files = FileDigest::folderFiles(program);
    QList<HistoryEntry> entries;
    for (int task = 0; task <= otherTasks; ++task) {
        entry.task = QStringLiteral("T-%1").arg(task);
        entry.target = QStringLiteral("C:/Quillet/nc/%1").arg(entry.task);
        entries << entry;
    }
    entries.last().target = program;
    HistoryStore store(history);
    return store.add(entries);
}

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    QTemporaryDir work;
    const QString program = work.filePath(QStringLiteral("nc/T-%1").arg(otherTasks));
    const QString history = work.filePath(QStringLiteral("history"));
    if (!work.isValid() || !writeProgram(program) || !fillHistory(history, program)) {
        std::fprintf(stderr, "bench_checkonuse: cannot write the program or its history\n");
        return 1;
    }
    const QString task = QStringLiteral("T-%1").arg(otherTasks);
    InstalledCheck check(history);
    InstalledCheck::Result result = check.check(QStringLiteral("nc"), task, program);
    const double checkMs = medianMs(runs, [&] { result = check.check(QStringLiteral("nc"), task, program); });
    const double digestMs = medianMs(runs, [&] { FileDigest::folderFiles(program); });
    std::printf("check on use, NC folder of %d files (%.1f MB), page cache warm: %.1f ms, %s (median of %d; "
                "target <= 50 ms); the files' SHA-256 alone %.1f ms\n",
        fileCount, fileCount * double(fileSize) / 1e6, checkMs,
        qPrintable(InstalledCheck::resultName(result)), runs, digestMs);
    return result == InstalledCheck::Result::Unchanged ? 0 : 1;
}
