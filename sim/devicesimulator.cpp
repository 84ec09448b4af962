#include "sim/devicesimulator.h"

#include <httplib.h>

#include <QBuffer>
#include <QCryptographicHash>
#include <QFile>
#include <QHostAddress>
#include <QJsonDocument>
#include <QJsonObject>
#include <QRegExp>
#include <QStringList>
#include <QUrl>

#include <quazip.h>
#include <quazipfile.h>
#include <quazipnewinfo.h>

#include <zlib.h>

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <thread>

namespace {

const int BlobChunk = 64 * 1024;

// Deterministic filler for blob/<n>: cheap to generate and not trivially compressible.
void fillBlob(char *out, qint64 offset, qint64 length)
{
    for (qint64 i = 0; i < length; ++i) {
        const quint64 position = quint64(offset + i);
        out[i] = char((position * 2654435761u) >> 13);
    }
}

const QByteArray RedirectedPrefix = "redirected/";

// The gzip stream of repeat copies of block.
QByteArray gzipped(const QByteArray &block, qint64 repeat)
{
    z_stream stream {};
    if (deflateInit2(&stream, Z_DEFAULT_COMPRESSION, Z_DEFLATED, 15 + 16, 8, Z_DEFAULT_STRATEGY) != Z_OK)
        return {};
    QByteArray out;
    char buffer[BlobChunk];
    for (qint64 i = 0; i < std::max<qint64>(repeat, 1); ++i) {
        stream.next_in = reinterpret_cast<Bytef *>(const_cast<char *>(block.constData()));
        stream.avail_in = repeat > 0 ? uInt(block.size()) : 0;
        const int flush = i + 1 >= repeat ? Z_FINISH : Z_NO_FLUSH;
        do {
            stream.next_out = reinterpret_cast<Bytef *>(buffer);
            stream.avail_out = sizeof buffer;
            deflate(&stream, flush);
            out.append(buffer, int(sizeof buffer - stream.avail_out));
        } while (stream.avail_out == 0);
    }
    deflateEnd(&stream);
    return out;
}

QByteArray percentDecoded(const std::string &segment)
{
    return QByteArray::fromPercentEncoding(QByteArray::fromStdString(segment));
}

QByteArray jsonBytes(const QVariantMap &map)
{
    return QJsonDocument(QJsonObject::fromVariantMap(map)).toJson(QJsonDocument::Compact);
}

QByteArray envelope(int status, const QVariant &data, const QString &message = QString())
{
    QVariantMap reply { { "status", status }, { "data", data } };
    if (!message.isEmpty())
        reply.insert("msg", message);
    return jsonBytes(reply);
}

const QStringList Models = { "欧式衣柜", "现代橱柜", "实木书柜", "玄关鞋柜", "电视柜", "榻榻米" };
const QStringList Customers = { "张伟", "王芳", "李娜", "刘洋", "陈静", "杨磊", "赵敏", "黄强" };
const QStringList Rooms = { "主卧", "次卧", "客厅", "厨房", "书房", "儿童房", "餐厅" };

} // namespace

// What one request is answered with: a status, a content type and a body that is either
// held in memory or generated piece by piece (blob/<n>).
struct SimReply
{
    int status = 200;
    std::string contentType = "application/json";
    QByteArray body;
    qint64 generatedLength = -1; // >= 0: the body is blob content of that length

    qint64 length() const { return generatedLength >= 0 ? generatedLength : body.size(); }
    // n bytes of the body from offset.
    QByteArray piece(qint64 offset, qint64 n) const
    {
        if (generatedLength < 0)
            return body.mid(int(offset), int(n));
        QByteArray out(int(n), '\0');
        fillBlob(out.data(), offset, n);
        return out;
    }
};

class DeviceSimulator::Private
{
public:
    std::unique_ptr<httplib::Server> server;
    std::thread thread;
    int port = 0;
    bool tls = false;
    QString redirectRoot;
    std::string address = "127.0.0.1";
    QString hostName = QStringLiteral("127.0.0.1");

    mutable std::mutex mutex;
    std::condition_variable wake;
    bool stopping = false;
    quint64 faultGeneration = 0;

