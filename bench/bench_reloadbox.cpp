// The reload period while a box stays open for 30 s and every reload takes 2 s: each reload
// is sent when the schedule's delay after the previous reply has passed, box or not. The
// lateness of one is from that due time to its request being under way.
#include "core/openbox.h"
#include "service/devicecall.h"
#include "service/network.h"
#include "sim/devicesimulator.h"
#include "tasks/information.h"
#include "tasks/refreshschedule.h"

#include <QApplication>
#include <QDateTime>
#include <QMessageBox>
#include <QPointer>
#include <QTemporaryDir>
#include <QTimer>

#include <algorithm>
#include <cstdio>
#include <vector>

namespace {

constexpr int boxOpenMs = 30000;
constexpr int serviceDelayMs = 2000;
constexpr int boundMs = 500;

void dropMessage(QtMsgType, const QMessageLogContext &, const QString &) { }

bool requestUnderWay(const QWidget &window)
{
    const QList<DeviceCall *> calls = window.findChildren<DeviceCall *>();
    return std::any_of(
        calls.begin(), calls.end(), [](const DeviceCall *call) { return !call->isFinished(); });
}

} // namespace

int main(int argc, char *argv[])
{
    QTemporaryDir configHome;
    qputenv("XDG_CONFIG_HOME", configHome.path().toLocal8Bit());
    QApplication app(argc, argv);
    qInstallMessageHandler(dropMessage);

    DeviceSimulator simulator;
    if (!simulator.start(0)) {
        std::printf("cannot start the simulator\n");
        return 1;
    }
    Network::getInstance("defalut")->rootUrl = simulator.rootUrl();

    Information window;
    window.start("1001");
    window.show();
    auto *schedule = window.findChild<RefreshSchedule *>();
    QDateTime due;
    int replies = 0;
    QObject::connect(&window, &Information::loadEnded, [&] {
        ++replies;
        due = schedule->nextTry();
    });
    while (replies == 0)
        QCoreApplication::processEvents();

    // Connected after the window's own slot: the reload has been started when this runs.
    std::vector<double> lateness;
    int unsent = 0;
    QObject::connect(schedule, &RefreshSchedule::due, [&] {
        lateness.push_back(due.isValid() ? due.msecsTo(QDateTime::currentDateTime()) : 1e9);
        unsent += requestUnderWay(window) ? 0 : 1;
    });
    simulator.setFault(DeviceSimulator::Fault::Delay, serviceDelayMs, "device/task_list/");
    const int repliesBefore = replies;
    QPointer<QMessageBox> box = OpenBox::warning(QStringLiteral("warning"), QStringLiteral("NC程序未更新"));
    QTimer::singleShot(boxOpenMs, &app, [&] {
        if (box)
            box->close();
        app.quit();
    });
    app.exec();
    simulator.stop();

    if (lateness.empty()) {
        std::printf("reloads under a box open 30 s: none came\n");
        return 1;
    }
    std::sort(lateness.begin(), lateness.end());
    std::printf(
        "reloads under a box open 30 s, each taking 2 s: %zu sent, %d replies, %d ticks sent nothing; "
        "latest %.0f ms after its due time (target <= %d ms)\n",
        lateness.size(), replies - repliesBefore, unsent, lateness.back(), boundMs);
    return lateness.back() <= boundMs && unsent == 0 ? 0 : 1;
}
