#include "tasks/historywindow.h"

#include "history/filedigest.h"
#include "history/historystore.h"
#include "plant/plantstatus.h"
#include "tasks/historymodel.h"
#include "tasks/nccomparewindow.h"
#include "tests/support/messageboxcloser.h"
#include "tests/support/testfiles.h"

#include <QCryptographicHash>
#include <QLabel>
#include <QListWidget>
#include <QMessageBox>
#include <QPointer>
#include <QSignalSpy>
#include <QTableView>
#include <QTemporaryDir>
#include <QTimer>
#include <QtTest>

#include <JlCompress.h>

class tst_HistoryWindow : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();
    void showsNewestFirst();
    void filters_data();
    void filters();
    void restoreAsksThenPutsBack();
    void outcomeInWords_data();
    void outcomeInWords();
    void closedDuringExport();
    void supportBundleSaysWhereItWent();
    void reopensOnceAvailable();
    void compareFindsTheVersions_data();
    void compareFindsTheVersions();
    void followsNewEntries();
    void checkListsWhatDiffers();
    void notesThePlantHistory_data();
    void notesThePlantHistory();

private:
    HistoryEntry add(
        const QString &time, const QString &task, const QString &sha, const QString &keptPath = QString());
    QString folder() const { return m_dir->filePath("history"); }
    // T-2's first version is a kept file that a restore checks against this.
    static QString olderSha()
    {
        return QCryptographicHash::hash("older", QCryptographicHash::Sha256).toHex();
    }
    HistoryEntry addNc(const QString &time, const QString &folder, const QString &keptPath,
        const QString &sha256 = QString());

    std::unique_ptr<QTemporaryDir> m_dir;
};

void tst_HistoryWindow::init()
{
    m_dir.reset(new QTemporaryDir);
    QVERIFY(m_dir->isValid());
    add("2026-03-01T08:00:00", "T-1", QString(64, '1'));
    add("2026-03-02T09:00:00", "T-2", olderSha());
    add("2026-03-02T10:00:00", "T-1", QString(64, '3'));
}

HistoryEntry tst_HistoryWindow::add(
    const QString &time, const QString &task, const QString &sha, const QString &keptPath)
{
    HistoryEntry entry;
    entry.time = QDateTime::fromString(time, Qt::ISODate);
    entry.action = "fetch";
    entry.task = task;
    entry.kind = "pdf";
    entry.target = m_dir->filePath("pdf/" + task + ".pdf");
    entry.sha256 = sha;
    entry.outcome = "Fetched / Saved / NotAnArchive";
    entry.ok = true;
    entry.keptPath = keptPath;
    HistoryStore store(folder());
    if (!store.add(entry))
        qWarning() << store.lastError();
    return entry;
}

// Qt fades the filter's clear button in and out for 160 ms through an animation that deletes
// itself only once it has run out, from an event loop; the window goes before one runs.
void tst_HistoryWindow::cleanup()
{
    QTest::qWait(200);
}

void tst_HistoryWindow::showsNewestFirst()
{
    HistoryWindow window(folder());
    HistoryModel *model = window.model();
    QCOMPARE(model->rowCount(), 3);
    QCOMPARE(model->index(0, HistoryModel::TimeColumn).data().toString(), QString("2026-03-02 10:00:00"));
    QCOMPARE(model->index(0, HistoryModel::ShaColumn).data().toString(), QString(16, '3'));
    QCOMPARE(model->index(0, HistoryModel::OutcomeColumn).data().toString(), QString("已下载"));
    QCOMPARE(model->index(0, HistoryModel::ShaColumn).data(Qt::ToolTipRole).toString(), QString(64, '3'));
    QCOMPARE(model->index(2, HistoryModel::TaskColumn).data().toString(), QString("T-1"));
}

void tst_HistoryWindow::filters_data()
{
    QTest::addColumn<QString>("task");
    QTest::addColumn<QDate>("day");
    QTest::addColumn<QStringList>("shas");

    QTest::newRow("task") << "T-1" << QDate() << QStringList { QString(16, '3'), QString(16, '1') };
    QTest::newRow("day") << QString() << QDate(2026, 3, 2)
                         << QStringList { QString(16, '3'), olderSha().left(16) };
    QTest::newRow("task-and-day") << "T-1" << QDate(2026, 3, 1) << QStringList { QString(16, '1') };
    QTest::newRow("unknown-task") << "T-9" << QDate() << QStringList();
}