    Fault fault = Fault::None;
    int faultValue = 0;
    QByteArray faultPrefix;
    QList<QPair<QByteArray, QPair<int, QByteArray>>> canned;
    QMap<QByteArray, QByteArray> files;
    int tasksPerDay = 12;
    int listRevision = 0;
    int fileRevision = 0;
    QMap<QByteArray, QList<QByteArray>> served;
    QMap<QByteArray, QList<QByteArray>> servedMd5;
    int uploadResult = 0;
    QString uploadError;
    QList<UploadedFile> uploadList;
    QList<QVariantMap> recordList;
    QList<Request> requestLog;
    QMap<QString, QPair<QString, QString>> accounts { { "demo", { "demo123", "1001" } } };

    void handle(const httplib::Request &req, httplib::Response &res);
    SimReply route(const Request &request);
    SimReply login(const QList<QByteArray> &segments);
    SimReply taskList(const QList<QByteArray> &segments);
    SimReply record(const QByteArray &body);
    SimReply upload(const QList<Part> &parts);
    SimReply taskFile(const QList<QByteArray> &segments);
    QVariantList tasks(const QDate &day, int revisionAsked = -1) const;
    void send(httplib::Response &res, const SimReply &reply, Fault fault);
    void trickle(httplib::Response &res, const SimReply &reply, int bytesPerSecond);
    static void applyBodyFault(SimReply &reply, Fault fault, int value);
    void recordServed(
        const QByteArray &rawPath, const QByteArray &method, const SimReply &reply, Fault fault, int value);
    bool sleepFor(int milliseconds);
    bool waitUntilReleased(quint64 generation);
    QString root() const
    {
        return QStringLiteral("%1://%2:%3/")
            .arg(tls ? QStringLiteral("https") : QStringLiteral("http"), hostName)
            .arg(port);
    }
    bool serve(int port);
};

DeviceSimulator::DeviceSimulator()
    : d(new Private)
{ }

DeviceSimulator::~DeviceSimulator()
{
    stop();
}

bool DeviceSimulator::start(int port)
{
    d->server = std::make_unique<httplib::Server>();
    d->tls = false;
    return d->serve(port);
}

bool DeviceSimulator::startTls(const QString &certificateFile, const QString &keyFile, int port)
{
    auto server = std::make_unique<httplib::SSLServer>(
        QFile::encodeName(certificateFile).constData(), QFile::encodeName(keyFile).constData());
    if (!server->is_valid())
        return false;
    d->server = std::move(server);
    d->tls = true;
    return d->serve(port);
}

bool DeviceSimulator::Private::serve(int wantedPort)
{
    auto handler = [this](const httplib::Request &req, httplib::Response &res) { handle(req, res); };
    server->Get(".*", handler);
    server->Post(".*", handler);
    server->Put(".*", handler);
    server->Delete(".*", handler);
    server->set_keep_alive_timeout(2);
    server->set_keep_alive_max_count(10000);
    // Answers are written in pieces; without this the client waits for delayed ACKs.
    server->set_tcp_nodelay(true);

    const int bound = wantedPort == 0 ? server->bind_to_any_port(address)
                                      : (server->bind_to_port(address, wantedPort) ? wantedPort : -1);
    if (bound <= 0)
        return false;
    port = bound;
    thread = std::thread([this] { server->listen_after_bind(); });
    // A stop() before the server loop runs would be lost, and join() would wait for ever.
    for (int waited = 0; !server->is_running() && waited < 5000; ++waited)
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    return true;
}

void DeviceSimulator::stop()
{
    if (!d->thread.joinable())
        return;
    {
        std::lock_guard<std::mutex> lock(d->mutex);
        d->stopping = true;
    }
    d->wake.notify_all();
    d->server->stop();
    d->thread.join();
}

int DeviceSimulator::port() const
{
    return d->port;
}

void DeviceSimulator::setListenAddress(const QString &address, const QString &hostName)
{
    d->address = address.toStdString();
    d->hostName = hostName;
}

QPair<QString, QString> DeviceSimulator::loopbackByName()
{
    QFile hosts(QStringLiteral("/etc/hosts"));
    if (!hosts.open(QIODevice::ReadOnly | QIODevice::Text))
        return {};
    while (!hosts.atEnd()) {
        const QStringList fields = QString::fromLatin1(hosts.readLine())
                                       .section(QLatin1Char('#'), 0, 0)
                                       .split(QRegExp(QStringLiteral("\\s+")), Qt::SkipEmptyParts);
        if (fields.size() < 2 || !QHostAddress(fields.first()).isLoopback())
            continue;
        for (const QString &name : fields.mid(1)) {
            if (!name.contains(QLatin1String("localhost")) && QHostAddress(name).isNull())
                return { fields.first(), name };
        }
    }
    return {};
}

