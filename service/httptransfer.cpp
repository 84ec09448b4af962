#include "service/httptransfer.h"

#include "core/localpath.h"
#include "core/tracelog.h"
#include "rest/krestservice.h"
#include "service/archiveunpacker.h"
#include "service/dataparse.h"
#include "service/folderopener.h"
#include "service/network.h"
#include "service/safefilename.h"
#include "service/servicelog.h"
#include "service/setting.h"

#include <QDebug>
#include <QDir>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QMetaEnum>
#include <QScopeGuard>
#include <QSet>
#include <QUrl>

namespace {

Network *defaultClient()
{
    return Network::getInstance(QStringLiteral("defalut"));
}

// Each value becomes exactly one path segment: "/", "?", "#", "%" and spaces are escaped
// so that they reach the service as part of the value.
QString pathSegment(const QVariant &value)
{
    return QString::fromLatin1(QUrl::toPercentEncoding(value.toString()));
}

// Files and folders that a running downloadNcFile is writing. The fetch waits in a local
// event loop that still delivers clicks, so a second request for the same file can arrive
// before the first has finished.
QSet<QString> &filesInUse()
{
    static QSet<QString> inUse;
    return inUse;
}

QStringList claimKeys(const QStringList &paths)
{
    QStringList keys;
    for (const QString &path : paths) {
        if (!path.isEmpty())
            keys << QDir::cleanPath(QFileInfo(path).absoluteFilePath());
    }
    return keys;
}

bool isWebAddress(const QString &address)
{
    const QString scheme = QUrl(address).scheme().toLower();
    return scheme == QLatin1String("http") || scheme == QLatin1String("https");
}

} // namespace

HttpTransfer::HttpTransfer()
    : QObject(nullptr)
{ }

ErrorInfo HttpTransfer::lastError() const
{
    return m_lastError;
}

HttpTransfer::FetchResult HttpTransfer::lastFetchResult() const
{
    return m_fetchResult;
}

KRESTService::DownloadResult HttpTransfer::lastDownloadResult() const
{
    return m_downloadResult;
}

ArchiveUnpacker::Result HttpTransfer::lastUnpackResult() const
{
    return m_unpackResult;
}

QString HttpTransfer::lastCertificateProblem() const
{
    return m_certificateProblem;
}

qint64 HttpTransfer::lastFileSize() const
{
    return m_fileSize;
}

QByteArray HttpTransfer::lastFileSha256() const
{
    return m_fileSha256;
}

// The three results in their own names, for the log: "Fetched Saved Unpacked".
QString HttpTransfer::lastOutcome() const
{
    QStringList words { QLatin1String(QMetaEnum::fromType<FetchResult>().valueToKey(int(m_fetchResult))) };
    if (m_fetchResult == FetchResult::Fetched || m_fetchResult == FetchResult::DownloadFailed)
        words << QLatin1String(
            QMetaEnum::fromType<KRESTService::DownloadResult>().valueToKey(int(m_downloadResult)));
    if (m_unpackResult != ArchiveUnpacker::Result::NotAnArchive
        || m_fetchResult == FetchResult::NothingToFetch)
        words << QLatin1String(
            QMetaEnum::fromType<ArchiveUnpacker::Result>().valueToKey(int(m_unpackResult)));
    return words.join(QLatin1Char(' '));
}

QVariantMap HttpTransfer::login(QVariantMap iDataMap)
{
    return toReplyMap(sendPath(QStringLiteral("user/login/%1/%2"), iDataMap,
        { QStringLiteral("username"), QStringLiteral("password") }));
}

QVariantMap HttpTransfer::getTaskList(QVariantMap iDataMap)
{
    const QString reply = sendPath(QStringLiteral("device/task_list/%1/%2"), iDataMap,
        { QStringLiteral("uid"), QStringLiteral("time") });
    qCDebug(traceLog) << "qqqqqqqqqqqqqqq" << reply;
    return toReplyMap(reply);
}

