#include "rest/krestservice.h"

#include "core/diskspace.h"
#include "core/localpath.h"
#include "core/localwait.h"
#include "core/proxycredentials.h"
#include "core/tracelog.h"
#include "rest/downloadreceiver.h"
#include "rest/downloadsink.h"
#include "rest/restlog.h"

#include <QCryptographicHash>
#include <QDateTime>
#include <QDebug>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonDocument>
#include <QJsonParseError>
#include <QMetaEnum>
#include <QMutexLocker>
#include <QNetworkRequest>
#include <QRandomGenerator>

#include <limits>

namespace {

const QString fileFieldMarker = QStringLiteral("$file$");
const QString noChecksum = QStringLiteral("none");
const QString uploadPath = QStringLiteral("upload_file2");
const QString failed = QStringLiteral("false");

// What a download lets the network thread hold ahead of the buffer: bounds the memory beyond
// the body when the disk is slower than the network.
const qint64 downloadReadBufferSize = 4 << 20;

// A multipart body is one QByteArray, which cannot hold more than this.
const qint64 maxBodySize = std::numeric_limits<int>::max() - (1 << 20);

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

// Reads all of path into content. A file too large for the multipart body, or one that
// gives fewer bytes than its size, is not read at all or not trusted.
bool readWhole(const QString &path, QByteArray &content)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        qCWarning(restLog).noquote().nospace() << "cannot read " << path << ": " << file.errorString();
        return false;
    }
    const qint64 size = file.size();
    if (size > maxBodySize) {
        qCWarning(restLog).noquote().nospace()
            << "cannot upload " << path << ": " << size << " BYTES is too large";
        return false;
    }
    content = file.readAll();
    if (file.error() != QFileDevice::NoError || content.size() != size) {
        qCWarning(restLog).noquote().nospace() << "cannot read " << path << ": " << file.errorString() << ", "
                                               << content.size() << " of " << size << " BYTES";
        return false;
    }
    return true;
}

} // namespace