QString DeviceSimulator::rootUrl() const
{
    return d->root();
}

void DeviceSimulator::setRedirectRoot(const QString &root)
{
    std::lock_guard<std::mutex> lock(d->mutex);
    d->redirectRoot = root;
}

void DeviceSimulator::setFault(Fault fault, int value, const QString &pathPrefix)
{
    {
        std::lock_guard<std::mutex> lock(d->mutex);
        d->fault = fault;
        d->faultValue = value;
        d->faultPrefix = pathPrefix.toUtf8();
        ++d->faultGeneration;
    }
    d->wake.notify_all();
}

void DeviceSimulator::clearFault()
{
    setFault(Fault::None);
}

void DeviceSimulator::setCannedReply(const QString &pathPrefix, const QByteArray &body, int status)
{
    std::lock_guard<std::mutex> lock(d->mutex);
    d->canned.prepend({ pathPrefix.toUtf8(), { status, body } });
}

void DeviceSimulator::clearCannedReplies()
{
    std::lock_guard<std::mutex> lock(d->mutex);
    d->canned.clear();
}

void DeviceSimulator::setFile(const QString &path, const QByteArray &content)
{
    std::lock_guard<std::mutex> lock(d->mutex);
    d->files.insert(path.toUtf8(), content);
}

void DeviceSimulator::setTasksPerDay(int count)
{
    std::lock_guard<std::mutex> lock(d->mutex);
    d->tasksPerDay = std::max(0, count);
}

QVariantList DeviceSimulator::tasksFor(const QDate &day, int listRevision) const
{
    return d->tasks(day, listRevision);
}

void DeviceSimulator::setUploadFailure(int result, const QString &error)
{
    std::lock_guard<std::mutex> lock(d->mutex);
    d->uploadResult = result;
    d->uploadError = error;
}

void DeviceSimulator::setListRevision(int revision)
{
    std::lock_guard<std::mutex> lock(d->mutex);
    d->listRevision = revision;
}

void DeviceSimulator::setFileRevision(int revision)
{
    std::lock_guard<std::mutex> lock(d->mutex);
    d->fileRevision = revision;
}

QList<QByteArray> DeviceSimulator::servedBodies(const QString &path) const
{
    std::lock_guard<std::mutex> lock(d->mutex);
    return d->served.value(path.toUtf8());
}

QList<QByteArray> DeviceSimulator::servedDigests(const QString &path) const
{
    std::lock_guard<std::mutex> lock(d->mutex);
    return d->servedMd5.value(path.toUtf8());
}

QList<DeviceSimulator::UploadedFile> DeviceSimulator::uploads() const
{
    std::lock_guard<std::mutex> lock(d->mutex);
    return d->uploadList;
}

QList<QVariantMap> DeviceSimulator::records() const
{
    std::lock_guard<std::mutex> lock(d->mutex);
    return d->recordList;
}

QList<DeviceSimulator::Request> DeviceSimulator::requests() const
{
    std::lock_guard<std::mutex> lock(d->mutex);
    return d->requestLog;
}

void DeviceSimulator::clearRequests()
{
    std::lock_guard<std::mutex> lock(d->mutex);
    d->requestLog.clear();
}

void DeviceSimulator::addAccount(const QString &username, const QString &password, const QString &uid)
{
    std::lock_guard<std::mutex> lock(d->mutex);
    d->accounts.insert(username, { password, uid });
}

QByteArray DeviceSimulator::makeZip(const QList<QPair<QString, QByteArray>> &entries)
{
    QBuffer buffer;
    QuaZip zip(&buffer);
    if (!zip.open(QuaZip::mdCreate))
        return {};
    for (const auto &entry : entries) {
        QuaZipFile file(&zip);
        if (!file.open(QIODevice::WriteOnly, QuaZipNewInfo(entry.first)))
            return {};
        file.write(entry.second);
        file.close();
    }
    zip.close();
    return buffer.data();
}

