#include "history/historystore.h"

#include <QDir>
#include <QProcess>
#include <QTemporaryDir>
#include <QtTest>

// The program's exit codes and console output, as a script calling it sees them.
class tst_CommandLine : public QObject
{
    Q_OBJECT

private slots:
    void cleanup() { QDir(m_history).removeRecursively(); }
    void answers_data();
    void answers();

private:
    // On Windows every program lands in one folder; elsewhere the client is built in app/.
    const QString m_program = QFileInfo::exists(QCoreApplication::applicationDirPath() + "/quillet.exe")
        ? QCoreApplication::applicationDirPath() + "/quillet"
        : QString(QUILLET_PROGRAM);
    const QString m_history = QFileInfo(m_program).absolutePath() + "/history";
    QTemporaryDir m_out;
};

void tst_CommandLine::answers_data()
{
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<bool>("withHistory");
    QTest::addColumn<int>("exitCode");
    QTest::addColumn<QString>("output");
    QTest::addColumn<QString>("error");

    QTest::newRow("help lists the commands")
        << QStringList { "--help" } << false << 0 << "--export-history <FILE.csv>"
        << "";
    QTest::newRow("an unknown option shows the help instead of the window")
        << QStringList { "--exportHistory", "x.csv" } << false << 2 << ""
        << "--export-history <FILE.csv>";
    QTest::newRow("an export says what it wrote")
        << QStringList { "--export-history", "<out>" } << true << 0 << "1 entries written"
        << "";
    QTest::newRow("a failed export says why in one line")
        << QStringList { "-platform", "offscreen", "--export-history", "<out>" } << false << 1 << ""
        << "no history";
    QTest::newRow("help names the check of the chain alone")
        << QStringList { "--help" } << false << 0 << "--no-files"
        << "";
    QTest::newRow("an expected head that is not hexadecimal is a usage error")
        << QStringList { "--verify-history", "--expect", QString(64, 'z') } << true << 2 << ""
        << "64 hexadecimal digits";
    QTest::newRow("an expected head of 63 digits is a usage error")
        << QStringList { "--verify-history", "--expect", QString(63, 'a') } << true << 2 << ""
        << "64 hexadecimal digits";
    QTest::newRow("a support bundle says where it went")
        << QStringList { "--support-bundle", "<out>.zip" } << true << 0 << "support bundle written to"
        << "";
    QTest::newRow("a support bundle that cannot be saved says why in one line")
        << QStringList { "--support-bundle", "<out>/none/bundle.zip" } << false << 1 << ""
        << "cannot write";
}

void tst_CommandLine::answers()
{
    QFETCH(QStringList, arguments);
    QFETCH(bool, withHistory);
    QFETCH(int, exitCode);
    QFETCH(QString, output);
    QFETCH(QString, error);
    HistoryEntry entry;
    entry.time = QDateTime::currentDateTime();
    entry.action = HistoryEntry::fetchAction;
    QVERIFY(!withHistory || HistoryStore(m_history).add(entry));

    QProcess process;
    process.start(m_program, arguments.replaceInStrings("<out>", m_out.filePath("out.csv")));
    QVERIFY(process.waitForFinished(60000));
    const QString out = process.readAllStandardOutput(), err = process.readAllStandardError();
    QCOMPARE(process.exitCode(), exitCode);
    QVERIFY2(output.isEmpty() ? out.isEmpty() : out.contains(output), qPrintable(out));
    // A failed command says why in exactly one line.
    QVERIFY2(error.isEmpty() ? err.isEmpty() : err.contains(error) && (exitCode != 1 || err.count('\n') == 1),
        qPrintable(err));
    if (exitCode == 2 && !arguments.contains("--exportHistory"))
        QCOMPARE(err.count('\n'), 1);
}

QTEST_GUILESS_MAIN(tst_CommandLine)
#include "tst_commandline.moc"
