// Download of a 1 GiB file with KRESTService::downloadFile next to curl fetching the same
// file from the same simulator in the same run: throughput and peak resident memory. Then
// the longest stand-still of the event loop while a 300 MiB file is fetched, and 200 MB over
// https from a TLS simulator, again beside curl, both trusting the same throw-away CA.
//
// Each timed download runs in a fresh child process (this program with --fetch), so its
// peak resident memory holds only the client, not the simulator or an earlier run. The
// files go to the temporary folder (TMPDIR) and are removed at the end.

#include "bench/standstill.h"
#include "rest/krestservice.h"
#include "sim/devicesimulator.h"
#include "tests/support/testpki.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QSslCertificate>
#include <QSslConfiguration>
#include <QTemporaryDir>

#include <algorithm>
#include <cstdio>

#include <sys/resource.h>
#include <unistd.h>

static constexpr qint64 bodyBytes = qint64(1) << 30;
static constexpr qint64 standStillBytes = qint64(300) << 20;
static constexpr qint64 tlsBodyBytes = 200000000;
static constexpr int repeats = 3;
static constexpr double memoryLimitMB = 64;
static constexpr double standStillLimitMs = 100;

struct Run
{
    bool ok = false;
    double seconds = 0;
    double peakMB = 0;
};

// VmHWM of this process in MB (10^6 bytes).
static double peakResidentMB()
{
    QFile status(QStringLiteral("/proc/self/status"));
    if (!status.open(QIODevice::ReadOnly))
        return 0;
    for (const QByteArray &line : status.readAll().split('\n')) {
        if (line.startsWith("VmHWM:"))
            return line.mid(6).trimmed().split(' ').value(0).toDouble() * 1024.0 / 1e6;
    }
    return 0;
}

static void dropDebugLine(QtMsgType type, const QMessageLogContext &, const QString &message)
{
    if (type != QtDebugMsg)
        std::fprintf(stderr, "%s\n", qPrintable(message));
}

static void trust(const QString &caFile)
{
    if (caFile.isEmpty())
        return;
    QSslConfiguration configuration = QSslConfiguration::defaultConfiguration();
    configuration.addCaCertificates(caFile);
    QSslConfiguration::setDefaultConfiguration(configuration);
}

static int fetch(const QString &url, const QString &dst, qint64 bytes, const QString &caFile)
{
    // The request lines of the service would only clutter the figures.
    qInstallMessageHandler(dropDebugLine);
    trust(caFile);
    KRESTService service;
    QElapsedTimer timer;
    timer.start();
    const bool ok = service.downloadFile(url, dst, QStringLiteral("none"));
    const double seconds = timer.nsecsElapsed() / 1e9;
    const bool complete = ok && QFileInfo(dst).size() == bytes;
    std::printf("%d %.6f %.3f\n", complete ? 1 : 0, seconds, peakResidentMB());
    return complete ? 0 : 1;
}

static Run runChild(const QString &program, const QStringList &arguments)
{
    QProcess process;
    process.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    process.start(program, arguments);
    Run run;
    if (!process.waitForFinished(120000) || process.exitCode() != 0)
        return run;
    const QList<QByteArray> fields = process.readAllStandardOutput().trimmed().split(' ');
    run.ok = fields.value(0) == "1";
    run.seconds = fields.value(1).toDouble();
    run.peakMB = fields.value(2).toDouble();
    return run;
}

static Run runQuillet(
    const QString &url, const QString &dst, qint64 bytes = bodyBytes, const QString &caFile = {})
{
    QFile::remove(dst);
    return runChild(QCoreApplication::applicationFilePath(),
        { QStringLiteral("--fetch"), url, dst, QString::number(bytes), caFile });
}