QByteArray DeviceSimulator::makePdf(const QString &text)
{
    // A one-page PDF with a correct cross-reference table, so that viewers open it.
    QByteArray escaped = text.toLatin1();
    escaped.replace('\\', "\\\\").replace('(', "\\(").replace(')', "\\)");
    const QByteArray stream = "BT /F1 18 Tf 40 100 Td (" + escaped + ") Tj ET";
    const QList<QByteArray> objects = {
        "<< /Type /Catalog /Pages 2 0 R >>",
        "<< /Type /Pages /Kids [3 0 R] /Count 1 >>",
        "<< /Type /Page /Parent 2 0 R /MediaBox [0 0 300 200] /Contents 4 0 R"
        " /Resources << /Font << /F1 5 0 R >> >> >>",
        "<< /Length " + QByteArray::number(stream.size()) + " >>\nstream\n" + stream + "\nendstream",
        "<< /Type /Font /Subtype /Type1 /BaseFont /Helvetica >>",
    };
    QByteArray pdf = "%PDF-1.4\n";
    QList<int> offsets;
    for (int i = 0; i < objects.size(); ++i) {
        offsets.append(pdf.size());
        pdf += QByteArray::number(i + 1) + " 0 obj\n" + objects.at(i) + "\nendobj\n";
    }
    const int xref = pdf.size();
    pdf += "xref\n0 " + QByteArray::number(objects.size() + 1) + "\n0000000000 65535 f \n";
    for (int offset : offsets)
        pdf += QByteArray::number(offset).rightJustified(10, '0') + " 00000 n \n";
    pdf += "trailer\n<< /Size " + QByteArray::number(objects.size() + 1) + " /Root 1 0 R >>\nstartxref\n"
        + QByteArray::number(xref) + "\n%%EOF\n";
    return pdf;
}

void DeviceSimulator::Private::handle(const httplib::Request &req, httplib::Response &res)
{
    Request request { QByteArray::fromStdString(req.method), QByteArray::fromStdString(req.target).mid(1),
        QByteArray::fromStdString(req.body), QByteArray::fromStdString(req.get_header_value("Content-Type")),
        {} };
    // The server hands multipart bodies over already split into parts, keyed by field name.
    for (const auto &file : req.files) {
        const httplib::MultipartFormData &part = file.second;
        request.parts.append({ QByteArray::fromStdString(part.name), QByteArray::fromStdString(part.filename),
            QByteArray::fromStdString(part.content) });
    }
    const QByteArray &rawPath = request.rawPath;

    Fault activeFault = Fault::None;
    int value = 0;
    quint64 generation = 0;
    QPair<int, QByteArray> cannedReply { 0, {} };
    QString redirectTarget;
    {
        std::lock_guard<std::mutex> lock(mutex);
        requestLog.append(request);
        redirectTarget = redirectRoot.isEmpty() ? root() : redirectRoot;
        if (rawPath.startsWith(faultPrefix)) {
            activeFault = fault;
            value = faultValue;
            generation = faultGeneration;
        }
        for (const auto &entry : canned) {
            if (rawPath.startsWith(entry.first)) {
                cannedReply = entry.second;
                break;
            }
        }
    }

    if (activeFault == Fault::Delay && !sleepFor(value))
        return;
    if (activeFault == Fault::Redirect && !rawPath.startsWith(RedirectedPrefix)) {
        res.status = value;
        res.set_header("Location", (redirectTarget.toUtf8() + RedirectedPrefix + rawPath).toStdString());
        return;
    }

    SimReply reply;
    if (cannedReply.first != 0) {
        reply.status = cannedReply.first;
        reply.body = cannedReply.second;
    } else {
        reply = route(request);
    }

    // A gzip body is recorded as it was before compression.
    const SimReply logical = reply;
    switch (activeFault) {
    case Fault::HttpError:
        reply = SimReply { value, "text/plain", "error " + QByteArray::number(value), -1 };
        break;
    case Fault::NonJson:
        reply = SimReply { 200, "text/html", "<html><body>Service unavailable</body></html>", -1 };
        break;
    case Fault::EmptyBody:
        reply = SimReply { 200, "application/json", QByteArray(), -1 };
        break;
    default:
        applyBodyFault(reply, activeFault, value);
        break;
    }
    recordServed(rawPath, request.method, activeFault == Fault::Gzip ? logical : reply, activeFault, value);
    if (activeFault == Fault::Trickle) {
        trickle(res, reply, value);
        return;
    }
    if (activeFault == Fault::Stall) {
        // Hold the generation in the reply's closure: the stall ends when the fault changes.
        const quint64 stalledAt = generation;
        res.status = reply.status;
        const qint64 length = reply.generatedLength >= 0 ? reply.generatedLength : reply.body.size();
        const QByteArray head = reply.generatedLength >= 0 ? QByteArray() : reply.body.left(int(length / 2));
        res.set_content_provider(size_t(std::max<qint64>(length, 1)), reply.contentType,
            [this, head, length, stalledAt](size_t, size_t, httplib::DataSink &sink) {
                if (!head.isEmpty())
                    sink.write(head.constData(), size_t(head.size()));
                else if (length > 1) {
                    QByteArray part(int(std::min<qint64>(length / 2, BlobChunk)), '\0');
                    fillBlob(part.data(), 0, part.size());
                    sink.write(part.constData(), size_t(part.size()));
                }
                waitUntilReleased(stalledAt);
                return false;
            });
        return;
    }
    send(res, reply, activeFault);
}

