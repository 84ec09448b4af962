#include "rest/krestservice.h"
#include "sim/devicesimulator.h"

#include <QDateTime>
#include <QMetaMethod>
#include <QMetaProperty>
#include <QRegularExpression>
#include <QSignalSpy>
#include <QtTest>

namespace {

QStringList *capturedLines = nullptr;

void captureMessage(QtMsgType, const QMessageLogContext &, const QString &message)
{
    if (capturedLines)
        capturedLines->append(message);
}

enum class Sender
{
    Head,
    GetText,
    GetMap,
    PostJsonText,
    PostJsonMap,
    PostFormText,
    PostFormMap
};

} // namespace

Q_DECLARE_METATYPE(Sender)

// Reads a property back from inside its change signal.
class PropertyReader : public QObject
{
    Q_OBJECT
public:
    explicit PropertyReader(const QByteArray &property)
        : property(property)
    { }
    QByteArray property;
    QString seen;

public slots:
    void read() { seen = sender()->property(property).toString(); }
};

class tst_KRESTService : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void cleanup();

    void interface();
    void composeUrl_data();
    void composeUrl();
    void constParamsServeOneUrl();
    void propertySignals_data();
    void propertySignals();
    void senders_data();
    void senders();
    void postLogLine_data();
    void postLogLine();
    void onErrorDescriptions_data();
    void onErrorDescriptions();
    void onErrorConsumesBody();
    void commands();
    void parseJson_data();
    void parseJson();
    void jsonReaders_data();
    void jsonReaders();
    void formDataPart_data();
    void formDataPart();
    void multipartBody();
    void multipartEmptyMap();
    void multipartBoundaryPerSecond();
    void multipartBoundaryAvoidsContent();

private:
    QString lineStartingWith(const QString &prefix) const;
    static QByteArray boundaryOf(const QByteArray &contentType);
    static QByteArray sentBoundary(QNetworkReply *reply);

    DeviceSimulator sim;
    QStringList lines;
};

void tst_KRESTService::initTestCase()
{
    QVERIFY(sim.start(0));
}

void tst_KRESTService::init()
{
    sim.clearFault();
    sim.clearCannedReplies();
    sim.clearRequests();
    lines.clear();
    capturedLines = &lines;
    qInstallMessageHandler(captureMessage);
}

void tst_KRESTService::cleanup()
{
    qInstallMessageHandler(nullptr);
    capturedLines = nullptr;
}

QString tst_KRESTService::lineStartingWith(const QString &prefix) const
{
    for (const QString &line : lines) {
        if (line.startsWith(prefix))
            return line;
    }
    return QString();
}

QByteArray tst_KRESTService::boundaryOf(const QByteArray &contentType)
{
    const QByteArray prefix = "multipart/form-data; boundary=";
    return contentType.startsWith(prefix) ? contentType.mid(prefix.size()) : QByteArray();
}

void tst_KRESTService::interface()
{
    KRESTService service;
    const QMetaObject *meta = service.metaObject();
    QStringList properties;
    for (int i = meta->propertyOffset(); i < meta->propertyCount(); ++i)
        properties << QString::fromLatin1(meta->property(i).name());
    QCOMPARE(properties, QStringList({ "serverRoot", "localRoot", "constParams" }));

    QStringList methods;
    for (int i = meta->methodOffset(); i < meta->methodCount(); ++i)
        methods << QString::fromLatin1(meta->method(i).methodSignature());
    const QStringList expected { "downloadProgress(qlonglong,qlonglong)", "serverRootChanged()",
        "localRootChanged()", "constParamsChanged()", "onError(QNetworkReply::NetworkError)",
        "getCommand(QString,QString)", "postJsonCommand(QString,QString)", "postFormCommand(QString,QString)",
        "checkFile(QString)", "downloadFile(QString,QString,QString)",
        "uploadFile(QString,QString,QString)" };
    QCOMPARE(methods, expected);

    QVERIFY(QMetaType::type("QNetworkReply::NetworkError") != QMetaType::UnknownType);
    QVERIFY(QMetaObject::invokeMethod(
        &service, "onError", Q_ARG(QNetworkReply::NetworkError, QNetworkReply::TimeoutError)));
    QVERIFY(lines.contains(QStringLiteral("请求超时")));
}

