#include "credentials/aescipher.h"
#include "credentials/rememberpwd.h"
#include "tests/support/filesizelimit.h"

#include <QtTest>

class tst_RememberPwd : public QObject
{
    Q_OBJECT

private slots:
    void cleanup();

    void loadBeforeSave();
    void saveAndLoad_data();
    void saveAndLoad();
    void saveReplacesEarlierPair();
    void fileIsRawCipherText();
    void plainJsonRefused_data();
    void plainJsonRefused();
    void readsAnyJsonLayout();
    void writeAndRead_data();
    void writeAndRead();
    void fileUrlPrefix();
    void backslashPath();
    void readMissingFile();
    void unwritablePathIgnored();
    void fileIsOwnerOnly();
    void failedSaveKeepsPreviousFile();

private:
    static QString credentialPath();
    static void writeRaw(const QString &path, const QByteArray &bytes);
};

QString tst_RememberPwd::credentialPath()
{
    return QCoreApplication::applicationDirPath() + QStringLiteral("/logMsg.ini");
}

void tst_RememberPwd::writeRaw(const QString &path, const QByteArray &bytes)
{
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly));
    QCOMPARE(file.write(bytes), qint64(bytes.size()));
}

void tst_RememberPwd::cleanup()
{
    QFile::remove(credentialPath());
}

void tst_RememberPwd::loadBeforeSave()
{
    QVERIFY(!QFile::exists(credentialPath()));
    const QVariantMap loaded = RememberPwd().loadPwd();
    QCOMPARE(loaded.keys(), QStringList({ "password", "username" }));
    QVERIFY(loaded.value("username").toString().isEmpty());
    QVERIFY(loaded.value("password").toString().isEmpty());
}

void tst_RememberPwd::saveAndLoad_data()
{
    QTest::addColumn<QString>("userName");
    QTest::addColumn<QString>("password");

    QTest::newRow("ascii") << "operator"
                           << "s3cret!";
    QTest::newRow("latin-1") << QString::fromUtf8("jürgen") << QString::fromUtf8("pässwörd");
    QTest::newRow("chinese") << QString::fromUtf8("操作员") << QString::fromUtf8("密码123");
    QTest::newRow("json quoting") << "a\"b\\c"
                                  << "line\nbreak\ttab";
    QTest::newRow("empty") << ""
                           << "";
    QTest::newRow("long") << QString(500, QLatin1Char('u')) << QString(300, QChar(0x4e2d));
}

void tst_RememberPwd::saveAndLoad()
{
    QFETCH(QString, userName);
    QFETCH(QString, password);

    RememberPwd().savePwd(userName, password);
    QVERIFY(QFile::exists(credentialPath()));
    const QVariantMap loaded = RememberPwd().loadPwd();
    QCOMPARE(loaded.value("username").toString(), userName);
    QCOMPARE(loaded.value("password").toString(), password);
}

void tst_RememberPwd::saveReplacesEarlierPair()
{
    RememberPwd store;
    store.savePwd(QString(200, QLatin1Char('x')), "first");
    store.savePwd("second", "two");
    const QVariantMap loaded = store.loadPwd();
    QCOMPARE(loaded.value("username").toString(), QString("second"));
    QCOMPARE(loaded.value("password").toString(), QString("two"));
}

// The file holds nothing but the cipher text of the indented JSON under the fixed key.
void tst_RememberPwd::fileIsRawCipherText()
{
    RememberPwd().savePwd("operator", "s3cret");
    QFile file(credentialPath());
    QVERIFY(file.open(QIODevice::ReadOnly));
    const QByteArray bytes = file.readAll();
    QVERIFY(bytes.size() > 0);
    QCOMPARE(bytes.size() % 16, 0);
    QVERIFY(!bytes.contains("username"));
    QVERIFY(!bytes.contains("operator"));
    QVERIFY(!bytes.contains("s3cret"));
    QVERIFY(QJsonDocument::fromJson(bytes).isNull());

    const QByteArray plain = decryptBytes(bytes, QByteArray("PLNX20150923RKTW"));
    QCOMPARE(plain, QByteArray("{\n    \"password\": \"s3cret\",\n    \"username\": \"operator\"\n}\n"));
}

void tst_RememberPwd::plainJsonRefused_data()
{
    QTest::addColumn<QByteArray>("content");

    const QByteArray json("{\n    \"password\": \"s3cret\",\n    \"username\": \"operator\"\n}\n");
    QTest::newRow("indented json") << json;
    QTest::newRow("json padded to 64 bytes") << json.leftJustified(64, ' ');
    QTest::newRow("empty file") << QByteArray();
}

void tst_RememberPwd::plainJsonRefused()
{
    QFETCH(QByteArray, content);

    writeRaw(credentialPath(), content);
    const QVariantMap loaded = RememberPwd().loadPwd();
    QVERIFY(loaded.value("username").toString().isEmpty());
    QVERIFY(loaded.value("password").toString().isEmpty());
}

