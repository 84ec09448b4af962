#include "service/httptransfer.h"

#include "core/localpath.h"
#include "core/offthread.h"
#include "core/tracelog.h"
#include "history/historyoutcome.h"
#include "rest/krestservice.h"
#include "service/archiveunpacker.h"
#include "service/dataparse.h"
#include "service/devicecall.h"
#include "service/fileclaim.h"
#include "service/folderopener.h"
#include "service/network.h"
#include "service/networkcall.h"
#include "service/safefilename.h"
#include "service/servicelog.h"
#include "service/setting.h"

#include <QDebug>
#include <QDir>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QUrl>

#include <memory>

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

// The task a task file or folder belongs to: its name without ".pdf" or ".zip".
QString taskOf(const QString &path)
{
    const QFileInfo info(path);
    const QString suffix = info.suffix().toLower();
    return suffix == QLatin1String("pdf") || suffix == QLatin1String("zip") ? info.completeBaseName()
                                                                            : info.fileName();
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

const FetchReport &HttpTransfer::lastFetch() const
{
    return m_lastFetch;
}

QVariantMap HttpTransfer::login(QVariantMap iDataMap)
{
    return waitForReply(startLogin(iDataMap));
}

QVariantMap HttpTransfer::getTaskList(QVariantMap iDataMap)
{
    return waitForReply(startTaskList(iDataMap));
}

QVariantMap HttpTransfer::changeStatu(QVariantMap iDataMap)
{
    return waitForReply(startPath(QStringLiteral("device/change_status/%1/%2"), iDataMap,
        { QStringLiteral("task_id"), QStringLiteral("status") }, nullptr, nullptr));
}

QVariantMap HttpTransfer::deleteStatu(QVariantMap iDataMap)
{
    return waitForReply(
        startPath(QStringLiteral("device/dele/%1"), iDataMap, { QStringLiteral("id") }, "wqqqqqq", nullptr));
}

DeviceCall *HttpTransfer::startLogin(const QVariantMap &iDataMap, QObject *parent)
{
    return startPath(QStringLiteral("user/login/%1/%2"), iDataMap,
        { QStringLiteral("username"), QStringLiteral("password") }, nullptr, parent);
}

DeviceCall *HttpTransfer::startTaskList(const QVariantMap &iDataMap, QObject *parent)
{
    return startPath(QStringLiteral("device/task_list/%1/%2"), iDataMap,
        { QStringLiteral("uid"), QStringLiteral("time") }, "qqqqqqqqqqqqqqq", parent);
}

// The JSON is escaped so that "&", "+", "=" and "%" in a value survive form decoding.
DeviceCall *HttpTransfer::startRecord(const QVariantMap &iDataMap, QObject *parent)
{
    const QString json = DataParse::variantToJson(QVariant(iDataMap));
    const QByteArray body = QByteArrayLiteral("data=") + QUrl::toPercentEncoding(json);
    return new DeviceCall(defaultClient()->post(QStringLiteral("device/record"), body), nullptr, parent);
}

QVariantMap HttpTransfer::waitForReply(DeviceCall *rawCall)
{
    const std::unique_ptr<DeviceCall> call(rawCall);
    call->waitForFinished();
    m_lastError = call->error();
    return call->reply();
}

// The fetch is recorded, successful or not, before the result goes back to the caller
// that shows it. The claim on the task's files holds until its row is committed, so that a
// restore or another fetch of the same task cannot come in between and put another version
// in place than the row names.
bool HttpTransfer::downloadNcFile(QVariantMap iDataMap)
{
    QElapsedTimer clock;
    clock.start();
    const QString localFile = iDataMap.value(QStringLiteral("localFile")).toString();
    const QString remoteFile = iDataMap.value(QStringLiteral("remoteFile")).toString();
    const QString localPath = iDataMap.value(QStringLiteral("localPath")).toString();
    qCDebug(traceLog) << localPath;

    FetchHistory history(historyFolder());
    HistoryEntry entry = fetchEntry(localFile, remoteFile, localPath);
    const FileClaim claim({ localFile, localPath });
    qint64 startId = 0;
    m_lastFetch = refusal(claim, remoteFile, localFile, localPath);
    m_lastFetch.pdf = entry.kind == QLatin1String("pdf");
    if (m_lastFetch.fetch == FetchReport::Fetch::NothingToFetch) {
        startId = beginFetch(history, entry);
        m_lastFetch = fetch(localFile, remoteFile, localPath, entry, history);
    }
    m_lastFetch.durationMs = clock.elapsed();
    entry.durationMs = m_lastFetch.durationMs;
    recordFetch(history, startId, entry, localFile, localPath);
    return m_lastFetch.succeeded();
}

HistoryEntry HttpTransfer::fetchEntry(
    const QString &localFile, const QString &remoteFile, const QString &localPath) const
{
    HistoryEntry entry = newEntry(HistoryEntry::fetchAction);
    const bool pdf = QFileInfo(localFile).suffix().compare(QLatin1String("pdf"), Qt::CaseInsensitive) == 0;
    entry.kind = pdf ? QStringLiteral("pdf") : QStringLiteral("nc");
    entry.task = QFileInfo(localFile).completeBaseName();
    entry.source = remoteFile;
    entry.target = pdf ? localFile : localPath;
    return entry;
}

// A report saying why the fetch may not run, or NothingToFetch when it may. Task numbers
// equal ignoring case are refused on every system, since the folders may be copied to a PC.
FetchReport HttpTransfer::refusal(
    const FileClaim &claim, const QString &remoteFile, const QString &localFile, const QString &localPath)
{
    FetchReport report;
    QString twin = claim.conflictDiffersInCase() ? claim.conflict() : QString();
    for (const QString &path : { localFile, localPath }) {
        if (claim.claimed() && twin.isEmpty() && !path.isEmpty())
            twin = caseTwinOnDisk(path);
    }
    if (!twin.isEmpty()) {
        report.fetch = FetchReport::Fetch::CaseClash;
        report.clashingTask = taskOf(twin);
        qCWarning(serviceLog) << "downloadNcFile: refused," << localFile << "differs only in case from"
                              << twin;
    } else if (!claim.claimed()) {
        qCDebug(serviceLog) << "downloadNcFile: refused," << claim.conflict() << "is still being fetched";
        report.fetch = FetchReport::Fetch::InUse;
    } else if (!remoteFile.isEmpty() && !isWebAddress(remoteFile)) {
        qCDebug(serviceLog) << "downloadNcFile: not fetched, not an http address:" << remoteFile;
        report.fetch = FetchReport::Fetch::NotWebAddress;
    }
    return report;
}

// The file or folder beside path whose name equals its name ignoring case only; empty when
// there is none. The folder is listed, so that a disk that ignores case answers the same.
QString HttpTransfer::caseTwinOnDisk(const QString &path)
{
    const QFileInfo info(path);
    const QStringList names
        = info.dir().entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden | QDir::System);
    for (const QString &name : names) {
        if (name != info.fileName() && name.compare(info.fileName(), Qt::CaseInsensitive) == 0)
            return info.dir().filePath(name);
    }
    return QString();
}