// What the client should end up with, whatever the fault does to the way it travels.
void DeviceSimulator::Private::recordServed(
    const QByteArray &rawPath, const QByteArray &method, const SimReply &reply, Fault fault, int value)
{
    if (method != "GET" || reply.status != 200)
        return;
    QByteArray path = rawPath.startsWith(RedirectedPrefix) ? rawPath.mid(RedirectedPrefix.size()) : rawPath;
    path = path.left(path.indexOf('?') < 0 ? path.size() : path.indexOf('?'));
    QByteArray body;
    QByteArray md5;
    if (fault == Fault::Gzip && value > 0) {
        QCryptographicHash hash(QCryptographicHash::Md5);
        const QByteArray zeros(1 << 20, '\0');
        for (int i = 0; i < value; ++i)
            hash.addData(zeros);
        md5 = hash.result();
    } else {
        body = reply.piece(0, reply.length());
    }
    if (md5.isEmpty())
        md5 = QCryptographicHash::hash(body, QCryptographicHash::Md5);
    std::lock_guard<std::mutex> lock(mutex);
    QList<QByteArray> &digests = servedMd5[path];
    if (digests.contains(md5))
        return;
    digests.append(md5);
    if (!body.isEmpty() && body.size() <= servedBodyLimit)
        served[path].append(body);
}

void DeviceSimulator::Private::applyBodyFault(SimReply &reply, Fault fault, int value)
{
    if (reply.status != 200)
        return;
    if (fault == Fault::HugeBody) {
        reply.body.clear();
        reply.generatedLength = qint64(value) << 20;
    } else if (fault == Fault::Gzip) {
        const QByteArray zeros(1 << 20, '\0');
        reply.body = value > 0 ? gzipped(zeros, value) : gzipped(reply.piece(0, reply.length()), 1);
        reply.generatedLength = -1;
    }
}

// A piece every 100 ms, for as long as the client listens or until the simulator stops.
void DeviceSimulator::Private::trickle(httplib::Response &res, const SimReply &reply, int bytesPerSecond)
{
    res.status = reply.status;
    const qint64 step = std::max(1, bytesPerSecond / 10);
    res.set_content_provider(size_t(reply.length()), reply.contentType,
        [this, reply, step](size_t offset, size_t, httplib::DataSink &sink) {
            if (!sleepFor(100))
                return false;
            const qint64 left = reply.length() - qint64(offset);
            const QByteArray piece = reply.piece(qint64(offset), std::min(step, left));
            return sink.write(piece.constData(), size_t(piece.size()));
        });
}

void DeviceSimulator::Private::send(httplib::Response &res, const SimReply &reply, Fault fault)
{
    res.status = reply.status;
    if (fault == Fault::Gzip && reply.status == 200)
        res.set_header("Content-Encoding", "gzip");
    const qint64 length = reply.generatedLength >= 0 ? reply.generatedLength : reply.body.size();
    const qint64 cut = fault == Fault::DropHalfway ? length / 2 : length;
    if (reply.generatedLength < 0 && fault != Fault::DropHalfway) {
        res.set_content(reply.body.constData(), size_t(reply.body.size()), reply.contentType);
        return;
    }
    const QByteArray body = reply.body;
    const bool generated = reply.generatedLength >= 0;
    res.set_content_provider(size_t(length), reply.contentType,
        [body, generated, cut](size_t offset, size_t, httplib::DataSink &sink) {
            if (qint64(offset) >= cut)
                return false; // closes the connection short of the announced length
            const qint64 n = std::min<qint64>(BlobChunk, cut - qint64(offset));
            if (!generated)
                return sink.write(body.constData() + offset, size_t(n));
            char chunk[BlobChunk];
            fillBlob(chunk, qint64(offset), n);
            return sink.write(chunk, size_t(n));
        });
}

