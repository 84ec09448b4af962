#include "rest/krestservice.h"
#include "sim/devicesimulator.h"
#include "tests/support/filesizelimit.h"
#include "tests/support/testfiles.h"

#include <QDir>
#include <QFile>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QTimer>
#include <QtTest>

namespace {

QStringList *capturedLines = nullptr;

void captureMessage(QtMsgType, const QMessageLogContext &, const QString &message)
{
    if (capturedLines)
        capturedLines->append(message);
}

// A port that refuses connections: a socket holds it bound without listening, so no other
// program can take it meanwhile. It lives as long as the application.
quint16 closedPort()
{
    auto *holder = new QTcpSocket(QCoreApplication::instance());
    holder->bind(QHostAddress(QHostAddress::LocalHost), 0);
    return holder->localPort();
}

} // namespace

using Result = KRESTService::DownloadResult;
Q_DECLARE_METATYPE(DeviceSimulator::Fault)
Q_DECLARE_METATYPE(KRESTService::DownloadResult)

// File check, download and upload against the simulator. Every test runs with the
// current directory in a fresh temporary folder, so relative and Windows-looking paths
// land there.
class tst_KRESTServiceFiles : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void cleanup();

    void checkFile_data();
    void checkFile();
    void downloadChecksum_data();
    void downloadChecksum();
    void downloadDestinations_data();
    void downloadDestinations();
    void downloadReplacesExistingFile();
    void downloadOverHeldOpenFile();
    void downloadReportsProgress();
    void downloadServedOddly_data();
    void downloadServedOddly();
    void failedDownloadKeepsFile_data();
    void failedDownloadKeepsFile();
    void writeFailingAtTheEndKeepsFile();
    void downloadInterruptedByQuit();
    void upload_data();
    void upload();
    void uploadFailures_data();
    void uploadFailures();
    void uploadUnreadableSource_data();
    void uploadUnreadableSource();

private:
    DeviceSimulator sim;
    QScopedPointer<QTemporaryDir> dir;
    QString previousDir;
    QStringList lines;
    const QByteArray payload = QByteArray("NC program\r\n\0\xff", 15).repeated(1000);
};

void tst_KRESTServiceFiles::initTestCase()
{
    QVERIFY(sim.start(0));
    sim.setFile("files/task.zip", payload);
    previousDir = QDir::currentPath();
}

void tst_KRESTServiceFiles::init()
{
    dir.reset(new QTemporaryDir);
    QVERIFY(dir->isValid());
    QVERIFY(QDir::setCurrent(dir->path()));
    lines.clear();
    capturedLines = &lines;
    qInstallMessageHandler(captureMessage);
}

void tst_KRESTServiceFiles::cleanup()
{
    qInstallMessageHandler(nullptr);
    capturedLines = nullptr;
    // Releases a stalled answer so the server thread is free again.
    sim.clearFault();
    sim.clearCannedReplies();
    sim.setUploadFailure(0, QString());
    sim.clearRequests();
    QDir::setCurrent(previousDir);
    dir.reset();
}

void tst_KRESTServiceFiles::checkFile_data()
{
    QTest::addColumn<QString>("path");
    QTest::addColumn<bool>("exists");
    QTest::newRow("200") << "files/task.zip" << true;
    QTest::newRow("404") << "files/none.zip" << false;
}

void tst_KRESTServiceFiles::checkFile()
{
    QFETCH(QString, path);
    QFETCH(bool, exists);

    KRESTService service;
    service.setServerRoot(sim.rootUrl());
    QCOMPARE(service.checkFile(path), exists);
    QCOMPARE(sim.requests().value(0).method, QByteArray("HEAD"));
    QCOMPARE(lines.contains("file not found: ContentNotFoundError " + path), !exists);
}

void tst_KRESTServiceFiles::downloadChecksum_data()
{
    QTest::addColumn<QString>("md5");
    QTest::addColumn<bool>("written");
    const QString right = KRESTService::md5Base64(payload);
    QVERIFY(right.toLower() != right);
    QTest::newRow("none") << "none" << true;
    QTest::newRow("right") << right << true;
    QTest::newRow("right-lower-case") << right.toLower() << true;
    QTest::newRow("wrong") << KRESTService::md5Base64("other") << false;
    QTest::newRow("None-is-a-checksum") << "None" << false;
}