// The export writes what the window shows.
void tst_HistoryWindow::filters()
{
    QFETCH(QString, task);
    QFETCH(QDate, day);
    QFETCH(QStringList, shas);
    HistoryWindow window(folder());
    window.setTaskFilter(task);
    window.setDayFilter(day);

    QStringList shown;
    for (int row = 0; row < window.model()->rowCount(); ++row)
        shown << window.model()->index(row, HistoryModel::ShaColumn).data().toString();
    QCOMPARE(shown, shas);
    const QString csv = m_dir->filePath("out.csv");
    QSignalSpy ended(&window, &HistoryWindow::actionEnded);
    window.exportTo(csv);
    QVERIFY(ended.wait());
    const QList<QByteArray> lines = TestFiles::read(csv).split('\n');
    // The header, a line a row, the chain's head and the empty text after the last line end.
    QCOMPARE(lines.size(), shas.size() + 3);
    // New columns are appended: the words, then the UTC time.
    for (int line = 1; line <= shas.size(); ++line)
        QVERIFY(lines.at(line).contains(",已下载,2026-03-0"));
}

void tst_HistoryWindow::restoreAsksThenPutsBack()
{
    QVERIFY(TestFiles::write(folder() + "/pdf/T-2/20260302-090000.pdf", "older"));
    QVERIFY(TestFiles::write(m_dir->filePath("pdf/T-2.pdf"), "newer"));
    add("2026-03-02T11:00:00", "T-2", QString(64, '4'), "pdf/T-2/20260302-090000.pdf");
    HistoryWindow window(folder());
    window.setTaskFilter("T-2");

    MessageBoxCloser closer;
    closer.answer = QMessageBox::Yes;
    QSignalSpy ended(&window, &HistoryWindow::actionEnded);
    window.restoreRow(0);
    QVERIFY(ended.wait());
    QCOMPARE(TestFiles::read(m_dir->filePath("pdf/T-2.pdf")), QByteArray("older"));
    QCOMPARE(closer.seen.size(), 1);
    // The question names the version put back and the one it replaces.
    QVERIFY(closer.seen.first().contains(olderSha()));
    QVERIFY(closer.seen.first().contains(QString(64, '4')));
    QCOMPARE(window.model()->rowCount(), 3);
    QCOMPARE(window.model()->index(0, HistoryModel::KindColumn).data().toString(), QString("PDF 恢复"));
}

void tst_HistoryWindow::outcomeInWords_data()
{
    QTest::addColumn<QString>("action");
    QTest::addColumn<QString>("kind");
    QTest::addColumn<QString>("outcome");
    QTest::addColumn<QString>("words");

    QTest::newRow("nc-unpacked") << "fetch"
                                 << "nc"
                                 << "Fetched / Saved / Unpacked" << QString("已下载并解压");
    QTest::newRow("nc-unsafe-entry") << "fetch"
                                     << "nc"
                                     << "Fetched / Saved / UnsafeEntry"
                                     << QString("NC程序未更新：压缩包里有不安全的文件名，已拒绝");
    QTest::newRow("pdf-timed-out") << "fetch"
                                   << "pdf"
                                   << "DownloadFailed / TimedOut" << QString("未下载：超时，原有文件未改动");
    QTest::newRow("restore-in-use") << "restore"
                                    << "nc"
                                    << "InUse" << QString("文件正被占用，未恢复，当前版本保持不变");
}

void tst_HistoryWindow::outcomeInWords()
{
    QFETCH(QString, action);
    QFETCH(QString, kind);
    QFETCH(QString, outcome);
    QFETCH(QString, words);
    HistoryEntry entry;
    entry.action = action;
    entry.kind = kind;
    entry.outcome = outcome;
    QCOMPARE(HistoryModel::outcomeText(entry), words);
}

// The window deletes itself when closed, here while the export is written: the file is
// still written whole.
void tst_HistoryWindow::closedDuringExport()
{
    const QPointer<HistoryWindow> window = new HistoryWindow(folder());
    window->show();
    const QString csv = m_dir->filePath("out.csv");
    window->exportTo(csv);
    window->close();
    QTRY_VERIFY(!window);
    QTRY_COMPARE(TestFiles::read(csv).count("\r\n"), 5);
}

