#include "krestservice.h"

#include <QCoreApplication>
#include <QCryptographicHash>
#include <QDateTime>
#include <QDebug>
#include <QDir>
#include <QEventLoop>
#include <QFile>
#include <QFileInfo>
#include <QJsonDocument>
#include <QJsonParseError>
#include <QMetaEnum>
#include <QMutexLocker>
#include <QNetworkRequest>
#include <QRandomGenerator>
#include <QSaveFile>

#include <limits>

namespace {

const QString fileScheme = QStringLiteral("file:///");
const QString fileFieldMarker = QStringLiteral("$file$");
const QString noChecksum = QStringLiteral("none");
const QString uploadPath = QStringLiteral("upload_file2");
const QString failed = QStringLiteral("false");

// What a download lets the network thread hold ahead of the buffer: bounds the memory beyond
// the body when the disk is slower than the network.
const qint64 downloadReadBufferSize = 4 << 20;

// A QByteArray cannot hold more than this; larger bodies are refused instead of crashing.
const qint64 maxBodySize = std::numeric_limits<int>::max() - (1 << 20);

QString withoutFileScheme(const QString &path)
{
    return path.startsWith(fileScheme) ? path.mid(fileScheme.size()) : path;
}

// Paths may come from Windows, so both separators end a directory.
int lastSeparator(const QString &path)
{
    return qMax(path.lastIndexOf(QLatin1Char('/')), path.lastIndexOf(QLatin1Char('\\')));
}

QString fileNameOf(const QString &path)
{
    return path.mid(lastSeparator(path) + 1);
}

// Creates the directory part of filePath with all missing levels and returns the levels it
// made, outermost first. "name" and "/name" have no directory of their own.
QStringList createParentDirs(const QString &filePath)
{
    QString unified = filePath;
    unified.replace(QLatin1Char('\\'), QLatin1Char('/'));
    const int slash = unified.lastIndexOf(QLatin1Char('/'));
    if (slash <= 0)
        return QStringList();

    QStringList missing;
    QString level = QDir::cleanPath(QDir::current().absoluteFilePath(unified.left(slash)));
    while (!QFileInfo::exists(level)) {
        missing.prepend(level);
        const QString parent = QFileInfo(level).path();
        if (parent == level)
            break;
        level = parent;
    }
    QDir().mkpath(unified.left(slash));
    return missing;
}

void removeDirs(const QStringList &outermostFirst)
{
    for (auto it = outermostFirst.crbegin(); it != outermostFirst.crend(); ++it)
        QDir().rmdir(*it);
}

QString errorDescription(QNetworkReply::NetworkError err)
{
    switch (err) {
    case QNetworkReply::ConnectionRefusedError:
        return QStringLiteral("服务器拒绝本次请求");
    case QNetworkReply::RemoteHostClosedError:
        return QStringLiteral("服务器响应故障");
    case QNetworkReply::TimeoutError:
        return QStringLiteral("请求超时");
    case QNetworkReply::NetworkSessionFailedError:
        return QStringLiteral("登录失效");
    case QNetworkReply::UnknownContentError:
        return QStringLiteral("无效的网络请求");
    default:
        return QStringLiteral("服务器异常") + QString::number(int(err));
    }
}

QByteArray errorName(QNetworkReply::NetworkError err)
{
    return QMetaEnum::fromType<QNetworkReply::NetworkError>().valueToKey(err);
}

// Quotes and line breaks would end the header field early, so they travel percent-encoded.
QString escapedFieldName(const QString &name)
{
    QString escaped = name;
    escaped.replace(QLatin1Char('"'), QLatin1String("%22"));
    escaped.replace(QLatin1Char('\r'), QLatin1String("%0D"));
    escaped.replace(QLatin1Char('\n'), QLatin1String("%0A"));
    return escaped;
}

QByteArray drawBoundary(QRandomGenerator &random)
{
    const int r1 = int(random.generate() >> 1);
    const int r2 = int(random.generate() >> 1);
    const int r3 = int(random.generate() >> 1);
    const QByteArray fence(14, '=');
    return fence + QString::asprintf("%d%d%d", r3, r2, r1).toLocal8Bit() + fence;
}

// The body left in a reply; a reply closed by an abort has none.
QByteArray remainingBytes(QNetworkReply *reply)
{
    return reply->isReadable() ? reply->readAll() : QByteArray();
}

// The announced body length, or -1 when it is unknown or describes an encoded body.
qint64 announcedLength(QNetworkReply *reply)
{
    const QByteArray encoding = reply->rawHeader("Content-Encoding").trimmed().toLower();
    if (!encoding.isEmpty() && encoding != "identity")
        return -1;
    const QVariant length = reply->header(QNetworkRequest::ContentLengthHeader);
    return length.isValid() ? length.toLongLong() : -1;
}

} // namespace

