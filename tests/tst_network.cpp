#include "service/network.h"

#include "sim/devicesimulator.h"

#include <QElapsedTimer>
#include <QMutexLocker>
#include <QTcpServer>
#include <QtTest>

Q_DECLARE_METATYPE(DeviceSimulator::Fault)

class tst_Network : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void sameInstancePerName();
    void runCmdReturnsBody();
    void runCmdFailureGivesEmptyText_data();
    void runCmdFailureGivesEmptyText();
    void refusedConnectionGivesEmptyText();
    void stalledReplyTimesOut();
    void slowReplyPassesDeadline();
    void movedServiceIsFollowed();
    void getPostResultPostsForm();
    void escapesReachTheWireUnchanged();

private:
    Network *bound(const QString &name, const QString &root);

    DeviceSimulator m_sim;
};

void tst_Network::initTestCase()
{
    QVERIFY(m_sim.start(0));
}

void tst_Network::init()
{
    m_sim.clearFault();
    m_sim.clearCannedReplies();
    m_sim.clearRequests();
}

Network *tst_Network::bound(const QString &name, const QString &root)
{
    Network *network = Network::getInstance(name);
    QMutexLocker locker(&network->mutex);
    network->rootUrl = root;
    return network;
}

void tst_Network::sameInstancePerName()
{
    Network *first = Network::getInstance(QStringLiteral("defalut"));
    QVERIFY(first);
    QCOMPARE(Network::getInstance(QStringLiteral("defalut")), first);
    QVERIFY(Network::getInstance(QStringLiteral("other")) != first);
    QCOMPARE(Network::getInstance(QStringLiteral("other")), Network::getInstance(QStringLiteral("other")));
}

void tst_Network::runCmdReturnsBody()
{
    m_sim.setCannedReply(QStringLiteral("hello"), "{\"status\":1,\"text\":\"\xe4\xbd\xa0\xe5\xa5\xbd\"}");
    Network *network = bound(QStringLiteral("runCmd"), m_sim.rootUrl());

    QCOMPARE(network->runCmd(QStringLiteral("hello/world"), false),
        QString::fromUtf8("{\"status\":1,\"text\":\"\xe4\xbd\xa0\xe5\xa5\xbd\"}"));
    const QList<DeviceSimulator::Request> requests = m_sim.requests();
    QCOMPARE(requests.size(), 1);
    QCOMPARE(requests.first().method, QByteArray("GET"));
    QCOMPARE(requests.first().rawPath, QByteArray("hello/world"));
}

void tst_Network::runCmdFailureGivesEmptyText_data()
{
    QTest::addColumn<DeviceSimulator::Fault>("fault");
    QTest::addColumn<int>("value");
    QTest::addColumn<int>("code");

    QTest::newRow("server error 500") << DeviceSimulator::Fault::HttpError << 500 << 500;
    QTest::newRow("not found 404") << DeviceSimulator::Fault::HttpError << 404 << 404;
    QTest::newRow("redirect 302 without a target is not a reply")
        << DeviceSimulator::Fault::HttpError << 302 << 302;
    QTest::newRow("connection dropped halfway")
        << DeviceSimulator::Fault::DropHalfway << 0 << int(Network::CannotConnect);
}

void tst_Network::runCmdFailureGivesEmptyText()
{
    QFETCH(DeviceSimulator::Fault, fault);
    QFETCH(int, value);
    QFETCH(int, code);
    m_sim.setFault(fault, value);
    Network *network = bound(QStringLiteral("failures"), m_sim.rootUrl());

    QTest::ignoreMessage(QtDebugMsg, QRegularExpression("^Network request failed: \"user/login/demo/x\""));
    QCOMPARE(network->runCmd(QStringLiteral("user/login/demo/x"), false), QString());
    QCOMPARE(m_sim.requests().size(), 1);
    QCOMPARE(network->lastError().code(), code);

    // A success clears the failure.
    m_sim.clearFault();
    QVERIFY(!network->runCmd(QStringLiteral("user/login/demo/x"), false).isEmpty());
    QVERIFY(!network->lastError().hasError());
}