bool DeviceSimulator::Private::sleepFor(int milliseconds)
{
    std::unique_lock<std::mutex> lock(mutex);
    return !wake.wait_for(lock, std::chrono::milliseconds(milliseconds), [this] { return stopping; });
}

bool DeviceSimulator::Private::waitUntilReleased(quint64 generation)
{
    std::unique_lock<std::mutex> lock(mutex);
    wake.wait(lock, [this, generation] { return stopping || faultGeneration != generation; });
    return !stopping;
}

SimReply DeviceSimulator::Private::route(const Request &request)
{
    const QByteArray &method = request.method;
    const QByteArray rawPath = request.rawPath.startsWith(RedirectedPrefix)
        ? request.rawPath.mid(RedirectedPrefix.size())
        : request.rawPath;
    const QByteArray path = rawPath.left(rawPath.indexOf('?') < 0 ? rawPath.size() : rawPath.indexOf('?'));
    QList<QByteArray> segments;
    for (const QByteArray &segment : path.split('/'))
        segments.append(percentDecoded(segment.toStdString()));

    const bool get = method == "GET" || method == "HEAD";
    const QByteArray first = segments.value(0);
    const QByteArray second = segments.value(1);
    if (get && first == "user" && second == "login")
        return login(segments);
    if (get && first == "device" && second == "task_list")
        return taskList(segments);
    if (get && first == "device" && (second == "change_status" || second == "dele"))
        return SimReply { 200, "application/json", envelope(1, QVariantMap()), -1 };
    if (method == "POST" && path == "device/record")
        return record(request.body);
    if (method == "POST" && path == "upload_file2")
        return upload(request.parts);
    if (get && first == "files" && segments.size() == 3)
        return taskFile(segments);
    if (get && first == "blob" && segments.size() == 2)
        return SimReply { 200, "application/octet-stream", {}, std::max<qint64>(0, second.toLongLong()) };
    if (get) {
        std::lock_guard<std::mutex> lock(mutex);
        const auto file = files.constFind(path);
        if (file != files.constEnd())
            return SimReply { 200, "application/octet-stream", file.value(), -1 };
    }
    return SimReply { 404, "text/plain", "not found", -1 };
}

SimReply DeviceSimulator::Private::login(const QList<QByteArray> &segments)
{
    const QString username = QString::fromUtf8(segments.value(2));
    const QByteArray digest = segments.value(3);
    std::lock_guard<std::mutex> lock(mutex);
    const auto account = accounts.constFind(username);
    if (segments.size() == 4 && account != accounts.constEnd()) {
        const QByteArray expected
            = QCryptographicHash::hash(account.value().first.toUtf8(), QCryptographicHash::Md5).toHex();
        if (digest == expected) {
            const QVariantMap user { { "id", account.value().second }, { "username", username } };
            return SimReply { 200, "application/json", envelope(1, user, "登录成功"), -1 };
        }
    }
    return SimReply { 200, "application/json", envelope(0, QVariantList(), "用户名或密码错误"), -1 };
}

SimReply DeviceSimulator::Private::taskList(const QList<QByteArray> &segments)
{
    if (segments.size() != 4)
        return SimReply { 200, "application/json", envelope(0, QVariantList(), "参数错误"), -1 };
    const QDate day = QDate::fromString(QString::fromUtf8(segments.at(3)), "yyyy-MM-dd");
    return SimReply { 200, "application/json", envelope(1, tasks(day)), -1 };
}