KRESTService::KRESTService(QObject *parent)
    : QNetworkAccessManager(parent)
{
    qRegisterMetaType<QNetworkReply::NetworkError>("QNetworkReply::NetworkError");
    setTransferTimeout(defaultTransferTimeout);
}

KRESTService::~KRESTService() = default;

QString KRESTService::load(const QString &member) const
{
    QMutexLocker locker(&m_lock);
    return member;
}

bool KRESTService::store(QString &member, const QString &value)
{
    QMutexLocker locker(&m_lock);
    if (member == value)
        return false;
    member = value;
    return true;
}

QString KRESTService::serverRoot() const
{
    return load(m_serverRoot);
}

// The change signals go out after the lock is released, so their receivers may read back.
void KRESTService::setServerRoot(const QString &serverRoot)
{
    if (store(m_serverRoot, serverRoot))
        emit serverRootChanged();
}

QString KRESTService::localRoot() const
{
    return load(m_localRoot);
}

void KRESTService::setLocalRoot(const QString &localRoot)
{
    if (store(m_localRoot, localRoot))
        emit localRootChanged();
}

QString KRESTService::constParams() const
{
    return load(m_constParams);
}

void KRESTService::setConstParams(const QString &constParams)
{
    if (store(m_constParams, constParams))
        emit constParamsChanged();
}

QUrl KRESTService::composeUrl(const QString &path)
{
    QString text = path;
    if (!text.startsWith(QLatin1String("http")))
        text.prepend(m_serverRoot);
    // The constant parameters are meant for one request only.
    if (!m_constParams.isEmpty()) {
        text += QLatin1Char('?') + m_constParams;
        m_constParams.clear();
    }
    return QUrl(text, QUrl::TolerantMode);
}

QNetworkRequest KRESTService::makeRequest(const QUrl &url) const
{
    QNetworkRequest request(url);
    request.setTransferTimeout(transferTimeout());
    return request;
}

QNetworkReply *KRESTService::watch(QNetworkReply *reply)
{
    connect(
        reply, SIGNAL(error(QNetworkReply::NetworkError)), this, SLOT(onError(QNetworkReply::NetworkError)));
    return reply;
}

QNetworkReply *KRESTService::headData(const QString &path, const QString &simpleParams)
{
    const QString target = simpleParams.isEmpty() ? path : path + QLatin1Char('?') + simpleParams;
    const QUrl url = composeUrl(target);
    qDebug().noquote().nospace() << "headData http request: " << url.path(QUrl::FullyDecoded);
    return watch(head(makeRequest(url)));
}

QNetworkReply *KRESTService::getData(const QString &path, const QString &simpleParams)
{
    const QString target = simpleParams.isEmpty() ? path : path + QLatin1Char('/') + simpleParams;
    const QUrl url = composeUrl(target);
    qDebug().noquote().nospace() << "getData http request: " << url.path(QUrl::FullyDecoded);
    return watch(get(makeRequest(url)));
}

QNetworkReply *KRESTService::getData(const QString &path, const QVariantMap &params)
{
    QString joined;
    for (auto it = params.cbegin(); it != params.cend(); ++it)
        joined += QLatin1Char('/') + it.value().toString();
    return getData(path, joined);
}

QNetworkReply *KRESTService::postData(const QString &path, const QByteArray &body, const QString &contentType)
{
    const QUrl url = composeUrl(path);
    const QString shownPath = url.path(QUrl::FullyDecoded);
    if (body.size() > 999)
        qDebug().noquote().nospace() << "REST POST : " << shownPath << ' ' << body.size() << " BYTES";
    else
        qDebug().noquote().nospace() << "REST POST : " << shownPath << ' ' << body;

    QNetworkRequest request = makeRequest(url);
    request.setHeader(QNetworkRequest::ContentTypeHeader, contentType);
    request.setHeader(QNetworkRequest::ContentLengthHeader, body.size());
    return watch(post(request, body));
}