void tst_KRESTService::composeUrl_data()
{
    QTest::addColumn<QString>("root");
    QTest::addColumn<QString>("path");
    QTest::addColumn<QString>("constParams");
    QTest::addColumn<QString>("expected");

    QTest::newRow("root-with-slash") << "http://h/r/"
                                     << "a/b"
                                     << ""
                                     << "http://h/r/a/b";
    QTest::newRow("root-without-slash") << "http://h/r"
                                        << "a/b"
                                        << ""
                                        << "http://h/ra/b";
    QTest::newRow("absolute-http") << "http://h/r/"
                                   << "http://x/y"
                                   << ""
                                   << "http://x/y";
    QTest::newRow("absolute-https") << "http://h/r/"
                                    << "https://x/y"
                                    << ""
                                    << "https://x/y";
    QTest::newRow("upper-case-scheme-is-relative") << "http://h/r/"
                                                   << "HTTP://x/y"
                                                   << ""
                                                   << "http://h/r/HTTP://x/y";
    QTest::newRow("const-params") << "http://h/"
                                  << "p"
                                  << "k=v"
                                  << "http://h/p?k=v";
    QTest::newRow("const-params-after-query") << "http://h/"
                                              << "p?a=1"
                                              << "k=v"
                                              << "http://h/p?a=1?k=v";
    QTest::newRow("no-percent-encoding-added") << "http://h/"
                                               << "a b"
                                               << ""
                                               << "http://h/a%20b";
}

void tst_KRESTService::composeUrl()
{
    QFETCH(QString, root);
    QFETCH(QString, path);
    QFETCH(QString, constParams);
    QFETCH(QString, expected);

    KRESTService service;
    service.setServerRoot(root);
    service.setConstParams(constParams);
    QCOMPARE(QString::fromUtf8(service.composeUrl(path).toEncoded()), expected);
}

void tst_KRESTService::constParamsServeOneUrl()
{
    KRESTService service;
    QSignalSpy changed(&service, &KRESTService::constParamsChanged);
    service.setServerRoot("http://h/");
    service.setConstParams("k=v");
    QCOMPARE(changed.count(), 1);

    QCOMPARE(service.composeUrl("a").toString(), QStringLiteral("http://h/a?k=v"));
    QCOMPARE(service.composeUrl("a").toString(), QStringLiteral("http://h/a"));
    QCOMPARE(service.constParams(), QString());
    QCOMPARE(changed.count(), 1);
}

void tst_KRESTService::propertySignals_data()
{
    QTest::addColumn<QByteArray>("property");
    QTest::newRow("serverRoot") << QByteArray("serverRoot");
    QTest::newRow("localRoot") << QByteArray("localRoot");
    QTest::newRow("constParams") << QByteArray("constParams");
}

void tst_KRESTService::propertySignals()
{
    QFETCH(QByteArray, property);

    KRESTService service;
    const QMetaProperty meta
        = service.metaObject()->property(service.metaObject()->indexOfProperty(property));
    QVERIFY(meta.isDesignable() && meta.isScriptable() && meta.isStored() && meta.hasNotifySignal());
    QSignalSpy changed(&service, meta.notifySignal());

    // A receiver connected directly reads the new value back while the setter runs.
    PropertyReader reader(property);
    connect(&service, meta.notifySignal(), &reader,
        reader.metaObject()->method(reader.metaObject()->indexOfSlot("read()")));

    QVERIFY(service.setProperty(property, QString()));
    QCOMPARE(changed.count(), 0);
    QVERIFY(service.setProperty(property, QStringLiteral("one")));
    QCOMPARE(changed.count(), 1);
    QCOMPARE(reader.seen, QStringLiteral("one"));
    QVERIFY(service.setProperty(property, QStringLiteral("one")));
    QCOMPARE(changed.count(), 1);
    QVERIFY(service.setProperty(property, QStringLiteral("two")));
    QCOMPARE(changed.count(), 2);
    QCOMPARE(service.property(property).toString(), QStringLiteral("two"));
}

