// quillet-devsim: the device-service simulator as a program, for scripts/run and for
// trying the client by hand. It listens on 127.0.0.1 until it gets SIGINT or SIGTERM.
#include "devicesimulator.h"

#include <QCoreApplication>
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

bool parsePort(const QStringList &arguments, int *port)
{
    *port = defaultPort();
    for (int i = 1; i < arguments.size(); ++i) {
        if (arguments.at(i) != QLatin1String("--port") || i + 1 >= arguments.size())
            return false;
        bool ok = false;
        *port = arguments.at(++i).toInt(&ok);
        if (!ok || *port < 0 || *port > 65535)
            return false;
    }
    return true;
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    QTextStream err(stderr);
    int port = 0;
    if (!parsePort(app.arguments(), &port)) {
        err << "usage: quillet-devsim [--port N]   (0 picks a free port)\n";
        return 2;
    }

    DeviceSimulator simulator;
    if (!simulator.start(port)) {
        err << "quillet-devsim: cannot listen on 127.0.0.1:" << port << "\n";
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
