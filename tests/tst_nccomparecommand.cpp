#include "app/nccomparecommand.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTextStream>
#include <QtTest>

// "quillet --compare-nc A B" on two folders of NC programs, or two files.
class tst_NcCompareCommand : public QObject
{
    Q_OBJECT

private slots:
    void exitCode_data();
    void exitCode();

private:
    QString write(const QString &path, const QByteArray &bytes);

    QTemporaryDir m_dir;
};

QString tst_NcCompareCommand::write(const QString &path, const QByteArray &bytes)
{
    const QString full = m_dir.filePath(path);
    QDir().mkpath(QFileInfo(full).absolutePath());
    QFile file(full);
    if (!file.open(QIODevice::WriteOnly) || file.write(bytes) != bytes.size())
        return QString();
    return full;
}

void tst_NcCompareCommand::exitCode_data()
{
    QTest::addColumn<QByteArray>("older");
    QTest::addColumn<QByteArray>("newer");
    QTest::addColumn<QString>("newerName");
    QTest::addColumn<int>("code");
    QTest::addColumn<QString>("printed");

    const QByteArray program = "%\nO0001\nN10 G00 X0. Y0.\nN20 G01 X100. F200\nN30 M30\n%\n";
    QTest::newRow("equal but for block numbers, comments and number forms")
        << program
        << QByteArray("%\r\nO0001\r\n(粗加工)\r\nG00 X0 .Y0.000\r\nG01 X+100.0 F200\r\nM30\r\n%\r\n")
        << "a.nc" << 0 << "";
    QTest::newRow("a changed line in a GBK program")
        << program << QByteArray("%\nO0001\nN10 G00 X0. Y0. (\xb4\xd6)\nN20 G01 X101. F200\nN30 M30\n%\n")
        << "a.nc" << 1
        << "changed: a.nc (1 hunk)\n--- <old>/a.nc\n+++ <new>/a.nc\n@@ -1,6 +1,6 @@\n %\n O0001\n"
           " N10 G00 X0. Y0. (粗)\n-N20 G01 X100. F200\n+N20 G01 X101. F200\n N30 M30\n %\n";
    QTest::newRow("a binary file differs by its bytes")
        << QByteArray("\0\1", 2) << QByteArray("\0\2", 2) << "a.nc" << 1 << "changed: a.nc (binary)";
    QTest::newRow("a file added and one removed") << program << program << "b.nc" << 1 << "added: b.nc";
    QTest::newRow("a folder that is not there") << program << program << "" << 2 << "does not exist";
}

void tst_NcCompareCommand::exitCode()
{
    QFETCH(QByteArray, older);
    QFETCH(QByteArray, newer);
    QFETCH(QString, newerName);
    QFETCH(int, code);
    QFETCH(QString, printed);
    const QString tag = QTest::currentDataTag();
    QVERIFY(!write(tag + "/old/a.nc", older).isEmpty());
    if (!newerName.isEmpty())
        QVERIFY(!write(tag + "/new/" + newerName, newer).isEmpty());

    QString out, err;
    QTextStream outStream(&out), errStream(&err);
    // Relative paths, as typed at a prompt in the folder that holds both.
    QDir::setCurrent(m_dir.filePath(tag));
    const QString oldDir = "old", newDir = "new";
    QCOMPARE(int(NcCompareCommand::execute({ "--compare-nc", oldDir, newDir }, false, outStream, errStream)),
        code);
    outStream.flush();
    errStream.flush();
    printed.replace("<old>", oldDir).replace("<new>", newDir);
    QVERIFY2((code == 2 ? err : out).contains(printed), qPrintable(out + err));
    QCOMPARE(err.isEmpty(), code != 2);
    QCOMPARE(out.isEmpty(), code != 1);
}

QTEST_GUILESS_MAIN(tst_NcCompareCommand)
#include "tst_nccomparecommand.moc"