void tst_KRESTService::senders_data()
{
    QTest::addColumn<Sender>("sender");
    QTest::addColumn<QString>("path");
    QTest::addColumn<QString>("text");
    QTest::addColumn<QVariantMap>("map");
    QTest::addColumn<QString>("constParams");
    QTest::addColumn<QByteArray>("method");
    QTest::addColumn<QByteArray>("rawPath");
    QTest::addColumn<QByteArray>("body");
    QTest::addColumn<QByteArray>("contentType");

    const QVariantMap none;
    const QByteArray json = "application/json";
    const QByteArray form = "application/x-www-form-urlencoded";
    QTest::newRow("head-params") << Sender::Head << "p"
                                 << "a=1" << none << "" << QByteArray("HEAD") << QByteArray("p?a=1")
                                 << QByteArray() << QByteArray();
    QTest::newRow("head-params-and-const") << Sender::Head << "p"
                                           << "a=1" << none << "k=v" << QByteArray("HEAD")
                                           << QByteArray("p?a=1?k=v") << QByteArray() << QByteArray();
    QTest::newRow("get-params") << Sender::GetText << "p"
                                << "x" << none << "" << QByteArray("GET") << QByteArray("p/x") << QByteArray()
                                << QByteArray();
    QTest::newRow("get-no-params") << Sender::GetText << "p"
                                   << "" << none << "" << QByteArray("GET") << QByteArray("p") << QByteArray()
                                   << QByteArray();
    QTest::newRow("get-map-values-in-key-order")
        << Sender::GetMap << "p"
        << "" << QVariantMap({ { "b", "2" }, { "a", "1" } }) << "" << QByteArray("GET")
        << QByteArray("p//1/2") << QByteArray() << QByteArray();
    QTest::newRow("get-empty-map") << Sender::GetMap << "p"
                                   << "" << none << "" << QByteArray("GET") << QByteArray("p") << QByteArray()
                                   << QByteArray();
    QTest::newRow("post-json-text") << Sender::PostJsonText << "j"
                                    << "{\"x\":\"ü\"}" << none << "" << QByteArray("POST") << QByteArray("j")
                                    << QByteArray("{\"x\":\"ü\"}") << json;
    QTest::newRow("post-json-empty-map")
        << Sender::PostJsonMap << "j"
        << "" << none << "k=v" << QByteArray("POST") << QByteArray("j?k=v") << QByteArray("{}") << json;
    QTest::newRow("post-json-map") << Sender::PostJsonMap << "j"
                                   << "" << QVariantMap({ { "a", 1 } }) << "" << QByteArray("POST")
                                   << QByteArray("j") << QByteArray("{\"a\":1}") << json;
    QTest::newRow("post-form-text-unchanged") << Sender::PostFormText << "f"
                                              << "a=1&b=x y" << none << "" << QByteArray("POST")
                                              << QByteArray("f") << QByteArray("a=1&b=x y") << form;
    QTest::newRow("post-form-map-encoded")
        << Sender::PostFormMap << "f"
        << "" << QVariantMap({ { "b", "x y" }, { "a", 1 } }) << "" << QByteArray("POST") << QByteArray("f")
        << QByteArray("a=1&b=x%20y") << form;
    QTest::newRow("post-form-map-no-injection")
        << Sender::PostFormMap << "f"
        << "" << QVariantMap({ { "k&=", "1&b=2+3" } }) << "" << QByteArray("POST") << QByteArray("f")
        << QByteArray("k%26%3D=1%26b%3D2%2B3") << form;
    QTest::newRow("post-form-empty-map")
        << Sender::PostFormMap << "f"
        << "" << none << "" << QByteArray("POST") << QByteArray("f") << QByteArray() << form;
}