void tst_HistoryWindow::supportBundleSaysWhereItWent()
{
    HistoryWindow window(folder());
    const QString zip = m_dir->filePath("bundle.zip");
    QSignalSpy ended(&window, &HistoryWindow::actionEnded);
    window.writeSupportBundle(zip);
    QVERIFY(ended.wait());
    QVERIFY(QFileInfo(zip).size() > 0);
    QCOMPARE(
        window.findChild<QLabel *>("statusLbl")->text(), "诊断包已保存到 " + QDir::toNativeSeparators(zip));
}

// A history file that cannot be opened (here a folder in its place) is opened again at the
// next reload once it can be.
void tst_HistoryWindow::reopensOnceAvailable()
{
    const QString file = folder() + "/history.sqlite";
    QVERIFY(QFile::rename(file, file + ".away"));
    QVERIFY(QDir().mkpath(file));
    HistoryWindow window(folder());
    QCOMPARE(window.findChild<QLabel *>("statusLbl")->text(), QString("下载记录暂不可用"));

    QVERIFY(QDir(file).removeRecursively());
    QVERIFY(QFile::rename(file + ".away", file));
    window.reload();
    QCOMPARE(window.findChild<QLabel *>("statusLbl")->text(), QString());
    QCOMPARE(window.model()->rowCount(), 3);
}

HistoryEntry tst_HistoryWindow::addNc(
    const QString &time, const QString &folder, const QString &keptPath, const QString &sha256)
{
    HistoryEntry entry;
    entry.time = QDateTime::fromString(time, Qt::ISODate);
    entry.action = "fetch";
    entry.task = "N-1";
    entry.kind = "nc";
    entry.target = m_dir->filePath("nc/N-1");
    entry.ok = true;
    entry.keptPath = keptPath;
    entry.sha256 = sha256;
    entry.files = FileDigest::folderFiles(folder);
    HistoryStore store(this->folder());
    if (!store.add(entry))
        qWarning() << store.lastError();
    return entry;
}

void tst_HistoryWindow::compareFindsTheVersions_data()
{
    QTest::addColumn<QList<int>>("rows");
    QTest::addColumn<bool>("pruned");
    QTest::addColumn<QString>("shown");
    QTest::addColumn<QByteArray>("edited"); // written over the version in place after its fetch
    QTest::addColumn<bool>("archived"); // its archive lies beside its folder

    const QByteArray none;
    QTest::newRow("a version against the one in place")
        << QList<int> { 1 } << false << "1 个文件不同，共 1 处改动" << none << false;
    QTest::newRow("the versions of two rows")
        << QList<int> { 0, 1 } << false << "1 个文件不同，共 1 处改动" << none << false;
    QTest::newRow("the version in place, unchanged")
        << QList<int> { 0 } << false << "两个版本相同" << none << false;
    QTest::newRow("the version in place edited, against its archive")
        << QList<int> { 0 } << false << "1 个文件不同，共 1 处改动" << QByteArray("N10 G01 X2.\nM30\nM30\n")
        << true;
    QTest::newRow("the version in place edited only in its block numbers is not called the same")
        << QList<int> { 0 } << false << "只是写法不同" << QByteArray("N20 G01 X2.\nM30\n") << true;
    QTest::newRow("the version in place edited, with no original left")
        << QList<int> { 0 } << false << "修改  a.nc 1 个文件在下载后被改动"
        << QByteArray("N10 G01 X2.\nM30\nM30\n") << false;
    QTest::newRow("a pruned version") << QList<int> { 1 } << true << "已不在磁盘上" << none << false;
    QTest::newRow("a PDF row") << QList<int> { 2 } << false << "只能比较" << none << false;
}