void tst_KRESTServiceFiles::downloadChecksum()
{
    QFETCH(QString, md5);
    QFETCH(bool, written);

    KRESTService service;
    const QString target = dir->filePath("nc/task.zip");
    QCOMPARE(service.downloadFile(sim.rootUrl() + "files/task.zip", target, md5), written);
    QCOMPARE(QFile::exists(target), written);
    QCOMPARE(QFileInfo::exists(dir->filePath("nc")), written);
    if (written)
        QCOMPARE(TestFiles::read(target), payload);
    QCOMPARE(lines.contains("md5校验出错"), !written);
}

void tst_KRESTServiceFiles::downloadDestinations_data()
{
    QTest::addColumn<QString>("dst");
    QTest::addColumn<QString>("createdDir");
    QTest::addColumn<QString>("writtenFile");

    QTest::newRow("absolute") << "@/nc/deep/7.zip"
                              << "nc/deep"
                              << "nc/deep/7.zip";
    QTest::newRow("relative") << "nc/7.zip"
                              << "nc"
                              << "nc/7.zip";
#ifdef Q_OS_WIN
    // Drive paths are absolute here, so these rows stay inside the test's folder.
    QTest::newRow("backslashes") << "@\\a\\b\\c.zip"
                                 << "a/b"
                                 << "a/b/c.zip";
    QTest::newRow("file-url") << "file:///@/a/c.zip"
                              << "a"
                              << "a/c.zip";
#else
    QTest::newRow("backslashes") << "C:\\a\\b\\c.zip"
                                 << "C:/a/b"
                                 << "C:\\a\\b\\c.zip";
    QTest::newRow("file-url") << "file://@/a/c.zip"
                              << "a"
                              << "a/c.zip";
#endif
    QTest::newRow("bare-name") << "plain.zip"
                               << "."
                               << "plain.zip";
    // Beyond Windows' old 260-character limit, with the temporary file beside it.
    const QString deep = QString(130, 'n');
    const QString deepFile = deep + "/" + QString(130, 'f') + ".zip";
    QTest::newRow("beyond-path-limit") << "@/" + deepFile << deep << deepFile;
}

void tst_KRESTServiceFiles::downloadDestinations()
{
    QFETCH(QString, dst);
    QFETCH(QString, createdDir);
    QFETCH(QString, writtenFile);
    dst.replace('@', dir->path());

    KRESTService service;
    service.setServerRoot(sim.rootUrl());
    QVERIFY(service.downloadFile("files/task.zip", dst, "none"));
    QVERIFY(QFileInfo(dir->filePath(createdDir)).isDir());
    QCOMPARE(TestFiles::read(dir->filePath(writtenFile)), payload);
}

void tst_KRESTServiceFiles::downloadReplacesExistingFile()
{
    const QString target = dir->filePath("task.zip");
    QVERIFY(TestFiles::write(target, QByteArray(payload.size() * 2, 'x')));

    KRESTService service;
    QVERIFY(service.downloadFile(sim.rootUrl() + "files/task.zip", target, "none"));
    QCOMPARE(TestFiles::read(target), payload);
    QCOMPARE(QDir(dir->path()).entryList(QDir::Files), QStringList { "task.zip" });
}

// A PDF viewer holding the old labels open: Windows refuses to replace the file, so the
// download fails and the old file stays whole. Elsewhere the open file is replaced.
void tst_KRESTServiceFiles::downloadOverHeldOpenFile()
{
    const QString target = dir->filePath("labels.pdf");
    const QByteArray previous = "the labels on screen";
    QVERIFY(TestFiles::write(target, previous));
    QFile viewer(target);
    QVERIFY(viewer.open(QIODevice::ReadOnly));

    KRESTService service;
    const bool replaced = service.downloadFile(sim.rootUrl() + "files/task.zip", target, "none");
    viewer.close();
#ifdef Q_OS_WIN
    QVERIFY(!replaced);
    QCOMPARE(TestFiles::read(target), previous);
#else
    QVERIFY(replaced);
    QCOMPARE(TestFiles::read(target), payload);
#endif
    QCOMPARE(QDir(dir->path()).entryList(QDir::Files), QStringList { "labels.pdf" });
}