// Runs curl from a child of its own, whose children's peak resident memory is curl's alone.
static int fetchWithCurl(const QString &url, const QString &dst, qint64 bytes, const QString &caFile)
{
    QProcess process;
    QStringList arguments { QStringLiteral("-s"), QStringLiteral("-o"), dst, QStringLiteral("-w"),
        QStringLiteral("%{time_total}"), url };
    if (!caFile.isEmpty())
        arguments << QStringLiteral("--cacert") << caFile;
    process.start(QStringLiteral("curl"), arguments);
    if (!process.waitForFinished(120000) || process.exitCode() != 0)
        return 1;
    const double seconds = process.readAllStandardOutput().trimmed().toDouble();
    rusage usage {};
    getrusage(RUSAGE_CHILDREN, &usage);
    const bool complete = QFileInfo(dst).size() == bytes && seconds > 0;
    std::printf("%d %.6f %.3f\n", complete ? 1 : 0, seconds, usage.ru_maxrss * 1024.0 / 1e6);
    return complete ? 0 : 1;
}

static Run runCurl(
    const QString &url, const QString &dst, qint64 bytes = bodyBytes, const QString &caFile = {})
{
    QFile::remove(dst);
    return runChild(QCoreApplication::applicationFilePath(),
        { QStringLiteral("--curl"), url, dst, QString::number(bytes), caFile });
}

// The 300 MiB fetch runs in this process, with its own event loop being watched.
static double fetchStandStillMs(const QString &url, const QString &dst)
{
    qInstallMessageHandler(dropDebugLine);
    KRESTService service;
    bool ok = false;
    const double longest
        = StandStill::longestMs([&] { ok = service.downloadFile(url, dst, QStringLiteral("none")); });
    qInstallMessageHandler(nullptr);
    const bool complete = ok && QFileInfo(dst).size() == standStillBytes;
    QFile::remove(dst);
    return complete ? longest : -1;
}

// How long curl's file takes to reach the disk: downloadFile syncs before it replaces the
// destination (QSaveFile), curl does not, so curl plus this is the like-for-like yardstick.
static double syncSeconds(const QString &path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadWrite))
        return 0;
    QElapsedTimer timer;
    timer.start();
    ::fsync(file.handle());
    return timer.nsecsElapsed() / 1e9;
}

static Run best(const QList<Run> &runs)
{
    Run result;
    for (const Run &run : runs) {
        if (!run.ok)
            return Run();
        if (!result.ok || run.seconds < result.seconds)
            result.seconds = run.seconds;
        result.peakMB = std::max(result.peakMB, run.peakMB);
        result.ok = true;
    }
    return result;
}

