#ifndef HTTPTRANSFER_H
#define HTTPTRANSFER_H

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
    HttpTransfer();

public slots:
    QVariantMap login(QVariantMap iDataMap);
    QVariantMap getTaskList(QVariantMap iDataMap);
    QVariantMap changeStatu(QVariantMap iDataMap);
    QVariantMap deleteStatu(QVariantMap iDataMap);
    // Fetches "remoteFile" (a full http or https address) into "localFile" unless it is
    // empty, then unpacks "localFile" into "localPath" when it is a zip archive. False when
    // the fetch failed or was refused; the unpacking does not change the result.
    bool downloadNcFile(QVariantMap iDataMap);
    QVariantMap registraAndmodifica(QVariantMap iDataMap);
    // Shows the folder in the platform's file manager and returns at once.
    void openLocalPath(QString path);

private:
    static QString sendPath(
        const QString &pathTemplate, const QVariantMap &iDataMap, const QStringList &keys);
    static QVariantMap toReplyMap(const QString &reply);
};

#endif // HTTPTRANSFER_H
