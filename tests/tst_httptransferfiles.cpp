#include "service/fileclaim.h"
#include "service/httptransfer.h"

#include "sim/devicesimulator.h"
#include "tests/support/testfiles.h"

#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QTemporaryDir>
#include <QTimer>
#include <QUrl>
#include <QtTest>

Q_DECLARE_METATYPE(DeviceSimulator::Fault)

namespace {

QVariantMap transferRequest(const QString &remote, const QString &file, const QString &folder)
{
    return { { "remoteFile", remote }, { "localFile", file }, { "localPath", folder } };
}

} // namespace

class tst_HttpTransferFiles : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void fetchesAndUnpacksArchive();
    void fetchedPdfIsNotUnpacked();
    void emptyRemoteUnpacksLocalFile();
    void emptyRemoteWithoutLocalFile();
    void failedFetchKeepsOldFiles_data();
    void failedFetchKeepsOldFiles();
    void nonWebAddressIsNotFetched_data();
    void nonWebAddressIsNotFetched();
    void secondFetchLeavesNoOldProgram();
    void escapingArchiveUnpacksNothing();
    void sameFileWhileFetchingIsRefused();
    void taskDifferingOnlyInCaseIsRefused_data();
    void taskDifferingOnlyInCaseIsRefused();
    void opensFolder_data();
    void opensFolder();
    void emptyPathOpensNothing();

private:
    QString url(const QString &path) const { return m_sim.rootUrl() + path; }
    QString path(const QString &relative) const { return m_work->filePath(relative); }
    QStringList openedFolders() const;
    int fileRequests() const;

    DeviceSimulator m_sim;
    QTemporaryDir m_bin;
    std::unique_ptr<QTemporaryDir> m_work;
};

// A recording stand-in takes the place of the file manager.
void tst_HttpTransferFiles::initTestCase()
{
    QVERIFY(m_sim.start(0));
    QVERIFY(m_bin.isValid());
    QVERIFY(TestFiles::installRecordingOpener(m_bin.path()));
}

void tst_HttpTransferFiles::init()
{
    m_sim.clearFault();
    m_sim.clearCannedReplies();
    m_sim.clearRequests();
    QFile::remove(m_bin.filePath("opened.txt"));
    // Every fetch is recorded beside the program.
    QDir(QCoreApplication::applicationDirPath() + "/history").removeRecursively();
    m_work.reset(new QTemporaryDir);
    QVERIFY(m_work->isValid());
}

QStringList tst_HttpTransferFiles::openedFolders() const
{
    return TestFiles::openedFolders(m_bin.path());
}

int tst_HttpTransferFiles::fileRequests() const
{
    int count = 0;
    for (const DeviceSimulator::Request &request : m_sim.requests())
        count += (request.rawPath.startsWith("dl/") || request.rawPath.startsWith("files/")) ? 1 : 0;
    return count;
}

void tst_HttpTransferFiles::fetchesAndUnpacksArchive()
{
    const QByteArray zip
        = DeviceSimulator::makeZip({ { "panel-1.nc", "G0 X0\n" }, { "sub/panel-2.nc", "G1\n" } });
    m_sim.setFile("dl/7.zip", zip);

    HttpTransfer transfer;
    QVERIFY(transfer.downloadNcFile(transferRequest(url("dl/7.zip"), path("nc/7.zip"), path("nc/7"))));

    const QMap<QString, QByteArray> expected { { "nc", "<dir>" }, { "nc/7.zip", zip }, { "nc/7", "<dir>" },
        { "nc/7/panel-1.nc", "G0 X0\n" }, { "nc/7/sub", "<dir>" }, { "nc/7/sub/panel-2.nc", "G1\n" } };
    QCOMPARE(TestFiles::snapshot(m_work->path()), expected);
    QCOMPARE(fileRequests(), 1);
}

void tst_HttpTransferFiles::fetchedPdfIsNotUnpacked()
{
    const QString address = url("files/" + QDate::currentDate().toString("yyyy-MM-dd") + "/7.pdf");
    HttpTransfer transfer;
    QVERIFY(transfer.downloadNcFile(transferRequest(address, path("pdf/7.pdf"), path("pdf/7"))));

    QVERIFY(TestFiles::read(path("pdf/7.pdf")).startsWith("%PDF-"));
    QCOMPARE(TestFiles::snapshot(m_work->path()).keys(), (QStringList { "pdf", "pdf/7.pdf" }));
}

void tst_HttpTransferFiles::emptyRemoteUnpacksLocalFile()
{
    QVERIFY(TestFiles::write(path("nc/7.zip"), DeviceSimulator::makeZip({ { "panel-1.nc", "local" } })));

    HttpTransfer transfer;
    QVERIFY(transfer.downloadNcFile(transferRequest(QString(), path("nc/7.zip"), path("nc/7"))));
    QCOMPARE(TestFiles::read(path("nc/7/panel-1.nc")), QByteArray("local"));
    QVERIFY(m_sim.requests().isEmpty());
}

