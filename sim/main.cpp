// quillet-devsim: the device-service simulator as a program, for scripts/run and for
// trying the client by hand. It listens on 127.0.0.1 until it gets SIGINT or SIGTERM.
#include "sim/devicesimulator.h"

#include <QCoreApplication>
#include <QElapsedTimer>
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

const char usage[]
    = "usage: quillet-devsim [--port N] [--tasks-per-day N]   (port 0 picks a free port)\n"
      "  [--tls CERT.pem KEY.pem]   serve https with that certificate (chain) and key\n"
      "  a failing service, to watch the client by hand:\n"
      "  [--delay MS | --fail HTTP-STATUS | --drop | --stall | --non-json]\n"
      "  awkward task files (PDFs and NC archives), to watch the client fetch them:\n"
      "  [--trickle BYTES-PER-SECOND | --redirect HTTP-STATUS | --huge-body MIB | --gzip MIB]\n"
      "      --redirect takes 301, 302, 307 or 308; --gzip 0 compresses the normal file,\n"
      "      --gzip N > 0 sends N MiB of zeros compressed (a small body that inflates hugely)\n"
      "  [--fault-path PREFIX]   requests the fault applies to (default device/task_list/,\n"
      "                          files/ for the task file switches)\n"
      "  [--fault-after S]       the service answers normally for the first S seconds\n";

struct Options
{
    int port = defaultPort();
    int tasksPerDay = 12;
    DeviceSimulator::Fault fault = DeviceSimulator::Fault::None;
    int faultValue = 0;
    QString faultPath; // empty: the fault's own default
    int faultAfterSeconds = 0;
    QString tlsCertificate;
    QString tlsKey;
};

// Switches that change how task files are served.
const QMap<QString, DeviceSimulator::Fault> fileFaultSwitches {
    { QStringLiteral("--trickle"), DeviceSimulator::Fault::Trickle },
    { QStringLiteral("--redirect"), DeviceSimulator::Fault::Redirect },
    { QStringLiteral("--huge-body"), DeviceSimulator::Fault::HugeBody },
    { QStringLiteral("--gzip"), DeviceSimulator::Fault::Gzip },
};

QString faultPathOf(const Options &options)
{
    if (!options.faultPath.isEmpty())
        return options.faultPath;
    const bool fileFault = fileFaultSwitches.values().contains(options.fault);
    return fileFault ? QStringLiteral("files/") : QStringLiteral("device/task_list/");
}

bool parseFlag(const QString &name, Options *options)
{
    using Fault = DeviceSimulator::Fault;
    if (name == QLatin1String("--drop"))
        options->fault = Fault::DropHalfway;
    else if (name == QLatin1String("--stall"))
        options->fault = Fault::Stall;
    else if (name == QLatin1String("--non-json"))
        options->fault = Fault::NonJson;
    else
        return false;
    return true;
}

bool parseValue(const QString &name, const QString &text, Options *options)
{
    if (name == QLatin1String("--fault-path")) {
        options->faultPath = text;
        return true;
    }
    bool ok = false;
    const int value = text.toInt(&ok);
    if (!ok || value < 0)
        return false;
    if (name == QLatin1String("--port") && value <= 65535)
        options->port = value;
    else if (name == QLatin1String("--tasks-per-day"))
        options->tasksPerDay = value;
    else if (name == QLatin1String("--delay"))
        options->fault = DeviceSimulator::Fault::Delay;
    else if (name == QLatin1String("--fail") && value >= 100 && value <= 599)
        options->fault = DeviceSimulator::Fault::HttpError;
    else if (name == QLatin1String("--fault-after"))
        options->faultAfterSeconds = value;
    else if (fileFaultSwitches.contains(name))
        options->fault = fileFaultSwitches.value(name);
    else
        return false;
    if (name == QLatin1String("--delay") || name == QLatin1String("--fail")
        || fileFaultSwitches.contains(name))
        options->faultValue = value;
    return true;
}

bool parseOptions(const QStringList &arguments, Options *options)
{
    for (int i = 1; i < arguments.size(); ++i) {
        const QString &name = arguments.at(i);
        if (parseFlag(name, options))
            continue;
        if (name == QLatin1String("--tls") && i + 2 < arguments.size()) {
            options->tlsCertificate = arguments.at(++i);
            options->tlsKey = arguments.at(++i);
            continue;
        }
        if (i + 1 >= arguments.size() || !parseValue(name, arguments.at(++i), options))
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
        err << usage;
        return 2;
    }

    DeviceSimulator simulator;
    simulator.setTasksPerDay(options.tasksPerDay);
    const bool listening = options.tlsCertificate.isEmpty()
        ? simulator.start(options.port)
        : simulator.startTls(options.tlsCertificate, options.tlsKey, options.port);
    if (!listening) {
        err << "quillet-devsim: cannot listen on 127.0.0.1:" << options.port << "\n";
        return 1;
    }
    std::printf("quillet-devsim listening on %s\n", qPrintable(simulator.rootUrl()));
    std::fflush(stdout);

    std::signal(SIGINT, requestStop);
    std::signal(SIGTERM, requestStop);
    QElapsedTimer clock;
    clock.start();
    bool faultSet = false;
    while (!stopRequested) {
        if (!faultSet && options.fault != DeviceSimulator::Fault::None
            && clock.elapsed() >= options.faultAfterSeconds * 1000LL) {
            simulator.setFault(options.fault, options.faultValue, faultPathOf(options));
            std::printf("quillet-devsim: fault on for %s\n", qPrintable(faultPathOf(options)));
            std::fflush(stdout);
            faultSet = true;
        }
        QThread::msleep(100);
    }
    simulator.stop();
    return 0;
}