void tst_KRESTServiceFiles::downloadReportsProgress()
{
    KRESTService service;
    QSignalSpy progress(&service, &KRESTService::downloadProgress);
    QVERIFY(service.downloadFile(sim.rootUrl() + "blob/20000000", dir->filePath("blob.bin"), "none"));
    QVERIFY(!progress.isEmpty());
    qint64 previous = 0;
    for (const QList<QVariant> &arguments : qAsConst(progress)) {
        QVERIFY(arguments.at(0).toLongLong() >= previous);
        previous = arguments.at(0).toLongLong();
        QCOMPARE(arguments.at(1).toLongLong(), qint64(20000000));
    }
    QCOMPARE(previous, qint64(20000000));
}

// Redirects are followed and a gzip body is saved as what it inflates to.
void tst_KRESTServiceFiles::downloadServedOddly_data()
{
    QTest::addColumn<DeviceSimulator::Fault>("fault");
    QTest::addColumn<int>("value");

    for (int status : { 301, 302, 307, 308 })
        QTest::newRow(qPrintable(QString("redirect-%1").arg(status)))
            << DeviceSimulator::Fault::Redirect << status;
    QTest::newRow("gzip") << DeviceSimulator::Fault::Gzip << 0;
}

void tst_KRESTServiceFiles::downloadServedOddly()
{
    QFETCH(DeviceSimulator::Fault, fault);
    QFETCH(int, value);
    sim.setFault(fault, value);

    KRESTService service;
    const QString target = dir->filePath("task.zip");
    const QString md5 = KRESTService::md5Base64(payload);
    QVERIFY2(
        service.downloadFile(sim.rootUrl() + "files/task.zip", target, md5), qPrintable(lines.join('\n')));
    QCOMPARE(service.lastDownload().result, Result::Saved);
    QCOMPARE(TestFiles::read(target), payload);
}

void tst_KRESTServiceFiles::failedDownloadKeepsFile_data()
{
    QTest::addColumn<QString>("src");
    QTest::addColumn<DeviceSimulator::Fault>("fault");
    QTest::addColumn<int>("value");
    QTest::addColumn<qint64>("reserve");
    QTest::addColumn<KRESTService::DownloadResult>("result");

    const qint64 normal = KRESTService::defaultDiskReserve;
    const qint64 beyondAnyDisk = qint64(1) << 60;
    using Fault = DeviceSimulator::Fault;
    QTest::newRow("404") << "files/none.zip" << Fault::None << 0 << normal << Result::HttpError;
    QTest::newRow("500") << "files/task.zip" << Fault::HttpError << 500 << normal << Result::HttpError;
    QTest::newRow("dropped-connection")
        << "files/task.zip" << Fault::DropHalfway << 0 << normal << Result::Incomplete;
    QTest::newRow("stalled-large") << "blob/5000000" << Fault::Stall << 0 << normal << Result::TimedOut;
    QTest::newRow("stalled-small") << "files/task.zip" << Fault::Stall << 0 << normal << Result::TimedOut;
    QTest::newRow("trickle") << "blob/100000" << Fault::Trickle << 100 << normal << Result::TooSlow;
    QTest::newRow("connection-refused") << QString("http://127.0.0.1:%1/x").arg(closedPort()) << Fault::None
                                        << 0 << normal << Result::NetworkError;
    QTest::newRow("no-room") << "files/task.zip" << Fault::None << 0 << beyondAnyDisk << Result::NoSpace;
    QTest::newRow("no-room-gzip") << "files/task.zip" << Fault::Gzip << 1 << beyondAnyDisk << Result::NoSpace;
}