QVariantList DeviceSimulator::Private::tasks(const QDate &day, int revisionAsked) const
{
    int count = 0;
    int revision = 0;
    {
        std::lock_guard<std::mutex> lock(mutex);
        count = tasksPerDay;
        revision = revisionAsked >= 0 ? revisionAsked : listRevision;
    }
    const qint64 distance = QDate::currentDate().daysTo(day);
    if (!day.isValid() || distance < -7 || distance > 7)
        return {};

    // A revision drops the last task of every other day and changes every piece count.
    if (revision > 0 && (day.toJulianDay() + revision) % 2 == 0)
        count = std::max(0, count - 1);
    const QString date = day.toString("yyyy-MM-dd");
    const QString stamp = day.toString("yyyyMMdd");
    QVariantList tasks;
    tasks.reserve(count);
    for (int i = 0; i < count; ++i) {
        const int mix = int(day.toJulianDay() % 97) + i;
        const QString number = QStringLiteral("%1-%2").arg(stamp).arg(i + 1, 2, 10, QLatin1Char('0'));
        const QString files = root() + "files/" + date + "/" + number;
        tasks.append(QVariantMap {
            { "task_num", number },
            { "buyer_address", Models.at(mix % Models.size()) },
            { "u_name", Customers.at(mix % Customers.size()) },
            { "create_time",
                QStringLiteral("%1 %2:%3:00")
                    .arg(date)
                    .arg(7 + i % 10, 2, 10, QLatin1Char('0'))
                    .arg((i * 7) % 60, 2, 10, QLatin1Char('0')) },
            { "name", Rooms.at(mix % Rooms.size()) },
            { "expand_area", 2.5 + (mix % 40) * 0.25 },
            { "piece", 4 + mix % 23 + revision },
            { "pdf", files + ".pdf" },
            { "nc_url", files + ".zip" },
        });
    }
    return tasks;
}

SimReply DeviceSimulator::Private::record(const QByteArray &body)
{
    const QByteArray encoded = body.startsWith("data=") ? body.mid(5) : body;
    const QByteArray json
        = QByteArray::fromStdString(httplib::detail::decode_url(encoded.toStdString(), true));
    const QJsonDocument document = QJsonDocument::fromJson(json);
    if (!document.isObject())
        return SimReply { 200, "application/json", envelope(0, QVariantMap(), "数据格式错误"), -1 };
    const QVariantMap device = document.object().toVariantMap();
    std::lock_guard<std::mutex> lock(mutex);
    recordList.append(device);
    return SimReply { 200, "application/json", envelope(1, device, "设置成功"), -1 };
}

SimReply DeviceSimulator::Private::upload(const QList<Part> &parts)
{
    UploadedFile uploaded;
    bool haveFile = false;
    for (const Part &part : parts) {
        if (part.name == "file") {
            uploaded.fileName = part.fileName;
            uploaded.content = part.content;
            haveFile = true;
        } else if (part.name == "path") {
            uploaded.path = part.content;
        } else if (part.name == "token") {
            uploaded.token = part.content;
        }
    }

    std::lock_guard<std::mutex> lock(mutex);
    if (haveFile)
        uploadList.append(uploaded);
    if (uploadResult != 0) {
        const QVariantMap failure { { "result", uploadResult }, { "error", uploadError } };
        return SimReply { 200, "application/json", jsonBytes(failure), -1 };
    }
    const QByteArray md5 = QCryptographicHash::hash(uploaded.content, QCryptographicHash::Md5).toBase64();
    const QVariantMap success { { "result", 0 },
        { "data", QVariantMap { { "file_md5", QString::fromLatin1(md5) } } } };
    return SimReply { 200, "application/json", jsonBytes(success), -1 };
}

SimReply DeviceSimulator::Private::taskFile(const QList<QByteArray> &segments)
{
    const QString name = QString::fromUtf8(segments.at(2));
    const QString number = name.section('.', 0, 0);
    int revision = 0;
    {
        std::lock_guard<std::mutex> lock(mutex);
        revision = fileRevision;
    }
    const QString version = revision > 0 ? QStringLiteral(" r%1").arg(revision) : QString();
    if (name.endsWith(".pdf"))
        return SimReply { 200, "application/pdf",
            DeviceSimulator::makePdf("Panel labels " + number + version), -1 };
    if (!name.endsWith(".zip"))
        return SimReply { 404, "text/plain", "not found", -1 };

    QList<QPair<QString, QByteArray>> entries;
    for (int part = 1; part <= 3; ++part) {
        QByteArray program = "(" + number.toUtf8() + " panel " + QByteArray::number(part) + version.toUtf8()
            + ")\n"
              "G21 G90 G17\nG0 X0 Y0 Z5\nM3 S18000\n";
        for (int pass = 0; pass < 4; ++pass)
            program += "G1 X" + QByteArray::number(100 * part + pass * 10) + " Y"
                + QByteArray::number(50 * pass) + " Z-18 F6000\n";
        program += "G0 Z5\nM5\nM30\n";
        entries.append({ QStringLiteral("panel-%1.nc").arg(part), program });
    }
    return SimReply { 200, "application/zip", DeviceSimulator::makeZip(entries), -1 };
}
