#include "app/logfile.h"
#include "service/httptransfer.h"
#include "service/network.h"

#include "sim/devicesimulator.h"

#include <QCryptographicHash>
#include <QMutexLocker>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QtTest>

namespace {

QStringList passedOn;

void recordingHandler(QtMsgType, const QMessageLogContext &, const QString &message)
{
    passedOn << message;
}

// The lines of a log file, without their line ends.
QStringList linesOf(const QString &path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly | QIODevice::Text))
        return {};
    return QString::fromUtf8(file.readAll()).split('\n', Qt::SkipEmptyParts);
}

} // namespace

class tst_LogFile : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void rotatesBySize();
    void handlerWritesAndPassesOn();
    void debugStaysOutOfTheFile_data();
    void debugStaysOutOfTheFile();
    void failedSignInLeavesNoPasswordDigest_data();
    void failedSignInLeavesNoPasswordDigest();

private:
    DeviceSimulator m_sim;
};

void tst_LogFile::initTestCase()
{
    QVERIFY(m_sim.start(0));
    Network *network = Network::getInstance(QStringLiteral("defalut"));
    QMutexLocker locker(&network->mutex);
    network->rootUrl = m_sim.rootUrl();
}

// Every file stays within the size, at most three remain, and read oldest first they
// hold an unbroken run of the last lines written.
void tst_LogFile::rotatesBySize()
{
    QTemporaryDir dir;
    const QString path = dir.filePath("log/quillet.log");
    const qint64 maxBytes = 200;
    {
        LogFile log(path, maxBytes, 3);
        for (int i = 0; i < 40; ++i)
            log.write(QStringLiteral("line %1").arg(i, 2, 10, QLatin1Char('0')));
    }

    QStringList lines;
    for (const QString &name : { path + ".2", path + ".1", path }) {
        QVERIFY2(QFileInfo(name).size() > 0, qPrintable(name));
        QVERIFY2(QFileInfo(name).size() <= maxBytes, qPrintable(name));
        lines << linesOf(name);
    }
    QVERIFY(!QFileInfo::exists(path + ".3"));
    const QRegularExpression stamped("^\\d{4}-\\d\\d-\\d\\d \\d\\d:\\d\\d:\\d\\d\\.\\d{3} line (\\d\\d)$");
    const int first = 40 - lines.size();
    QVERIFY(first > 0);
    for (int i = 0; i < lines.size(); ++i) {
        const QRegularExpressionMatch match = stamped.match(lines.at(i));
        QVERIFY2(match.hasMatch(), qPrintable(lines.at(i)));
        QCOMPARE(match.captured(1).toInt(), first + i);
    }
}

void tst_LogFile::handlerWritesAndPassesOn()
{
    QTemporaryDir dir;
    const QString path = dir.filePath("log/quillet.log");
    const QtMessageHandler original = qInstallMessageHandler(recordingHandler);
    passedOn.clear();
    {
        LogFile log(path);
        log.install();
        qInfo() << "fetched" << QString::fromUtf8("任务");
        qWarning("cannot write");
    }
    qDebug("after the log");
    qInstallMessageHandler(original);

    const QStringList lines = linesOf(path);
    QCOMPARE(lines.size(), 2);
    QVERIFY2(lines.at(0).endsWith(QString::fromUtf8(" info: fetched \"任务\"")), qPrintable(lines.at(0)));
    QVERIFY2(lines.at(1).endsWith(" warning: cannot write"), qPrintable(lines.at(1)));
    QCOMPARE(
        passedOn, QStringList({ QString::fromUtf8("fetched \"任务\""), "cannot write", "after the log" }));
}

void tst_LogFile::debugStaysOutOfTheFile_data()
{
    QTest::addColumn<int>("type");
    QTest::addColumn<QByteArray>("category");
    QTest::addColumn<bool>("inFile");

    QTest::newRow("plain debug stays out") << int(QtDebugMsg) << QByteArray("default") << false;
    QTest::newRow("a library's debug stays out") << int(QtDebugMsg) << QByteArray("quillet.rest") << false;
    QTest::newRow("the trace stays out") << int(QtDebugMsg) << QByteArray("quillet.trace") << false;
    QTest::newRow("info goes in") << int(QtInfoMsg) << QByteArray("default") << true;
    QTest::newRow("a library's warning goes in")
        << int(QtWarningMsg) << QByteArray("quillet.service") << true;
}

void tst_LogFile::debugStaysOutOfTheFile()
{
    QFETCH(int, type);
    QFETCH(QByteArray, category);
    QFETCH(bool, inFile);
    QTemporaryDir dir;
    const QString path = dir.filePath("quillet.log");
    const QtMessageHandler original = qInstallMessageHandler(recordingHandler);
    passedOn.clear();
    {
        LogFile log(path);
        log.install();
        qt_message_output(QtMsgType(type), QMessageLogContext(nullptr, 0, nullptr, category), "the line");
    }
    qInstallMessageHandler(original);

    QCOMPARE(linesOf(path).size(), inFile ? 1 : 0);
    QCOMPARE(passedOn, QStringList { "the line" });
}

void tst_LogFile::failedSignInLeavesNoPasswordDigest_data()
{
    QTest::addColumn<QString>("userName");
    QTest::addColumn<int>("httpStatus");

    QTest::newRow("user name is a dot segment") << ".." << 0;
    QTest::newRow("service answers 500") << "demo" << 500;
    QTest::newRow("service answers 404") << "demo" << 404;
}

// The service takes the digest as the password. The sign-in window writes the failure's
// message into the log too.
void tst_LogFile::failedSignInLeavesNoPasswordDigest()
{
    QFETCH(QString, userName);
    QFETCH(int, httpStatus);
    m_sim.clearFault();
    if (httpStatus)
        m_sim.setFault(DeviceSimulator::Fault::HttpError, httpStatus);
    const QString digest = QCryptographicHash::hash("demo123", QCryptographicHash::Md5).toHex();
    QTemporaryDir dir;
    const QString path = dir.filePath("quillet.log");
    HttpTransfer transfer;
    {
        LogFile log(path);
        log.install();
        QVERIFY(transfer.login({ { "username", userName }, { "password", digest } }).isEmpty());
    }

    QVERIFY(transfer.lastError().hasError());
    QVERIFY2(!transfer.lastError().message().contains(digest), qPrintable(transfer.lastError().message()));
    for (const QString &line : linesOf(path))
        QVERIFY2(!line.contains(digest, Qt::CaseInsensitive), qPrintable(line));
}

QTEST_GUILESS_MAIN(tst_LogFile)
#include "tst_logfile.moc"