void tst_Network::refusedConnectionGivesEmptyText()
{
    // A port that was just free and has nobody listening on it any more.
    QTcpServer probe;
    QVERIFY(probe.listen(QHostAddress::LocalHost));
    const quint16 port = probe.serverPort();
    probe.close();
    Network *network = bound(QStringLiteral("refused"), QStringLiteral("http://127.0.0.1:%1/").arg(port));

    QTest::ignoreMessage(QtDebugMsg, QRegularExpression("^Network request failed: \"ping\".*refused"));
    QCOMPARE(network->runCmd(QStringLiteral("ping"), false), QString());
    QCOMPARE(network->lastError().code(), int(Network::CannotConnect));
}

void tst_Network::stalledReplyTimesOut()
{
    m_sim.setFault(DeviceSimulator::Fault::Stall);
    Network *network = bound(QStringLiteral("stall"), m_sim.rootUrl());
    network->setTransferTimeout(300);

    QElapsedTimer clock;
    clock.start();
    QTest::ignoreMessage(QtDebugMsg, "Network request failed: \"device/dele/1\" \"timed out after 300 ms\"");
    QCOMPARE(network->runCmd(QStringLiteral("device/dele/1"), false), QString());
    QVERIFY2(clock.elapsed() < 5000, qPrintable(QString::number(clock.elapsed())));
    QCOMPARE(network->lastError().code(), int(Network::TimedOut));
    m_sim.clearFault();
}

// The deadline ends a request that the inactivity time-out would let run on.
void tst_Network::slowReplyPassesDeadline()
{
    m_sim.setFault(DeviceSimulator::Fault::Delay, 3000);
    Network *network = bound(QStringLiteral("deadline"), m_sim.rootUrl());
    network->setDeadline(300);

    QTest::ignoreMessage(QtDebugMsg, "Network request failed: \"device/dele/2\" \"no reply within 300 ms\"");
    QCOMPARE(network->runCmd(QStringLiteral("device/dele/2"), false), QString());
    QCOMPARE(network->lastError().code(), int(Network::TimedOut));
}

void tst_Network::getPostResultPostsForm()
{
    Network *network = bound(QStringLiteral("post"), m_sim.rootUrl());
    QByteArray body("data=%7B%22name%22%3A%22a%26b%22%7D");

    const QString reply = network->getPostResult(QStringLiteral("device/record"), body);
    QVERIFY2(reply.contains(QStringLiteral("\"status\":1")), qPrintable(reply));
    const QList<DeviceSimulator::Request> requests = m_sim.requests();
    QCOMPARE(requests.size(), 1);
    QCOMPARE(requests.first().method, QByteArray("POST"));
    QCOMPARE(requests.first().body, body);
    QCOMPARE(requests.first().contentType, QByteArray("application/x-www-form-urlencoded"));
}

void tst_Network::escapesReachTheWireUnchanged()
{
    Network *network = bound(QStringLiteral("escapes"), m_sim.rootUrl());
    m_sim.setCannedReply(QStringLiteral("x/"), "{}");

    QCOMPARE(network->runCmd(QStringLiteral("x/a%2Fb%3F%23%25%20c"), false), QStringLiteral("{}"));
    QCOMPARE(m_sim.requests().value(0).rawPath, QByteArray("x/a%2Fb%3F%23%25%20c"));
}

void tst_Network::movedServiceIsFollowed()
{
    m_sim.setFault(DeviceSimulator::Fault::Redirect, 301, QStringLiteral("moved/"));
    m_sim.setCannedReply(QStringLiteral("redirected/moved/"), "{\"status\":1}");
    Network *network = bound(QStringLiteral("moved"), m_sim.rootUrl());

    QCOMPARE(network->runCmd(QStringLiteral("moved/x"), false), QStringLiteral("{\"status\":1}"));
    QByteArrayList paths;
    for (const DeviceSimulator::Request &request : m_sim.requests())
        paths << request.rawPath;
    QVERIFY(paths.contains("moved/x"));
    QVERIFY(paths.contains("redirected/moved/x"));
}

QTEST_GUILESS_MAIN(tst_Network)
#include "tst_network.moc"
