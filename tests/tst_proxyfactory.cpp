#include "core/proxycredentials.h"
#include "core/proxyfactory.h"
#include "rest/krestservice.h"
#include "service/network.h"
#include "service/signinresult.h"
#include "sim/devicesimulator.h"

#include <QFile>
#include <QHostAddress>
#include <QProcess>
#include <QStandardPaths>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QtTest>

using Download = KRESTService::DownloadResult;

Q_DECLARE_METATYPE(KRESTService::DownloadResult)

namespace {

int freePort()
{
    QTcpServer server;
    return server.listen(QHostAddress::LocalHost) ? server.serverPort() : 0;
}

// A tinyproxy in the foreground on a port of its own, its log read from its output. Run as
// the current user (no User line), which can read the folder the test made; as root it says
// it should not, and goes on.
class Tinyproxy
{
public:
    bool start(const QString &program, const QString &folder, const QString &basicAuth)
    {
        port = freePort();
        const QString config = folder + QStringLiteral("/tinyproxy-%1.conf").arg(port);
        QFile file(config);
        if (port == 0 || !file.open(QIODevice::WriteOnly))
            return false;
        file.write(QStringLiteral("Port %1\nListen 127.0.0.1\nTimeout 30\nLogLevel Connect\nMaxClients 50\n"
                                  "Allow 127.0.0.1\n%2\n")
                       .arg(port)
                       .arg(basicAuth.isEmpty() ? QString() : "BasicAuth " + basicAuth)
                       .toLatin1());
        file.close();
        process.setProcessChannelMode(QProcess::MergedChannels);
        process.start(program, { "-d", "-c", config });
        if (!process.waitForStarted())
            return false;
        for (int tries = 0; tries < 100; ++tries) {
            QTcpSocket probe;
            probe.connectToHost(QHostAddress::LocalHost, quint16(port));
            if (probe.waitForConnected(100))
                return true;
            QTest::qWait(50);
        }
        return false;
    }
    ~Tinyproxy()
    {
        process.kill();
        process.waitForFinished();
    }
    QString url() const { return QStringLiteral("http://127.0.0.1:%1").arg(port); }
    // Everything logged since the last call.
    QByteArray newLog() { return process.readAll(); }

    QProcess process;
    int port = 0;
};

} // namespace

class tst_ProxyFactory : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void cleanup();
    void settingIsParsed_data();
    void settingIsParsed();
    void requestsGoThroughTheProxy_data();
    void requestsGoThroughTheProxy();

private:
    DeviceSimulator m_sim;
    QTemporaryDir m_dir;
    Tinyproxy m_open;
    Tinyproxy m_guarded;
};

void tst_ProxyFactory::initTestCase()
{
    QVERIFY(m_dir.isValid());
}

void tst_ProxyFactory::cleanup()
{
    for (const char *name :
        { "http_proxy", "HTTP_PROXY", "https_proxy", "HTTPS_PROXY", "no_proxy", "NO_PROXY" })
        qunsetenv(name);
    ProxyCredentials::clear();
    ProxyFactory::install({});
}

void tst_ProxyFactory::settingIsParsed_data()
{
    QTest::addColumn<QString>("value");
    QTest::addColumn<QString>("described");
    QTest::addColumn<bool>("refused");

    QTest::newRow("an unset key is the system's") << ""
                                                  << "system" << false;
    QTest::newRow("none") << "None"
                          << "none" << false;
    QTest::newRow("a host and port") << "http://proxy.plant:3128"
                                     << "http://proxy.plant:3128" << false;
    QTest::newRow("a user name is refused") << "http://op:pw@proxy.plant:3128"
                                            << "system" << true;
    QTest::newRow("an https proxy is refused") << "https://proxy.plant:3128"
                                               << "system" << true;
    QTest::newRow("no port is refused") << "http://proxy.plant"
                                        << "system" << true;
}

// What the log and the support bundle say never holds the refused value's password.
void tst_ProxyFactory::settingIsParsed()
{
    QFETCH(QString, value);
    QFETCH(QString, described);
    QFETCH(bool, refused);
    QString problem;
    ProxyFactory::install(ProxyFactory::parse(value, &problem));
    QCOMPARE(!problem.isEmpty(), refused);
    QVERIFY2(ProxyFactory::describe().startsWith(described), qPrintable(ProxyFactory::describe()));
    QVERIFY(!ProxyFactory::describe().contains("pw"));
}

