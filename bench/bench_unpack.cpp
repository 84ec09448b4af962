// Unpacking an NC archive with the client's unpacker (entry, size and room checks, staging
// folder, swap, all on a pool thread) beside Info-ZIP's unzip on the same archive, in the
// same run, and the longest stand-still of the caller's event loop during a 30,000-file
// unpack. The archives and folders go
// to the temporary folder (TMPDIR): on a disk the file system's own cost dominates and
// varies from run to run, on a tmpfs such as /dev/shm the unpacking itself is compared.
// BENCH_UNPACK_RUNS=1 prints every run. The names of 2,000 entries read as GB18030 (no
// UTF-8 flag, as Chinese Windows tools write them) are compared with the same archive
// flagged UTF-8. BENCH_UNPACK_NAMES_ONLY=1 measures that alone, BENCH_UNPACK_QUICK=1 that and
// the 2,000 small files.

#include "service/archiveunpacker.h"

#include "bench/standstill.h"
#include "sim/devicesimulator.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTextCodec>

#include <quazip.h>
#include <quazipfile.h>
#include <quazipnewinfo.h>

#include <algorithm>
#include <cstdio>
#include <functional>
#include <vector>

namespace {

constexpr int runs = 7;
constexpr int manyFiles = 30000;
constexpr int manyFilesRuns = 3;
constexpr double standStillLimitMs = 100;

// G-code compresses like the real programs: lines of similar moves with changing numbers.
QByteArray program(int seed, int bytes)
{
    QByteArray text;
    text.reserve(bytes + 64);
    quint32 state = quint32(seed) * 2654435761u + 1;
    text += "(panel " + QByteArray::number(seed) + ")\nG21 G90 G17\nM3 S18000\n";
    while (text.size() < bytes) {
        state = state * 1664525u + 1013904223u;
        text += "G1 X" + QByteArray::number(int(state >> 20) % 2800) + '.' + QByteArray::number(state % 1000)
            + " Y" + QByteArray::number(int(state >> 8) % 1220) + " Z-18 F6000\n";
    }
    text.resize(bytes);
    return text;
}

bool writeArchive(const QString &path, const QList<QPair<QString, QByteArray>> &entries)
{
    const QByteArray zip = DeviceSimulator::makeZip(entries);
    QFile file(path);
    return !zip.isEmpty() && file.open(QIODevice::WriteOnly) && file.write(zip) == zip.size();
}

double median(std::vector<double> values)
{
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

double timed(const std::function<bool()> &run)
{
    QElapsedTimer timer;
    timer.start();
    const bool ok = run();
    const double ms = double(timer.nsecsElapsed()) / 1e6;
    return ok ? ms : -1.0;
}

bool ours(const QString &archive, const QString &folder)
{
    ArchiveUnpacker unpacker;
    const ArchiveUnpacker::Result result = unpacker.unpack(archive, folder);
    if (result != ArchiveUnpacker::Result::Unpacked)
        std::fprintf(stderr, "bench_unpack: unpacker gave %d for %s\n", int(result), qPrintable(folder));
    return result == ArchiveUnpacker::Result::Unpacked;
}

bool unzip(const QString &archive, const QString &folder)
{
    QProcess process;
    process.start("unzip", { "-q", "-o", archive, "-d", folder });
    const bool ok = process.waitForFinished(-1) && process.exitStatus() == QProcess::NormalExit
        && process.exitCode() == 0;
    if (!ok)
        std::fprintf(stderr, "bench_unpack: unzip exit code %d: %s\n", process.exitCode(),
            process.readAllStandardError().constData());
    return ok;
}

// One figure: each run unpacks into a fresh folder, or over the folder the previous run
// left (the second fetch of a task), alternating which tool goes first.
bool measure(const char *label, const QString &archive, const QString &work, bool over, int runs = runs)
{
    std::vector<double> oursMs, unzipMs;
    QDir().mkpath(work + "/ours");
    QDir().mkpath(work + "/unzip");
    for (int run = 0; run < runs; ++run) {
        const QString oursFolder = work + "/ours/" + (over ? QStringLiteral("7") : QString::number(run));
        const QString unzipFolder = work + "/unzip/" + (over ? QStringLiteral("7") : QString::number(run));
        if (over && run == 0 && (!ours(archive, oursFolder) || !unzip(archive, unzipFolder)))
            return false;
        const auto mine = [&] { return timed([&] { return ours(archive, oursFolder); }); };
        const auto theirs = [&] { return timed([&] { return unzip(archive, unzipFolder); }); };
        double a, b;
        if (run % 2 == 0) {
            a = mine();
            b = theirs();
        } else {
            b = theirs();
            a = mine();
        }
        if (a < 0 || b < 0)
            return false;
        oursMs.push_back(a);
        unzipMs.push_back(b);
        if (!over) {
            QDir(oursFolder).removeRecursively();
            QDir(unzipFolder).removeRecursively();
        }
    }
    if (qEnvironmentVariableIsSet("BENCH_UNPACK_RUNS")) {
        for (int run = 0; run < runs; ++run)
            std::fprintf(stderr, "  run %d: ours %.1f ms, unzip %.1f ms\n", run, oursMs[run], unzipMs[run]);
    }
    const double mine = median(oursMs);
    const double theirs = median(unzipMs);
    std::printf("unpack %s: %.1f ms, unzip -q -o %.1f ms, ratio %.2fx (target <= 1.10x)\n", label, mine,
        theirs, mine / theirs);
    std::fflush(stdout);
    return true;
}

// Chinese names, stored as GBK without the flag or as flagged UTF-8.
bool writeNamedArchive(const QString &path, const QList<QPair<QString, QByteArray>> &entries, bool gbk)
{
    QuaZip zip(path);
    zip.setUtf8Enabled(!gbk);
    if (gbk)
        zip.setFileNameCodec(QTextCodec::codecForName("GBK"));
    if (!zip.open(QuaZip::mdCreate))
        return false;
    for (const auto &entry : entries) {
        QuaZipFile file(&zip);
        if (!file.open(QIODevice::WriteOnly, QuaZipNewInfo(entry.first))
            || file.write(entry.second) != entry.second.size())
            return false;
        file.close();
    }
    zip.close();
    return zip.getZipError() == 0;
}

// Alternating which goes first, each run into a fresh folder.
bool measureNames(const QString &work)
{
    QList<QPair<QString, QByteArray>> entries;
    for (int i = 0; i < 2000; ++i)
        entries.append({ QStringLiteral("柜体-%1/左门板-%2.nc").arg(i / 100).arg(i),
            program(i, 1000 + (i * 37) % 3000) });
    const QString gbkZip = work + "/gbk.zip";
    const QString utf8Zip = work + "/utf8.zip";
    if (!writeNamedArchive(gbkZip, entries, true) || !writeNamedArchive(utf8Zip, entries, false))
        return false;
    std::vector<double> gbkMs, utf8Ms;
    for (int run = 0; run < runs; ++run) {
        const QString folder = work + "/names-" + QString::number(run);
        const auto gbk = [&] { return timed([&] { return ours(gbkZip, folder + "-gbk"); }); };
        const auto utf8 = [&] { return timed([&] { return ours(utf8Zip, folder + "-utf8"); }); };
        double a, b;
        if (run % 2 == 0) {
            a = gbk();
            b = utf8();
        } else {
            b = utf8();
            a = gbk();
        }
        if (a < 0 || b < 0)
            return false;
        gbkMs.push_back(a);
        utf8Ms.push_back(b);
        QDir(folder + "-gbk").removeRecursively();
        QDir(folder + "-utf8").removeRecursively();
    }
    const double gbk = median(gbkMs);
    const double utf8 = median(utf8Ms);
    std::printf("unpack 2000 GBK-named files without the UTF-8 flag: %.1f ms, UTF-8-flagged %.1f ms, ratio "
                "%.2fx (target <= 1.10x)\n",
        gbk, utf8, gbk / utf8);
    std::fflush(stdout);
    return true;
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    if (QStandardPaths::findExecutable("unzip").isEmpty()) {
        std::fprintf(stderr, "bench_unpack: Info-ZIP unzip is not installed\n");
        return 1;
    }
    QTemporaryDir work;
    if (!work.isValid())
        return 1;
    std::printf("unpack: working in %s, median of %d runs\n", qPrintable(QDir::tempPath()), runs);
    if (!measureNames(work.path())) {
        std::fprintf(stderr, "bench_unpack: unpacking the named archives failed\n");
        return 1;
    }
    if (qEnvironmentVariableIsSet("BENCH_UNPACK_NAMES_ONLY"))
        return 0;

    QList<QPair<QString, QByteArray>> small;
    for (int i = 0; i < 2000; ++i)
        small.append({ QStringLiteral("part-%1/panel-%2.nc").arg(i / 100).arg(i),
            program(i, 1000 + (i * 37) % 3000) });
    QList<QPair<QString, QByteArray>> many;
    for (int i = 0; i < manyFiles; ++i)
        many.append({ QStringLiteral("part-%1/panel-%2.nc").arg(i / 1000).arg(i),
            program(i, 500 + (i * 37) % 2000) });
    QList<QPair<QString, QByteArray>> large;
    for (int i = 0; i < 4; ++i)
        large.append({ QStringLiteral("panel-%1.nc").arg(i), program(i, 25 * 1024 * 1024) });

    const QString smallZip = work.filePath("small.zip");
    const QString largeZip = work.filePath("large.zip");
    const QString manyZip = work.filePath("many.zip");
    if (!writeArchive(smallZip, small) || !writeArchive(largeZip, large) || !writeArchive(manyZip, many)) {
        std::fprintf(stderr, "bench_unpack: cannot build the archives\n");
        return 1;
    }

    bool ok = measure("2000 small files, new folder", smallZip, work.filePath("small-new"), false)
        && measure("2000 small files, over the previous folder", smallZip, work.filePath("small-over"), true);
    if (ok && qEnvironmentVariableIsSet("BENCH_UNPACK_QUICK"))
        return 0;
    ok = ok && measure("4 x 25 MB files, new folder", largeZip, work.filePath("large-new"), false)
        && measure("4 x 25 MB files, over the previous folder", largeZip, work.filePath("large-over"), true)
        && measure(
            "30,000 small files, new folder", manyZip, work.filePath("many-new"), false, manyFilesRuns);
    if (!ok) {
        std::fprintf(stderr, "bench_unpack: an unpack failed\n");
        return 1;
    }

    bool unpacked = false;
    const QString folder = work.filePath("many-standstill/7");
    const double longest = StandStill::longestMs([&] { unpacked = ours(manyZip, folder); });
    if (!unpacked)
        return 1;
    std::printf("unpack 30,000 small files: longest event-loop stand-still %.1f ms (target <= %.0f ms)\n",
        longest, standStillLimitMs);
    return 0;
}
