#ifndef KRESTSERVICE_H
#define KRESTSERVICE_H

#include "core/diskspace.h"

#include <QByteArray>
#include <QJsonObject>
#include <QMutex>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QSslError>
#include <QString>
#include <QUrl>
#include <QVariant>
#include <QVariantMap>

class DownloadSink;

// HTTP client for the REST file and command service. Relative paths are joined to the
// server root, the constant parameters are added to the next composed URL only, and every
// reply reports transport errors to onError(). The synchronous operations wait in a
// LocalWait, so the thread keeps dispatching its other events meanwhile.
//
// Every request carries an inactivity time-out: a transfer that moves no data for
// transferTimeout() milliseconds (taskFileIdleTimeout unless changed with
// setTransferTimeout()) is aborted and fails like any other transport error. Redirects are followed unless
// they lead from https to http.
//
// downloadFile() streams the body to disk: it keeps no copy in memory, refuses a body that
// would leave its volume with less than diskReserve() free, and abandons a download whose
// average rate over the last rateWindow() milliseconds falls below minimumRate() bytes per
// second (1 KiB/s over 60 s unless changed with setRateFloor()).
class KRESTService : public QNetworkAccessManager
{
    Q_OBJECT
    Q_PROPERTY(QString serverRoot READ serverRoot WRITE setServerRoot NOTIFY serverRootChanged
            DESIGNABLE true SCRIPTABLE true STORED true)
    Q_PROPERTY(QString localRoot READ localRoot WRITE setLocalRoot NOTIFY localRootChanged
            DESIGNABLE true SCRIPTABLE true STORED true)
    Q_PROPERTY(QString constParams READ constParams WRITE setConstParams NOTIFY constParamsChanged
            DESIGNABLE true SCRIPTABLE true STORED true)

public:
    // A task-file transfer that moves no data for this long is abandoned. Task files are
    // large and fetched on the operator's request with their progress shown, so a file
    // server's pause is waited out longer than a device-service request's.
    static constexpr int taskFileIdleTimeout = 30000;
    static constexpr qint64 defaultMinimumRate = 1024;
    static constexpr int defaultRateWindow = 60000;
    static constexpr qint64 defaultDiskReserve = DiskSpace::defaultReserve;
    // No task file comes near this; a body beyond it is refused as TooLarge.
    static constexpr qint64 maxDownloadSize = qint64(4) << 30;

    // How the last downloadFile() ended.
    enum class DownloadResult
    {
        Saved,
        CannotWrite, // the destination could not be opened, written, flushed or renamed into place
        NoSpace, // the body would leave its volume with less than the reserve, or the disk is full
        NetworkError, // refused, dropped, not decodable, or abandoned when the program quit
        TimedOut, // no data moved for the inactivity time-out
        TooSlow, // the average rate over the rate window fell below the floor
        HttpError, // the server answered with a status other than 2xx
        Incomplete, // the body ended short of its announced length
        TooLarge, // the body is larger than any task file may be
        ChecksumMismatch, // the body does not have the expected MD5
        CertificateRefused, // the server's TLS certificate is not trusted
        InsecureRedirect, // a redirect from https to http, never followed
        Unchanged, // the body has setUnchangedSha256()'s digest: the destination was left as it was
        UnexpectedContent, // the body lacks setExpectedSignature()'s bytes (an error page for a PDF)
        ProxyNeedsSignIn, // the proxy answered 407: no sign-in kept, or it refused the kept one
        ProxyRefused, // the proxy refused the connection or closed it
        ProxyUnreachable, // the proxy's host is not found or cannot be reached
        ProxyTimedOut // the proxy did not answer in time
    };
    Q_ENUM(DownloadResult)

    // How a downloadFile() ended and what it wrote.
    struct DownloadReport
    {
        DownloadResult result = DownloadResult::Saved;
        // Why the server's certificate was refused, in Qt's words.
        QString certificateProblem;
        // The size and SHA-256 of the file saved (or found Unchanged), computed while writing;
        // 0 and empty otherwise.
        qint64 size = 0;
        QByteArray sha256;
        // The file the download replaced was moved to setKeepReplacedAt()'s path.
        bool keptReplaced = false;
    };

    explicit KRESTService(QObject *parent = nullptr);
    ~KRESTService() override;

    QString serverRoot() const;
    void setServerRoot(const QString &serverRoot);
    QString localRoot() const;
    void setLocalRoot(const QString &localRoot);
    QString constParams() const;
    void setConstParams(const QString &constParams);

