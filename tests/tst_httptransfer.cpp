#include "service/httptransfer.h"
#include "service/network.h"

#include "sim/devicesimulator.h"

#include <QCryptographicHash>
#include <QJsonDocument>
#include <QJsonObject>
#include <QMutexLocker>
#include <QUrlQuery>
#include <QtTest>

namespace {

QString md5Hex(const QString &text)
{
    return QString::fromLatin1(QCryptographicHash::hash(text.toUtf8(), QCryptographicHash::Md5).toHex());
}

} // namespace

class tst_HttpTransfer : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void slotOrder();
    void loginWithAccount_data();
    void loginWithAccount();
    void pathSegmentsOnTheWire_data();
    void pathSegmentsOnTheWire();
    void recordBodySurvivesFormDecoding_data();
    void recordBodySurvivesFormDecoding();
    void dotSegmentIsNotSent_data();
    void dotSegmentIsNotSent();
    void notAnObjectGivesEmptyMap_data();
    void notAnObjectGivesEmptyMap();
    void failedRequestGivesEmptyMap();

private:
    QByteArray lastPath() const;

    DeviceSimulator m_sim;
};

void tst_HttpTransfer::initTestCase()
{
    QVERIFY(m_sim.start(0));
    Network *network = Network::getInstance(QStringLiteral("defalut"));
    QMutexLocker locker(&network->mutex);
    network->rootUrl = m_sim.rootUrl();
}

void tst_HttpTransfer::init()
{
    m_sim.clearFault();
    m_sim.clearCannedReplies();
    m_sim.clearRequests();
}

QByteArray tst_HttpTransfer::lastPath() const
{
    const QList<DeviceSimulator::Request> requests = m_sim.requests();
    return requests.isEmpty() ? QByteArray() : requests.last().rawPath;
}

void tst_HttpTransfer::slotOrder()
{
    const QMetaObject &meta = HttpTransfer::staticMetaObject;
    QStringList slotNames;
    for (int i = meta.methodOffset(); i < meta.methodCount(); ++i) {
        const QMetaMethod method = meta.method(i);
        if (method.methodType() == QMetaMethod::Slot && method.access() == QMetaMethod::Public)
            slotNames << QString::fromLatin1(method.methodSignature());
    }
    const QStringList expected { "login(QVariantMap)", "getTaskList(QVariantMap)", "changeStatu(QVariantMap)",
        "deleteStatu(QVariantMap)", "registraAndmodifica(QVariantMap)" };
    for (const QString &name : expected)
        QVERIFY2(slotNames.contains(name), qPrintable(name));
    QStringList ordered = slotNames;
    ordered.erase(std::remove_if(ordered.begin(), ordered.end(),
                      [&](const QString &name) { return !expected.contains(name); }),
        ordered.end());
    QCOMPARE(ordered, expected);
}

void tst_HttpTransfer::loginWithAccount_data()
{
    QTest::addColumn<QString>("username");
    QTest::addColumn<QString>("password");
    QTest::addColumn<int>("status");
    QTest::addColumn<QString>("uid");

    QTest::newRow("demo account") << "demo"
                                  << "demo123" << 1 << "1001";
    QTest::newRow("wrong password") << "demo"
                                    << "demo124" << 0 << "";
    QTest::newRow("name with slash and space") << "li / wei"
                                               << "pa ss" << 1 << "2002";
    QTest::newRow("chinese name") << QString::fromUtf8("\xe5\xbc\xa0\xe4\xb8\x89") << "x" << 1 << "3003";
}

void tst_HttpTransfer::loginWithAccount()
{
    QFETCH(QString, username);
    QFETCH(QString, password);
    QFETCH(int, status);
    QFETCH(QString, uid);
    m_sim.addAccount(QStringLiteral("li / wei"), QStringLiteral("pa ss"), QStringLiteral("2002"));
    m_sim.addAccount(
        QString::fromUtf8("\xe5\xbc\xa0\xe4\xb8\x89"), QStringLiteral("x"), QStringLiteral("3003"));

    const QVariantMap reply
        = HttpTransfer().login({ { "username", username }, { "password", md5Hex(password) } });
    QCOMPARE(reply.value("status").toInt(), status);
    QCOMPARE(reply.value("data").toMap().value("id").toString(), uid);
}

