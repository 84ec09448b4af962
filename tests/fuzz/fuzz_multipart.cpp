// Builds multipart bodies from fuzzed maps (plain and "$file$" keys, text and byte-array
// values) and checks them three ways: each part from formDataPart has the two header lines
// and a quoted name that cannot end early; the body postMultipart sends (captured as it
// leaves the network manager) holds its boundary only at the delimiters; and the
// simulator's multipart parser reads back the same fields and contents.

#include "rest/krestservice.h"
#include "sim/devicesimulator.h"
#include "tests/fuzz/fuzzcheck.h"

#include <QCoreApplication>
#include <QHostAddress>
#include <QNetworkRequest>
#include <QTcpSocket>

#include <fuzzer/FuzzedDataProvider.h>

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <memory>

namespace {

void dropDebugMessages(QtMsgType type, const QMessageLogContext &context, const QString &message)
{
    if (type == QtDebugMsg)
        return;
    qInstallMessageHandler(nullptr);
    qt_message_output(type, context, message);
    qInstallMessageHandler(dropDebugMessages);
}

// Keeps a copy of every request and its body on their way out, and keeps the request off the
// network: Qt writes the header and the body in two segments, and on loopback each request
// then waits out the server's delayed acknowledgement (40 ms). The captured body goes to the
// simulator in one write instead (SimulatorLink).
class CapturingService : public KRESTService
{
public:
    QNetworkRequest lastRequest;
    QByteArray lastBody;

protected:
    QNetworkReply *createRequest(
        Operation op, const QNetworkRequest &request, QIODevice *outgoingData) override
    {
        lastRequest = request;
        lastBody = outgoingData ? outgoingData->peek(outgoingData->bytesAvailable()) : QByteArray();
        QNetworkRequest unsent(request);
        unsent.setUrl(QUrl(QStringLiteral("unsent:")));
        return KRESTService::createRequest(op, unsent, outgoingData);
    }
};

// One kept-alive connection to the simulator that sends a POST in a single write and
// returns the HTTP status of the answer (0 when there was none).
class SimulatorLink
{
public:
    explicit SimulatorLink(int port)
        : port(port)
    { }

    int post(const QByteArray &path, const QByteArray &contentType, const QByteArray &body)
    {
        for (int attempt = 0; attempt < 2; ++attempt) {
            if (!connected())
                return 0;
            const QByteArray request = "POST /" + path + " HTTP/1.1\r\nHost: 127.0.0.1\r\nContent-Type: "
                + contentType + "\r\nContent-Length: " + QByteArray::number(body.size()) + "\r\n\r\n" + body;
            socket.write(request);
            const int status = readStatus();
            if (status != 0)
                return status;
            // The server closed a kept-alive connection; send once more on a fresh one.
            socket.abort();
        }
        return 0;
    }

private:
    bool connected()
    {
        if (socket.state() == QAbstractSocket::ConnectedState)
            return true;
        socket.abort();
        socket.connectToHost(QHostAddress::LocalHost, quint16(port));
        if (!socket.waitForConnected(5000))
            return false;
        socket.setSocketOption(QAbstractSocket::LowDelayOption, 1);
        return true;
    }

    bool waitForData() { return socket.bytesAvailable() > 0 || socket.waitForReadyRead(5000); }

    int readStatus()
    {
        QByteArray head;
        while (!head.endsWith("\r\n\r\n")) {
            if (!waitForData())
                return 0;
            head += socket.read(1);
        }
        const QList<QByteArray> lines = head.split('\n');
        const int status = lines.first().split(' ').value(1).toInt();
        qint64 length = 0;
        bool closes = false;
        for (const QByteArray &line : lines) {
            const QByteArray lower = line.trimmed().toLower();
            if (lower.startsWith("content-length:"))
                length = lower.mid(15).trimmed().toLongLong();
            if (lower == "connection: close")
                closes = true;
        }
        while (length > 0) {
            if (!waitForData())
                return 0;
            length -= socket.read(length).size();
        }
        if (closes)
            socket.abort();
        return status;
    }

