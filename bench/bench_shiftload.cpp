// The longest stand-still of the event loop over a 1,000-step shift beside two busy loops
// (CPU burners as other programs on the PC): the client's own (the GUI thread on the
// processor for at least half of the gap) and any gap at all, a loaded machine's included.
#include "service/network.h"
#include "sim/devicesimulator.h"
#include "tests/shift/shift.h"
#include "tests/support/testfiles.h"

#include <QApplication>
#include <QProcess>
#include <QTemporaryDir>

#include <cstdio>
#include <memory>
#include <vector>

namespace {

constexpr int busyLoops = 2;
constexpr int steps = 1000;
constexpr quint32 seed = 777;
constexpr double boundMs = 100;

} // namespace

int main(int argc, char *argv[])
{
    QTemporaryDir configHome;
    QTemporaryDir opener;
    qputenv("XDG_CONFIG_HOME", configHome.path().toLocal8Bit());
    QApplication app(argc, argv);
    DeviceSimulator simulator;
    if (!simulator.start(0) || !TestFiles::installRecordingOpener(opener.path())) {
        std::printf("cannot start the simulator\n");
        return 1;
    }
    Network::getInstance("defalut")->rootUrl = simulator.rootUrl();

    std::vector<std::unique_ptr<QProcess>> loops;
    for (int loop = 0; loop < busyLoops; ++loop) {
        loops.emplace_back(new QProcess);
        loops.back()->start("timeout", { "600", "sh", "-c", "while :; do :; done" });
        loops.back()->waitForStarted();
    }
    Shift::Options options;
    options.seed = seed;
    options.steps = steps;
    // Loose, so that the run goes to its end and the figures are measured, not judged.
    options.bounds = { 5000, 5000, 1024, 5000, 0, 5000 };
    options.openerFolder = opener.path();
    bool kept = false;
    double client = 0;
    double any = 0;
    {
        Shift shift(simulator, options);
        kept = shift.run();
        client = shift.longestStandStillMs();
        any = shift.longestGapMs();
    }
    for (const std::unique_ptr<QProcess> &loop : loops) {
        loop->terminate(); // timeout passes it on to the loop; a kill would leave the loop running
        loop->waitForFinished();
    }
    simulator.stop();
    std::printf("shift of %d steps (seed %u) beside %d busy loops: longest stand-still %.1f ms, any gap "
                "%.1f ms (target <= %.0f ms)%s\n",
        steps, seed, busyLoops, client, any, boundMs, kept ? "" : "; a promise broke");
    return kept && client <= boundMs ? 0 : 1;
}
