#include "app/tlstrust.h"

#include "app/serverconfig.h"
#include "service/httptransfer.h"
#include "service/network.h"
#include "sim/devicesimulator.h"
#include "tasks/statustext.h"
#include "tests/support/testfiles.h"
#include "tests/support/testpki.h"

#include <QCryptographicHash>
#include <QDate>
#include <QDir>
#include <QSslConfiguration>
#include <QTemporaryDir>
#include <QtTest>

#include <memory>

#ifdef Q_OS_UNIX
#include <sys/stat.h>
#endif

// https end to end: the company CA named by quillet.ini's caFile is trusted for the device
// service and for task files alike, and every certificate that is not good is refused with
// Qt's reason, never ignored, leaving nothing written.
class tst_TlsTrust : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void unusableCaFileIsReported_data();
    void unusableCaFileIsReported();
    void signInAndTaskListOverHttps();
    void taskFileOverHttps();
    void badCertificateIsRefused_data();
    void badCertificateIsRefused();
    void redirectFromHttpsToHttpIsRefused();

private:
    QVariantMap fetchRequest(const QString &remote, const QString &taskNumber) const;
    std::unique_ptr<DeviceSimulator> startTls(const TestPki::Issued &issued, const QString &name);

    TestPki m_pki;
    QTemporaryDir m_dir;
    std::unique_ptr<DeviceSimulator> m_sim;
};

void tst_TlsTrust::initTestCase()
{
    QVERIFY(m_pki.isValid());
    QVERIFY(m_dir.isValid());
    QVERIFY(TestFiles::write(m_dir.filePath("certs/company-ca.pem"), m_pki.caPem()));
    QVERIFY(TestFiles::write(m_dir.filePath("quillet.ini"), "caFile=certs/company-ca.pem\n"));

    const QList<QSslCertificate> system = QSslConfiguration::systemCaCertificates();
    QCOMPARE(TlsTrust::addCompanyCa(ServerConfig::caFile(m_dir.path())), QString());
    const QList<QSslCertificate> trusted = QSslConfiguration::defaultConfiguration().caCertificates();
    QVERIFY(trusted.contains(QSslCertificate(m_pki.caPem())));
    for (const QSslCertificate &root : system)
        QVERIFY(trusted.contains(root));

    m_sim = startTls(m_pki.issue("127.0.0.1"), "good");
    QVERIFY(m_sim);
    ServerConfig::bind(Network::getInstance("defalut"), m_sim->rootUrl());
}

std::unique_ptr<DeviceSimulator> tst_TlsTrust::startTls(const TestPki::Issued &issued, const QString &name)
{
    auto sim = std::make_unique<DeviceSimulator>();
    if (!TestPki::save(issued, m_dir.path(), name)
        || !sim->startTls(m_dir.filePath(name + ".pem"), m_dir.filePath(name + ".key")))
        return nullptr;
    return sim;
}

QVariantMap tst_TlsTrust::fetchRequest(const QString &remote, const QString &taskNumber) const
{
    return { { "remoteFile", remote }, { "localFile", m_dir.filePath("pdf/" + taskNumber + ".pdf") },
        { "localPath", m_dir.filePath("pdf/" + taskNumber) } };
}

void tst_TlsTrust::unusableCaFileIsReported_data()
{
    QTest::addColumn<QByteArray>("content");
    QTest::addColumn<bool>("fifo");
    QTest::newRow("missing") << QByteArray() << false;
    QTest::newRow("no certificate") << QByteArray("-----BEGIN NOTHING-----\nabc\n-----END NOTHING-----\n")
                                    << false;
    QTest::newRow("good certificate, but over 1 MiB")
        << m_pki.caPem() + QByteArray(1024 * 1024, '\n') << false;
#ifdef Q_OS_UNIX
    QTest::newRow("a pipe, which no one writes to") << QByteArray() << true;
#endif
}

void tst_TlsTrust::unusableCaFileIsReported()
{
    QFETCH(QByteArray, content);
    QFETCH(bool, fifo);
    const QString file = m_dir.filePath("unusable.pem");
    QFile::remove(file);
    if (!content.isEmpty())
        QVERIFY(TestFiles::write(file, content));
#ifdef Q_OS_UNIX
    if (fifo)
        QCOMPARE(mkfifo(QFile::encodeName(file).constData(), 0600), 0);
#else
    Q_UNUSED(fifo)
#endif
    const QList<QSslCertificate> before = QSslConfiguration::defaultConfiguration().caCertificates();

    const QString problem = TlsTrust::addCompanyCa(file);
    QVERIFY(problem.contains(QDir::toNativeSeparators(file)));
    QCOMPARE(QSslConfiguration::defaultConfiguration().caCertificates(), before);
}