void tst_HttpTransferFiles::emptyRemoteWithoutLocalFile()
{
    HttpTransfer transfer;
    QVERIFY(transfer.downloadNcFile(transferRequest(QString(), path("nc/7.zip"), path("nc/7"))));
    QVERIFY(transfer.downloadNcFile(QVariantMap()));
    QVERIFY(TestFiles::snapshot(m_work->path()).isEmpty());
    QVERIFY(m_sim.requests().isEmpty());
}

void tst_HttpTransferFiles::failedFetchKeepsOldFiles_data()
{
    QTest::addColumn<DeviceSimulator::Fault>("fault");
    QTest::addColumn<int>("value");

    QTest::newRow("http-404") << DeviceSimulator::Fault::HttpError << 404;
    QTest::newRow("http-500") << DeviceSimulator::Fault::HttpError << 500;
    QTest::newRow("dropped-halfway") << DeviceSimulator::Fault::DropHalfway << 0;
}

void tst_HttpTransferFiles::failedFetchKeepsOldFiles()
{
    QFETCH(DeviceSimulator::Fault, fault);
    QFETCH(int, value);
    const QByteArray oldZip = DeviceSimulator::makeZip({ { "panel-1.nc", "old" } });
    QVERIFY(TestFiles::write(path("nc/7.zip"), oldZip));
    QVERIFY(TestFiles::write(path("nc/7/panel-1.nc"), "old"));
    m_sim.setFile("dl/7.zip", DeviceSimulator::makeZip({ { "panel-9.nc", QByteArray(50000, 'N') } }));
    m_sim.setFault(fault, value, "dl/");
    const QMap<QString, QByteArray> before = TestFiles::snapshot(m_work->path());

    HttpTransfer transfer;
    QVERIFY(!transfer.downloadNcFile(transferRequest(url("dl/7.zip"), path("nc/7.zip"), path("nc/7"))));
    QCOMPARE(TestFiles::snapshot(m_work->path()), before);
    QCOMPARE(fileRequests(), 1);
}

void tst_HttpTransferFiles::nonWebAddressIsNotFetched_data()
{
    QTest::addColumn<QString>("address");

    QTest::newRow("file-url") << "file:///etc/hostname";
    QTest::newRow("relative") << "dl/7.zip";
    QTest::newRow("data-url") << "data:,hello";
}

void tst_HttpTransferFiles::nonWebAddressIsNotFetched()
{
    QFETCH(QString, address);
    HttpTransfer transfer;
    QVERIFY(!transfer.downloadNcFile(transferRequest(address, path("pdf/7.pdf"), path("pdf/7"))));
    QVERIFY(TestFiles::snapshot(m_work->path()).isEmpty());
}

void tst_HttpTransferFiles::secondFetchLeavesNoOldProgram()
{
    m_sim.setFile(
        "dl/7.zip", DeviceSimulator::makeZip({ { "panel-1.nc", "first" }, { "left/panel-2.nc", "first" } }));
    HttpTransfer transfer;
    const QVariantMap request = transferRequest(url("dl/7.zip"), path("nc/7.zip"), path("nc/7"));
    QVERIFY(transfer.downloadNcFile(request));
    QCOMPARE(TestFiles::read(path("nc/7/left/panel-2.nc")), QByteArray("first"));

    m_sim.setFile("dl/7.zip", DeviceSimulator::makeZip({ { "panel-3.nc", "second" } }));
    QVERIFY(transfer.downloadNcFile(request));

    const QMap<QString, QByteArray> expected { { "7", "<dir>" }, { "7/panel-3.nc", "second" },
        { "7.zip", TestFiles::read(path("nc/7.zip")) } };
    QCOMPARE(TestFiles::snapshot(path("nc")), expected);
}

void tst_HttpTransferFiles::escapingArchiveUnpacksNothing()
{
    m_sim.setFile("dl/7.zip",
        DeviceSimulator::makeZip({ { "panel-1.nc", "G0\n" }, { "../../escaped.nc", "escaped" } }));
    HttpTransfer transfer;
    QVERIFY(
        transfer.downloadNcFile(transferRequest(url("dl/7.zip"), path("work/nc/7.zip"), path("work/nc/7"))));
    QCOMPARE(
        TestFiles::snapshot(m_work->path()).keys(), (QStringList { "work", "work/nc", "work/nc/7.zip" }));
}