void tst_HistoryWindow::compareFindsTheVersions()
{
    QFETCH(QList<int>, rows);
    QFETCH(bool, pruned);
    QFETCH(QString, shown);
    QFETCH(QByteArray, edited);
    QFETCH(bool, archived);
    const QString kept = "nc/N-1/20260303-080000";
    QVERIFY(TestFiles::write(folder() + "/" + kept + "/a.nc", "N10 G01 X1.\n(粗)\nM30\n"));
    addNc("2026-03-03T07:00:00", folder() + "/" + kept, QString());
    QVERIFY(TestFiles::write(m_dir->filePath("nc/N-1/a.nc"), "N10 G01 X2.\nM30\n"));
    const QString zip = m_dir->filePath("nc/N-1.zip");
    QVERIFY(JlCompress::compressDir(zip, m_dir->filePath("nc/N-1")));
    addNc("2026-03-03T08:00:00", m_dir->filePath("nc/N-1"), kept,
        archived ? FileDigest::sha256(zip) : QString());
    if (pruned)
        QVERIFY(QDir(folder() + "/" + kept).removeRecursively());
    if (!edited.isEmpty())
        QVERIFY(TestFiles::write(m_dir->filePath("nc/N-1/a.nc"), edited));

    HistoryWindow window(folder());
    MessageBoxCloser closer;
    window.compareRows(rows);
    QTRY_VERIFY(window.findChild<NcCompareWindow *>() || !closer.seen.isEmpty());
    const auto *result = window.findChild<NcCompareWindow *>();
    const auto *files = result ? result->findChild<QListWidget *>() : nullptr;
    const QString said = result
        ? (files->count() ? files->item(0)->text() + ' ' : QString()) + result->summary()
        : closer.seen.join(' ');
    QVERIFY2(said.contains(shown), qPrintable(said));
}

// An entry made while the window is open shows, the selected one stays selected.
void tst_HistoryWindow::followsNewEntries()
{
    HistoryWindow window(folder());
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));
    auto *table = window.findChild<QTableView *>("table");
    table->selectRow(1);
    const qint64 selected = window.model()->entryId(1);

    add("2026-03-03T08:00:00", "T-3", QString(64, '5'));
    QTRY_COMPARE_WITH_TIMEOUT(window.model()->rowCount(), 4, 1500);
    QCOMPARE(window.model()->index(0, HistoryModel::TaskColumn).data().toString(), QString("T-3"));
    const QModelIndexList rows = table->selectionModel()->selectedRows();
    QCOMPARE(rows.size(), 1);
    QCOMPARE(window.model()->entryId(rows.first().row()), selected);
}

// T-1's PDF is gone, T-2's is as fetched; the check is recorded and shown in words.
void tst_HistoryWindow::checkListsWhatDiffers()
{
    QVERIFY(TestFiles::write(m_dir->filePath("pdf/T-2.pdf"), "older"));
    HistoryWindow window(folder());
    MessageBoxCloser closer;
    QSignalSpy ended(&window, &HistoryWindow::actionEnded);
    window.checkEveryTask();
    QVERIFY(ended.wait());
    QTRY_COMPARE(
        closer.seen, QStringList { "warning|以下文件在下载后被改动：\n任务 T-1 的PDF：T-1.pdf（已删除）" });
    QCOMPARE(window.model()->index(0, HistoryModel::OutcomeColumn).data().toString(),
        QString("校验全部任务：有文件在下载后被改动"));
}

void tst_HistoryWindow::notesThePlantHistory_data()
{
    QTest::addColumn<bool>("on");
    QTest::addColumn<qint64>("waiting");
    QTest::addColumn<QString>("note"); // empty: none shown

    QTest::newRow("every row forwarded") << true << qint64(0) << "全厂记录：已同步";
    QTest::newRow("rows waiting since the oldest") << true << qint64(12) << "全厂记录：12 条待上传（自 %1）";
    QTest::newRow("no plant history, no note") << false << qint64(0) << "";
}

// The note follows what the forwarder publishes, without the window asking it anything.
void tst_HistoryWindow::notesThePlantHistory()
{
    QFETCH(bool, on);
    QFETCH(qint64, waiting);
    QFETCH(QString, note);

    HistoryWindow window(folder());
    window.show();
    const QDateTime oldest = QDateTime::currentDateTime().addSecs(-600);
    PlantStatus status;
    status.on = on;
    status.backlog = waiting;
    status.oldestTime = HistoryStore::utcText(oldest);
    PlantStatusBoard::instance()->publish(status);
    auto *label = window.findChild<QLabel *>("plantLbl");
    QTRY_COMPARE(label->isVisible(), on);
    if (on)
        QTRY_COMPARE(label->text(), note.arg(oldest.toString("hh:mm")));
    PlantStatusBoard::instance()->publish(PlantStatus());
}

QTEST_MAIN(tst_HistoryWindow)
#include "tst_historywindow.moc"