    QUrl composeUrl(const QString &path);

    QNetworkReply *headData(const QString &path, const QString &simpleParams);
    QNetworkReply *getData(const QString &path, const QString &simpleParams);
    QNetworkReply *getData(const QString &path, const QVariantMap &params);
    QNetworkReply *postData(const QString &path, const QByteArray &body, const QString &contentType);
    QNetworkReply *postJson(const QString &path, const QString &content);
    QNetworkReply *postJson(const QString &path, const QVariantMap &data);
    QNetworkReply *postForm(const QString &path, const QString &formdata);
    QNetworkReply *postForm(const QString &path, const QVariantMap &data);
    QNetworkReply *postMultipart(const QString &path, const QVariantMap &data);
    static QByteArray formDataPart(const QString &key, const QVariant &value);

    static void waitForReply(QNetworkReply *reply);
    static QString waitForText(QNetworkReply *reply);
    static QByteArray waitForBytes(QNetworkReply *reply);
    static QVariantMap waitForJsonMap(QNetworkReply *reply);
    static QVariantMap readJsonMap(QNetworkReply *reply);
    static QJsonObject waitForJsonObject(QNetworkReply *reply);

    static QVariant parseJson(const QString &text);
    static QByteArray toJsonBytes(const QVariant &value);

    static QString md5Base64(const QByteArray &data);

    // How the last downloadFile() ended.
    const DownloadReport &lastDownload() const;

    qint64 minimumRate() const;
    int rateWindow() const;
    void setRateFloor(qint64 bytesPerSecond, int windowMs);
    qint64 diskReserve() const;
    void setDiskReserve(qint64 bytes);
    // Where downloadFile() moves the file its download replaces, just before replacing it;
    // empty (the default) lets the old file go.
    void setKeepReplacedAt(const QString &path);
    // A body with this raw SHA-256 (the destination's own, say) is not written over the
    // destination: downloadFile() drops it and ends Unchanged. Empty (the default) commits
    // every body.
    void setUnchangedSha256(const QByteArray &sha256);
    // A body that does not hold signature within its first 1,024 bytes is not the file
    // asked for (a portal's or a gateway's page sent with 200 OK): downloadFile() drops it
    // and ends UnexpectedContent, replacing nothing. Empty (the default) checks nothing.
    void setExpectedSignature(const QByteArray &signature);

signals:
    // Emitted by downloadFile() as the body arrives, at most every 100 ms and once at the
    // end; bytesTotal is -1 when the server did not announce the length.
    void downloadProgress(qint64 bytesReceived, qint64 bytesTotal);
    void serverRootChanged();
    void localRootChanged();
    void constParamsChanged();

public slots:
    void onError(QNetworkReply::NetworkError err);
    QString getCommand(const QString &path, const QString &simpleParams);
    QString postJsonCommand(const QString &path, const QString &content);
    QString postFormCommand(const QString &path, const QString &formdata);
    bool checkFile(const QString &remotePath);
    bool downloadFile(const QString &src, const QString &dst, const QString &md5);
    QString uploadFile(const QString &src, const QString &dst, const QString &token);

private:
    QString load(const QString &member) const;
    bool store(QString &member, const QString &value);
    QNetworkRequest makeRequest(const QUrl &url, const QByteArray &acceptEncoding = QByteArray()) const;
    QNetworkReply *getData(
        const QString &path, const QString &simpleParams, const QByteArray &acceptEncoding);
    QNetworkReply *watch(QNetworkReply *reply);
    DownloadResult receiveBody(QNetworkReply *reply, DownloadSink &sink);
    void rememberCertificateProblem(QNetworkReply *reply, const QList<QSslError> &errors);
    static void appendFormDataPart(QByteArray &body, const QString &key, const QVariant &value);
    static QByteArray multipartBody(const QVariantMap &data, const QByteArray &boundary);

    QString m_serverRoot;
    QString m_localRoot;
    QString m_constParams;
    mutable QMutex m_lock;
    DownloadReport m_lastDownload;
    qint64 m_minimumRate = defaultMinimumRate;
    int m_rateWindow = defaultRateWindow;
    qint64 m_diskReserve = defaultDiskReserve;
    QString m_keepReplacedAt;
    QByteArray m_unchangedSha256;
    QByteArray m_expectedSignature;
};

#endif // KRESTSERVICE_H
