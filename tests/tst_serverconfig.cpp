#include "app/serverconfig.h"

#include "service/network.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QtTest>

class tst_ServerConfig : public QObject
{
    Q_OBJECT

private slots:
    void defaultRootIsCompiledIn();
    void serverRootFromFile_data();
    void serverRootFromFile();
    void missingFileGivesDefault();
    void executableDirIsThisProgramsFolder();
    void bindWritesRootUnderLock();
};

void tst_ServerConfig::defaultRootIsCompiledIn()
{
    QCOMPARE(ServerConfig::defaultRoot(), QStringLiteral(QUILLET_TEST_SERVER_ROOT));
    QVERIFY(ServerConfig::defaultRoot().endsWith(QLatin1Char('/')));
}

void tst_ServerConfig::serverRootFromFile_data()
{
    QTest::addColumn<QByteArray>("ini");
    QTest::addColumn<QString>("expected");

    const QString fallback = ServerConfig::defaultRoot();
    QTest::newRow("with trailing slash") << QByteArray("serverRoot=http://devices.factory.test:8080/api/\n")
                                         << "http://devices.factory.test:8080/api/";
    QTest::newRow("without trailing slash")
        << QByteArray("serverRoot=https://factory.test/api\n") << "https://factory.test/api/";
    QTest::newRow("host only") << QByteArray("serverRoot=http://host:9000\n") << "http://host:9000/";
    QTest::newRow("in General section") << QByteArray("[General]\nserverRoot=http://a.b/\n") << "http://a.b/";
    QTest::newRow("surrounding blanks") << QByteArray("serverRoot = \" http://a.b/x \"\n") << "http://a.b/x/";
    QTest::newRow("empty value") << QByteArray("serverRoot=\n") << fallback;
    QTest::newRow("no such key") << QByteArray("other=http://a.b/\n") << fallback;
    QTest::newRow("not an address") << QByteArray("serverRoot=just words\n") << fallback;
    QTest::newRow("not http") << QByteArray("serverRoot=ftp://a.b/\n") << fallback;
}

void tst_ServerConfig::serverRootFromFile()
{
    QFETCH(QByteArray, ini);
    QFETCH(QString, expected);
    QTemporaryDir folder;
    QVERIFY(folder.isValid());
    QFile file(QDir(folder.path()).filePath(QStringLiteral("quillet.ini")));
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write(ini);
    file.close();

    QCOMPARE(ServerConfig::serverRoot(folder.path()), expected);
}

void tst_ServerConfig::missingFileGivesDefault()
{
    QTemporaryDir folder;
    QVERIFY(folder.isValid());
    QCOMPARE(ServerConfig::serverRoot(folder.path()), ServerConfig::defaultRoot());
    QCOMPARE(ServerConfig::serverRoot(folder.filePath(QStringLiteral("no-such-folder"))),
        ServerConfig::defaultRoot());
}

void tst_ServerConfig::executableDirIsThisProgramsFolder()
{
    const QByteArray argv0 = QFile::encodeName(QCoreApplication::applicationFilePath());
    QCOMPARE(QDir(ServerConfig::executableDir(argv0.constData())).canonicalPath(),
        QDir(QCoreApplication::applicationDirPath()).canonicalPath());
}

void tst_ServerConfig::bindWritesRootUnderLock()
{
    Network *network = Network::getInstance(QStringLiteral("serverconfig-test"));
    ServerConfig::bind(network, QStringLiteral("http://127.0.0.1:1/"));

    QCOMPARE(network->rootUrl, QStringLiteral("http://127.0.0.1:1/"));
    QVERIFY2(network->mutex.tryLock(), "bind left the mutex locked");
    network->mutex.unlock();
}

QTEST_GUILESS_MAIN(tst_ServerConfig)
#include "tst_serverconfig.moc"