void tst_KRESTService::senders()
{
    QFETCH(Sender, sender);
    QFETCH(QString, path);
    QFETCH(QString, text);
    QFETCH(QVariantMap, map);
    QFETCH(QString, constParams);
    QFETCH(QByteArray, method);
    QFETCH(QByteArray, rawPath);
    QFETCH(QByteArray, body);
    QFETCH(QByteArray, contentType);

    KRESTService service;
    service.setServerRoot(sim.rootUrl());
    service.setConstParams(constParams);
    sim.setCannedReply(path, "{}");
    QNetworkReply *reply = nullptr;
    switch (sender) {
    case Sender::Head:
        reply = service.headData(path, text);
        break;
    case Sender::GetText:
        reply = service.getData(path, text);
        break;
    case Sender::GetMap:
        reply = service.getData(path, map);
        break;
    case Sender::PostJsonText:
        reply = service.postJson(path, text);
        break;
    case Sender::PostJsonMap:
        reply = service.postJson(path, map);
        break;
    case Sender::PostFormText:
        reply = service.postForm(path, text);
        break;
    case Sender::PostFormMap:
        reply = service.postForm(path, map);
        break;
    }
    QVERIFY(reply);
    QCOMPARE(reply->parent(), &service);
    KRESTService::waitForReply(reply);
    QVERIFY(reply->isFinished());
    QCOMPARE(reply->url().toEncoded(), sim.rootUrl().toUtf8() + rawPath);
    // The server refuses a second '?' in the target before it logs the request.
    if (rawPath.count('?') > 1) {
        QCOMPARE(reply->error(), QNetworkReply::ProtocolInvalidOperationError);
        return;
    }
    QVERIFY2(reply->error() == QNetworkReply::NoError, qPrintable(reply->errorString()));

    const QList<DeviceSimulator::Request> requests = sim.requests();
    QCOMPARE(requests.size(), 1);
    QCOMPARE(requests.first().method, method);
    QCOMPARE(requests.first().rawPath, rawPath);
    QCOMPARE(requests.first().body, body);
    QCOMPARE(requests.first().contentType, contentType);
    if (method == "POST")
        QCOMPARE(reply->request().header(QNetworkRequest::ContentLengthHeader).toInt(), body.size());
    QCOMPARE(service.constParams(), QString());
}

void tst_KRESTService::postLogLine_data()
{
    QTest::addColumn<int>("size");
    QTest::addColumn<bool>("bodyShown");
    QTest::newRow("999-bytes-shown") << 999 << true;
    QTest::newRow("1000-bytes-as-size") << 1000 << false;
}

void tst_KRESTService::postLogLine()
{
    QFETCH(int, size);
    QFETCH(bool, bodyShown);

    KRESTService service;
    service.setServerRoot(sim.rootUrl());
    const QByteArray body(size, 'q');
    KRESTService::waitForReply(service.postData("log/me", body, "text/plain"));

    const QString line = lineStartingWith("REST POST : ");
    const QString expected = bodyShown ? QString::fromLatin1(body) : QStringLiteral("1000 BYTES");
    QCOMPARE(line, QStringLiteral("REST POST : /log/me ") + expected);
    QCOMPARE(sim.requests().value(0).body, body);
}

void tst_KRESTService::onErrorDescriptions_data()
{
    QTest::addColumn<int>("code");
    QTest::addColumn<QString>("description");
    QTest::newRow("refused") << 1 << "服务器拒绝本次请求";
    QTest::newRow("closed") << 2 << "服务器响应故障";
    QTest::newRow("timeout") << 4 << "请求超时";
    QTest::newRow("session") << 8 << "登录失效";
    QTest::newRow("unknown-content") << 299 << "无效的网络请求";
    QTest::newRow("content-not-found") << 203 << "服务器异常203";
    QTest::newRow("canceled") << 5 << "服务器异常5";
}

void tst_KRESTService::onErrorDescriptions()
{
    QFETCH(int, code);
    QFETCH(QString, description);

    KRESTService service;
    service.onError(QNetworkReply::NetworkError(code));
    QCOMPARE(lines, QStringList { description });
}

