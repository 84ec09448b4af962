// The support bundle of a PC whose log has grown to its full 10 MB (quillet.log and four
// rotations of 2 MB) and whose history holds 100,000 rows, as "quillet --support-bundle" and
// the history window's "诊断包" write it: the history check, the newest 1,000 rows, scrubbing
// and scanning every line for a remembered password, zipping.

#include "history/historystore.h"
#include "tasks/supportbundle.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>

#include <algorithm>
#include <cstdio>

static constexpr int historyRows = 100000;
static constexpr int logFiles = 5;
static constexpr qint64 logFileBytes = qint64(2) << 20;
static constexpr int runs = 3;

// Lines as the client writes them, an address with a token now and then.
static QByteArray logFile(int index)
{
    QByteArray text;
    for (int line = 0; text.size() < logFileBytes; ++line) {
        text += QStringLiteral("2026-12-09 08:%1:%2.000 info: ")
                    .arg(line / 600 % 60, 2, 10, QLatin1Char('0'))
                    .arg(line / 10 % 60, 2, 10, QLatin1Char('0'))
                    .toLatin1();
        if (line % 20 == 0)
            text += "fetched https://files.example.com/nc/T-" + QByteArray::number(index * 100000 + line)
                + ".zip?token=0123456789abcdef into D:/quillet/nc\n";
        else
            text += "task list of 2026-12-09: 37 tasks, 1 changed, shown in 12 ms\n";
    }
    return text;
}

static bool fillHistory(const QString &folder)
{
    HistoryStore store(folder);
    for (int batch = 0; batch < historyRows / 5000; ++batch) {
        QList<HistoryEntry> entries;
        for (int row = 0; row < 5000; ++row) {
            HistoryEntry entry;
            entry.time = QDateTime::currentDateTime();
            entry.action = QString::fromLatin1(HistoryEntry::fetchAction);
            entry.userId = QStringLiteral("1001");
            entry.task = QStringLiteral("T-%1").arg(batch * 5000 + row);
            entry.kind = QStringLiteral("nc");
            entry.source = QStringLiteral("https://files.example.com/nc/%1.zip?token=abc").arg(entry.task);
            entry.target = folder + QStringLiteral("/../nc/") + entry.task;
            entry.bytes = 123456;
            entry.sha256 = QString(64, QLatin1Char('a'));
            entry.outcome = QStringLiteral("Fetched / Unpacked");
            entry.ok = true;
            entries << entry;
        }
        if (!store.add(entries))
            return false;
    }
    return true;
}

static bool writeLogs(const QString &folder)
{
    QDir().mkpath(folder);
    for (int index = 0; index < logFiles; ++index) {
        QFile file(folder
            + (index == 0 ? QStringLiteral("/quillet.log") : QStringLiteral("/quillet.log.%1").arg(index)));
        const QByteArray text = logFile(index);
        if (!file.open(QIODevice::WriteOnly) || file.write(text) != text.size())
            return false;
    }
    return true;
}

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    QTemporaryDir work;
    SupportBundle::Sources sources;
    sources.programFolder = work.path();
    sources.logFolder = work.filePath(QStringLiteral("log"));
    sources.iniFile = work.filePath(QStringLiteral("quillet.ini"));
    sources.historyFolder = work.filePath(QStringLiteral("history"));
    sources.serviceRoot = QStringLiteral("http://127.0.0.1:18080/");
    sources.passwords = QStringList { QStringLiteral("demo123") };
    if (!work.isValid() || !writeLogs(sources.logFolder) || !fillHistory(sources.historyFolder)) {
        std::fprintf(stderr, "bench_supportbundle: cannot write the log and the history\n");
        return 1;
    }
    const QString zip = work.filePath(QStringLiteral("bundle.zip"));
    QList<double> times;
    for (int run = 0; run < runs; ++run) {
        QElapsedTimer timer;
        timer.start();
        SupportBundle bundle(sources);
        if (!bundle.write(zip)) {
            std::fprintf(stderr, "bench_supportbundle: %s\n", qPrintable(bundle.errorString()));
            return 1;
        }
        times << timer.nsecsElapsed() / 1e6;
    }
    std::sort(times.begin(), times.end());
    std::printf(
        "support bundle of a %lld MB log and %d history rows: %.0f ms (median of %d, %.0f - %.0f ms), "
        "zip %.1f MB (target <= 3000 ms)\n",
        logFiles * logFileBytes >> 20, historyRows, times.at(runs / 2), runs, times.first(), times.last(),
        QFileInfo(zip).size() / double(1 << 20));
    return 0;
}
