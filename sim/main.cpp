// quillet-devsim: the device-service simulator as a program, for scripts/run and for
// trying the client by hand. It listens on 127.0.0.1 until it gets SIGINT or SIGTERM.
#include "devicesimulator.h"

#include <QCoreApplication>
#include <QMap>
#include <QTextStream>
#include <QThread>
#include <QUrl>

#include <csignal>
#include <cstdio>

namespace {

volatile std::sig_atomic_t stopRequested = 0;

void requestStop(int)
{
    stopRequested = 1;
}

int defaultPort()
{
    const int port = QUrl(QStringLiteral(QUILLET_SERVER_ROOT)).port();
    return port > 0 ? port : 18080;
}

struct Options
{
    int port = defaultPort();
    int tasksPerDay = 12;
    DeviceSimulator::Fault fileFault = DeviceSimulator::Fault::None;
    int fileFaultValue = 0;
};

// Switches that change how task files are served, to try the client's handling by hand.
const QMap<QString, DeviceSimulator::Fault> fileFaultSwitches {
    { QStringLiteral("--trickle"), DeviceSimulator::Fault::Trickle },
    { QStringLiteral("--redirect"), DeviceSimulator::Fault::Redirect },
    { QStringLiteral("--huge-body"), DeviceSimulator::Fault::HugeBody },
    { QStringLiteral("--gzip"), DeviceSimulator::Fault::Gzip },
};

bool parseOptions(const QStringList &arguments, Options *options)
{
    for (int i = 1; i < arguments.size(); ++i) {
        const QString &name = arguments.at(i);
        if (i + 1 >= arguments.size())
            return false;
        bool ok = false;
        const int value = arguments.at(++i).toInt(&ok);
        if (!ok || value < 0)
            return false;
        if (name == QLatin1String("--port") && value <= 65535)
            options->port = value;
        else if (name == QLatin1String("--tasks-per-day"))
            options->tasksPerDay = value;
        else if (fileFaultSwitches.contains(name)) {
            options->fileFault = fileFaultSwitches.value(name);
            options->fileFaultValue = value;
        } else
            return false;
    }
    return true;
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    QTextStream err(stderr);
    Options options;
    if (!parseOptions(app.arguments(), &options)) {
        err << "usage: quillet-devsim [--port N] [--tasks-per-day N] [task file switch]\n"
               "  --port 0 picks a free port; one task file switch at a time:\n"
               "  --trickle BYTES_PER_SECOND   files are sent that slowly\n"
               "  --redirect STATUS            files answer with a redirect (301, 302, 307, 308)\n"
               "  --huge-body MIB              files are that many MiB of filler\n"
               "  --gzip MIB                   files are gzip-compressed; MIB > 0 sends that many MiB\n"
               "                               of zeros instead, a small body that inflates hugely\n";
        return 2;
    }

    DeviceSimulator simulator;
    simulator.setTasksPerDay(options.tasksPerDay);
    simulator.setFault(options.fileFault, options.fileFaultValue, QStringLiteral("files/"));
    if (!simulator.start(options.port)) {
        err << "quillet-devsim: cannot listen on 127.0.0.1:" << options.port << "\n";
        return 1;
    }
    std::printf("quillet-devsim listening on %s\n", qPrintable(simulator.rootUrl()));
    std::fflush(stdout);

    std::signal(SIGINT, requestStop);
    std::signal(SIGTERM, requestStop);
    while (!stopRequested)
        QThread::msleep(100);
    simulator.stop();
    return 0;
}