// The start row names where the version the fetch replaces is to be kept; a task number
// that is no safe file name keeps none, and then nothing is set aside to need a start row.
qint64 HttpTransfer::beginFetch(FetchHistory &history, HistoryEntry &entry)
{
    if (!SafeFileName::isSafeComponent(entry.task))
        return 0;
    const qint64 startId = history.beginFetch(entry);
    if (startId == 0)
        qCWarning(serviceLog) << "downloadNcFile: the start of the fetch is not recorded:"
                              << history.lastError();
    return startId;
}

// A file or archive with the SHA-256 of the version in place replaces nothing, so that the
// versions kept are real changes and not copies from repeated clicks.
FetchReport HttpTransfer::fetch(const QString &localFile, const QString &remoteFile, const QString &localPath,
    const HistoryEntry &entry, FetchHistory &history)
{
    FetchReport report;
    report.pdf = entry.kind == QLatin1String("pdf");
    const QString keepAt
        = entry.keptPath.isEmpty() ? QString() : history.versions().absolutePath(entry.keptPath);
    if (!remoteFile.isEmpty()) {
        const QString inPlace = history.sha256InPlace(entry.kind, entry.task, entry.target);
        if (download(report, remoteFile, localFile, report.pdf ? keepAt : QString(),
                report.pdf ? inPlace : QString()))
            report.keptPath = entry.keptPath;
        if (report.fetch == FetchReport::Fetch::DownloadFailed)
            return report;
        report.identical = report.pdf ? report.download == KRESTService::DownloadResult::Unchanged
                                      : !inPlace.isEmpty() && report.sha256.toHex() == inPlace.toLatin1();
        if (report.identical)
            return report;
    }
    ArchiveUnpacker unpacker;
    // A label PDF is replaced by the download itself, an NC program by its unpacking.
    if (!report.pdf)
        unpacker.setKeepReplacedAt(keepAt);
    report.unpack = unpacker.unpack(localFile, localPath);
    report.unpackConflict = unpacker.conflictingName();
    if (unpacker.keptReplaced())
        report.keptPath = entry.keptPath;
    return report;
}