void tst_ProxyFactory::requestsGoThroughTheProxy_data()
{
    QTest::addColumn<QString>("proxy"); // open, guarded or closed; env: through http_proxy
    QTest::addColumn<QByteArrayList>("environment");
    QTest::addColumn<QString>("credentials");
    QTest::addColumn<int>("failure");
    QTest::addColumn<KRESTService::DownloadResult>("download");
    QTest::addColumn<bool>("throughProxy");

    QTest::newRow("a fixed proxy carries requests and files")
        << "open" << QByteArrayList() << "" << int(Network::NoFailure) << Download::Saved << true;
    QTest::newRow("the system's proxy is http_proxy")
        << "system" << QByteArrayList { "http_proxy=open" } << "" << int(Network::NoFailure)
        << Download::Saved << true;
    QTest::newRow("HTTP_PROXY counts where http_proxy is unset")
        << "system" << QByteArrayList { "HTTP_PROXY=open" } << "" << int(Network::NoFailure)
        << Download::Saved << true;
    QTest::newRow("no_proxy sends its hosts past the proxy")
        << "system" << QByteArrayList { "http_proxy=open", "no_proxy=example.com,HOST" } << ""
        << int(Network::NoFailure) << Download::Saved << false;
    QTest::newRow("a proxy asking for a sign-in none was given for")
        << "guarded" << QByteArrayList() << "" << int(Network::ProxyNeedsSignIn) << Download::ProxyNeedsSignIn
        << true;
    QTest::newRow("the kept sign-in serves every transfer object")
        << "guarded" << QByteArrayList() << "quillet:s3cret" << int(Network::NoFailure) << Download::Saved
        << true;
    QTest::newRow("a proxy that is not there")
        << "closed" << QByteArrayList() << "" << int(Network::ProxyRefused) << Download::ProxyRefused
        << false;
}

void tst_ProxyFactory::requestsGoThroughTheProxy()
{
    QFETCH(QString, proxy);
    QFETCH(QByteArrayList, environment);
    QFETCH(QString, credentials);
    QFETCH(int, failure);
    QFETCH(KRESTService::DownloadResult, download);
    QFETCH(bool, throughProxy);

    const QString program = QStandardPaths::findExecutable("tinyproxy", { "/usr/bin", "/usr/sbin" });
    if (program.isEmpty())
        QSKIP("tinyproxy is not installed (Debian package tinyproxy)");
    const QPair<QString, QString> loopback = DeviceSimulator::loopbackByName();
    if (loopback.second.isEmpty())
        QSKIP("no name for a loopback address in /etc/hosts to reach the simulator through the proxy");
    if (m_sim.port() == 0) {
        m_sim.setListenAddress(loopback.first, loopback.second);
        QVERIFY(m_sim.start(0));
        QVERIFY(m_open.start(program, m_dir.path(), QString()));
        QVERIFY(m_guarded.start(program, m_dir.path(), "quillet s3cret"));
    }
    m_sim.setFile("dl/7.pdf", DeviceSimulator::makePdf("through the proxy"));
    const QString proxyUrl = proxy == "guarded" ? m_guarded.url()
        : proxy == "closed"                     ? QStringLiteral("http://127.0.0.1:%1").arg(freePort())
                                                : m_open.url();
    for (const QByteArray &variable : environment) {
        QByteArray value = variable.mid(variable.indexOf('=') + 1);
        value.replace("open", proxyUrl.toLatin1()).replace("HOST", loopback.second.toLatin1());
        qputenv(variable.left(variable.indexOf('=')).constData(), value);
    }
    ProxyFactory::install(ProxyFactory::parse(proxy == "system" ? "system" : proxyUrl, nullptr));
    // The GUI thread never waits for the system's answer: it is there once warmed up.
    ProxyFactory::warmUp(QUrl(m_sim.rootUrl())).waitForFinished();
    if (!credentials.isEmpty())
        ProxyCredentials::set(credentials.section(':', 0, 0), credentials.section(':', 1));
    m_open.newLog();
    m_guarded.newLog();

    Network *network = Network::getInstance(QTest::currentDataTag());
    network->rootUrl = m_sim.rootUrl();
    network->runCmd(
        "user/login/demo/" + QCryptographicHash::hash("demo123", QCryptographicHash::Md5).toHex(), false);
    QCOMPARE(network->lastError().code(), failure);
    if (failure != Network::NoFailure)
        QCOMPARE(SignInResult::decide(network->lastError(), {}), SignInResult::Outcome::Unreachable);
    KRESTService rest;
    rest.downloadFile(m_sim.rootUrl() + "dl/7.pdf", m_dir.filePath("7.pdf"), "none");
    QCOMPARE(rest.lastDownload().result, download);

    const QByteArray log = m_open.newLog() + m_guarded.newLog();
    QCOMPARE(log.contains("GET " + m_sim.rootUrl().toLatin1() + "user/login/demo/"), throughProxy);
    QCOMPARE(log.contains("GET " + m_sim.rootUrl().toLatin1() + "dl/7.pdf"), throughProxy);
}

QTEST_GUILESS_MAIN(tst_ProxyFactory)
#include "tst_proxyfactory.moc"