QVariantMap HttpTransfer::changeStatu(QVariantMap iDataMap)
{
    return toReplyMap(sendPath(QStringLiteral("device/change_status/%1/%2"), iDataMap,
        { QStringLiteral("task_id"), QStringLiteral("status") }));
}

QVariantMap HttpTransfer::deleteStatu(QVariantMap iDataMap)
{
    const QString reply = sendPath(QStringLiteral("device/dele/%1"), iDataMap, { QStringLiteral("id") });
    qCDebug(traceLog) << "wqqqqqq" << reply;
    return toReplyMap(reply);
}

// The fetch is recorded, successful or not, before the result goes back to the caller
// that shows it.
bool HttpTransfer::downloadNcFile(QVariantMap iDataMap)
{
    QElapsedTimer clock;
    clock.start();
    const QString localFile = iDataMap.value(QStringLiteral("localFile")).toString();
    const QString remoteFile = iDataMap.value(QStringLiteral("remoteFile")).toString();
    const QString localPath = iDataMap.value(QStringLiteral("localPath")).toString();
    qCDebug(traceLog) << localPath;

    FetchHistory history(historyFolder());
    HistoryEntry entry = newEntry(HistoryEntry::fetchAction);
    const bool pdf = QFileInfo(localFile).suffix().compare(QLatin1String("pdf"), Qt::CaseInsensitive) == 0;
    entry.kind = pdf ? QStringLiteral("pdf") : QStringLiteral("nc");
    entry.task = QFileInfo(localFile).completeBaseName();
    entry.source = remoteFile;
    entry.target = pdf ? localFile : localPath;
    const QString keptPath = SafeFileName::isSafeComponent(entry.task)
        ? history.versions().newVersionPath(entry.kind, entry.task, entry.time)
        : QString();
    const QString keepAt = keptPath.isEmpty() ? QString() : history.versions().absolutePath(keptPath);

    const bool fetched = fetch(localFile, remoteFile, localPath, entry, keepAt);
    entry.durationMs = clock.elapsed();
    recordFetch(history, entry, keptPath, localFile, localPath);
    return fetched;
}

bool HttpTransfer::fetch(const QString &localFile, const QString &remoteFile, const QString &localPath,
    const HistoryEntry &entry, const QString &keepAt)
{
    KRESTService rest;
    connect(&rest, &KRESTService::downloadProgress, this, &HttpTransfer::fetchProgress);
    m_unpackResult = ArchiveUnpacker::Result::NotAnArchive;
    m_downloadRan = false;
    m_keptReplaced = false;
    m_certificateProblem.clear();
    m_fileSize = 0;
    m_fileSha256.clear();
    const bool pdf = entry.kind == QLatin1String("pdf");

    const QStringList claimed = claimKeys({ localFile, localPath });
    for (const QString &key : claimed) {
        if (filesInUse().contains(key)) {
            qCDebug(serviceLog) << "downloadNcFile: refused," << key << "is still being fetched";
            m_fetchResult = FetchResult::InUse;
            return false;
        }
    }
    for (const QString &key : claimed)
        filesInUse().insert(key);
    const auto release = qScopeGuard([&claimed] {
        for (const QString &key : claimed)
            filesInUse().remove(key);
    });

    m_fetchResult = FetchResult::NothingToFetch;
    if (!remoteFile.isEmpty()) {
        if (!isWebAddress(remoteFile)) {
            qCDebug(serviceLog) << "downloadNcFile: not fetched, not an http address:" << remoteFile;
            m_fetchResult = FetchResult::NotWebAddress;
            return false;
        }
        // A label PDF is replaced by the download itself, an NC program by its unpacking.
        if (pdf)
            rest.setKeepReplacedAt(keepAt);
        m_downloadRan = true;
        const bool saved = rest.downloadFile(remoteFile, localFile, QStringLiteral("none"));
        m_downloadResult = rest.lastDownloadResult();
        m_certificateProblem = rest.lastCertificateProblem();
        m_fileSize = rest.lastDownloadSize();
        m_fileSha256 = rest.lastDownloadSha256();
        m_keptReplaced = rest.keptReplaced();
        if (!saved) {
            m_fetchResult = FetchResult::DownloadFailed;
            return false;
        }
        m_fetchResult = FetchResult::Fetched;
    }
    ArchiveUnpacker unpacker;
    if (!pdf)
        unpacker.setKeepReplacedAt(keepAt);
    m_unpackResult = unpacker.unpack(localFile, localPath);
    m_keptReplaced = m_keptReplaced || unpacker.keptReplaced();
    return true;
}

