// Task table figures: the time one loadTaskList of another day takes beyond the wait for its
// reply, for 100, 1,000 and 10,000 tasks, and the CPU share of the five-second refresh with 100 tasks
// against a simulator running in its own process.
#include "service/network.h"
#include "sim/devicesimulator.h"
#include "tasks/information.h"

#include <QApplication>
#include <QCoreApplication>
#include <QDate>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTimer>

#include <sys/resource.h>

#include <algorithm>
#include <cstdio>
#include <vector>

namespace {

void dropMessage(QtMsgType, const QMessageLogContext &, const QString &) { }

double median(std::vector<double> values)
{
    std::sort(values.begin(), values.end());
    return values.at(values.size() / 2);
}

// Runs the event loop for a while. QTest::qWait would poll every few milliseconds and
// count its own polling into the figure.
void runEventLoop(int milliseconds)
{
    QEventLoop loop;
    QTimer::singleShot(milliseconds, &loop, &QEventLoop::quit);
    loop.exec();
}

double cpuSeconds()
{
    rusage usage {};
    getrusage(RUSAGE_SELF, &usage);
    return usage.ru_utime.tv_sec + usage.ru_stime.tv_sec
        + (usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

// Times loadTaskList and, right after it, the bare request of the same day; the median of
// the differences is what parsing and rebuilding the table cost beyond the wait. The loads
// alternate between two days, since a reload that brings the rows already shown rebuilds
// nothing.
void measureLoad(DeviceSimulator &simulator, int tasks, int runs)
{
    simulator.setTasksPerDay(tasks);
    const QDate today = QDate::currentDate();
    const QStringList days { today.toString("yyyy-MM-dd"), today.addDays(1).toString("yyyy-MM-dd") };
    Information window;
    window.show();
    window.loadTaskList(days.at(1)); // warm-up

    std::vector<double> loads, requests, beyond;
    for (int i = 0; i < runs; ++i) {
        const QString &day = days.at(i % 2);
        QElapsedTimer timer;
        timer.start();
        window.loadTaskList(day);
        loads.push_back(timer.nsecsElapsed() / 1e6);
        QCoreApplication::processEvents(); // let the table paint, as it would on screen
        timer.restart();
        Network::getInstance("defalut")->runCmd("device/task_list/1001/" + day, false);
        requests.push_back(timer.nsecsElapsed() / 1e6);
        beyond.push_back(loads.back() - requests.back());
    }
    const double target = tasks >= 10000 ? 150 : tasks >= 1000 ? 15 : 0;
    const double extra = median(beyond);
    // With few tasks the table's share is smaller than the spread of the request itself.
    const QString extraText = extra < 1 ? QString("under 1 ms (within the request's own spread)")
                                        : QString("%1 ms").arg(extra, 0, 'f', 1);
    std::printf("task table %5d tasks: loadTaskList %.1f ms, reply wait %.1f ms, beyond the wait %s%s\n",
        tasks, median(loads), median(requests), qPrintable(extraText),
        target > 0 ? qPrintable(QString(" (target <= %1 ms)").arg(target)) : "");
}

// Runs the window with its real refresh timer for a while and reports the process's CPU
// time over the wall time. The simulator runs in another process so that it is not counted.
void measureRefresh(const QString &simulatorProgram, int seconds)
{
    QProcess simulator;
    simulator.start(simulatorProgram, { "--port", "0", "--tasks-per-day", "100" });
    if (!simulator.waitForReadyRead(10000)) {
        std::printf("refresh: the simulator did not start\n");
        return;
    }
    const QRegularExpressionMatch match
        = QRegularExpression("(http://\\S+/)").match(QString::fromUtf8(simulator.readAllStandardOutput()));
    Network::getInstance("defalut")->rootUrl = match.captured(1);

    Information window;
    window.start("1001");
    window.show();
    runEventLoop(500);

    const double cpuBefore = cpuSeconds();
    QElapsedTimer wall;
    wall.start();
    runEventLoop(seconds * 1000);
    const double share = (cpuSeconds() - cpuBefore) / (wall.nsecsElapsed() / 1e9);
    std::printf("task table refresh, 100 tasks every 5 s: %.3f%% of one core over %d s (target <= 0.1%%)\n",
        share * 100, seconds);
    simulator.terminate();
    simulator.waitForFinished(5000);
}

} // namespace

int main(int argc, char *argv[])
{
    QTemporaryDir configHome;
    qputenv("XDG_CONFIG_HOME", configHome.path().toLocal8Bit());
    QApplication app(argc, argv);

    DeviceSimulator simulator;
    if (!simulator.start(0)) {
        std::printf("cannot start the simulator\n");
        return 1;
    }
    Network::getInstance("defalut")->rootUrl = simulator.rootUrl();
    // The window writes each reply to the debug log; the text is still formatted, but
    // not printed, so the terminal's speed stays out of the figures.
    qInstallMessageHandler(dropMessage);
    measureLoad(simulator, 100, 60);
    measureLoad(simulator, 1000, 30);
    measureLoad(simulator, 10000, 9);
    simulator.stop();

    measureRefresh(QCoreApplication::applicationDirPath() + "/../sim/quillet-devsim", 30);
    return 0;
}
