#include "service/setting.h"
#include "tests/support/testfiles.h"

#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QSettings>
#include <QTemporaryDir>
#include <QtTest>

#ifdef Q_OS_UNIX
#include <sys/stat.h>
#endif

namespace {

const char ChildKeyVariable[] = "TST_SETTING_CHILD_KEY";
const char ChildValueVariable[] = "TST_SETTING_CHILD_VALUE";

int fileMode(const QString &path)
{
#ifdef Q_OS_UNIX
    struct stat info;
    if (::stat(QFile::encodeName(path).constData(), &info) == 0)
        return int(info.st_mode & 0777);
#else
    Q_UNUSED(path)
#endif
    return -1;
}

} // namespace

class tst_Setting : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void valueSurvivesNewObject_data();
    void valueSurvivesNewObject();
    void neverStoredKeyGivesDefault();
    void valueSurvivesNewProcess();
    void childReadsValue();
    void fileIsOwnerOnly_data();
    void fileIsOwnerOnly();

private:
    QTemporaryDir m_configHome;
};

void tst_Setting::initTestCase()
{
    // The child run inherits the parent's config home, so it reads the parent's file.
    if (qEnvironmentVariableIsSet(ChildKeyVariable))
        return;
    QVERIFY(m_configHome.isValid());
    qputenv("XDG_CONFIG_HOME", QFile::encodeName(m_configHome.path()));
    QVERIFY(TestFiles::settingsAreIsolated(Setting().fileName(), m_configHome.path()));
}

void tst_Setting::valueSurvivesNewObject_data()
{
    QTest::addColumn<QString>("key");
    QTest::addColumn<QVariant>("value");

    QTest::newRow("user name") << "username" << QVariant(QStringLiteral("operator 7"));
    QTest::newRow("typed password with symbols") << "password" << QVariant(QStringLiteral("p&ss=w%rd#;\"x"));
    QTest::newRow("chinese text") << "username" << QVariant(QString::fromUtf8("\xe5\xbc\xa0\xe4\xb8\x89"));
    QTest::newRow("empty text") << "password" << QVariant(QString());
    QTest::newRow("ticked box") << "isChecked" << QVariant(true);
    QTest::newRow("unticked box") << "isChecked" << QVariant(false);
}

void tst_Setting::valueSurvivesNewObject()
{
    QFETCH(QString, key);
    QFETCH(QVariant, value);

    Setting().setValue(key, value);

    Setting reader;
    const QVariant stored = reader.value(key, QVariant());
    QVERIFY(stored.isValid());
    QCOMPARE(stored.toString(), value.toString());
    QCOMPARE(stored.toBool(), value.toBool());
}

void tst_Setting::neverStoredKeyGivesDefault()
{
    Setting setting;
    QVERIFY(!setting.value(QStringLiteral("neverStored"), QVariant()).isValid());
    QCOMPARE(setting.value(QStringLiteral("neverStored"), 42).toInt(), 42);
}

void tst_Setting::valueSurvivesNewProcess()
{
    const QString value = QString::fromUtf8("remembered \xe5\xaf\x86\xe7\xa0\x81");
    Setting().setValue(QStringLiteral("acrossRuns"), value);

    QProcess child;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QString::fromLatin1(ChildKeyVariable), QStringLiteral("acrossRuns"));
    environment.insert(QString::fromLatin1(ChildValueVariable), value);
    child.setProcessEnvironment(environment);
    child.setProcessChannelMode(QProcess::MergedChannels);
    // The results go to a file: a Windows test without a console writes them to the debugger.
    const QString results = m_configHome.filePath(QStringLiteral("child-results.txt"));
    child.start(QCoreApplication::applicationFilePath(),
        { QStringLiteral("childReadsValue"), QStringLiteral("-o"), results + QStringLiteral(",txt") });
    QVERIFY(child.waitForFinished(30000));
    const QByteArray output = child.readAll() + TestFiles::read(results);
    QVERIFY2(child.exitStatus() == QProcess::NormalExit && child.exitCode() == 0, output.constData());
    QVERIFY2(output.contains("PASS   : tst_Setting::childReadsValue()"), output.constData());
}

// Runs only as the child process started by valueSurvivesNewProcess.
void tst_Setting::childReadsValue()
{
    if (!qEnvironmentVariableIsSet(ChildKeyVariable))
        QSKIP("run by valueSurvivesNewProcess in a child process");
    const QString key = qEnvironmentVariable(ChildKeyVariable);
    QCOMPARE(Setting().value(key, QVariant()).toString(), qEnvironmentVariable(ChildValueVariable));
}

void tst_Setting::fileIsOwnerOnly_data()
{
    QTest::addColumn<bool>("existsReadable");

    QTest::newRow("file created by the first write") << false;
    QTest::newRow("world-readable file from before") << true;
}

void tst_Setting::fileIsOwnerOnly()
{
    QFETCH(bool, existsReadable);
#ifdef Q_OS_WIN
    // The values go to the user's registry key, which other users cannot read; nothing is
    // written as a file, least of all one named after the key at the root of the drive.
    Q_UNUSED(existsReadable)
    Setting().setValue(QStringLiteral("password"), QStringLiteral("secret"));
    QVERIFY(!QFileInfo::exists(Setting().fileName()));
    QVERIFY(!QFileInfo::exists(QStringLiteral("/HKEY_CURRENT_USER")));
    const QSettings key(
        QStringLiteral("HKEY_CURRENT_USER\\Software\\Quillet\\QuilletApp"), QSettings::NativeFormat);
    QCOMPARE(key.value(QStringLiteral("password")).toString(), QStringLiteral("secret"));
    return;
#endif
    const QString path = Setting().fileName();
    QFile::remove(path);
    if (existsReadable) {
        QFile old(path);
        QVERIFY(old.open(QIODevice::WriteOnly));
        old.write("[General]\nusername=old\n");
        old.close();
        QVERIFY(QFile::setPermissions(path,
            QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ReadGroup
                | QFileDevice::ReadOther));
        QCOMPARE(fileMode(path), 0644);
    }

    Setting().setValue(QStringLiteral("password"), QStringLiteral("secret"));

    QVERIFY(QFileInfo::exists(path));
    QCOMPARE(QString::number(fileMode(path), 8), QStringLiteral("600"));
    QCOMPARE(Setting().value(QStringLiteral("password"), QVariant()).toString(), QStringLiteral("secret"));
}

QTEST_GUILESS_MAIN(tst_Setting)
#include "tst_setting.moc"