QNetworkReply *KRESTService::postJson(const QString &path, const QString &content)
{
    return postData(path, content.toUtf8(), QStringLiteral("application/json"));
}

QNetworkReply *KRESTService::postJson(const QString &path, const QVariantMap &data)
{
    return postData(path, toJsonBytes(QVariant(data)), QStringLiteral("application/json"));
}

QNetworkReply *KRESTService::postForm(const QString &path, const QString &formdata)
{
    return postData(path, formdata.toUtf8(), QStringLiteral("application/x-www-form-urlencoded"));
}

// Keys and values are percent-encoded so that "&", "=", "+" and spaces stay inside their field.
QNetworkReply *KRESTService::postForm(const QString &path, const QVariantMap &data)
{
    QByteArrayList pairs;
    for (auto it = data.cbegin(); it != data.cend(); ++it)
        pairs << QUrl::toPercentEncoding(it.key()) + '=' + QUrl::toPercentEncoding(it.value().toString());
    return postData(path, pairs.join('&'), QStringLiteral("application/x-www-form-urlencoded"));
}

QNetworkReply *KRESTService::postMultipart(const QString &path, const QVariantMap &data)
{
    // Seeded per call from the clock, so the boundary is reproducible within one second.
    const quint32 seed = quint32(QDateTime::currentSecsSinceEpoch());
    QRandomGenerator random(seed);
    QByteArray boundary = drawBoundary(random);
    QByteArray body = multipartBody(data, boundary);
    // Each delimiter holds the boundary once; any further occurrence comes from the content.
    while (body.count(boundary) != data.size() + 1) {
        body.clear();
        boundary = drawBoundary(random);
        body = multipartBody(data, boundary);
    }
    const QString contentType
        = QStringLiteral("multipart/form-data; boundary=") + QString::fromLocal8Bit(boundary);
    return postData(path, body, contentType);
}

QByteArray KRESTService::multipartBody(const QVariantMap &data, const QByteArray &boundary)
{
    int expectedSize = 0;
    for (auto it = data.cbegin(); it != data.cend(); ++it)
        expectedSize += boundary.size() + it.key().size() * 3 + it.value().toByteArray().size() + 128;

    QByteArray body;
    body.reserve(expectedSize + boundary.size() + 8);
    for (auto it = data.cbegin(); it != data.cend(); ++it) {
        body += "--" + boundary + "\r\n";
        appendFormDataPart(body, it.key(), it.value());
        body += "\r\n";
    }
    body += "--" + boundary + "--\r\n";
    return body;
}

QByteArray KRESTService::formDataPart(const QString &key, const QVariant &value)
{
    QByteArray part;
    appendFormDataPart(part, key, value);
    return part;
}

// Appends in place, so a file's content is copied once, straight into the body.
void KRESTService::appendFormDataPart(QByteArray &body, const QString &key, const QVariant &value)
{
    const bool isFile = key.startsWith(fileFieldMarker);
    QString header = QStringLiteral("Content-Disposition: form-data; name=");
    if (isFile)
        header += QStringLiteral("\"file\"; filename=\"") + escapedFieldName(key.mid(fileFieldMarker.size()))
            + QLatin1Char('"');
    else
        header += QLatin1Char('"') + escapedFieldName(key) + QLatin1Char('"');
    header += QStringLiteral("\r\nContent-Transfer-Encoding: 8bit\r\n\r\n");

    body += header.toLocal8Bit();
    body += isFile ? value.toByteArray() : value.toString().toUtf8();
}

void KRESTService::waitForReply(QNetworkReply *reply)
{
    // A finished reply will not signal again; waiting for it would never end.
    if (!reply || reply->isFinished())
        return;
    QEventLoop loop;
    connect(reply, &QNetworkReply::finished, &loop, &QEventLoop::quit);
    if (QCoreApplication *app = QCoreApplication::instance())
        connect(app, &QCoreApplication::aboutToQuit, &loop, &QEventLoop::quit);
    loop.exec(QEventLoop::AllEvents);
}