void tst_TlsTrust::signInAndTaskListOverHttps()
{
    QVERIFY(m_sim->rootUrl().startsWith("https://"));
    HttpTransfer transfer;
    const QVariantMap signedIn = transfer.login({ { "username", "demo" },
        { "password", QCryptographicHash::hash("demo123", QCryptographicHash::Md5).toHex() } });
    QCOMPARE(signedIn.value("status").toInt(), 1);

    const QDate today = QDate::currentDate();
    const QVariantMap tasks
        = transfer.getTaskList({ { "uid", "1001" }, { "time", today.toString("yyyy-MM-dd") } });
    QCOMPARE(tasks.value("data").toList(), m_sim->tasksFor(today));
}

void tst_TlsTrust::taskFileOverHttps()
{
    const QVariantMap task = m_sim->tasksFor(QDate::currentDate()).value(0).toMap();
    const QString address = task.value("pdf").toString();
    QVERIFY(address.startsWith("https://"));

    HttpTransfer transfer;
    QVERIFY(transfer.downloadNcFile(fetchRequest(address, "T-1")));
    const QByteArray written = TestFiles::read(m_dir.filePath("pdf/T-1.pdf"));
    QCOMPARE(written, DeviceSimulator::makePdf("Panel labels " + task.value("task_num").toString()));
    QCOMPARE(transfer.lastFetch().sha256, QCryptographicHash::hash(written, QCryptographicHash::Sha256));
}

void tst_TlsTrust::badCertificateIsRefused_data()
{
    QTest::addColumn<QString>("host");
    QTest::addColumn<bool>("ownCa");
    QTest::addColumn<int>("validFromDays");
    QTest::addColumn<int>("validToDays");
    QTest::addColumn<bool>("redirected");

    QTest::newRow("unknown issuer") << "127.0.0.1" << true << -1 << 30 << false;
    QTest::newRow("another host name") << "other.example" << false << -1 << 30 << false;
    QTest::newRow("expired") << "127.0.0.1" << false << -30 << -1 << false;
    QTest::newRow("unknown issuer after a redirect from http") << "127.0.0.1" << true << -1 << 30 << true;
}

void tst_TlsTrust::badCertificateIsRefused()
{
    QFETCH(QString, host);
    QFETCH(bool, ownCa);
    QFETCH(int, validFromDays);
    QFETCH(int, validToDays);
    QFETCH(bool, redirected);
    const TestPki stranger;
    const TestPki &issuer = ownCa ? stranger : m_pki;
    const std::unique_ptr<DeviceSimulator> sim
        = startTls(issuer.issue(host, validFromDays, validToDays), QTest::currentDataTag());
    QVERIFY(sim);
    Network *network = Network::getInstance("defalut");
    ServerConfig::bind(network, sim->rootUrl());
    const auto restore = qScopeGuard([&] { ServerConfig::bind(network, m_sim->rootUrl()); });

    HttpTransfer transfer;
    QVERIFY(transfer.login({ { "username", "demo" }, { "password", "x" } }).isEmpty());
    QCOMPARE(transfer.lastError().code(), int(Network::CertificateRefused));
    QVERIFY(StatusText::reason(transfer.lastError()).startsWith(QStringLiteral("证书无效（")));

    DeviceSimulator front;
    QVERIFY(front.start(0));
    front.setRedirectRoot(sim->rootUrl());
    front.setFault(DeviceSimulator::Fault::Redirect, 302, "files/");
    const DeviceSimulator &first = redirected ? front : *sim;
    const QString address = first.tasksFor(QDate::currentDate()).value(0).toMap().value("pdf").toString();
    QVERIFY(!transfer.downloadNcFile(fetchRequest(address, "refused")));
    QCOMPARE(transfer.lastFetch().download, KRESTService::DownloadResult::CertificateRefused);
    QVERIFY(!transfer.lastFetch().certificateProblem.isEmpty());
    QVERIFY(StatusText::fetchFailed("refused.pdf", transfer.lastFetch())
                .contains(transfer.lastFetch().certificateProblem));
    QVERIFY(!QFileInfo::exists(m_dir.filePath("pdf/refused.pdf")));
    for (const DeviceSimulator::Request &request : sim->requests())
        QVERIFY2(false, "a request got past the refused handshake: " + request.rawPath);
}

void tst_TlsTrust::redirectFromHttpsToHttpIsRefused()
{
    DeviceSimulator plain;
    QVERIFY(plain.start(0));
    m_sim->setRedirectRoot(plain.rootUrl());
    m_sim->setFault(DeviceSimulator::Fault::Redirect, 302, "files/");
    const auto restore = qScopeGuard([this] {
        m_sim->clearFault();
        m_sim->setRedirectRoot(QString());
    });

    const QString address = m_sim->tasksFor(QDate::currentDate()).value(0).toMap().value("pdf").toString();
    HttpTransfer transfer;
    QVERIFY(!transfer.downloadNcFile(fetchRequest(address, "redirected")));
    QCOMPARE(transfer.lastFetch().download, KRESTService::DownloadResult::InsecureRedirect);
    QVERIFY(plain.requests().isEmpty());
    QVERIFY(!QFileInfo::exists(m_dir.filePath("pdf/redirected.pdf")));
}

QTEST_GUILESS_MAIN(tst_TlsTrust)
#include "tst_tlstrust.moc"