// Fills in the transfer's part of the report; true when the file replaced was kept.
bool HttpTransfer::download(FetchReport &report, const QString &remoteFile, const QString &localFile,
    const QString &keepAt, const QString &sha256InPlace)
{
    KRESTService rest;
    connect(&rest, &KRESTService::downloadProgress, this, &HttpTransfer::fetchProgress);
    rest.setKeepReplacedAt(keepAt);
    rest.setUnchangedSha256(QByteArray::fromHex(sha256InPlace.toLatin1()));
    // An error page served as the label would otherwise take the good label's place.
    if (report.pdf)
        rest.setExpectedSignature(QByteArrayLiteral("%PDF-"));
    report.downloadRan = true;
    const bool saved = rest.downloadFile(remoteFile, localFile, QStringLiteral("none"));
    const KRESTService::DownloadReport &done = rest.lastDownload();
    report.download = done.result;
    report.certificateProblem = done.certificateProblem;
    report.bytes = done.size;
    report.sha256 = done.sha256;
    report.fetch = saved ? FetchReport::Fetch::Fetched : FetchReport::Fetch::DownloadFailed;
    return done.keptReplaced;
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

// A PDF counts as in place once it is saved, an NC program once it is unpacked, or either
// once found identical to it. The SHA-256 recorded is the download's, computed while it was
// written, the one the log names; an NC program's files are digested where they lie.
void HttpTransfer::recordFetch(FetchHistory &history, qint64 startId, HistoryEntry &entry,
    const QString &localFile, const QString &localPath)
{
    const FetchReport &report = m_lastFetch;
    const bool unpacked = report.unpack == ArchiveUnpacker::Result::Unpacked;
    entry.keptPath = report.keptPath;
    entry.outcome = report.historyOutcome();
    entry.ok = report.inPlace();
    entry.bytes = report.bytes;
    const bool wrote = report.fetch == FetchReport::Fetch::Fetched || unpacked;
    const bool listFiles = !report.pdf && (unpacked || report.identical);
    const bool recorded = history.completeFetch(startId, entry, wrote ? localFile : QString(),
        listFiles ? localPath : QString(), wrote ? report.sha256 : QByteArray());
    noteRecorded(recorded, history.lastError());
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
    if (!OffThread::run([&] { return history.store().find(entryId, entry); })) {
        noteRecorded(false, history.lastError());
        return FetchHistory::RestoreResult::Unknown;
    }
    const FileClaim claim({ entry.target });
    if (!claim.claimed()) {
        qCWarning(serviceLog) << "restoreVersion: refused," << claim.conflict() << "is being fetched";
        HistoryEntry refused = FetchHistory::restoreEntry(entry, m_userId, deviceName());
        refused.outcome = FetchHistory::outcomeName(FetchHistory::RestoreResult::InUse);
        noteRecorded(history.record(refused, QString(), QString()), history.lastError());
        return FetchHistory::RestoreResult::InUse;
    }
    const FetchHistory::RestoreResult result = history.restore(entryId, m_userId, deviceName());
    noteRecorded(history.lastRestore().id != 0, history.lastError());
    return result;
}

QVariantMap HttpTransfer::registraAndmodifica(QVariantMap iDataMap)
{
    return waitForReply(startRecord(iDataMap));
}

void HttpTransfer::openLocalPath(QString path)
{
    if (path.isEmpty())
        return;
    path = LocalPath::fromFileUrl(path);
    // The text itself is the folder, with or without a trailing "/". QFileInfo would drop
    // the last name of a relative folder on Windows.
    const QString folder = QDir::cleanPath(QDir(path).absolutePath());
    qCInfo(serviceLog).noquote() << "opened folder" << QDir::toNativeSeparators(folder);
    FolderOpener::open(folder);
    recordOpened(folder);
}

void HttpTransfer::showLocalFile(const QString &file)
{
    const QString path = QDir::cleanPath(QDir(file).absolutePath());
    qCInfo(serviceLog).noquote() << "opened folder of" << QDir::toNativeSeparators(path);
    FolderOpener::select(path);
    recordOpened(path);
}

void HttpTransfer::recordOpened(const QString &target)
{
    FetchHistory history(historyFolder());
    HistoryEntry entry = newEntry(HistoryEntry::openAction);
    entry.target = target;
    entry.outcome = QStringLiteral("Opened");
    entry.ok = true;
    noteRecorded(history.record(entry, QString(), QString()), history.lastError());
}

void HttpTransfer::recordScan(
    const QString &code, const QString &task, const QString &outcome, bool found, bool offline)
{
    FetchHistory history(historyFolder());
    HistoryEntry entry = newEntry(HistoryEntry::scanAction);
    entry.task = task;
    entry.source = code;
    entry.outcome = HistoryOutcome({ outcome }, offline).text();
    entry.ok = found;
    noteRecorded(history.record(entry, QString(), QString()), history.lastError());
}

// The values are substituted in one pass, so a "%2" inside the first value stays text.
// A value of "." or ".." cannot be sent as a segment at all: the HTTP stack folds it into
// the path, which would send the request to another address, so none is sent.
DeviceCall *HttpTransfer::startPath(const QString &pathTemplate, const QVariantMap &iDataMap,
    const QStringList &keys, const char *dumpLabel, QObject *parent)
{
    QStringList segments;
    for (const QString &key : keys)
        segments << pathSegment(iDataMap.value(key));
    const QString path = segments.size() == 1 ? pathTemplate.arg(segments.at(0))
                                              : pathTemplate.arg(segments.at(0), segments.at(1));
    for (int i = 0; i < segments.size(); ++i) {
        if (segments.at(i) == QLatin1String(".") || segments.at(i) == QLatin1String("..")) {
            // Named by its fixed part: a sign-in's path holds the password's MD5.
            const QString fixedPart = pathTemplate.section('%', 0, 0);
            qCDebug(serviceLog).noquote() << "HttpTransfer: not sent to" << fixedPart + QLatin1Char(',')
                                          << "the value of" << keys.at(i) << "is a dot segment";
            const ErrorInfo refusal(
                Network::CannotConnect, QStringLiteral("not sent, a value is a dot segment"));
            return new DeviceCall(new NetworkCall(fixedPart, refusal), dumpLabel, parent);
        }
    }
    return new DeviceCall(defaultClient()->get(path), dumpLabel, parent);
}
