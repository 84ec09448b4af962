#ifndef DEVICESIMULATOR_H
#define DEVICESIMULATOR_H

#include <QByteArray>
#include <QDate>
#include <QList>
#include <QPair>
#include <QString>
#include <QVariantMap>

#include <memory>

// A stand-in for the production device service and its file server, listening on
// 127.0.0.1 only. It runs its HTTP server on background threads; every public function
// is thread-safe and may be called while requests are being served.
//
// Paths served (relative to rootUrl()):
//   GET  user/login/<username>/<md5 hex of password>   {"status":1,"data":{"id":..}} or status 0
//   GET  device/task_list/<uid>/<yyyy-MM-dd>          {"status":1,"data":[task records]}
//   GET  device/change_status/<task_id>/<status>      {"status":1}
//   GET  device/dele/<id>                             {"status":1}
//   POST device/record   body data=<JSON, percent-encoded or not>   stores the record
//   GET|HEAD files/<yyyy-MM-dd>/<task_num>.pdf|.zip   generated label PDF / NC archive
//   GET|HEAD blob/<bytes>                             that many deterministic bytes
//   GET|HEAD any path registered with setFile()
//   GET|HEAD redirected/<any of the above>            the same as without the prefix
//   POST upload_file2    multipart "file", "path", "token"
class DeviceSimulator
{
public:
    enum class Fault
    {
        None,
        Delay, // value: milliseconds to wait before answering normally
        HttpError, // value: the HTTP status to answer with (body "error <status>")
        NonJson, // answers 200 with an HTML page instead of the normal body
        EmptyBody, // answers 200 with an empty body
        DropHalfway, // announces the full length, sends half the body, closes the connection
        Stall, // sends the headers and half the body, then hangs until clearFault()/stop()
        Trickle, // value: bytes per second; the body goes out that slowly, a piece every 100 ms
        Redirect, // value: the redirect status (301, 302, 307, 308); Location is the same path
                  // under "redirected/", which is served normally
        HugeBody, // value: MiB; a successful answer's body becomes that much blob content
        Gzip // value 0: the body gzip-compressed; value n > 0: n MiB of zeros compressed
             // (a small body that inflates hugely); both with Content-Encoding: gzip
    };

    // One part of a multipart/form-data body, as the server's multipart parser read it.
    struct Part
    {
        QByteArray name;
        QByteArray fileName;
        QByteArray content;
    };

    struct Request
    {
        QByteArray method;
        QByteArray rawPath; // the request target as sent: percent-encoding and query kept
        QByteArray body; // empty for multipart bodies: see parts
        QByteArray contentType;
        QList<Part> parts; // multipart/form-data only, ordered by field name
    };

    struct UploadedFile
    {
        QByteArray fileName; // the filename the multipart "file" part announced
        QByteArray content;
        QByteArray path; // the "path" field
        QByteArray token; // the "token" field
    };

    DeviceSimulator();
    ~DeviceSimulator();
    DeviceSimulator(const DeviceSimulator &) = delete;
    DeviceSimulator &operator=(const DeviceSimulator &) = delete;

    // Listens on 127.0.0.1:port (0 picks a free port) and serves on a background thread.
    bool start(int port = 0);
    // Before start(): listens on address instead, and rootUrl() names hostName, one that
    // resolves to it (a name that does not look like loopback, which Qt sends through a proxy).
    void setListenAddress(const QString &address, const QString &hostName);
    // A name from /etc/hosts for a loopback address, not written as loopback (such as
    // "ip6-loopback"), and that address; empty where there is none.
    static QPair<QString, QString> loopbackByName();
    // The same over TLS with the PEM certificate (chain) and key in those files; rootUrl()
    // and the task files' addresses are then "https://". False when they cannot be used.
    bool startTls(const QString &certificateFile, const QString &keyFile, int port = 0);
    void stop();
    int port() const;
    QString rootUrl() const; // "http://127.0.0.1:<port>/", or https after startTls()

    // Faults apply to every request whose raw path (without the leading "/") starts with
    // pathPrefix; an empty prefix means every request.
    void setFault(Fault fault, int value = 0, const QString &pathPrefix = QString());
    void clearFault();
    // Where Fault::Redirect sends the client, instead of this simulator's own root (another
    // simulator's, say, to leave https for http).
    void setRedirectRoot(const QString &root);

    // Replaces the answer for every request whose raw path starts with pathPrefix.
    void setCannedReply(const QString &pathPrefix, const QByteArray &body, int status = 200);
    void clearCannedReplies();

    // Serves content at path (GET and HEAD), e.g. setFile("files/custom.zip", bytes).
    void setFile(const QString &path, const QByteArray &content);

    // Number of generated tasks per day (default 12) for the days within a week of today.
    void setTasksPerDay(int count);
    // The task records task_list answers for that day under a list revision, the current
    // one when -1; the same on every call.
    QVariantList tasksFor(const QDate &day, int listRevision = -1) const;
    // Lists that change between reloads: each revision drops a task from the end of some
    // days and changes the piece counts. Revision 0 is the default list.
    void setListRevision(int revision);
    // Files that change between fetches: the task files generated from now on carry the
    // revision in their content. Revision 0 is the default content.
    void setFileRevision(int revision);

    // The bodies answered with status 200 to GET path (no leading "/", no "redirected/",
    // no query), each once, as the client should have them after decoding: the whole body
    // even when a fault cut it short, the inflated content of a gzip body. Bodies larger
    // than servedBodyLimit are kept as their MD5 digest only (servedDigests()).
    static constexpr int servedBodyLimit = 1 << 20;
    QList<QByteArray> servedBodies(const QString &path) const;
    // The MD5 digests of every body servedBodies() describes, large ones included.
    QList<QByteArray> servedDigests(const QString &path) const;

    // The answer of upload_file2 when it is not a success: result != 0 with that error text.
    void setUploadFailure(int result, const QString &error);
    QList<UploadedFile> uploads() const;

    // Device records posted to device/record, in order, as parsed from their JSON.
    QList<QVariantMap> records() const;

    QList<Request> requests() const;
    void clearRequests();

    // Account the simulator accepts besides the built-in "demo"/"demo123" (uid "1001").
    void addAccount(const QString &username, const QString &password, const QString &uid);

    // Content builders, shared with tests that need their own fixtures.
    static QByteArray makeZip(const QList<QPair<QString, QByteArray>> &entries);
    static QByteArray makePdf(const QString &text);

private:
    class Private;
    std::unique_ptr<Private> d;
};

#endif // DEVICESIMULATOR_H