// 200 MB over https, the client and curl alternating against one TLS simulator.
static int benchmarkHttps(const QTemporaryDir &dir, const QString &dst)
{
    const TestPki pki;
    const QString caFile = dir.filePath(QStringLiteral("ca.pem"));
    DeviceSimulator simulator;
    QFile ca(caFile);
    if (!pki.isValid() || !ca.open(QIODevice::WriteOnly) || ca.write(pki.caPem()) <= 0
        || !TestPki::save(pki.issue(QStringLiteral("127.0.0.1")), dir.path(), QStringLiteral("server"))) {
        std::fprintf(stderr, "bench_download: cannot make the test certificates\n");
        return 1;
    }
    ca.close();
    if (!simulator.startTls(
            dir.filePath(QStringLiteral("server.pem")), dir.filePath(QStringLiteral("server.key")))) {
        std::fprintf(stderr, "bench_download: cannot start the TLS simulator\n");
        return 1;
    }
    const QString url = simulator.rootUrl() + QStringLiteral("blob/%1").arg(tlsBodyBytes);
    QList<Run> ours, curls, syncedCurls;
    for (int i = 0; i < repeats; ++i) {
        ours << runQuillet(url, dst, tlsBodyBytes, caFile);
        curls << runCurl(url, dst, tlsBodyBytes, caFile);
        syncedCurls << curls.last();
        syncedCurls.last().seconds += syncSeconds(dst);
    }
    QFile::remove(dst);
    const Run quillet = best(ours);
    const Run curl = best(curls);
    const Run syncedCurl = best(syncedCurls);
    if (!quillet.ok || !curl.ok) {
        std::fprintf(
            stderr, "bench_download: an https download failed (quillet %d, curl %d)\n", quillet.ok, curl.ok);
        return 1;
    }
    const double ourSpeed = tlsBodyBytes / 1e6 / quillet.seconds;
    const double curlSpeed = tlsBodyBytes / 1e6 / curl.seconds;
    const double syncedCurlSpeed = tlsBodyBytes / 1e6 / syncedCurl.seconds;
    std::printf("download 200 MB over https: %.0f MB/s, curl %.0f MB/s, ratio %.2f\n", ourSpeed, curlSpeed,
        ourSpeed / curlSpeed);
    std::printf(
        "download 200 MB over https on disk: %.0f MB/s, curl then fsync %.0f MB/s, ratio %.2f (target "
        ">= 0.80)\n",
        ourSpeed, syncedCurlSpeed, ourSpeed / syncedCurlSpeed);
    return 0;
}

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    const QStringList arguments = app.arguments();
    if (arguments.size() == 6 && arguments.at(1) == QLatin1String("--fetch"))
        return fetch(arguments.at(2), arguments.at(3), arguments.at(4).toLongLong(), arguments.at(5));
    if (arguments.size() == 6 && arguments.at(1) == QLatin1String("--curl"))
        return fetchWithCurl(arguments.at(2), arguments.at(3), arguments.at(4).toLongLong(), arguments.at(5));

    DeviceSimulator simulator;
    QTemporaryDir dir;
    if (!simulator.start(0) || !dir.isValid()) {
        std::fprintf(stderr, "bench_download: cannot start the simulator\n");
        return 1;
    }
    const QString url = simulator.rootUrl() + QStringLiteral("blob/%1").arg(bodyBytes);
    const QString dst = dir.filePath(QStringLiteral("blob.bin"));

    // Alternate the two clients so that a busy moment of the machine hits both alike.
    QList<Run> ours, curls, syncedCurls;
    for (int i = 0; i < repeats; ++i) {
        ours << runQuillet(url, dst);
        curls << runCurl(url, dst);
        syncedCurls << curls.last();
        syncedCurls.last().seconds += syncSeconds(dst);
    }
    const Run quillet = best(ours);
    const Run curl = best(curls);
    const Run syncedCurl = best(syncedCurls);
    if (!quillet.ok || !curl.ok) {
        std::fprintf(
            stderr, "bench_download: a download failed (quillet %d, curl %d)\n", quillet.ok, curl.ok);
        return 1;
    }

    const double standStill
        = fetchStandStillMs(simulator.rootUrl() + QStringLiteral("blob/%1").arg(standStillBytes), dst);
    QFile::remove(dst);
    if (standStill < 0) {
        std::fprintf(stderr, "bench_download: the 300 MiB fetch failed\n");
        return 1;
    }

    const double bodyMB = bodyBytes / 1e6;
    const double ourSpeed = bodyMB / quillet.seconds;
    const double curlSpeed = bodyMB / curl.seconds;
    const double syncedCurlSpeed = bodyMB / syncedCurl.seconds;
    std::printf("download 1 GiB throughput: %.0f MB/s, curl %.0f MB/s, ratio %.2f\n", ourSpeed, curlSpeed,
        ourSpeed / curlSpeed);
    std::printf("download 1 GiB throughput on disk: %.0f MB/s, curl then fsync %.0f MB/s, ratio %.2f (target "
                ">= 0.90)\n",
        ourSpeed, syncedCurlSpeed, ourSpeed / syncedCurlSpeed);
    std::printf("download 1 GiB peak resident: %.1f MB, curl %.1f MB (target <= %.0f MB)\n", quillet.peakMB,
        curl.peakMB, memoryLimitMB);
    std::printf("download 300 MiB longest event-loop stand-still: %.1f ms (target <= %.0f ms)\n", standStill,
        standStillLimitMs);
    return benchmarkHttps(dir, dst);
}
