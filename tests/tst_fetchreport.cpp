#include "service/fetchreport.h"

#include "tasks/statustext.h"

#include <QtTest>

namespace {

using Fetch = FetchReport::Fetch;
using Download = KRESTService::DownloadResult;
using Unpack = ArchiveUnpacker::Result;

FetchReport report(bool pdf, Fetch fetch, Download download, Unpack unpack)
{
    FetchReport made;
    made.pdf = pdf;
    made.fetch = fetch;
    made.downloadRan = fetch == Fetch::Fetched || fetch == Fetch::DownloadFailed;
    made.download = download;
    made.unpack = unpack;
    made.durationMs = 12;
    if (fetch == Fetch::Fetched) {
        made.bytes = 2048;
        made.sha256 = QByteArray(32, '\xab');
    }
    return made;
}

} // namespace

// The log line, the history row and the status line of one fetch name the same steps.
class tst_FetchReport : public QObject
{
    Q_OBJECT

private slots:
    void renderings_data();
    void renderings();
};

void tst_FetchReport::renderings_data()
{
    QTest::addColumn<FetchReport>("fetched");
    QTest::addColumn<QString>("log");
    QTest::addColumn<QString>("row");
    QTest::addColumn<QString>("status");
    const QString written = ", 2048 bytes, SHA-256 " + QString("ab").repeated(32) + ", 12 ms";
    const QString none = ", 0 bytes, SHA-256 -, 12 ms";

    QTest::newRow("label PDF saved: no archive step")
        << report(true, Fetch::Fetched, Download::Saved, Unpack::NotAnArchive) << "Fetched Saved" + written
        << "Fetched / Saved" << QString::fromUtf8("已下载 7.pdf 到 target");
    QTest::newRow("NC program saved and unpacked")
        << report(false, Fetch::Fetched, Download::Saved, Unpack::Unpacked)
        << "Fetched Saved Unpacked" + written << "Fetched / Saved / Unpacked"
        << QString::fromUtf8("NC程序已解压到 target");
    QTest::newRow("NC program saved but no archive")
        << report(false, Fetch::Fetched, Download::Saved, Unpack::NotAnArchive)
        << "Fetched Saved NotAnArchive" + written << "Fetched / Saved / NotAnArchive"
        << QString::fromUtf8("NC程序未更新（target）：下载的文件不是压缩包");
    FetchReport samePdf = report(true, Fetch::Fetched, Download::Unchanged, Unpack::NotAnArchive);
    FetchReport sameNc = report(false, Fetch::Fetched, Download::Saved, Unpack::NotAnArchive);
    samePdf.identical = sameNc.identical = true;
    QTest::newRow("label PDF identical to the one in place")
        << samePdf << "Fetched Unchanged" + written << "Identical"
        << QString::fromUtf8("7.pdf 与当前版本相同，未替换");
    QTest::newRow("NC archive identical to the program in place")
        << sameNc << "Fetched Saved Identical" + written << "Identical"
        << QString::fromUtf8("7.zip 与当前版本相同，未替换");
    FetchReport refused
        = report(true, Fetch::DownloadFailed, Download::CertificateRefused, Unpack::NotAnArchive);
    refused.certificateProblem = "The certificate has expired";
    QTest::newRow("certificate refused")
        << refused << "DownloadFailed CertificateRefused" + none << "DownloadFailed / CertificateRefused"
        << QString::fromUtf8("7.pdf 未下载：证书无效（The certificate has expired），原有文件未改动");
    QTest::newRow("same file still being fetched")
        << report(false, Fetch::InUse, Download::Saved, Unpack::NotAnArchive) << "InUse" + none << "InUse"
        << QString::fromUtf8("7.zip 未下载：同一文件正在下载，原有文件未改动");
    QTest::newRow("not a web address")
        << report(true, Fetch::NotWebAddress, Download::Saved, Unpack::NotAnArchive) << "NotWebAddress" + none
        << "NotWebAddress" << QString::fromUtf8("7.pdf 未下载：地址无效，原有文件未改动");
}

void tst_FetchReport::renderings()
{
    QFETCH(FetchReport, fetched);
    QFETCH(QString, log);
    QFETCH(QString, row);
    QFETCH(QString, status);
    QCOMPARE(fetched.logText(), log);
    QCOMPARE(fetched.historyOutcome(), row);
    const QString fileName = fetched.pdf ? "7.pdf" : "7.zip";
    QCOMPARE(StatusText::fetchEnded(fileName, "target", fetched), status);
}

QTEST_GUILESS_MAIN(tst_FetchReport)
#include "tst_fetchreport.moc"