void tst_HttpTransfer::pathSegmentsOnTheWire_data()
{
    QTest::addColumn<QString>("slot");
    QTest::addColumn<QVariantMap>("request");
    QTest::addColumn<QByteArray>("rawPath");

    const QString digest = md5Hex(QStringLiteral("demo123"));
    QTest::newRow("login: letters and digest unchanged")
        << "login" << QVariantMap { { "username", "demo" }, { "password", digest } }
        << QByteArray("user/login/demo/" + digest.toLatin1());
    QTest::newRow("login: absent password leaves an empty segment")
        << "login" << QVariantMap { { "username", "demo" } } << QByteArray("user/login/demo/");
    QTest::newRow("login: slash stays in its segment")
        << "login" << QVariantMap { { "username", "a/b" }, { "password", "c" } }
        << QByteArray("user/login/a%2Fb/c");
    QTest::newRow("login: query and fragment marks escaped")
        << "login" << QVariantMap { { "username", "a?x=1#y" }, { "password", "c" } }
        << QByteArray("user/login/a%3Fx%3D1%23y/c");
    QTest::newRow("login: percent and space escaped")
        << "login" << QVariantMap { { "username", "50% off" }, { "password", "c" } }
        << QByteArray("user/login/50%25%20off/c");
    QTest::newRow("login: marker in first value is not filled")
        << "login" << QVariantMap { { "username", "%2" }, { "password", "p" } }
        << QByteArray("user/login/%252/p");
    QTest::newRow("login: chinese as utf-8 escapes")
        << "login" << QVariantMap { { "username", QString::fromUtf8("\xe5\xbc\xa0") }, { "password", "p" } }
        << QByteArray("user/login/%E5%BC%A0/p");
    QTest::newRow("task list: uid and day")
        << "getTaskList" << QVariantMap { { "uid", "1001" }, { "time", "2024-03-05" } }
        << QByteArray("device/task_list/1001/2024-03-05");
    QTest::newRow("task list: numeric uid")
        << "getTaskList" << QVariantMap { { "uid", 1001 }, { "time", "2024-03-05" } }
        << QByteArray("device/task_list/1001/2024-03-05");
    QTest::newRow("change status") << "changeStatu" << QVariantMap { { "task_id", "7" }, { "status", 2 } }
                                   << QByteArray("device/change_status/7/2");
    QTest::newRow("change status: absent keys")
        << "changeStatu" << QVariantMap {} << QByteArray("device/change_status//");
    QTest::newRow("delete: dots inside a value")
        << "deleteStatu" << QVariantMap { { "id", "9/../1" } } << QByteArray("device/dele/9%2F..%2F1");
    QTest::newRow("delete: three dots are a name")
        << "deleteStatu" << QVariantMap { { "id", "..." } } << QByteArray("device/dele/...");
}

void tst_HttpTransfer::pathSegmentsOnTheWire()
{
    QFETCH(QString, slot);
    QFETCH(QVariantMap, request);
    QFETCH(QByteArray, rawPath);

    HttpTransfer transfer;
    QVariantMap reply;
    QVERIFY(QMetaObject::invokeMethod(&transfer, qPrintable(slot), Qt::DirectConnection,
        Q_RETURN_ARG(QVariantMap, reply), Q_ARG(QVariantMap, request)));
    QCOMPARE(m_sim.requests().size(), 1);
    QCOMPARE(m_sim.requests().first().method, QByteArray("GET"));
    QCOMPARE(lastPath(), rawPath);
}

void tst_HttpTransfer::recordBodySurvivesFormDecoding_data()
{
    QTest::addColumn<QVariantMap>("record");

    QTest::newRow("plain record") << QVariantMap { { "uid", "1001" }, { "name", "cnc-1" }, { "power", 1 } };
    QTest::newRow("form characters in name")
        << QVariantMap { { "uid", "1001" }, { "name", "A&B+C=D%E 50%" }, { "power", 0 } };
    QTest::newRow("chinese name") << QVariantMap { { "name",
        QString::fromUtf8("\xe5\xbc\x80\xe6\x96\x99\xe6\x9c\xba") } };
    QTest::newRow("empty map") << QVariantMap {};
}

