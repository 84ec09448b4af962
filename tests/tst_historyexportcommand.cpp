#include "history/historyconnection.h"
#include "history/historystore.h"
#include "tests/support/testfiles.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QtTest>

// "quillet --export-history", run as the operator's scripts run it: the program itself,
// on the history beside it.
class tst_HistoryExportCommand : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void cleanupTestCase();
    void exportRoundTrips_data();
    void exportRoundTrips();
    void refusesWithReason_data();
    void refusesWithReason();

private:
    int runExport(const QStringList &arguments, QString *output = nullptr);
    static QList<QStringList> parseCsv(const QString &text);
    static HistoryEntry entry(const QString &time, const QString &task, const QString &source);

    QString m_program;
    QString m_history;
    QTemporaryDir m_out;
};

// On Windows every program lands in one folder; elsewhere the client is built in app/.
void tst_HistoryExportCommand::initTestCase()
{
    const QString beside = QCoreApplication::applicationDirPath() + "/quillet";
    m_program
        = QFileInfo::exists(beside) || QFileInfo::exists(beside + ".exe") ? beside : QString(QUILLET_PROGRAM);
    m_history = QFileInfo(m_program).absolutePath() + "/history";
    QVERIFY(m_out.isValid());
}

void tst_HistoryExportCommand::init()
{
    QDir(m_history).removeRecursively();
}

void tst_HistoryExportCommand::cleanupTestCase()
{
    QDir(m_history).removeRecursively();
}

int tst_HistoryExportCommand::runExport(const QStringList &arguments, QString *output)
{
    QProcess process;
    process.start(m_program, arguments);
    if (!process.waitForFinished(60000))
        return -1;
    if (output)
        *output = QString::fromUtf8(process.readAllStandardError() + process.readAllStandardOutput());
    return process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
}

QList<QStringList> tst_HistoryExportCommand::parseCsv(const QString &text)
{
    QList<QStringList> rows;
    QStringList row;
    QString field;
    bool quoted = false;
    for (int i = 0; i < text.size(); ++i) {
        const QChar c = text.at(i);
        if (quoted && c == '"' && i + 1 < text.size() && text.at(i + 1) == '"') {
            field += '"';
            ++i;
        } else if (c == '"') {
            quoted = !quoted;
        } else if (!quoted && c == ',') {
            row << field;
            field.clear();
        } else if (!quoted && c == '\n') {
            row << field;
            rows << row;
            row.clear();
            field.clear();
        } else if (quoted || c != '\r') {
            field += c;
        }
    }
    return rows;
}

HistoryEntry tst_HistoryExportCommand::entry(const QString &time, const QString &task, const QString &source)
{
    HistoryEntry made;
    made.time = QDateTime::fromString(time, Qt::ISODate);
    made.action = "fetch";
    made.userId = "1001";
    made.device = "切割机 1号";
    made.task = task;
    made.kind = "nc";
    made.source = source;
    made.sha256 = QString(64, 'a');
    made.outcome = "Fetched / Saved / Unpacked";
    made.ok = true;
    return made;
}

void tst_HistoryExportCommand::exportRoundTrips_data()
{
    QTest::addColumn<QStringList>("extra");
    QTest::addColumn<QStringList>("tasks");

    QTest::newRow("all") << QStringList() << QStringList { "T-1", "任务,\"二\"", "T-3" };
    QTest::newRow("since") << QStringList { "--since", "2026-03-02" } << QStringList { "任务,\"二\"", "T-3" };
}

void tst_HistoryExportCommand::exportRoundTrips()
{
    QFETCH(QStringList, extra);
    QFETCH(QStringList, tasks);
    QList<HistoryEntry> entries { entry("2026-03-01T08:00:00", "T-1", "http://x/1.zip"),
        entry("2026-03-02T09:30:00", "任务,\"二\"", "http://x/a,b.zip?q=\"1\"\nnext"),
        entry("2026-03-03T10:00:00", "T-3", "=HYPERLINK(\"http://evil\")") };
    HistoryStore store(m_history);
    QVERIFY2(store.add(entries), qPrintable(store.lastError()));

    const QString csv = m_out.filePath("历史 记录.csv");
    QString output;
    QCOMPARE(runExport(QStringList { "--export-history", csv } + extra, &output), 0);
    QFile file(csv);
    QVERIFY(file.open(QIODevice::ReadOnly));
    const QByteArray bytes = file.readAll();
    QVERIFY(bytes.startsWith("\xEF\xBB\xBF"));
    const QList<QStringList> rows = parseCsv(QString::fromUtf8(bytes.mid(3)));
    // The header, a line a row, and the chain's head.
    QCOMPARE(rows.size(), tasks.size() + 2);
    QCOMPARE(rows.last().first(), QString("链头"));
    QCOMPARE(rows.last().at(1).size(), 64);
    QCOMPARE(rows.first().at(9), QString("SHA-256"));
    for (int i = 0; i < tasks.size(); ++i) {
        const QStringList &row = rows.at(i + 1);
        const HistoryEntry &expected = entries.at(entries.size() - tasks.size() + i);
        QCOMPARE(row.size(), rows.first().size());
        QCOMPARE(row.at(4), tasks.at(i));
        QCOMPARE(row.at(3), expected.device);
        QCOMPARE(row.at(9), expected.sha256);
        // A text a spreadsheet would run as a formula is read as text.
        const QString source = expected.source.startsWith('=') ? "'" + expected.source : expected.source;
        QCOMPARE(row.at(6), source);
    }
}

void tst_HistoryExportCommand::refusesWithReason_data()
{
    QTest::addColumn<QString>("history");
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<QString>("reason");

    QTest::newRow("no-history") << "none" << QStringList { "--export-history", "<out>" } << "no history";
    QTest::newRow("bad-date") << "good"
                              << QStringList { "--export-history", "<out>", "--since", "2026-13-01" }
                              << "no date";
    QTest::newRow("no-file-name") << "good" << QStringList { "--export-history" } << "Missing value";
    QTest::newRow("unwritable") << "good" << QStringList { "--export-history", "<out>/missing/x.csv" }
                                << "cannot write";
    QTest::newRow("damaged-history-left-as-it-is")
        << "damaged" << QStringList { "--export-history", "<out>" } << "not a database";
}

void tst_HistoryExportCommand::refusesWithReason()
{
    QFETCH(QString, history);
    QFETCH(QStringList, arguments);
    QFETCH(QString, reason);
    if (history == "good") {
        HistoryStore store(m_history);
        HistoryEntry one = entry("2026-03-01T08:00:00", "T-1", "http://x/1.zip");
        QVERIFY(store.add(one));
    } else if (history == "damaged") {
        QVERIFY(TestFiles::write(HistoryConnection::fileName(m_history), QByteArray(4096, 'x')));
    }
    arguments.replaceInStrings("<out>", m_out.filePath("refused"));
    const QMap<QString, QByteArray> before = TestFiles::snapshot(m_history);

    QString output;
    QCOMPARE(runExport(arguments, &output), 1);
    QVERIFY2(output.contains(reason), qPrintable(output));
    QVERIFY(!QFileInfo::exists(m_out.filePath("refused")));
    // Nothing created, set aside or changed.
    QCOMPARE(TestFiles::snapshot(m_history), before);
}

QTEST_GUILESS_MAIN(tst_HistoryExportCommand)
#include "tst_historyexportcommand.moc"
