#ifndef HTTPTRANSFER_H
#define HTTPTRANSFER_H

#include "history/fetchhistory.h"
#include "service/errorinfo.h"
#include "service/fetchreport.h"

#include <QObject>
#include <QString>
#include <QStringList>
#include <QVariantMap>

class DeviceCall;
class FileClaim;

// The device-service client: each slot sends one request through the default network
// client and returns the service's JSON reply as a map, empty when the request failed
// or the reply is not a JSON object. The start functions send the same requests without
// waiting: windows use those and react to the call's finished().
class HttpTransfer : public QObject
{
    Q_OBJECT

public:
    HttpTransfer();

    // The requests of login, getTaskList and registraAndmodifica, started; each call belongs
    // to parent and reports once.
    static DeviceCall *startLogin(const QVariantMap &iDataMap, QObject *parent = nullptr);
    static DeviceCall *startTaskList(const QVariantMap &iDataMap, QObject *parent = nullptr);
    static DeviceCall *startRecord(const QVariantMap &iDataMap, QObject *parent = nullptr);

    // Why the last device-service request of this object failed, with the codes of
    // Network::Failure; no error when its reply was a JSON object.
    ErrorInfo lastError() const;
    // How the last downloadNcFile ended, step by step.
    const FetchReport &lastFetch() const;

    // Every fetch, restore and opened folder is recorded in the history in this folder
    // (HistoryStore::defaultFolder() unless set), and the versions that fetches and restores
    // replace are kept there. A history that cannot be written never stops the fetch.
    void setHistoryFolder(const QString &folder);
    QString historyFolder() const;
    // Who the entries name; the device's name is the one its settings form saved last.
    void setUserId(const QString &uid);
    static QString deviceNameKey();
    // The device's name as its settings form saved it last.
    static QString deviceName();
    // The last downloadNcFile, restoreVersion or openLocalPath was recorded; when not,
    // historyProblem() says why.
    bool historyRecorded() const;
    QString historyProblem() const;

    // Shows the folder of file with the file selected, recorded as an opened folder.
    void showLocalFile(const QString &file);
    // Records a scanned code: what it named (outcome), the task it led to, whether it was
    // found, and whether the window was working offline.
    void recordScan(
        const QString &code, const QString &task, const QString &outcome, bool found, bool offline);

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
    // lastFetch() tells apart.
    bool downloadNcFile(QVariantMap iDataMap);
    QVariantMap registraAndmodifica(QVariantMap iDataMap);
    // Shows the folder in the platform's file manager and returns at once.
    void openLocalPath(QString path);
    // Puts back the version that history entry entryId replaced, keeping the current one
    // first; refused while a fetch writes the same file or folder.
    FetchHistory::RestoreResult restoreVersion(qint64 entryId);

private:
    HistoryEntry fetchEntry(
        const QString &localFile, const QString &remoteFile, const QString &localPath) const;
    static FetchReport refusal(const FileClaim &claim, const QString &remoteFile, const QString &localFile,
        const QString &localPath);
    static QString caseTwinOnDisk(const QString &path);
    static qint64 beginFetch(FetchHistory &history, HistoryEntry &entry);
    FetchReport fetch(const QString &localFile, const QString &remoteFile, const QString &localPath,
        const HistoryEntry &entry, FetchHistory &history);
    bool download(FetchReport &report, const QString &remoteFile, const QString &localFile,
        const QString &keepAt, const QString &sha256InPlace);
    HistoryEntry newEntry(const char *action) const;
    void recordFetch(FetchHistory &history, qint64 startId, HistoryEntry &entry, const QString &localFile,
        const QString &localPath);
    void recordOpened(const QString &target);
    void noteRecorded(bool recorded, const QString &problem);
    static DeviceCall *startPath(const QString &pathTemplate, const QVariantMap &iDataMap,
        const QStringList &keys, const char *dumpLabel, QObject *parent);
    QVariantMap waitForReply(DeviceCall *call);

    ErrorInfo m_lastError;
    FetchReport m_lastFetch;
    QString m_historyFolder;
    QString m_userId;
    bool m_historyRecorded = false;
    QString m_historyProblem;
};

#endif // HTTPTRANSFER_H
