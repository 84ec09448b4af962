// Soak: the task window reloading 1,000 tasks back to back through its own refresh timer,
// a few thousand times, against a simulator in another process. Resident memory after the
// warm-up must stay flat; the program fails when it grows beyond the bound.
#include "service/network.h"
#include "tasks/information.h"
#include "tasks/refreshschedule.h"

#include <QApplication>
#include <QDate>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTimer>

#include <unistd.h>

#include <cstdio>

namespace {

const int Reloads = 5000;
const int WarmUp = 500;
const double BoundMb = 8.0;

int reloadsSeen = 0;

// Counts the task-list reply lines instead of printing them; everything else is dropped
// as well, so that logging does not dominate the run.
void countReloads(QtMsgType, const QMessageLogContext &, const QString &message)
{
    if (message.startsWith(QLatin1String("qqqqqqqqqqqqqqq")))
        ++reloadsSeen;
}

double residentMb()
{
    QFile statm("/proc/self/statm");
    if (!statm.open(QIODevice::ReadOnly))
        return 0;
    const QList<QByteArray> fields = statm.readAll().split(' ');
    return fields.value(1).toDouble() * double(sysconf(_SC_PAGESIZE)) / (1024.0 * 1024.0);
}

void runUntil(int reloads)
{
    QEventLoop loop;
    QTimer poll;
    QObject::connect(&poll, &QTimer::timeout, [&loop, reloads] {
        if (reloadsSeen >= reloads)
            loop.quit();
    });
    poll.start(20);
    loop.exec();
}

} // namespace

int main(int argc, char *argv[])
{
    QTemporaryDir configHome;
    qputenv("XDG_CONFIG_HOME", configHome.path().toLocal8Bit());
    QApplication app(argc, argv);

    QProcess simulator;
    simulator.start(QCoreApplication::applicationDirPath() + "/../sim/quillet-devsim",
        { "--port", "0", "--tasks-per-day", "1000" });
    if (!simulator.waitForReadyRead(10000)) {
        std::printf("soak: the simulator did not start\n");
        return 1;
    }
    const QRegularExpressionMatch match
        = QRegularExpression("(http://\\S+/)").match(QString::fromUtf8(simulator.readAllStandardOutput()));
    Network::getInstance("defalut")->rootUrl = match.captured(1);
    qInstallMessageHandler(countReloads);

    Information window;
    window.start("1001");
    window.show();
    // Reload as fast as the window allows instead of every five seconds.
    auto *schedule = window.findChild<RefreshSchedule *>();
    if (!schedule) {
        std::printf("soak: the window has no refresh schedule\n");
        return 1;
    }
    schedule->setIntervals(1, 1);

    QElapsedTimer clock;
    clock.start();
    runUntil(WarmUp);
    const double warm = residentMb();
    double peak = warm;
    QString samples = QString::number(warm, 'f', 1);
    for (int done = WarmUp; done < Reloads;) {
        done = qMin(Reloads, done + 300);
        runUntil(done);
        const double now = residentMb();
        peak = qMax(peak, now);
        samples += ' ' + QString::number(now, 'f', 1);
    }
    const double last = residentMb();
    simulator.terminate();
    simulator.waitForFinished(5000);

    const double growth = last - warm;
    const bool flat = peak - warm <= BoundMb;
    std::printf(
        "soak: %d reloads of 1000 tasks in %.0f s; resident after warm-up %.1f MB, at the end %.1f MB, "
        "peak %.1f MB: growth %.1f MB (bound %.1f MB) %s\n",
        reloadsSeen, clock.elapsed() / 1000.0, warm, last, peak, growth, BoundMb, flat ? "flat" : "GROWING");
    std::printf("soak: resident MB every 300 reloads: %s\n", qPrintable(samples));
    return flat ? 0 : 1;
}