KRESTService::KRESTService(QObject *parent)
    : QNetworkAccessManager(parent)
{
    qRegisterMetaType<QNetworkReply::NetworkError>("QNetworkReply::NetworkError");
    setTransferTimeout(taskFileIdleTimeout);
    setRedirectPolicy(QNetworkRequest::NoLessSafeRedirectPolicy);
    // Certificate errors are never ignored: they are only remembered to say why.
    connect(this, &QNetworkAccessManager::sslErrors, this, &KRESTService::rememberCertificateProblem);
    ProxyCredentials::watch(this);
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

QNetworkRequest KRESTService::makeRequest(const QUrl &url, const QByteArray &acceptEncoding) const
{
    QNetworkRequest request(url);
    request.setTransferTimeout(transferTimeout());
    if (!acceptEncoding.isEmpty())
        request.setRawHeader("Accept-Encoding", acceptEncoding);
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
    qCDebug(traceLog).noquote().nospace() << "headData http request: " << url.path(QUrl::FullyDecoded);
    return watch(head(makeRequest(url)));
}

QNetworkReply *KRESTService::getData(const QString &path, const QString &simpleParams)
{
    return getData(path, simpleParams, QByteArray());
}

QNetworkReply *KRESTService::getData(
    const QString &path, const QString &simpleParams, const QByteArray &acceptEncoding)
{
    const QString target = simpleParams.isEmpty() ? path : path + QLatin1Char('/') + simpleParams;
    const QUrl url = composeUrl(target);
    qCDebug(traceLog).noquote().nospace() << "getData http request: " << url.path(QUrl::FullyDecoded);
    return watch(get(makeRequest(url, acceptEncoding)));
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
        qCDebug(traceLog).noquote().nospace()
            << "REST POST : " << shownPath << ' ' << body.size() << " BYTES";
    else
        qCDebug(traceLog).noquote().nospace() << "REST POST : " << shownPath << ' ' << body;

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
    // No deadline of its own: the inactivity time-out ends a stalled transfer.
    LocalWait::until(reply, &QNetworkReply::finished);
}

QString KRESTService::waitForText(QNetworkReply *reply)
{
    waitForReply(reply);
    QByteArray bytes = remainingBytes(reply);
    const int nul = bytes.indexOf('\0');
    if (nul >= 0)
        bytes.truncate(nul);
    const QString text = QString::fromUtf8(bytes);
    qCDebug(traceLog).noquote().nospace() << "REST RESULT : " << text;
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
        qCDebug(restLog).noquote() << error.errorString();
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
        qCDebug(restLog).noquote().nospace()
            << "JSON ERROR: " << error.errorString() << "\n & json is: " << text;
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

const KRESTService::DownloadReport &KRESTService::lastDownload() const
{
    return m_lastDownload;
}

void KRESTService::rememberCertificateProblem(QNetworkReply *reply, const QList<QSslError> &errors)
{
    QStringList reasons;
    for (const QSslError &error : errors)
        reasons << error.errorString();
    m_lastDownload.certificateProblem = reasons.join(QStringLiteral("; "));
    qCWarning(restLog).noquote().nospace()
        << "certificate of " << reply->url().host() << " refused: " << m_lastDownload.certificateProblem;
}

qint64 KRESTService::minimumRate() const
{
    return m_minimumRate;
}

int KRESTService::rateWindow() const
{
    return m_rateWindow;
}

void KRESTService::setRateFloor(qint64 bytesPerSecond, int windowMs)
{
    m_minimumRate = bytesPerSecond;
    m_rateWindow = windowMs;
}

qint64 KRESTService::diskReserve() const
{
    return m_diskReserve;
}

void KRESTService::setDiskReserve(qint64 bytes)
{
    m_diskReserve = bytes;
}

void KRESTService::setKeepReplacedAt(const QString &path)
{
    m_keepReplacedAt = path;
}

void KRESTService::setUnchangedSha256(const QByteArray &sha256)
{
    m_unchangedSha256 = sha256;
}

void KRESTService::setExpectedSignature(const QByteArray &signature)
{
    m_expectedSignature = signature;
}

QString KRESTService::md5Base64(const QByteArray &data)
{
    return QString::fromLatin1(QCryptographicHash::hash(data, QCryptographicHash::Md5).toBase64());
}

void KRESTService::onError(QNetworkReply::NetworkError err)
{
    if (auto *reply = qobject_cast<QNetworkReply *>(sender())) {
        const QString url = reply->url().toString();
        qCDebug(restLog).noquote().nospace() << "error request: " << url;
        qCDebug(restLog).noquote() << remainingBytes(reply);
        if (url.isEmpty())
            return;
    }
    qCDebug(restLog).noquote() << errorDescription(err);
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
    qCDebug(restLog).noquote().nospace()
        << "file not found: " << errorName(reply->error()) << ' ' << remotePath;
    return false;
}

// The receiving, step by step, is DownloadReceiver's.
KRESTService::DownloadResult KRESTService::receiveBody(QNetworkReply *reply, DownloadSink &sink)
{
    const DownloadReceiver::Limits limits { maxDownloadSize,
        DiskSpace::spareBytes(sink.fileName(), m_diskReserve), m_minimumRate, m_rateWindow };
    DownloadReceiver receiver(reply, sink, limits);
    connect(&receiver, &DownloadReceiver::progress, this, &KRESTService::downloadProgress);
    return receiver.receive();
}

// The body goes into a QSaveFile beside the destination, which replaces the destination
// only once the whole body has arrived, has been written and synced, and passed its check.
// On any failure the destination stays as it was and the directories made for it are
// removed again.
bool KRESTService::downloadFile(const QString &src, const QString &dst, const QString &md5)
{
    const QString path = LocalPath::fromFileUrl(dst);
    const QStringList madeDirs = createParentDirs(path);
    m_lastDownload = DownloadReport();
    DownloadSink sink(path, md5 != noChecksum);
    DownloadResult result = DownloadResult::CannotWrite;
    if (sink.open()) {
        // Asking for gzip ourselves keeps Qt from inflating the body, which it would do in
        // memory, whole pieces at a time; the sink inflates it block by block instead.
        QNetworkReply *reply = getData(src, QString(), "gzip");
        reply->setReadBufferSize(downloadReadBufferSize);
        result = receiveBody(reply, sink);
    } else {
        qCWarning(restLog).noquote().nospace() << "cannot write " << path << ": " << sink.errorString();
    }
    if (result == DownloadResult::Saved && md5 != noChecksum
        && QString::fromLatin1(sink.md5().toBase64()).compare(md5, Qt::CaseInsensitive) != 0) {
        qCDebug(restLog) << "md5校验出错";
        result = DownloadResult::ChecksumMismatch;
    }
    if (result == DownloadResult::Saved && !m_expectedSignature.isEmpty()
        && !sink.head().contains(m_expectedSignature)) {
        qCWarning(restLog).noquote().nospace()
            << "download refused: " << path << " is not the file asked for, its body lacks \""
            << QString::fromLatin1(m_expectedSignature) << "\"";
        result = DownloadResult::UnexpectedContent;
    }
    // The same body again replaces nothing, so nothing is set aside for it either.
    if (result == DownloadResult::Saved && !m_unchangedSha256.isEmpty() && sink.sha256() == m_unchangedSha256
        && QFileInfo::exists(path)) {
        result = DownloadResult::Unchanged;
        sink.cancel();
    }
    if (result == DownloadResult::Saved && !sink.commit(m_keepReplacedAt)) {
        qCWarning(restLog).noquote().nospace() << "cannot write " << path << ": " << sink.errorString();
        result = sink.failure();
    }
    const bool saved = result == DownloadResult::Saved || result == DownloadResult::Unchanged;
    if (!saved) {
        sink.cancel();
        removeDirs(madeDirs);
    } else {
        m_lastDownload.size = sink.size();
        m_lastDownload.sha256 = sink.sha256();
    }
    m_lastDownload.result = result;
    m_lastDownload.keptReplaced = sink.keptReplaced();
    return saved;
}

QString KRESTService::uploadFile(const QString &src, const QString &dst, const QString &token)
{
    QByteArray content;
    if (!readWhole(LocalPath::fromFileUrl(src), content))
        return failed;

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
        qCDebug(restLog).noquote() << object.value(QStringLiteral("error")).toString();
        return failed;
    }
    const QString storedMd5
        = object.value(QStringLiteral("data")).toObject().value(QStringLiteral("file_md5")).toString();
    if (md5Base64(content).compare(storedMd5, Qt::CaseInsensitive) != 0) {
        qCDebug(restLog) << "md5校验出错";
        return failed;
    }
    return storedMd5;
}