void tst_KRESTService::onErrorConsumesBody()
{
    KRESTService service;
    service.setServerRoot(sim.rootUrl());
    sim.setFault(DeviceSimulator::Fault::HttpError, 500, "broken");

    // The whole body has arrived when the error is reported, so nothing is left for the caller.
    QCOMPARE(service.getCommand("broken", "x"), QString());
    const QString url = sim.rootUrl() + "broken/x";
    const int at = lines.indexOf(QStringLiteral("error request: ") + url);
    QVERIFY2(at >= 0, qPrintable(lines.join('\n')));
    QCOMPARE(lines.value(at + 1), QStringLiteral("error 500"));
    QCOMPARE(lines.value(at + 2), QStringLiteral("服务器异常401"));
}

void tst_KRESTService::commands()
{
    KRESTService service;
    service.setServerRoot(sim.rootUrl());
    // The reply text ends at the first NUL byte; the raw bytes keep it.
    const QByteArray answer("{\"status\":1}\0tail", 17);
    sim.setCannedReply("cmd", answer);

    QCOMPARE(service.getCommand("cmd/get", "7"), QStringLiteral("{\"status\":1}"));
    QCOMPARE(service.postJsonCommand("cmd/json", "{\"a\":2}"), QStringLiteral("{\"status\":1}"));
    QCOMPARE(service.postFormCommand("cmd/form", "a=2"), QStringLiteral("{\"status\":1}"));
    QCOMPARE(lines.filter("REST RESULT : ").size(), 3);
    QVERIFY(lines.contains(QStringLiteral("REST RESULT : {\"status\":1}")));
    QCOMPARE(KRESTService::waitForBytes(service.getData("cmd", QString())), answer);

    const QList<DeviceSimulator::Request> requests = sim.requests();
    QCOMPARE(requests.size(), 4);
    QCOMPARE(requests.at(0).rawPath, QByteArray("cmd/get/7"));
    QCOMPARE(requests.at(1).body, QByteArray("{\"a\":2}"));
    QCOMPARE(requests.at(1).contentType, QByteArray("application/json"));
    QCOMPARE(requests.at(2).body, QByteArray("a=2"));
    QCOMPARE(requests.at(2).contentType, QByteArray("application/x-www-form-urlencoded"));
}

void tst_KRESTService::parseJson_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<QVariant>("expected");
    QTest::addColumn<bool>("logged");
    QTest::newRow("empty") << "" << QVariant() << false;
    QTest::newRow("object") << "{\"a\":1}" << QVariant(QVariantMap({ { "a", 1 } })) << false;
    QTest::newRow("array") << "[\"x\"]" << QVariant(QVariantList({ "x" })) << false;
    QTest::newRow("broken") << "{\"a\":" << QVariant() << true;
}

void tst_KRESTService::parseJson()
{
    QFETCH(QString, text);
    QFETCH(QVariant, expected);
    QFETCH(bool, logged);

    QCOMPARE(KRESTService::parseJson(text), expected);
    QCOMPARE(!lineStartingWith("JSON ERROR: ").isEmpty(), logged);
    if (logged)
        QVERIFY(lineStartingWith("JSON ERROR: ").endsWith(QStringLiteral("\n & json is: ") + text));

    if (expected.isValid())
        QCOMPARE(KRESTService::parseJson(QString::fromUtf8(KRESTService::toJsonBytes(expected))), expected);
    QCOMPARE(KRESTService::toJsonBytes(QVariant()), QByteArray());
    QCOMPARE(KRESTService::toJsonBytes(QVariantMap({ { "a", 1 }, { "b", "c d" } })),
        QByteArray("{\"a\":1,\"b\":\"c d\"}"));
}

void tst_KRESTService::jsonReaders_data()
{
    QTest::addColumn<QByteArray>("body");
    QTest::addColumn<QVariantMap>("map");
    QTest::addColumn<bool>("parseErrorLogged");
    QTest::newRow("object") << QByteArray("{\"a\":[1,2],\"b\":\"x\"}")
                            << QVariantMap({ { "a", QVariantList({ 1, 2 }) }, { "b", "x" } }) << false;
    QTest::newRow("array-is-no-map") << QByteArray("[1,2]") << QVariantMap() << false;
    QTest::newRow("not-json") << QByteArray("<html>") << QVariantMap() << true;
}