HistoryEntry HttpTransfer::newEntry(const char *action) const
{
    HistoryEntry entry;
    entry.time = QDateTime::currentDateTime();
    entry.action = QString::fromLatin1(action);
    entry.userId = m_userId;
    entry.device = deviceName();
    return entry;
}

// A PDF counts as in place once it is saved, an NC program once it is unpacked.
void HttpTransfer::recordFetch(FetchHistory &history, HistoryEntry &entry, const QString &keptPath,
    const QString &localFile, const QString &localPath)
{
    const bool pdf = entry.kind == QLatin1String("pdf");
    const bool unpacked = m_unpackResult == ArchiveUnpacker::Result::Unpacked;
    entry.keptPath = m_keptReplaced ? keptPath : QString();
    entry.outcome = fetchOutcome();
    entry.ok = pdf ? m_fetchResult == FetchResult::Fetched : unpacked;
    const bool wrote = m_fetchResult == FetchResult::Fetched || unpacked;
    const bool recorded
        = history.record(entry, wrote ? localFile : QString(), unpacked && !pdf ? localPath : QString());
    noteRecorded(recorded, history.lastError());
}

// The names of the results the client tells apart, in the order they happened.
QString HttpTransfer::fetchOutcome() const
{
    QStringList steps { QString::fromLatin1(
        QMetaEnum::fromType<FetchResult>().valueToKey(int(m_fetchResult))) };
    if (m_downloadRan)
        steps << QString::fromLatin1(
            QMetaEnum::fromType<KRESTService::DownloadResult>().valueToKey(int(m_downloadResult)));
    if (m_fetchResult == FetchResult::Fetched || m_fetchResult == FetchResult::NothingToFetch)
        steps << QString::fromLatin1(
            QMetaEnum::fromType<ArchiveUnpacker::Result>().valueToKey(int(m_unpackResult)));
    return steps.join(QStringLiteral(" / "));
}

void HttpTransfer::noteRecorded(bool recorded, const QString &problem)
{
    m_historyRecorded = recorded;
    m_historyProblem = recorded ? QString() : problem;
}

void HttpTransfer::setHistoryFolder(const QString &folder)
{
    m_historyFolder = folder;
}

QString HttpTransfer::historyFolder() const
{
    return m_historyFolder.isEmpty() ? HistoryStore::defaultFolder() : m_historyFolder;
}

void HttpTransfer::setUserId(const QString &uid)
{
    m_userId = uid;
}

QString HttpTransfer::deviceNameKey()
{
    return QStringLiteral("deviceName");
}

QString HttpTransfer::deviceName()
{
    return Setting().value(deviceNameKey(), QString()).toString();
}

bool HttpTransfer::historyRecorded() const
{
    return m_historyRecorded;
}

QString HttpTransfer::historyProblem() const
{
    return m_historyProblem;
}