void tst_RememberPwd::readsAnyJsonLayout()
{
    RememberPwd store;
    store.writeFile(
        QString::fromUtf8("{\"username\":\"王\",\"extra\":1,\"password\":\"p\"}"), credentialPath());
    const QVariantMap loaded = store.loadPwd();
    QCOMPARE(loaded.value("username").toString(), QString::fromUtf8("王"));
    QCOMPARE(loaded.value("password").toString(), QString("p"));

    store.writeFile("{\"username\": 5}", credentialPath());
    QVERIFY(store.loadPwd().value("username").toString().isEmpty());
}

void tst_RememberPwd::writeAndRead_data()
{
    QTest::addColumn<QString>("relativePath");
    QTest::addColumn<QString>("text");

    QTest::newRow("file in folder") << "logMsg.ini"
                                    << "hello";
    QTest::newRow("missing folders created") << "a/b/c/cred.ini" << QString::fromUtf8("数据");
    QTest::newRow("empty text") << "empty.ini"
                                << "";
    QTest::newRow("several chunks") << "big.ini" << QString(1000, QLatin1Char('z'));
}

void tst_RememberPwd::writeAndRead()
{
    QFETCH(QString, relativePath);
    QFETCH(QString, text);

    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QString path = dir.filePath(relativePath);
    RememberPwd store;
    store.writeFile(text, path);
    QVERIFY(QFile::exists(path));
    QCOMPARE(QFileInfo(path).size() % 16, 0);
    QCOMPARE(store.readFile(path), text);
}

void tst_RememberPwd::fileUrlPrefix()
{
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QString path = dir.filePath("cred.ini");
    RememberPwd store;

    // A "file:///" address names the local path it stands for on this platform.
    const QString url = QUrl::fromLocalFile(path).toString();
    QVERIFY(url.startsWith("file:///"));
    store.writeFile("by url", url);
    QVERIFY(QFile::exists(path));
    QCOMPARE(store.readFile(path), QString("by url"));
    QCOMPARE(store.readFile(url), QString("by url"));

    // The prefix is matched case-sensitively; in capitals it stays part of the path.
    QCOMPARE(store.readFile(QStringLiteral("FILE:///") + path), QString());
}

void tst_RememberPwd::backslashPath()
{
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QString path = dir.path() + QStringLiteral("/sub\\deeper\\cred.ini");
    RememberPwd store;
    store.writeFile("slashes", path);
    QVERIFY(QFileInfo(dir.filePath("sub/deeper")).isDir());
    QCOMPARE(store.readFile(path), QString("slashes"));
}

void tst_RememberPwd::readMissingFile()
{
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    QCOMPARE(RememberPwd().readFile(dir.filePath("nothing.ini")), QString());
    QCOMPARE(RememberPwd().readFile(QString()), QString());
}

// A path under a regular file cannot be created; nothing is written and nothing else changes.
void tst_RememberPwd::unwritablePathIgnored()
{
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QString blocker = dir.filePath("blocker");
    writeRaw(blocker, "keep");
    RememberPwd store;
    store.writeFile("text", blocker + "/cred.ini");
    QVERIFY(!QFile::exists(blocker + "/cred.ini"));
    QFile file(blocker);
    QVERIFY(file.open(QIODevice::ReadOnly));
    QCOMPARE(file.readAll(), QByteArray("keep"));
}

// The key is the same everywhere, so the file is as private as the settings file, also when
// it replaces one that others could read.
void tst_RememberPwd::fileIsOwnerOnly()
{
#ifdef Q_OS_UNIX
    const QFileDevice::Permissions ownerOnly
        = QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ReadUser | QFileDevice::WriteUser;
    writeRaw(credentialPath(), "old");
    QVERIFY(
        QFile::setPermissions(credentialPath(), ownerOnly | QFileDevice::ReadOther | QFileDevice::ReadGroup));
    RememberPwd().savePwd("operator", "s3cret");
    QCOMPARE(QFile::permissions(credentialPath()), ownerOnly);
    QFile::remove(credentialPath());
    RememberPwd().savePwd("operator", "s3cret");
    QCOMPARE(QFile::permissions(credentialPath()), ownerOnly);
#else
    QSKIP("Windows gives a new file its folder's access rules; there are no mode bits to check");
#endif
}

// The file cannot grow past 64 bytes here, as on a full disk; the short file written before
// stays as it was instead of being replaced by a cut-off one.
void tst_RememberPwd::failedSaveKeepsPreviousFile()
{
    RememberPwd store;
    store.savePwd("op", "pw");
    {
        const FileSizeLimit limit(64);
        if (!limit.isActive())
            QSKIP("needs a file size limit (RLIMIT_FSIZE), which this system does not offer");
        store.savePwd(QString(1000, QLatin1Char('u')), "long");
    }
    const QVariantMap loaded = store.loadPwd();
    QCOMPARE(loaded.value("username").toString(), QString("op"));
    QCOMPARE(loaded.value("password").toString(), QString("pw"));
}

QTEST_GUILESS_MAIN(tst_RememberPwd)
#include "tst_rememberpwd.moc"