void tst_KRESTService::jsonReaders()
{
    QFETCH(QByteArray, body);
    QFETCH(QVariantMap, map);
    QFETCH(bool, parseErrorLogged);

    KRESTService service;
    service.setServerRoot(sim.rootUrl());
    sim.setCannedReply("doc", body);

    lines.clear();
    QCOMPARE(KRESTService::waitForJsonMap(service.getData("doc", QString())), map);
    QCOMPARE(lines.size() > 1, parseErrorLogged);

    lines.clear();
    const QJsonObject object = KRESTService::waitForJsonObject(service.getData("doc", QString()));
    QCOMPARE(object.toVariantMap(), map);
    QCOMPARE(lines.size(), 1);

    QNetworkReply *reply = service.getData("doc", QString());
    KRESTService::waitForReply(reply);
    QCOMPARE(KRESTService::readJsonMap(reply), map);
    QCOMPARE(KRESTService::readJsonMap(reply), QVariantMap());
}

void tst_KRESTService::formDataPart_data()
{
    QTest::addColumn<QString>("key");
    QTest::addColumn<QVariant>("value");
    QTest::addColumn<QByteArray>("expected");

    const QByteArray tail = "\r\nContent-Transfer-Encoding: 8bit\r\n\r\n";
    QTest::newRow("plain") << "path" << QVariant("目录/a")
                           << "Content-Disposition: form-data; name=\"path\"" + tail
            + QString("目录/a").toUtf8();
    QTest::newRow("plain-number") << "n" << QVariant(12)
                                  << "Content-Disposition: form-data; name=\"n\"" + tail + "12";
    QTest::newRow("file-raw-bytes") << "$file$x.zip" << QVariant(QByteArray("a\r\n\0b", 5))
                                    << "Content-Disposition: form-data; name=\"file\"; filename=\"x.zip\""
            + tail + QByteArray("a\r\n\0b", 5);
    QTest::newRow("file-without-name")
        << "$file$" << QVariant(QByteArray("c"))
        << "Content-Disposition: form-data; name=\"file\"; filename=\"\"" + tail + "c";
    QTest::newRow("marker-is-case-sensitive")
        << "$FILE$x" << QVariant("v") << "Content-Disposition: form-data; name=\"$FILE$x\"" + tail + "v";
    QTest::newRow("file-name-escaped") << "$file$a\"b\r\nc.zip" << QVariant(QByteArray("d"))
                                       << "Content-Disposition: form-data; name=\"file\"; "
                                          "filename=\"a%22b%0D%0Ac.zip\""
            + tail + "d";
    QTest::newRow("field-name-escaped")
        << "k\"\n"
        << QVariant("v") << "Content-Disposition: form-data; name=\"k%22%0A\"" + tail + "v";
    QTest::newRow("nested-value-is-empty") << "m" << QVariant(QVariantMap({ { "a", 1 } }))
                                           << "Content-Disposition: form-data; name=\"m\"" + tail;
}

void tst_KRESTService::formDataPart()
{
    QFETCH(QString, key);
    QFETCH(QVariant, value);
    QFETCH(QByteArray, expected);
    QCOMPARE(KRESTService::formDataPart(key, value), expected);
}