    const int port;
    QTcpSocket socket;
};

struct Fixture
{
    std::unique_ptr<QCoreApplication> application;
    DeviceSimulator simulator;
    std::unique_ptr<CapturingService> service;
    std::unique_ptr<SimulatorLink> link;
};

Fixture *fixture = nullptr;

const QString fileMarker = QStringLiteral("$file$");
const QByteArray partTail = "\r\nContent-Transfer-Encoding: 8bit\r\n\r\n";

QString takeText(FuzzedDataProvider &input, size_t maxBytes)
{
    const std::string bytes = input.ConsumeRandomLengthString(maxBytes);
    if (input.ConsumeBool())
        return QString::fromLatin1(bytes.data(), int(bytes.size()));
    return QString::fromUtf8(bytes.data(), int(bytes.size()));
}

QVariantMap takeMap(FuzzedDataProvider &input)
{
    QVariantMap map;
    const int entries = input.ConsumeIntegralInRange(0, 6);
    for (int i = 0; i < entries && input.remaining_bytes() > 0; ++i) {
        QString key = takeText(input, 40);
        if (input.ConsumeBool())
            key.prepend(fileMarker);
        const int kind = input.ConsumeIntegralInRange(0, 2);
        const std::string bytes = input.ConsumeRandomLengthString(600);
        const QByteArray raw(bytes.data(), int(bytes.size()));
        if (kind == 0)
            map.insert(key, raw);
        else if (kind == 1)
            map.insert(key, QString::fromUtf8(raw));
        else
            map.insert(key, input.ConsumeIntegral<int>());
    }
    return map;
}

// The quoted text that starts at from, up to the next quote; the quote itself must be there.
QByteArray quotedAt(const QByteArray &header, int from, int *end)
{
    FUZZ_CHECK(from < header.size() && header.at(from) == '"');
    const int close = header.indexOf('"', from + 1);
    FUZZ_CHECK(close > from);
    *end = close + 1;
    return header.mid(from + 1, close - from - 1);
}

// A part is the Content-Disposition line with one quoted name (and one quoted filename for a
// file part), the Content-Transfer-Encoding line, an empty line and the content.
void checkPart(const QByteArray &part, const QString &key, const QVariant &value)
{
    const bool isFile = key.startsWith(fileMarker);
    const QByteArray lead = "Content-Disposition: form-data; name=";
    FUZZ_CHECK(part.startsWith(lead));
    const int headerEnd = part.indexOf(partTail);
    FUZZ_CHECK(headerEnd > 0);
    const QByteArray disposition = part.left(headerEnd);
    FUZZ_CHECK(!disposition.contains('\r') && !disposition.contains('\n'));

    int end = 0;
    const QByteArray name = quotedAt(disposition, lead.size(), &end);
    if (isFile) {
        FUZZ_CHECK(name == "file");
        const QByteArray between = "; filename=";
        FUZZ_CHECK(disposition.mid(end, between.size()) == between);
        quotedAt(disposition, end + between.size(), &end);
    }
    FUZZ_CHECK(end == disposition.size());

    const QByteArray content = part.mid(headerEnd + partTail.size());
    FUZZ_CHECK(content == (isFile ? value.toByteArray() : value.toString().toUtf8()));
}

QByteArray boundaryOf(const QByteArray &type)
{
    const QByteArray prefix = "multipart/form-data; boundary=";
    FUZZ_CHECK(type.startsWith(prefix));
    return type.mid(prefix.size());
}

// The body is the delimiters and parts in key order, closed by the final delimiter; the
// boundary occurs nowhere else.
QList<QByteArray> splitBody(const QByteArray &body, const QByteArray &boundary, int parts)
{
    FUZZ_CHECK(boundary.size() > 28 && boundary.startsWith(QByteArray(14, '='))
        && boundary.endsWith(QByteArray(14, '=')));
    FUZZ_CHECK(body.count(boundary) == parts + 1);
    const QByteArray closing = "--" + boundary + "--\r\n";
    FUZZ_CHECK(body.endsWith(closing));
    QList<QByteArray> result;
    int at = 0;
    for (int i = 0; i < parts; ++i) {
        const QByteArray opening = (i == 0 ? "--" : "\r\n--") + boundary + "\r\n";
        FUZZ_CHECK(body.mid(at, opening.size()) == opening);
        at += opening.size();
        const int next = body.indexOf("\r\n--" + boundary, at);
        FUZZ_CHECK(next >= at);
        result.append(body.mid(at, next - at));
        at = next;
    }
    FUZZ_CHECK(body.mid(at) == (parts == 0 ? closing : "\r\n" + closing));
    return result;
}

struct ExpectedPart
{
    QByteArray name;
    QByteArray fileName;
    QByteArray content;
};

// Quotes and line breaks travel percent-encoded inside the quoted names.
QByteArray quotedName(const QString &text)
{
    QString escaped = text;
    escaped.replace(QLatin1Char('"'), QLatin1String("%22"));
    escaped.replace(QLatin1Char('\r'), QLatin1String("%0D"));
    escaped.replace(QLatin1Char('\n'), QLatin1String("%0A"));
    return escaped.toLocal8Bit();
}

// What the server's parser hands over: one entry per part, ordered by field name.
QList<ExpectedPart> expectedParts(const QVariantMap &map)
{
    QList<ExpectedPart> parts;
    for (auto it = map.cbegin(); it != map.cend(); ++it) {
        if (it.key().startsWith(fileMarker))
            parts.append({ "file", quotedName(it.key().mid(fileMarker.size())), it.value().toByteArray() });
        else
            parts.append({ quotedName(it.key()), QByteArray(), it.value().toString().toUtf8() });
    }
    std::stable_sort(parts.begin(), parts.end(), [](const ExpectedPart &a, const ExpectedPart &b) {
        return a.name.toStdString() < b.name.toStdString();
    });
    return parts;
}

void checkServerParts(const QVariantMap &map)
{
    const QList<DeviceSimulator::Request> requests = fixture->simulator.requests();
    FUZZ_CHECK(requests.size() == 1);
    const QList<DeviceSimulator::Part> &received = requests.first().parts;
    const QList<ExpectedPart> expected = expectedParts(map);
    FUZZ_CHECK(received.size() == expected.size());
    for (int i = 0; i < expected.size(); ++i) {
        FUZZ_CHECK(received.at(i).name == expected.at(i).name);
        FUZZ_CHECK(received.at(i).fileName == expected.at(i).fileName);
        FUZZ_CHECK(received.at(i).content == expected.at(i).content);
    }
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int *argc, char ***argv)
{
    qInstallMessageHandler(dropDebugMessages);
    fixture = new Fixture;
    fixture->application = std::make_unique<QCoreApplication>(*argc, *argv);
    FUZZ_CHECK(fixture->simulator.start(0));
    fixture->service = std::make_unique<CapturingService>();
    fixture->service->setServerRoot(fixture->simulator.rootUrl());
    fixture->link = std::make_unique<SimulatorLink>(fixture->simulator.port());
    // A canned answer: the simulator's parser still reads the parts, but keeps no upload.
    fixture->simulator.setCannedReply(QStringLiteral("form"), QByteArrayLiteral("{}"));
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    FuzzedDataProvider input(data, size);
    const QVariantMap map = takeMap(input);
    for (auto it = map.cbegin(); it != map.cend(); ++it)
        checkPart(KRESTService::formDataPart(it.key(), it.value()), it.key(), it.value());

    CapturingService &service = *fixture->service;
    QNetworkReply *reply = service.postMultipart(QStringLiteral("form"), map);
    KRESTService::waitForReply(reply);
    delete reply;
    const QByteArray contentType
        = service.lastRequest.header(QNetworkRequest::ContentTypeHeader).toByteArray();
    FUZZ_CHECK(
        service.lastRequest.header(QNetworkRequest::ContentLengthHeader).toInt() == service.lastBody.size());
    const QList<QByteArray> parts = splitBody(service.lastBody, boundaryOf(contentType), map.size());
    int index = 0;
    for (auto it = map.cbegin(); it != map.cend(); ++it)
        FUZZ_CHECK(parts.at(index++) == KRESTService::formDataPart(it.key(), it.value()));

    fixture->simulator.clearRequests();
    const int status = fixture->link->post("form", contentType, service.lastBody);
    // A body of no parts is only the closing delimiter, which the server's parser refuses
    // (a multipart body holds at least one part); every other body must be accepted.
    if (map.isEmpty())
        return 0;
    FUZZ_CHECK(status == 200);
    checkServerParts(map);
    return 0;
}
