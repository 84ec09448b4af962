// Comparing two 100,000-line NC programs that differ in 100 places, as "quillet --compare-nc"
// and the history window's "比较" do it: digests, reading, normalising every line and the
// line diff. Also the worst case of two programs with no line in common, for context.

#include "history/nccompare.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QTemporaryDir>

#include <algorithm>
#include <cstdio>

static constexpr int lineCount = 100000;
static constexpr int changes = 100;
static constexpr int runs = 5;

// Blocks as a CAM post writes them, with block numbers and now and then a comment.
static QByteArray program(int changedEvery, int firstLine)
{
    QByteArray text = "%\r\nO1234 (PANEL 7)\r\n";
    for (int i = 0; i < lineCount; ++i) {
        const bool changed = changedEvery > 0 && i % changedEvery == changedEvery / 2;
        text += QStringLiteral("N%1 G01 X%2 Y%3 F%4%5\r\n")
                    .arg(firstLine + i * 10)
                    .arg(i % 977 * 0.125 + (changed ? 0.5 : 0), 0, 'f', 3)
                    .arg(i % 613 * 0.25, 0, 'f', 3)
                    .arg(changed ? 1500 : 1200)
                    .arg(i % 50 == 0 ? QStringLiteral(" (PASS %1)").arg(i / 50) : QString())
                    .toLatin1();
    }
    return text + "M30\r\n%\r\n";
}

static bool write(const QString &path, const QByteArray &bytes)
{
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size();
}

static double medianMs(const QString &older, const QString &newer, int *hunks)
{
    QList<double> times;
    for (int run = 0; run < runs; ++run) {
        QElapsedTimer timer;
        timer.start();
        const NcCompare::Result result = NcCompare().compare(older, newer);
        times << timer.nsecsElapsed() / 1e6;
        *hunks = result.error.isEmpty() ? result.hunkCount() : -1;
    }
    std::sort(times.begin(), times.end());
    return times.at(times.size() / 2);
}

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    QTemporaryDir work;
    const QString older = work.filePath("older.nc");
    const QString newer = work.filePath("newer.nc");
    const QString unrelated = work.filePath("unrelated.nc");
    if (!work.isValid() || !write(older, program(0, 10)) || !write(newer, program(lineCount / changes, 10))
        || !write(unrelated, program(1, 10))) {
        std::fprintf(stderr, "bench_nccompare: cannot write the programs\n");
        return 1;
    }
    int hunks = 0;
    const double changedMs = medianMs(older, newer, &hunks);
    std::printf("compare two %d-line programs differing in %d places: %.0f ms, %d hunks (median of %d; "
                "target <= 1000 ms)\n",
        lineCount, changes, changedMs, hunks, runs);
    const double unrelatedMs = medianMs(older, unrelated, &hunks);
    std::printf("compare two %d-line programs with no line in common: %.0f ms, %d hunks (median of %d; "
                "context only)\n",
        lineCount, unrelatedMs, hunks, runs);
    return hunks < 0 ? 1 : 0;
}