// The body as sent (from the POST log line) and as the server's multipart parser reads it,
// with a file name that would break the header if it went out unescaped.
void tst_KRESTService::multipartBody()
{
    KRESTService service;
    service.setServerRoot(sim.rootUrl());
    const QString fileKey = QStringLiteral("$file$x\"y\r\n.zip");
    const QVariantMap data { { "token", "t1" }, { "path", "nc/7" }, { fileKey, QByteArray("PK\x03\x04") } };
    KRESTService::waitForReply(service.postMultipart("upload_file2", data));

    const DeviceSimulator::Request request = sim.requests().value(0);
    const QByteArray boundary = boundaryOf(request.contentType);
    QVERIFY2(QRegularExpression("^={14}\\d+={14}$").match(QString::fromLatin1(boundary)).hasMatch(),
        boundary.constData());

    // The file part sorts first because '$' precedes the letters.
    const QByteArray body = "--" + boundary + "\r\n" + KRESTService::formDataPart(fileKey, data[fileKey])
        + "\r\n--" + boundary + "\r\n" + KRESTService::formDataPart("path", "nc/7") + "\r\n--" + boundary
        + "\r\n" + KRESTService::formDataPart("token", "t1") + "\r\n--" + boundary + "--\r\n";
    QCOMPARE(lineStartingWith("REST POST : "),
        QStringLiteral("REST POST : /upload_file2 ") + QString::fromUtf8(body));

    const QList<DeviceSimulator::UploadedFile> uploads = sim.uploads();
    QVERIFY(!uploads.isEmpty());
    QCOMPARE(uploads.last().fileName, QByteArray("x%22y%0D%0A.zip"));
    QCOMPARE(uploads.last().content, QByteArray("PK\x03\x04"));
    QCOMPARE(uploads.last().path, QByteArray("nc/7"));
    QCOMPARE(uploads.last().token, QByteArray("t1"));
}

void tst_KRESTService::multipartEmptyMap()
{
    KRESTService service;
    service.setServerRoot(sim.rootUrl());
    QNetworkReply *reply = service.postMultipart("form", QVariantMap());
    KRESTService::waitForReply(reply);
    const QByteArray boundary = sentBoundary(reply);
    QVERIFY(!boundary.isEmpty());
    QCOMPARE(lineStartingWith("REST POST : "),
        QStringLiteral("REST POST : /form --") + QString::fromLatin1(boundary) + QStringLiteral("--\r\n"));
}

QByteArray tst_KRESTService::sentBoundary(QNetworkReply *reply)
{
    return boundaryOf(reply->request().header(QNetworkRequest::ContentTypeHeader).toByteArray());
}

void tst_KRESTService::multipartBoundaryPerSecond()
{
    KRESTService service;
    service.setServerRoot(sim.rootUrl());
    for (int attempt = 0; attempt < 5; ++attempt) {
        const qint64 second = QDateTime::currentSecsSinceEpoch();
        QNetworkReply *first = service.postMultipart("form", QVariantMap());
        QNetworkReply *next = service.postMultipart("form", QVariantMap({ { "a", "1" } }));
        KRESTService::waitForReply(first);
        KRESTService::waitForReply(next);
        if (QDateTime::currentSecsSinceEpoch() != second)
            continue;
        QVERIFY(!sentBoundary(first).isEmpty());
        QCOMPARE(sentBoundary(next), sentBoundary(first));
        return;
    }
    QFAIL("the clock ticked during every attempt");
}

void tst_KRESTService::multipartBoundaryAvoidsContent()
{
    KRESTService service;
    service.setServerRoot(sim.rootUrl());
    for (int attempt = 0; attempt < 5; ++attempt) {
        // Learn this second's boundary, then send content that holds exactly that text.
        const qint64 second = QDateTime::currentSecsSinceEpoch();
        QNetworkReply *probe = service.postMultipart("form", QVariantMap());
        const QByteArray likely = sentBoundary(probe);
        const QByteArray content = "--" + likely + "\r\nfake part\r\n--" + likely + "--\r\n";
        QNetworkReply *reply = service.postMultipart(
            "upload_file2", QVariantMap({ { "$file$f.bin", content }, { "path", "p" } }));
        KRESTService::waitForReply(probe);
        KRESTService::waitForReply(reply);
        if (QDateTime::currentSecsSinceEpoch() != second)
            continue;
        QVERIFY(sentBoundary(reply) != likely);
        const QList<DeviceSimulator::UploadedFile> uploads = sim.uploads();
        QVERIFY(!uploads.isEmpty());
        QCOMPARE(uploads.last().content, content);
        QCOMPARE(uploads.last().path, QByteArray("p"));
        return;
    }
    QFAIL("the clock ticked during every attempt");
}

QTEST_GUILESS_MAIN(tst_KRESTService)

#include "tst_krestservice.moc"