FetchHistory::RestoreResult HttpTransfer::restoreVersion(qint64 entryId)
{
    FetchHistory history(historyFolder());
    HistoryEntry entry;
    if (!history.store().find(entryId, entry)) {
        noteRecorded(false, history.lastError());
        return FetchHistory::RestoreResult::Unknown;
    }
    const QStringList claimed = claimKeys({ entry.target });
    for (const QString &key : claimed) {
        if (filesInUse().contains(key)) {
            qCWarning(serviceLog) << "restoreVersion: refused," << key << "is being fetched";
            HistoryEntry refused = FetchHistory::restoreEntry(entry, m_userId, deviceName());
            refused.outcome = FetchHistory::outcomeName(FetchHistory::RestoreResult::InUse);
            noteRecorded(history.record(refused, QString(), QString()), history.lastError());
            return FetchHistory::RestoreResult::InUse;
        }
    }
    for (const QString &key : claimed)
        filesInUse().insert(key);
    const auto release = qScopeGuard([&claimed] {
        for (const QString &key : claimed)
            filesInUse().remove(key);
    });
    const FetchHistory::RestoreResult result = history.restore(entryId, m_userId, deviceName());
    noteRecorded(history.lastRestore().id != 0, history.lastError());
    return result;
}

QVariantMap HttpTransfer::registraAndmodifica(QVariantMap iDataMap)
{
    // The JSON is escaped so that "&", "+", "=" and "%" in a value survive form decoding.
    const QString json = DataParse::variantToJson(QVariant(iDataMap));
    QByteArray body = QByteArrayLiteral("data=") + QUrl::toPercentEncoding(json);
    Network *network = defaultClient();
    const QString reply = network->getPostResult(QStringLiteral("device/record"), body);
    m_lastError = network->lastError();
    return toReplyMap(reply);
}

void HttpTransfer::openLocalPath(QString path)
{
    if (path.isEmpty())
        return;
    path = LocalPath::fromFileUrl(path);
    // The text itself is the folder, with or without a trailing "/". QFileInfo would drop
    // the last name of a relative folder on Windows.
    const QString folder = QDir::cleanPath(QDir(path).absolutePath());
    qInfo().noquote() << "opened folder" << QDir::toNativeSeparators(folder);
    FolderOpener::open(folder);

    FetchHistory history(historyFolder());
    HistoryEntry entry = newEntry(HistoryEntry::openAction);
    entry.target = folder;
    entry.outcome = QStringLiteral("Opened");
    entry.ok = true;
    noteRecorded(history.record(entry, QString(), QString()), history.lastError());
}

// The values are substituted in one pass, so a "%2" inside the first value stays text.
// A value of "." or ".." cannot be sent as a segment at all: the HTTP stack folds it into
// the path, which would send the request to another address, so none is sent.
QString HttpTransfer::sendPath(
    const QString &pathTemplate, const QVariantMap &iDataMap, const QStringList &keys)
{
    QStringList segments;
    for (const QString &key : keys)
        segments << pathSegment(iDataMap.value(key));
    const QString path = segments.size() == 1 ? pathTemplate.arg(segments.at(0))
                                              : pathTemplate.arg(segments.at(0), segments.at(1));
    for (int i = 0; i < segments.size(); ++i) {
        if (segments.at(i) == QLatin1String(".") || segments.at(i) == QLatin1String("..")) {
            // Named by its fixed part: a sign-in's path holds the password's MD5.
            qCDebug(serviceLog).noquote()
                << "HttpTransfer: not sent to" << pathTemplate.section('%', 0, 0) + QLatin1Char(',')
                << "the value of" << keys.at(i) << "is a dot segment";
            m_lastError.set(Network::CannotConnect, QStringLiteral("not sent, a value is a dot segment"));
            return QString();
        }
    }
    Network *network = defaultClient();
    const QString reply = network->runCmd(path, false);
    m_lastError = network->lastError();
    return reply;
}

// A reply that arrived but is no JSON object is as unusable as none at all.
QVariantMap HttpTransfer::toReplyMap(const QString &reply)
{
    const QVariant parsed = DataParse::jsonToVariant(reply, nullptr);
    if (!m_lastError.hasError() && parsed.userType() != QMetaType::QVariantMap)
        m_lastError.set(Network::InvalidReply, QStringLiteral("the reply is not a JSON object"));
    return parsed.toMap();
}