QString KRESTService::waitForText(QNetworkReply *reply)
{
    waitForReply(reply);
    QByteArray bytes = remainingBytes(reply);
    const int nul = bytes.indexOf('\0');
    if (nul >= 0)
        bytes.truncate(nul);
    const QString text = QString::fromUtf8(bytes);
    qDebug().noquote().nospace() << "REST RESULT : " << text;
    return text;
}

QByteArray KRESTService::waitForBytes(QNetworkReply *reply)
{
    waitForReply(reply);
    return remainingBytes(reply);
}

QVariantMap KRESTService::waitForJsonMap(QNetworkReply *reply)
{
    waitForReply(reply);
    return readJsonMap(reply);
}

QVariantMap KRESTService::readJsonMap(QNetworkReply *reply)
{
    QJsonParseError error;
    const QJsonDocument document = QJsonDocument::fromJson(remainingBytes(reply), &error);
    if (error.error != QJsonParseError::NoError) {
        qDebug().noquote() << error.errorString();
        return QVariantMap();
    }
    return document.toVariant().toMap();
}

QJsonObject KRESTService::waitForJsonObject(QNetworkReply *reply)
{
    waitForReply(reply);
    return QJsonDocument::fromJson(remainingBytes(reply)).object();
}

QVariant KRESTService::parseJson(const QString &text)
{
    if (text.isEmpty())
        return QVariant();
    QJsonParseError error;
    const QJsonDocument document = QJsonDocument::fromJson(text.toUtf8(), &error);
    if (error.error != QJsonParseError::NoError) {
        qDebug().noquote().nospace() << "JSON ERROR: " << error.errorString() << "\n & json is: " << text;
        return QVariant();
    }
    return document.toVariant();
}

QByteArray KRESTService::toJsonBytes(const QVariant &value)
{
    if (!value.isValid())
        return QByteArray();
    return QJsonDocument::fromVariant(value).toJson(QJsonDocument::Compact);
}

QString KRESTService::md5Base64(const QByteArray &data)
{
    return QString::fromLatin1(QCryptographicHash::hash(data, QCryptographicHash::Md5).toBase64());
}

void KRESTService::onError(QNetworkReply::NetworkError err)
{
    if (auto *reply = qobject_cast<QNetworkReply *>(sender())) {
        const QString url = reply->url().toString();
        qDebug().noquote().nospace() << "error request: " << url;
        qDebug().noquote() << remainingBytes(reply);
        if (url.isEmpty())
            return;
    }
    qDebug().noquote() << errorDescription(err);
}

QString KRESTService::getCommand(const QString &path, const QString &simpleParams)
{
    return waitForText(getData(path, simpleParams));
}

QString KRESTService::postJsonCommand(const QString &path, const QString &content)
{
    return waitForText(postJson(path, content));
}

QString KRESTService::postFormCommand(const QString &path, const QString &formdata)
{
    return waitForText(postForm(path, formdata));
}

bool KRESTService::checkFile(const QString &remotePath)
{
    QNetworkReply *reply = headData(remotePath, QString());
    waitForReply(reply);
    if (reply->isFinished() && reply->error() == QNetworkReply::NoError)
        return true;
    qDebug().noquote().nospace() << "file not found: " << errorName(reply->error()) << ' ' << remotePath;
    return false;
}

// Collects the body as it arrives into one buffer sized from Content-Length and writes each
// new piece from that buffer to the file at once, so that the disk keeps pace with the
// network. Tells whether every piece was written.
bool KRESTService::receiveBody(QNetworkReply *reply, QByteArray &body, QSaveFile &file)
{
    bool written = true;
    auto reserve = [reply, &body]() {
        const qint64 length = announcedLength(reply);
        if (length > maxBodySize)
            reply->abort();
        else if (length > body.capacity())
            body.reserve(int(length));
    };
    auto take = [reply, &body, &file, &written]() {
        const qint64 available = reply->bytesAvailable();
        if (available <= 0 || !written)
            return;
        if (body.size() + available > maxBodySize) {
            reply->abort();
            return;
        }
        const int oldSize = body.size();
        body.resize(oldSize + int(available));
        const qint64 got = qMax<qint64>(reply->read(body.data() + oldSize, available), 0);
        body.resize(oldSize + int(got));
        if (file.write(body.constData() + oldSize, got) != got) {
            written = false;
            reply->abort();
        }
    };

    const QMetaObject::Connection onHeaders = connect(reply, &QNetworkReply::metaDataChanged, reply, reserve);
    const QMetaObject::Connection onData = connect(reply, &QIODevice::readyRead, reply, take);
    reserve();
    take();
    waitForReply(reply);
    take();
    disconnect(onHeaders);
    disconnect(onData);
    if (!written)
        qDebug().noquote().nospace() << "cannot write " << file.fileName() << ": " << file.errorString();
    return written;
}