void tst_HttpTransfer::recordBodySurvivesFormDecoding()
{
    QFETCH(QVariantMap, record);

    const QVariantMap reply = HttpTransfer().registraAndmodifica(record);
    QCOMPARE(reply.value("status").toInt(), 1);

    const QList<DeviceSimulator::Request> requests = m_sim.requests();
    QCOMPARE(requests.size(), 1);
    QCOMPARE(requests.first().method, QByteArray("POST"));
    QCOMPARE(lastPath(), QByteArray("device/record"));
    QCOMPARE(requests.first().contentType, QByteArray("application/x-www-form-urlencoded"));
    const QByteArray body = requests.first().body;
    QVERIFY(body.startsWith("data="));

    // Decode the body as a form server would, and compare the JSON it carries.
    const QUrlQuery form(QString::fromLatin1(body));
    QCOMPARE(form.queryItems().size(), 1);
    const QString json = form.queryItemValue(QStringLiteral("data"), QUrl::FullyDecoded);
    QCOMPARE(QJsonDocument::fromJson(json.toUtf8()).object().toVariantMap(), record);
    QCOMPARE(m_sim.records().last(), record);
}

void tst_HttpTransfer::dotSegmentIsNotSent_data()
{
    QTest::addColumn<QString>("slot");
    QTest::addColumn<QVariantMap>("request");

    QTest::newRow("login: user name ..")
        << "login" << QVariantMap { { "username", ".." }, { "password", "p" } };
    QTest::newRow("task list: day .") << "getTaskList" << QVariantMap { { "uid", "1001" }, { "time", "." } };
    QTest::newRow("delete: id ..") << "deleteStatu" << QVariantMap { { "id", ".." } };
}

// The HTTP stack would fold such a segment into the path and reach another address.
void tst_HttpTransfer::dotSegmentIsNotSent()
{
    QFETCH(QString, slot);
    QFETCH(QVariantMap, request);

    HttpTransfer transfer;
    QVariantMap reply { { "status", 1 } };
    QTest::ignoreMessage(QtDebugMsg, QRegularExpression("^HttpTransfer: not sent"));
    QVERIFY(QMetaObject::invokeMethod(&transfer, qPrintable(slot), Qt::DirectConnection,
        Q_RETURN_ARG(QVariantMap, reply), Q_ARG(QVariantMap, request)));
    QVERIFY(reply.isEmpty());
    QVERIFY(m_sim.requests().isEmpty());
}

void tst_HttpTransfer::notAnObjectGivesEmptyMap_data()
{
    QTest::addColumn<QByteArray>("body");

    QTest::newRow("empty array") << QByteArray("[]");
    QTest::newRow("null") << QByteArray("null");
    QTest::newRow("empty body") << QByteArray("");
    QTest::newRow("number") << QByteArray("1");
    QTest::newRow("html") << QByteArray("<html>busy</html>");
}

void tst_HttpTransfer::notAnObjectGivesEmptyMap()
{
    QFETCH(QByteArray, body);
    m_sim.setCannedReply(QStringLiteral("user/login"), body);
    m_sim.setCannedReply(QStringLiteral("device/"), body);

    QVERIFY(HttpTransfer().login({ { "username", "demo" }, { "password", md5Hex("demo123") } }).isEmpty());
    QVERIFY(HttpTransfer().getTaskList({ { "uid", "1001" }, { "time", "2024-03-05" } }).isEmpty());
    QVERIFY(HttpTransfer().changeStatu({ { "task_id", "1" }, { "status", "1" } }).isEmpty());
    QVERIFY(HttpTransfer().deleteStatu({ { "id", "1" } }).isEmpty());
    QVERIFY(HttpTransfer().registraAndmodifica({ { "name", "x" } }).isEmpty());
    QCOMPARE(m_sim.requests().size(), 5);
}

void tst_HttpTransfer::failedRequestGivesEmptyMap()
{
    m_sim.setFault(DeviceSimulator::Fault::HttpError, 500);
    QTest::ignoreMessage(QtDebugMsg, QRegularExpression("^Network request failed: \"user/login/demo/"));
    QVERIFY(HttpTransfer().login({ { "username", "demo" }, { "password", md5Hex("demo123") } }).isEmpty());
}

QTEST_GUILESS_MAIN(tst_HttpTransfer)
#include "tst_httptransfer.moc"
