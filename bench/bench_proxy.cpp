// A device-service request through a local tinyproxy beside the same request made direct,
// in the same run, alternating: the proxy may add at most 5 ms (median of 200). The
// simulator is reached by a loopback name from /etc/hosts, since Qt sends no loopback
// address through a proxy.

#include "core/proxyfactory.h"
#include "service/network.h"
#include "sim/devicesimulator.h"

#include <QCoreApplication>
#include <QCryptographicHash>
#include <QElapsedTimer>
#include <QFile>
#include <QHostAddress>
#include <QProcess>
#include <QStandardPaths>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QThread>

#include <algorithm>
#include <cstdio>
#include <vector>

namespace {

constexpr int runs = 200;
constexpr double addedLimitMs = 5;

double median(std::vector<double> values)
{
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

double timedRequest(Network *network, const QString &path)
{
    QElapsedTimer timer;
    timer.start();
    network->runCmd(path, false);
    const double ms = timer.nsecsElapsed() / 1e6;
    return network->lastError().hasError() ? -1 : ms;
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    const QString tinyproxy = QStandardPaths::findExecutable("tinyproxy", { "/usr/bin", "/usr/sbin" });
    const QPair<QString, QString> loopback = DeviceSimulator::loopbackByName();
    if (tinyproxy.isEmpty() || loopback.second.isEmpty()) {
        std::fprintf(stderr, "bench_proxy: needs tinyproxy and a loopback name in /etc/hosts\n");
        return 1;
    }
    DeviceSimulator sim;
    sim.setListenAddress(loopback.first, loopback.second);
    QTemporaryDir folder;
    QTcpServer probe;
    if (!sim.start(0) || !folder.isValid() || !probe.listen(QHostAddress::LocalHost))
        return 1;
    const int port = probe.serverPort();
    probe.close();
    QFile config(folder.filePath("tinyproxy.conf"));
    if (!config.open(QIODevice::WriteOnly))
        return 1;
    config.write(QStringLiteral("Port %1\nListen 127.0.0.1\nTimeout 30\nLogLevel Warning\nAllow 127.0.0.1\n")
                     .arg(port)
                     .toLatin1());
    config.close();
    QProcess proxy;
    proxy.start(tinyproxy, { "-d", "-c", config.fileName() });
    for (int tries = 0; tries < 100; ++tries) {
        QTcpSocket socket;
        socket.connectToHost(QHostAddress::LocalHost, quint16(port));
        if (socket.waitForConnected(100))
            break;
        QThread::msleep(50);
    }

    const ProxyFactory::Setting direct = ProxyFactory::parse(QStringLiteral("none"), nullptr);
    const ProxyFactory::Setting through
        = ProxyFactory::parse(QStringLiteral("http://127.0.0.1:%1").arg(port), nullptr);
    Network *plain = Network::getInstance(QStringLiteral("direct"));
    Network *proxied = Network::getInstance(QStringLiteral("proxied"));
    plain->rootUrl = proxied->rootUrl = sim.rootUrl();
    const QString path = QStringLiteral("user/login/demo/")
        + QString::fromLatin1(QCryptographicHash::hash("demo123", QCryptographicHash::Md5).toHex());
    std::vector<double> directMs, proxyMs;
    for (int run = 0; run < runs; ++run) {
        ProxyFactory::install(direct);
        const double a = timedRequest(plain, path);
        ProxyFactory::install(through);
        const double b = timedRequest(proxied, path);
        if (a < 0 || b < 0) {
            std::fprintf(stderr, "bench_proxy: a request failed\n");
            return 1;
        }
        directMs.push_back(a);
        proxyMs.push_back(b);
    }
    proxy.kill();
    proxy.waitForFinished();
    const double added = median(proxyMs) - median(directMs);
    std::printf(
        "device-service request through a local proxy: %.2f ms, direct %.2f ms, added %.2f ms, median "
        "of %d (target <= %.0f ms)\n",
        median(proxyMs), median(directMs), added, runs, addedLimitMs);
    return 0;
}