// Whether the reply ended complete and successful, with all of the announced body in body.
bool KRESTService::transferComplete(QNetworkReply *reply, const QByteArray &body)
{
    const QString url = reply->url().toString();
    if (!reply->isFinished()) {
        qDebug().noquote().nospace() << "download interrupted: " << url;
        return false;
    }
    // Transport and HTTP errors have been logged by onError.
    if (reply->error() != QNetworkReply::NoError)
        return false;
    const QVariant status = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute);
    if (status.isValid() && status.toInt() / 100 != 2) {
        qDebug().noquote().nospace() << "download refused: " << url << " HTTP " << status.toInt();
        return false;
    }
    const qint64 expected = announcedLength(reply);
    if (expected >= 0 && expected != body.size()) {
        qDebug().noquote().nospace() << "download incomplete: " << url << ' ' << body.size() << " of "
                                     << expected << " BYTES";
        return false;
    }
    return true;
}

// The body goes into a QSaveFile beside the destination, which replaces the destination
// only once the whole body has arrived and passed its check. On any failure the
// destination stays as it was and the directories made for it are removed again.
bool KRESTService::downloadFile(const QString &src, const QString &dst, const QString &md5)
{
    const QString path = withoutFileScheme(dst);
    const QStringList madeDirs = createParentDirs(path);
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly)) {
        qDebug().noquote().nospace() << "cannot write " << path << ": " << file.errorString();
        removeDirs(madeDirs);
        return false;
    }

    QByteArray body;
    QNetworkReply *reply = getData(src, QString());
    reply->setReadBufferSize(downloadReadBufferSize);
    bool saved = receiveBody(reply, body, file) && transferComplete(reply, body);
    if (saved && md5 != noChecksum && md5Base64(body).compare(md5, Qt::CaseInsensitive) != 0) {
        qDebug() << "md5校验出错";
        saved = false;
    }
    if (saved && !file.commit()) {
        qDebug().noquote().nospace() << "cannot write " << path << ": " << file.errorString();
        saved = false;
    }
    if (!saved) {
        // Discards the temporary file now: on Windows it has a name in the new folder,
        // which could not be removed while it is there.
        file.cancelWriting();
        file.commit();
        removeDirs(madeDirs);
    }
    return saved;
}

QString KRESTService::uploadFile(const QString &src, const QString &dst, const QString &token)
{
    const QString path = withoutFileScheme(src);
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        qDebug().noquote().nospace() << "cannot read " << path << ": " << file.errorString();
        return failed;
    }
    const QByteArray content = file.readAll();
    if (file.error() != QFileDevice::NoError) {
        qDebug().noquote().nospace() << "cannot read " << path << ": " << file.errorString();
        return failed;
    }
    file.close();

    QVariantMap form;
    form.insert(QStringLiteral("path"), dst);
    form.insert(QStringLiteral("token"), token);
    form.insert(fileFieldMarker + fileNameOf(src), content);
    QNetworkReply *reply = postMultipart(uploadPath, form);
    const QByteArray answer = waitForBytes(reply);
    if (!reply->isFinished() || answer.isEmpty())
        return failed;

    const QJsonObject object = QJsonDocument::fromJson(answer).object();
    if (object.value(QStringLiteral("result")).toInt(0) != 0) {
        qDebug().noquote() << object.value(QStringLiteral("error")).toString();
        return failed;
    }
    const QString storedMd5
        = object.value(QStringLiteral("data")).toObject().value(QStringLiteral("file_md5")).toString();
    if (md5Base64(content).compare(storedMd5, Qt::CaseInsensitive) != 0) {
        qDebug() << "md5校验出错";
        return failed;
    }
    return storedMd5;
}