void tst_KRESTServiceFiles::failedDownloadKeepsFile()
{
    QFETCH(QString, src);
    QFETCH(DeviceSimulator::Fault, fault);
    QFETCH(int, value);
    QFETCH(qint64, reserve);
    QFETCH(KRESTService::DownloadResult, result);

    const QString target = dir->filePath("task.zip");
    const QByteArray previous = "the good file";
    QVERIFY(TestFiles::write(target, previous));
    sim.setFault(fault, value);

    // Shortened limits: a stall ends after half a second, a trickle after a second and a half.
    KRESTService service;
    service.setServerRoot(sim.rootUrl());
    service.setTransferTimeout(500);
    service.setRateFloor(1024, 1500);
    service.setDiskReserve(reserve);
    QVERIFY(!service.downloadFile(src, target, "none"));
    QCOMPARE(service.lastDownload().result, result);
    QCOMPARE(TestFiles::read(target), previous);
    QCOMPARE(QDir(dir->path()).entryList(QDir::Files), QStringList { "task.zip" });
}

// A disk that fills up while the last bytes are written, made with a file size limit.
void tst_KRESTServiceFiles::writeFailingAtTheEndKeepsFile()
{
    const QString target = dir->filePath("task.zip");
    QVERIFY(TestFiles::write(target, "the good file"));
    sim.setFile("files/11000.zip", payload.left(11000));

    KRESTService service;
    bool saved = true;
    {
        const FileSizeLimit limit(5 * 1024);
        if (!limit.isActive())
            QSKIP("needs a file size limit (RLIMIT_FSIZE), which this system does not offer");
        saved = service.downloadFile(sim.rootUrl() + "files/11000.zip", target, "none");
    }
    QVERIFY(!saved);
    QCOMPARE(service.lastDownload().result, Result::CannotWrite);
    QCOMPARE(TestFiles::read(target), QByteArray("the good file"));
    QCOMPARE(QDir(dir->path()).entryList(QDir::Files), QStringList { "task.zip" });
}

void tst_KRESTServiceFiles::downloadInterruptedByQuit()
{
    const QString target = dir->filePath("task.zip");
    QVERIFY(TestFiles::write(target, "the good file"));
    sim.setFault(DeviceSimulator::Fault::Stall);

    // The download waits inside the application's own event loop, as it does in the program.
    KRESTService service;
    bool result = true;
    QTimer::singleShot(0, &service,
        [&] { result = service.downloadFile(sim.rootUrl() + "files/task.zip", target, "none"); });
    QTimer::singleShot(300, QCoreApplication::instance(), &QCoreApplication::quit);
    QCoreApplication::exec();

    // Abandoned as the loops ended, not judged by what had arrived by then.
    QVERIFY(!result);
    QCOMPARE(service.lastDownload().result, Result::NetworkError);
    QCOMPARE(TestFiles::read(target), QByteArray("the good file"));
}

void tst_KRESTServiceFiles::upload_data()
{
    QTest::addColumn<QString>("stored");
    QTest::addColumn<QString>("src");
    QTest::addColumn<QByteArray>("announced");

    QTest::newRow("plain-path") << "up/y.pdf"
                                << "up/y.pdf" << QByteArray("y.pdf");
#ifdef Q_OS_WIN
    // Drive paths are absolute here, so these rows stay inside the test's folder.
    QTest::newRow("file-url") << "x/y.pdf"
                              << "file:///@/x/y.pdf" << QByteArray("y.pdf");
    QTest::newRow("backslashes") << "x/z.pdf"
                                 << "@\\x\\z.pdf" << QByteArray("z.pdf");
#else
    QTest::newRow("file-url") << "x/y.pdf"
                              << "file://@/x/y.pdf" << QByteArray("y.pdf");
    QTest::newRow("backslashes") << "D:\\x\\z.pdf"
                                 << "D:\\x\\z.pdf" << QByteArray("z.pdf");
#endif
}

