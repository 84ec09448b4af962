#ifndef HTTPTRANSFER_H
#define HTTPTRANSFER_H

#include "history/fetchhistory.h"
#include "rest/krestservice.h"
#include "service/archiveunpacker.h"
#include "service/errorinfo.h"

#include <QObject>
#include <QString>
#include <QStringList>
#include <QVariantMap>

// The device-service client: each slot sends one request through the default network
// client and returns the service's JSON reply as a map, empty when the request failed
// or the reply is not a JSON object.
class HttpTransfer : public QObject
{
    Q_OBJECT

public:
    // How the last downloadNcFile ended before any unpacking.
    enum class FetchResult
    {
        Fetched,
        NothingToFetch, // no "remoteFile": the local file was only unpacked
        InUse, // another downloadNcFile is writing the same file or folder
        NotWebAddress, // "remoteFile" is not an http or https address
        DownloadFailed // the transfer failed; the old file is kept
    };
    Q_ENUM(FetchResult)

    HttpTransfer();

    // Why the last device-service request of this object failed, with the codes of
    // Network::Failure; no error when its reply was a JSON object.
    ErrorInfo lastError() const;
    FetchResult lastFetchResult() const;
    // How the transfer of the last downloadNcFile ended, when one ran.
    KRESTService::DownloadResult lastDownloadResult() const;
    // What the unpacking of the last downloadNcFile did; NotAnArchive when none ran.
    ArchiveUnpacker::Result lastUnpackResult() const;
    // Why the last downloadNcFile's server certificate was refused, in Qt's words.
    QString lastCertificateProblem() const;
    // The size and SHA-256 of the file the last downloadNcFile saved; 0 and empty otherwise.
    qint64 lastFileSize() const;
    QByteArray lastFileSha256() const;
    // The last downloadNcFile's results by their names, for the log.
    QString lastOutcome() const;

    // Every fetch, restore and opened folder is recorded in the history in this folder
    // (HistoryStore::defaultFolder() unless set), and the versions that fetches and restores
    // replace are kept there. A history that cannot be written never stops the fetch.
    void setHistoryFolder(const QString &folder);
    QString historyFolder() const;
    // Who the entries name; the device's name is the one its settings form saved last.
    void setUserId(const QString &uid);
    static QString deviceNameKey();
    // The last downloadNcFile, restoreVersion or openLocalPath was recorded; when not,
    // historyProblem() says why.
    bool historyRecorded() const;
    QString historyProblem() const;

signals:
    // Relayed from the transfer of downloadNcFile; bytesTotal is -1 while unknown.
    void fetchProgress(qint64 bytesReceived, qint64 bytesTotal);

public slots:
    QVariantMap login(QVariantMap iDataMap);
    QVariantMap getTaskList(QVariantMap iDataMap);
    QVariantMap changeStatu(QVariantMap iDataMap);
    QVariantMap deleteStatu(QVariantMap iDataMap);
    // Fetches "remoteFile" (a full http or https address) into "localFile" unless it is
    // empty, then unpacks "localFile" into "localPath" when it is a zip archive. False when
    // the fetch failed or was refused; the unpacking does not change the result, which
    // lastFetchResult() and lastUnpackResult() tell apart.
    bool downloadNcFile(QVariantMap iDataMap);
    QVariantMap registraAndmodifica(QVariantMap iDataMap);
    // Shows the folder in the platform's file manager and returns at once.
    void openLocalPath(QString path);
    // Puts back the version that history entry entryId replaced, keeping the current one
    // first; refused while a fetch writes the same file or folder.
    FetchHistory::RestoreResult restoreVersion(qint64 entryId);

private:
    bool fetch(const QString &localFile, const QString &remoteFile, const QString &localPath,
        const HistoryEntry &entry, const QString &keepAt);
    HistoryEntry newEntry(const char *action) const;
    void recordFetch(FetchHistory &history, HistoryEntry &entry, const QString &keptPath,
        const QString &localFile, const QString &localPath);
    QString fetchOutcome() const;
    static QString deviceName();
    void noteRecorded(bool recorded, const QString &problem);
    QString sendPath(const QString &pathTemplate, const QVariantMap &iDataMap, const QStringList &keys);
    QVariantMap toReplyMap(const QString &reply);

    ErrorInfo m_lastError;
    FetchResult m_fetchResult = FetchResult::NothingToFetch;
    KRESTService::DownloadResult m_downloadResult = KRESTService::DownloadResult::Saved;
    ArchiveUnpacker::Result m_unpackResult = ArchiveUnpacker::Result::NotAnArchive;
    QString m_certificateProblem;
    qint64 m_fileSize = 0;
    QByteArray m_fileSha256;
    bool m_downloadRan = false;
    bool m_keptReplaced = false;
    QString m_historyFolder;
    QString m_userId;
    bool m_historyRecorded = false;
    QString m_historyProblem;
};

#endif // HTTPTRANSFER_H
