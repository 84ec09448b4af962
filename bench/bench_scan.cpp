// What a scan costs before anything opens: ScanCode::decide with 1,000 tasks of 20 NC files
// each in the fetch history (each fetched twice, so that only the newer version counts) and
// 14 kept days of 1,000 tasks, for a task of the shown day, a task of the oldest kept day, a
// file name and a code that names nothing (which reads every kept day and every file).

#include "history/historystore.h"
#include "history/taskliststore.h"
#include "service/scancode.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QMetaEnum>
#include <QTemporaryDir>

#include <algorithm>
#include <cstdio>

static constexpr int taskCount = 1000;
static constexpr int filesPerTask = 20;
static constexpr int runs = 11;

static QString taskNumber(int day, int task)
{
    return QStringLiteral("D%1-T%2").arg(day).arg(task, 4, 10, QLatin1Char('0'));
}

static QVariantList dayList(int day)
{
    QVariantList tasks;
    for (int task = 0; task < taskCount; ++task) {
        tasks << QVariantMap { { QStringLiteral("task_num"), taskNumber(day, task) },
            { QStringLiteral("name"), QStringLiteral("柜体 %1").arg(task) },
            { QStringLiteral("nc_url"), QStringLiteral("files/nc/%1.zip").arg(task) } };
    }
    return tasks;
}

static bool fillHistory(const QString &folder)
{
    QList<HistoryEntry> entries;
    for (int version = 0; version < 2; ++version) {
        for (int task = 0; task < taskCount; ++task) {
            HistoryEntry entry;
            entry.time = QDateTime::currentDateTime();
            entry.action = QString::fromLatin1(HistoryEntry::fetchAction);
            entry.task = taskNumber(0, task);
            entry.kind = QStringLiteral("nc");
            entry.target = folder + QStringLiteral("/nc/") + entry.task;
            entry.ok = true;
            for (int file = 0; file < filesPerTask; ++file)
                entry.files << HistoryFile { QStringLiteral("P%1-%2-%3.nc").arg(task).arg(file).arg(version),
                    1000, QString() };
            entries << entry;
        }
    }
    return HistoryStore(folder).add(entries);
}

static double medianMs(
    const ScanCode &scan, const QString &code, const QVariantList &shown, ScanCode::Result &result)
{
    QList<double> times;
    for (int run = 0; run < runs; ++run) {
        QElapsedTimer timer;
        timer.start();
        result = scan.decide(code, QStringLiteral("7"), QDate(2026, 12, 9), shown).result;
        times << timer.nsecsElapsed() / 1e6;
    }
    std::sort(times.begin(), times.end());
    return times.at(runs / 2);
}

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    QTemporaryDir dir;
    TaskListStore lists(dir.path());
    for (int day = 0; day < TaskListStore::keptDays; ++day) {
        if (!lists.save(QStringLiteral("7"), QDate(2026, 12, 9).addDays(-day), dayList(day),
                QDateTime::currentDateTime()))
            return 1;
    }
    if (!fillHistory(dir.path()))
        return 1;
    HistoryFileIndex files(dir.path());
    const ScanCode scan(&lists, &files);
    const QVariantList shown = dayList(0);
    const QList<QPair<const char *, QString>> codes { { "task of the shown day",
                                                          taskNumber(0, 999).toLower() },
        { "task of the oldest kept day", taskNumber(TaskListStore::keptDays - 1, 999) },
        { "file name", QStringLiteral("p999-19-1") }, { "unknown code", QStringLiteral("NOTHING") } };
    for (const auto &code : codes) {
        ScanCode::Result result;
        const double ms = medianMs(scan, code.second, shown, result);
        std::printf("scan, %d tasks of %d files, %s: %.1f ms (%s; median of %d; target <= 100 ms)\n",
            taskCount, filesPerTask, code.first, ms,
            QMetaEnum::fromType<ScanCode::Result>().valueToKey(int(result)), runs);
    }
    return 0;
}