// The fetch waits in a local event loop; a request for the same file that arrives meanwhile
// is refused at once, one for another file goes ahead.
void tst_HttpTransferFiles::sameFileWhileFetchingIsRefused()
{
    m_sim.setFile("dl/7.zip", DeviceSimulator::makeZip({ { "panel-1.nc", "seven" } }));
    m_sim.setFile("dl/8.zip", DeviceSimulator::makeZip({ { "panel-1.nc", "eight" } }));
    m_sim.setFault(DeviceSimulator::Fault::Delay, 600, "dl/7");
    const QVariantMap seven = transferRequest(url("dl/7.zip"), path("nc/7.zip"), path("nc/7"));
    const QVariantMap eight = transferRequest(url("dl/8.zip"), path("nc/8.zip"), path("nc/8"));

    QList<bool> during;
    QTimer::singleShot(100, this, [&] {
        HttpTransfer transfer;
        during << transfer.downloadNcFile(seven) << transfer.downloadNcFile(eight);
    });
    HttpTransfer transfer;
    QVERIFY(transfer.downloadNcFile(seven));

    QCOMPARE(during, (QList<bool> { false, true }));
    QCOMPARE(TestFiles::read(path("nc/7/panel-1.nc")), QByteArray("seven"));
    QCOMPARE(TestFiles::read(path("nc/8/panel-1.nc")), QByteArray("eight"));
    QCOMPARE(fileRequests(), 2);

    // Once finished, the same file may be fetched again.
    m_sim.clearFault();
    QVERIFY(transfer.downloadNcFile(seven));
}

// other: what another task "A1" has on disk, or "claimed" while it is being fetched.
void tst_HttpTransferFiles::taskDifferingOnlyInCaseIsRefused_data()
{
    QTest::addColumn<QString>("kind");
    QTest::addColumn<QString>("other");

    QTest::newRow("an NC program fetched under another case") << "nc"
                                                              << "nc/A1/panel-1.nc";
    QTest::newRow("a label fetched under another case") << "pdf"
                                                        << "pdf/A1.pdf";
    QTest::newRow("an NC program being fetched under another case") << "nc"
                                                                    << "claimed";
}

void tst_HttpTransferFiles::taskDifferingOnlyInCaseIsRefused()
{
    QFETCH(QString, kind);
    QFETCH(QString, other);
    m_sim.setFile("dl/a1.zip", DeviceSimulator::makeZip({ { "panel-1.nc", "a1" } }));
    m_sim.setFile("dl/a1.pdf", DeviceSimulator::makePdf("a1"));
    const bool pdf = kind == "pdf";
    const FileClaim claim(
        other == "claimed" ? QStringList { path("nc/A1.zip"), path("nc/A1") } : QStringList());
    if (other != "claimed")
        QVERIFY(TestFiles::write(path(other), "A1's"));
    const QMap<QString, QByteArray> before = TestFiles::snapshot(m_work->path());

    HttpTransfer transfer;
    QVERIFY(!transfer.downloadNcFile(transferRequest(url(pdf ? "dl/a1.pdf" : "dl/a1.zip"),
        path(pdf ? "pdf/a1.pdf" : "nc/a1.zip"), path(pdf ? "pdf/a1" : "nc/a1"))));
    QCOMPARE(transfer.lastFetch().fetch, FetchReport::Fetch::CaseClash);
    QCOMPARE(transfer.lastFetch().clashingTask, QString("A1"));
    QCOMPARE(TestFiles::snapshot(m_work->path()), before);
    QCOMPARE(fileRequests(), 0);
}

void tst_HttpTransferFiles::opensFolder_data()
{
    QTest::addColumn<QString>("given");
    QTest::addColumn<QString>("opened");

    const QString folder = QDir::cleanPath(QDir::tempPath()) + "/quillet nc/7";
    QTest::newRow("plain") << folder << folder;
    QTest::newRow("trailing-slash") << folder + "/" << folder;
    const QString url = QUrl::fromLocalFile(folder).toString();
    QTest::newRow("file-url") << url << folder;
    QTest::newRow("file-url-trailing-slash") << url + "/" << folder;
    QTest::newRow("relative") << "nc/7"
                              << "<cwd>/nc/7";
    QTest::newRow("relative-dot") << "./nc/"
                                  << "<cwd>/nc";
    QTest::newRow("parent-segments") << folder + "/../8" << QFileInfo(folder).path() + "/8";
}

void tst_HttpTransferFiles::opensFolder()
{
    QFETCH(QString, given);
    QFETCH(QString, opened);
    opened.replace("<cwd>", QDir::currentPath());

    HttpTransfer transfer;
    transfer.openLocalPath(given);
    // On Windows the file explorer gets the path with backslashes.
    QTRY_COMPARE(openedFolders(), QStringList { QDir::toNativeSeparators(opened) });
}

void tst_HttpTransferFiles::emptyPathOpensNothing()
{
    HttpTransfer transfer;
    const QString marker = QDir::cleanPath(QDir::tempPath()) + "/marker";
    transfer.openLocalPath(QString());
    transfer.openLocalPath(marker);
    QTRY_COMPARE(openedFolders(), QStringList { QDir::toNativeSeparators(marker) });
}

QTEST_GUILESS_MAIN(tst_HttpTransferFiles)
#include "tst_httptransferfiles.moc"