void tst_KRESTServiceFiles::upload()
{
    QFETCH(QString, stored);
    QFETCH(QString, src);
    QFETCH(QByteArray, announced);
    src.replace('@', dir->path());
    QVERIFY(TestFiles::write(dir->filePath(stored), payload));

    KRESTService service;
    service.setServerRoot(sim.rootUrl());
    QCOMPARE(service.uploadFile(src, "nc/7", "tok"), KRESTService::md5Base64(payload));

    const QList<DeviceSimulator::UploadedFile> uploads = sim.uploads();
    QVERIFY(!uploads.isEmpty());
    QCOMPARE(uploads.last().fileName, announced);
    QCOMPARE(uploads.last().content, payload);
    QCOMPARE(uploads.last().path, QByteArray("nc/7"));
    QCOMPARE(uploads.last().token, QByteArray("tok"));
}

void tst_KRESTServiceFiles::uploadFailures_data()
{
    QTest::addColumn<QByteArray>("canned");
    QTest::addColumn<DeviceSimulator::Fault>("fault");
    QTest::addColumn<QString>("result");
    QTest::addColumn<QString>("logged");

    const QByteArray lower = KRESTService::md5Base64(payload).toLower().toLatin1();
    QTest::newRow("service-failure") << QByteArray() << DeviceSimulator::Fault::None << "false"
                                     << "磁盘已满";
    QTest::newRow("empty-reply") << QByteArray() << DeviceSimulator::Fault::EmptyBody << "false"
                                 << "";
    QTest::newRow("not-json") << QByteArray() << DeviceSimulator::Fault::NonJson << "false"
                              << "md5校验出错";
    QTest::newRow("wrong-md5") << QByteArray(
        "{\"result\":0,\"data\":{\"file_md5\":\"AAAAAAAAAAAAAAAAAAAAAA==\"}}")
                               << DeviceSimulator::Fault::None << "false"
                               << "md5校验出错";
    QTest::newRow("no-result-lower-case-md5")
        << "{\"data\":{\"file_md5\":\"" + lower + "\"}}" << DeviceSimulator::Fault::None
        << QString::fromLatin1(lower) << "";
}

void tst_KRESTServiceFiles::uploadFailures()
{
    QFETCH(QByteArray, canned);
    QFETCH(DeviceSimulator::Fault, fault);
    QFETCH(QString, result);
    QFETCH(QString, logged);

    QVERIFY(TestFiles::write(dir->filePath("y.pdf"), payload));
    if (!canned.isEmpty())
        sim.setCannedReply("upload_file2", canned);
    else if (fault == DeviceSimulator::Fault::None)
        sim.setUploadFailure(3, "磁盘已满");
    sim.setFault(fault);

    KRESTService service;
    service.setServerRoot(sim.rootUrl());
    QCOMPARE(service.uploadFile("y.pdf", "nc/7", "tok"), result);
    if (!logged.isEmpty())
        QVERIFY2(lines.contains(logged), qPrintable(lines.join('\n')));
}

void tst_KRESTServiceFiles::uploadUnreadableSource_data()
{
    QTest::addColumn<QString>("src");
    QTest::addColumn<qint64>("size");
    QTest::newRow("missing") << "missing.pdf" << qint64(-1);
    QTest::newRow("directory") << "sub" << qint64(-1);
    // Too large for one QByteArray, which would read it as nothing at all.
    QTest::newRow("2.2-GB") << "huge.pdf" << qint64(2200) * 1000 * 1000;
}

void tst_KRESTServiceFiles::uploadUnreadableSource()
{
    QFETCH(QString, src);
    QFETCH(qint64, size);
    QVERIFY(QDir().mkdir("sub"));
    QFile file(src);
    if (size >= 0)
        QVERIFY(file.open(QIODevice::WriteOnly) && file.resize(size));

    KRESTService service;
    service.setServerRoot(sim.rootUrl());
    QCOMPARE(service.uploadFile(src, "nc/7", "tok"), QStringLiteral("false"));
    QVERIFY(sim.requests().isEmpty());
}

QTEST_GUILESS_MAIN(tst_KRESTServiceFiles)

#include "tst_krestservicefiles.moc"
