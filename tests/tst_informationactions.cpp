#include "app/logfile.h"
#include "history/historystore.h"
#include "service/folderopener.h"
#include "service/network.h"
#include "sim/devicesimulator.h"
#include "tasks/information.h"
#include "tasks/refreshschedule.h"
#include "tests/support/messageboxcloser.h"
#include "tests/support/testfiles.h"

#include <QApplication>
#include <QCryptographicHash>
#include <QDateEdit>
#include <QDir>
#include <QDirIterator>
#include <QJsonDocument>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMessageBox>
#include <QMutexLocker>
#include <QPointer>
#include <QPushButton>
#include <QRadioButton>
#include <QSignalSpy>
#include <QTableWidget>
#include <QTemporaryDir>
#include <QThreadPool>
#include <QTimer>
#include <QtTest>

#include <memory>

namespace {

constexpr int pdfColumn = 7;
constexpr int ncColumn = 8;

QVariantMap task(const QString &number, const QString &pdf, const QString &nc)
{
    return { { "task_num", number }, { "u_name", "customer" }, { "pdf", pdf }, { "nc_url", nc } };
}

} // namespace

// The row actions write beside the program: here, the test binary's folder in the build tree.
// A snapshot without the history beside the program, which every fetch adds to.
static QMap<QString, QByteArray> withoutHistory(QMap<QString, QByteArray> files)
{
    for (const QString &file : files.keys()) {
        if (file == "history" || file.startsWith("history/"))
            files.remove(file);
    }
    return files;
}

// What a file action may write beside the program: the task folders whole, and by name
// whatever else stands there (the test programs themselves are too large to read each time).
// CTest gives the tests one settings folder beside the test programs, which they may change.
static QMap<QString, QByteArray> programFiles(const QString &folder)
{
    QMap<QString, QByteArray> files;
    for (const QString &name :
        QDir(folder).entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden)) {
        if (name != "config-home")
            files.insert(name, QByteArray());
    }
    for (const QString &tasks : { QStringLiteral("pdf"), QStringLiteral("nc") }) {
        const QMap<QString, QByteArray> inside = TestFiles::snapshot(folder + '/' + tasks);
        for (auto it = inside.cbegin(); it != inside.cend(); ++it)
            files.insert(tasks + '/' + it.key(), it.value());
    }
    return files;
}

class tst_InformationActions : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void cleanup();

    void fileActionFetchesAndOpens_data();
    void fileActionFetchesAndOpens();
    void otherColumnsDoNothing_data();
    void otherColumnsDoNothing();
    void emptyAddress_data();
    void emptyAddress();
    void emptyTaskNumber_data();
    void emptyTaskNumber();
    void failedFetchOpensNothing();
    void secondFetchLeavesNoOldProgram();
    void unsafeTaskNumberGetsNoFileAction_data();
    void unsafeTaskNumberGetsNoFileAction();
    void escapingArchiveUnpacksNothing();
    void sameCellTwiceDuringSlowTransfer();
    void historyUnavailableIsSaid();
    void earlierFetchLeavesLaterStatus();
    void historyButtonOpensOneWindow();
    void settingsButtonOpensFreshForms();
    void logOutClosesTaskWindow_data();
    void logOutClosesTaskWindow();
    void savingLastFormEndsProgram();
    void clickDuringSlowReloadActsOnShownRow();
    void logKeepsActionsAndChangesOnly();
    void scan_data();
    void scan();
    void flowsDoNotHoldEachOther_data();
    void flowsDoNotHoldEachOther();
    void scannerKeysReachTheField();

private:
    void startWindow();
    void showTasks(const QVariantList &tasks, bool clearRequests = true);
    void clickCell(int row, int col);
    // Clicks a cell whose fetch or check then ends (count of them when several run).
    void fetchCell(int row, int col);
    void waitForFileActions(QSignalSpy &ended, int count);
    QStringList openedFolders() const;
    void expectNothingOpened();
    void execUntilProgramEnds();
    int fileRequests() const;
    int serviceRequests() const;
    QString status() const { return m_window->findChild<QLabel *>("statusLbl")->text(); }
    QString appDir(const QString &relative = QString()) const;
    // A fetched NC program of one file, as the history records it.
    HistoryEntry copyOf(const QString &task, const QString &file);
    // A folder under the program's folder as the file manager gets it.
    QString openedDir(const QString &relative) const;
    QString url(const QString &path) const { return m_sim.rootUrl() + path; }

    DeviceSimulator m_sim;
    QTemporaryDir m_bin;
    std::unique_ptr<Information> m_window;
};

void tst_InformationActions::initTestCase()
{
    QVERIFY(m_sim.start(0));
    Network *network = Network::getInstance("defalut");
    {
        QMutexLocker locker(&network->mutex);
        network->rootUrl = m_sim.rootUrl();
    }

    // A recording stand-in takes the place of the file manager.
    QVERIFY(m_bin.isValid());
    QVERIFY(TestFiles::installRecordingOpener(m_bin.path()));
}

void tst_InformationActions::init()
{
    m_sim.clearFault();
    m_sim.clearCannedReplies();
    QDir(appDir("pdf")).removeRecursively();
    QDir(appDir("nc")).removeRecursively();
    QDir(appDir("history")).removeRecursively();
    QFile::remove(m_bin.filePath("opened.txt"));
    startWindow();
    m_sim.clearRequests();
}

// The rows a test's actions write off the GUI thread go before its files do.
void tst_InformationActions::cleanup()
{
    m_window.reset();
    QThreadPool::globalInstance()->waitForDone();
    QDir(appDir("pdf")).removeRecursively();
    QDir(appDir("nc")).removeRecursively();
    QDir(appDir("history")).removeRecursively();
}

QString tst_InformationActions::appDir(const QString &relative) const
{
    const QString dir = QCoreApplication::applicationDirPath();
    return relative.isEmpty() ? dir : dir + '/' + relative;
}

QString tst_InformationActions::openedDir(const QString &relative) const
{
    return QDir::toNativeSeparators(appDir(relative));
}

void tst_InformationActions::startWindow()
{
    m_window.reset(new Information);
    m_window->resize(1136, 686);
    QSignalSpy loaded(m_window.get(), &Information::loadEnded);
    m_window->start("1001");
    QVERIFY(loaded.wait());
    m_window->show();
    QVERIFY(QTest::qWaitForWindowExposed(m_window.get()));
}

void tst_InformationActions::showTasks(const QVariantList &tasks, bool clearRequests)
{
    const QVariantMap reply { { "status", 1 }, { "data", tasks } };
    m_sim.setCannedReply("device/task_list", QJsonDocument::fromVariant(reply).toJson());
    QSignalSpy loaded(m_window.get(), &Information::loadEnded);
    m_window->loadTaskList(QDate::currentDate().toString("yyyy-MM-dd"));
    QVERIFY(loaded.wait());
    if (clearRequests)
        m_sim.clearRequests();
}

void tst_InformationActions::clickCell(int row, int col)
{
    auto *view = m_window->findChild<QTableWidget *>("view");
    QVERIFY(view && view->item(row, col));
    view->scrollToItem(view->item(row, col));
    const QRect cell = view->visualItemRect(view->item(row, col));
    QTest::mouseClick(view->viewport(), Qt::LeftButton, Qt::NoModifier, cell.center());
}

void tst_InformationActions::fetchCell(int row, int col)
{
    QSignalSpy ended(m_window.get(), &Information::fileActionEnded);
    clickCell(row, col);
    waitForFileActions(ended, 1);
}

void tst_InformationActions::waitForFileActions(QSignalSpy &ended, int count)
{
    QTRY_VERIFY_WITH_TIMEOUT(ended.count() >= count, 15000);
}

QStringList tst_InformationActions::openedFolders() const
{
    return TestFiles::openedFolders(m_bin.path());
}

// A folder opened after the actions reaches the record after anything they started.
void tst_InformationActions::expectNothingOpened()
{
    QVERIFY(FolderOpener::open(QStringLiteral("/marker")));
    QTRY_COMPARE(openedFolders(), QStringList { FolderOpener::nativePath(QStringLiteral("/marker")) });
}

// Runs the program's event loop until the program ends, or for 10 s at most. The guard goes
// with the call: a quit left pending would end the waits of the next test.
void tst_InformationActions::execUntilProgramEnds()
{
    QTimer guard;
    guard.setSingleShot(true);
    connect(&guard, &QTimer::timeout, qApp, &QCoreApplication::quit);
    guard.start(10000);
    qApp->exec();
}

int tst_InformationActions::fileRequests() const
{
    return m_sim.requests().size() - serviceRequests();
}

int tst_InformationActions::serviceRequests() const
{
    int count = 0;
    for (const DeviceSimulator::Request &request : m_sim.requests())
        count += request.rawPath.startsWith("device/") || request.rawPath.startsWith("user/") ? 1 : 0;
    return count;
}

void tst_InformationActions::fileActionFetchesAndOpens_data()
{
    QTest::addColumn<int>("column");
    QTest::addColumn<int>("row");

    QTest::newRow("pdf-first-row") << pdfColumn << 0;
    QTest::newRow("pdf-last-row") << pdfColumn << 11;
    QTest::newRow("nc-first-row") << ncColumn << 0;
    QTest::newRow("nc-fifth-row") << ncColumn << 4;
}

// The simulator's own task list: its records point at its generated label PDFs and archives.
void tst_InformationActions::fileActionFetchesAndOpens()
{
    QFETCH(int, column);
    QFETCH(int, row);
    // The day the window shows, which it fixed when it started.
    const QDate shown = m_window->findChild<QDateEdit *>("dateEdit")->date();
    const QVariantMap record = m_sim.tasksFor(shown).at(row).toMap();
    const QString number = record.value("task_num").toString();

    fetchCell(row, column);

    QCOMPARE(fileRequests(), 1);
    if (column == pdfColumn) {
        QVERIFY(TestFiles::read(appDir("pdf/" + number + ".pdf")).startsWith("%PDF-"));
        QCOMPARE(TestFiles::snapshot(appDir("pdf")).keys(), QStringList { number + ".pdf" });
        QTRY_COMPARE(openedFolders(), QStringList { openedDir("pdf") });
        return;
    }
    QVERIFY(TestFiles::read(appDir("nc/" + number + ".zip")).startsWith("PK"));
    const QStringList expected { number, number + ".zip", number + "/panel-1.nc", number + "/panel-2.nc",
        number + "/panel-3.nc" };
    QCOMPARE(TestFiles::snapshot(appDir("nc")).keys(), expected);
    QVERIFY(TestFiles::read(appDir("nc/" + number + "/panel-1.nc"))
                .startsWith("(" + number.toUtf8() + " panel 1)"));
    QTRY_COMPARE(openedFolders(), QStringList { openedDir("nc/" + number) });
}

void tst_InformationActions::otherColumnsDoNothing_data()
{
    QTest::addColumn<int>("column");
    for (int column : { 0, 1, 2, 3, 4, 5, 6, 9 })
        QTest::newRow(qPrintable(QStringLiteral("column-%1").arg(column))) << column;
}

void tst_InformationActions::otherColumnsDoNothing()
{
    QFETCH(int, column);
    clickCell(0, column);
    clickCell(3, column);
    QCOMPARE(fileRequests(), 0);
    QVERIFY(!QFileInfo::exists(appDir("pdf")));
    QVERIFY(!QFileInfo::exists(appDir("nc")));
    expectNothingOpened();
}

void tst_InformationActions::emptyAddress_data()
{
    QTest::addColumn<bool>("localArchive");
    QTest::newRow("with-local-archive") << true;
    QTest::newRow("without-local-archive") << false;
}

// Without an address the local archive is unpacked as it is, and the folder opens.
void tst_InformationActions::emptyAddress()
{
    QFETCH(bool, localArchive);
    if (localArchive)
        QVERIFY(
            TestFiles::write(appDir("nc/77.zip"), DeviceSimulator::makeZip({ { "panel-1.nc", "kept" } })));
    showTasks({ task("77", QString(), QString()) });

    fetchCell(0, ncColumn);

    QCOMPARE(fileRequests(), 0);
    QCOMPARE(TestFiles::read(appDir("nc/77/panel-1.nc")),
        localArchive ? QByteArray("kept") : QByteArray("<missing>"));
    QTRY_COMPARE(openedFolders(), QStringList { openedDir("nc/77") });
}

void tst_InformationActions::emptyTaskNumber_data()
{
    QTest::addColumn<int>("column");
    QTest::addColumn<QString>("file");
    QTest::addColumn<QStringList>("opened");
    QTest::addColumn<QStringList>("boxes");

    QTest::newRow("pdf") << pdfColumn << "pdf/.pdf" << QStringList { openedDir("pdf") } << QStringList();
    QTest::newRow("nc") << ncColumn << "nc/.zip" << QStringList() << QStringList { "warning|NC程序未更新" };
}

// The files are named ".pdf" and ".zip"; the archive is not unpacked over its own folder,
// which holds every other task's files, so that folder is not shown as the program.
void tst_InformationActions::emptyTaskNumber()
{
    QFETCH(int, column);
    QFETCH(QString, file);
    QFETCH(QStringList, opened);
    QFETCH(QStringList, boxes);
    QVERIFY(TestFiles::write(appDir("nc/5.zip"), "another task"));
    m_sim.setFile("dl/none.zip", DeviceSimulator::makeZip({ { "panel-1.nc", "G0\n" } }));
    m_sim.setFile("dl/none.pdf", DeviceSimulator::makePdf("labels"));
    showTasks({ task(QString(), url("dl/none.pdf"), url("dl/none.zip")) });

    MessageBoxCloser closer;
    fetchCell(0, column);

    QVERIFY(QFileInfo(appDir(file)).isFile());
    QTRY_COMPARE(closer.seen.size(), boxes.size());
    QCOMPARE(TestFiles::read(appDir("nc/5.zip")), QByteArray("another task"));
    QVERIFY(!QFileInfo::exists(appDir("nc/panel-1.nc")));
    QCOMPARE(closer.seen.replaceInStrings(QRegularExpression("\n.*"), QString()), boxes);
    if (opened.isEmpty())
        expectNothingOpened();
    else
        QTRY_COMPARE(openedFolders(), opened);
}

void tst_InformationActions::failedFetchOpensNothing()
{
    const QByteArray oldZip = DeviceSimulator::makeZip({ { "panel-1.nc", "old" } });
    QVERIFY(TestFiles::write(appDir("nc/8.zip"), oldZip));
    QVERIFY(TestFiles::write(appDir("nc/8/panel-1.nc"), "old"));
    QVERIFY(TestFiles::write(appDir("pdf/8.pdf"), "old labels"));
    m_sim.setFault(DeviceSimulator::Fault::HttpError, 404, "dl/");
    showTasks({ task("8", url("dl/8.pdf"), url("dl/8.zip")) });

    fetchCell(0, ncColumn);
    fetchCell(0, pdfColumn);

    QCOMPARE(fileRequests(), 2);
    QCOMPARE(TestFiles::read(appDir("nc/8.zip")), oldZip);
    QCOMPARE(TestFiles::snapshot(appDir("nc/8")).keys(), QStringList { "panel-1.nc" });
    QCOMPARE(TestFiles::read(appDir("pdf/8.pdf")), QByteArray("old labels"));
    expectNothingOpened();
    QVERIFY(!QApplication::activeModalWidget());
    QVERIFY2(status().contains("8.pdf 未下载：服务器错误"), qPrintable(status()));
}

void tst_InformationActions::secondFetchLeavesNoOldProgram()
{
    m_sim.setFile(
        "dl/9.zip", DeviceSimulator::makeZip({ { "panel-1.nc", "one" }, { "left/panel-2.nc", "one" } }));
    showTasks({ task("9", QString(), url("dl/9.zip")) });
    fetchCell(0, ncColumn);
    QCOMPARE(TestFiles::read(appDir("nc/9/left/panel-2.nc")), QByteArray("one"));

    m_sim.setFile("dl/9.zip", DeviceSimulator::makeZip({ { "panel-3.nc", "two" } }));
    fetchCell(0, ncColumn);

    const QMap<QString, QByteArray> expected { { "panel-3.nc", "two" } };
    QCOMPARE(TestFiles::snapshot(appDir("nc/9")), expected);
    QCOMPARE(TestFiles::snapshot(appDir("nc")).keys(), (QStringList { "9", "9.zip", "9/panel-3.nc" }));
    QTRY_COMPARE(openedFolders(), (QStringList { openedDir("nc/9"), openedDir("nc/9") }));
}

void tst_InformationActions::unsafeTaskNumberGetsNoFileAction_data()
{
    QTest::addColumn<QString>("number");

    QTest::newRow("parent") << "..";
    QTest::newRow("current") << ".";
    QTest::newRow("parent-path") << "../escaped";
    QTest::newRow("deeper-parent") << "../../escaped";
    QTest::newRow("slash") << "a/b";
    QTest::newRow("absolute") << "/tmp/escaped";
    QTest::newRow("backslash") << "..\\escaped";
    QTest::newRow("dots-and-spaces") << ". .";
    QTest::newRow("control-character") << QStringLiteral("a\x01"
                                                         "b");
    QTest::newRow("nul") << QString("a") + QChar(0) + QString("b");
    QTest::newRow("windows-device") << "CON";
    QTest::newRow("windows-port-with-extension") << "com1.2026";
    QTest::newRow("windows-stream") << "T1:hidden";
    QTest::newRow("windows-trailing-dot") << "T1.";
    QTest::newRow("windows-trailing-space") << "T1 ";
}

void tst_InformationActions::unsafeTaskNumberGetsNoFileAction()
{
    QFETCH(QString, number);
    m_sim.setFile("dl/x.zip", DeviceSimulator::makeZip({ { "panel-1.nc", "G0\n" } }));
    showTasks({ task(number, url("dl/x.zip"), url("dl/x.zip")) });
    const QMap<QString, QByteArray> before = withoutHistory(programFiles(appDir()));

    clickCell(0, ncColumn);
    clickCell(0, pdfColumn);

    QCOMPARE(fileRequests(), 0);
    QVERIFY2(status().contains("任务号含有不能用作文件名的字符："), qPrintable(status()));
    // The history keeps the list shown, written on a thread of its own.
    QCOMPARE(withoutHistory(programFiles(appDir())), before);
    expectNothingOpened();
}

// The archive is fetched but refused: the old program stays, its folder is not opened as
// if it held the new one, and the operator is told.
void tst_InformationActions::escapingArchiveUnpacksNothing()
{
    const QByteArray archive
        = DeviceSimulator::makeZip({ { "panel-1.nc", "G0\n" }, { "../../escaped.nc", "escaped" } });
    m_sim.setFile("dl/10.zip", archive);
    QVERIFY(TestFiles::write(appDir("nc/10/panel-1.nc"), "old program"));
    showTasks({ task("10", QString(), url("dl/10.zip")) });
    const QMap<QString, QByteArray> before = programFiles(appDir());

    MessageBoxCloser closer;
    fetchCell(0, ncColumn);
    QTRY_COMPARE(closer.seen.size(), 1);

    QMap<QString, QByteArray> after = programFiles(appDir());
    QCOMPARE(after.take("nc/10.zip"), archive);
    // The fetch's history entry is the one other change.
    QCOMPARE(withoutHistory(after), withoutHistory(before));
    QVERIFY2(closer.seen.first().startsWith("warning|NC程序未更新\n"), qPrintable(closer.seen.first()));
    QVERIFY2(status().contains("NC程序未更新"), qPrintable(status()));
    expectNothingOpened();
}

// The second click on the same cell arrives while the first fetch still runs: it is
// refused, and a reload of the table meanwhile does not disturb the running action.
void tst_InformationActions::sameCellTwiceDuringSlowTransfer()
{
    m_sim.setFile("dl/11.zip", DeviceSimulator::makeZip({ { "panel-1.nc", "slow" } }));
    m_sim.setFault(DeviceSimulator::Fault::Delay, 800, "dl/");
    showTasks({ task("11", QString(), url("dl/11.zip")) });

    QSignalSpy ended(m_window.get(), &Information::fileActionEnded);
    clickCell(0, ncColumn);
    QTRY_COMPARE(fileRequests(), 1);
    clickCell(0, ncColumn);
    showTasks({ task("12", QString(), url("dl/12.zip")) }, false);
    waitForFileActions(ended, 2);

    QCOMPARE(fileRequests(), 1);
    QCOMPARE(m_sim.requests().isEmpty() ? QByteArray() : m_sim.requests().first().rawPath,
        QByteArray("dl/11.zip"));
    QCOMPARE(TestFiles::read(appDir("nc/11/panel-1.nc")), QByteArray("slow"));
    QVERIFY(!QFileInfo::exists(appDir("nc/12")));
    QTRY_COMPARE(openedFolders(), QStringList { openedDir("nc/11") });
}

// A folder where the history file should be cannot be opened as one; the fetch goes on.
void tst_InformationActions::historyUnavailableIsSaid()
{
    QVERIFY(QDir().mkpath(appDir("history/history.sqlite")));
    m_sim.setFile("dl/10.pdf", "%PDF-label");
    showTasks({ task("10", url("dl/10.pdf"), QString()) });
    fetchCell(0, pdfColumn);
    QCOMPARE(TestFiles::read(appDir("pdf/10.pdf")), QByteArray("%PDF-label"));
    QVERIFY2(
        status().contains("已下载 10.pdf") && status().contains("下载记录暂不可用"), qPrintable(status()));
}

// A fetch clicked while another one trickles in ends first; the earlier one's progress must
// not replace what it said, here that its history row is missing.
void tst_InformationActions::earlierFetchLeavesLaterStatus()
{
    QVERIFY(QDir().mkpath(appDir("history/history.sqlite")));
    m_sim.setFile("dl/20.pdf", "%PDF-" + QByteArray(6000, 'p'));
    m_sim.setFile("dl/21.pdf", "%PDF-label");
    m_sim.setFault(DeviceSimulator::Fault::Trickle, 4000, "dl/20");
    showTasks({ task("20", url("dl/20.pdf"), QString()), task("21", url("dl/21.pdf"), QString()) });
    int overwritten = 0;
    QTimer watch;
    connect(
        &watch, &QTimer::timeout, this, [&] { overwritten += status().contains("正在下载 20.pdf") ? 1 : 0; });
    QSignalSpy ended(m_window.get(), &Information::fileActionEnded);
    clickCell(0, pdfColumn);
    QTRY_VERIFY(status().contains("正在下载 20.pdf"));
    fetchCell(1, pdfColumn);
    const QString laterSaid = status();
    watch.start(10);
    waitForFileActions(ended, 2);

    QVERIFY2(
        laterSaid.contains("已下载 21.pdf") && laterSaid.contains("下载记录暂不可用"), qPrintable(laterSaid));
    QCOMPARE(overwritten, 0);
    QVERIFY2(status().contains("已下载 20.pdf"), qPrintable(status()));
}

void tst_InformationActions::historyButtonOpensOneWindow()
{
    auto *button = m_window->findChild<QPushButton *>("historyBtn");
    QVERIFY(button);
    QTableWidget *view = m_window->findChild<QTableWidget *>("view");
    view->setCurrentCell(3, 0);
    const QString selectedTask = view->item(3, 0)->text();
    const auto openWindows = [] {
        QList<QWidget *> windows;
        for (QWidget *widget : QApplication::topLevelWidgets()) {
            if (widget->inherits("HistoryWindow") && widget->isVisible())
                windows << widget;
        }
        return windows;
    };

    QTest::mouseClick(button, Qt::LeftButton);
    QTest::mouseClick(button, Qt::LeftButton);
    const QList<QWidget *> windows = openWindows();
    QCOMPARE(windows.size(), 1);
    QCOMPARE(windows.first()->findChild<QLineEdit *>("taskEdit")->text(), selectedTask);
    windows.first()->close();
}

void tst_InformationActions::settingsButtonOpensFreshForms()
{
    auto *button = m_window->findChild<QPushButton *>("update");
    QVERIFY(button);
    const auto openForms = [] {
        QList<QWidget *> forms;
        for (QWidget *widget : QApplication::topLevelWidgets()) {
            if (widget->inherits("setup") && widget->isVisible())
                forms << widget;
        }
        return forms;
    };

    QTest::mouseClick(button, Qt::LeftButton);
    const QList<QWidget *> first = openForms();
    QCOMPARE(first.size(), 1);
    first.first()->findChild<QLineEdit *>("equipmentEdt")->setText("typed in the first form");
    first.first()->findChild<QRadioButton *>("everyoneBtn")->setChecked(true);

    QTest::mouseClick(button, Qt::LeftButton);
    const QList<QWidget *> both = openForms();
    QCOMPARE(both.size(), 2);
    QWidget *second = both.first() == first.first() ? both.last() : both.first();
    QVERIFY(second != first.first());
    QVERIFY(second->findChild<QLineEdit *>("equipmentEdt")->text().isEmpty());
    QVERIFY(second->findChild<QRadioButton *>("ownerBtn")->isChecked());

    // Each form carries the signed-in user's id.
    second->findChild<QLineEdit *>("equipmentEdt")->setText("cnc-2");
    QTimer closer;
    connect(&closer, &QTimer::timeout, [] {
        if (auto *box = qobject_cast<QMessageBox *>(QApplication::activeModalWidget()))
            box->done(QMessageBox::Ok);
    });
    closer.start(10);
    const QPointer<QWidget> firstForm = first.first();
    const QPointer<QWidget> secondForm = second;
    QTest::mouseClick(second->findChild<QPushButton *>("pushButton"), Qt::LeftButton);
    QTRY_VERIFY(!m_sim.records().isEmpty());
    QCOMPARE(m_sim.records().last().value("uid").toString(), QStringLiteral("1001"));
    QCOMPARE(m_sim.records().last().value("name").toString(), QStringLiteral("cnc-2"));
    QTRY_VERIFY(!secondForm);
    QVERIFY(firstForm->close());
    QTRY_VERIFY(!firstForm);
}

void tst_InformationActions::logOutClosesTaskWindow_data()
{
    QTest::addColumn<bool>("historyOpen");
    QTest::newRow("task window alone") << false;
    QTest::newRow("history window open, which goes too") << true;
}

// With the sign-in window already hidden, closing the task window ends the event loop, and
// nothing reloads as the user signed out.
void tst_InformationActions::logOutClosesTaskWindow()
{
    QFETCH(bool, historyOpen);
    if (historyOpen)
        QTest::mouseClick(m_window->findChild<QPushButton *>("historyBtn"), Qt::LeftButton);
    m_sim.clearRequests();
    QSignalSpy lastClosed(qApp, &QGuiApplication::lastWindowClosed);
    const QPointer<Information> window = m_window.get();
    QTimer::singleShot(
        0, this, [this] { QTest::mouseClick(m_window->findChild<QPushButton *>("out"), Qt::LeftButton); });
    execUntilProgramEnds();

    QCOMPARE(lastClosed.count(), 1);
    QVERIFY(window);
    QVERIFY(!window->isVisible());
    QCOMPARE(m_sim.requests().size(), 0);
    QVERIFY(!window->findChild<RefreshSchedule *>()->isActive());
}

// A settings form left open after log-out keeps the program running until it is saved.
void tst_InformationActions::savingLastFormEndsProgram()
{
    QTest::mouseClick(m_window->findChild<QPushButton *>("update"), Qt::LeftButton);
    QWidget *form = nullptr;
    for (QWidget *widget : QApplication::topLevelWidgets())
        form = widget->inherits("setup") && widget->isVisible() ? widget : form;
    QVERIFY(form);
    form->findChild<QLineEdit *>("equipmentEdt")->setText("cnc-3");
    QSignalSpy lastClosed(qApp, &QGuiApplication::lastWindowClosed);
    QTest::mouseClick(m_window->findChild<QPushButton *>("out"), Qt::LeftButton);
    QCOMPARE(lastClosed.count(), 0);

    MessageBoxCloser closer;
    QTimer::singleShot(
        0, form, [form] { QTest::mouseClick(form->findChild<QPushButton *>("pushButton"), Qt::LeftButton); });
    execUntilProgramEnds();

    QCOMPARE(closer.seen, QStringList { "success|设置成功" });
    QCOMPARE(lastClosed.count(), 1);
}

// The operator clicks a row while a reload waits for a slow service that will answer with
// other tasks: the click acts at once, on the task that was shown under it, and the reload
// still ends and shows its rows.
void tst_InformationActions::clickDuringSlowReloadActsOnShownRow()
{
    m_sim.setFile("dl/20.zip", DeviceSimulator::makeZip({ { "panel-1.nc", "twenty" } }));
    m_sim.setFile("dl/21.zip", DeviceSimulator::makeZip({ { "panel-1.nc", "twenty-one" } }));
    showTasks({ task("20", QString(), url("dl/20.zip")) });
    const QVariantMap reply { { "status", 1 },
        { "data", QVariantList { task("21", QString(), url("dl/21.zip")) } } };
    m_sim.setCannedReply("device/task_list", QJsonDocument::fromVariant(reply).toJson());
    m_sim.setFault(DeviceSimulator::Fault::Delay, 3000, "device/task_list");

    QSignalSpy loaded(m_window.get(), &Information::loadEnded);
    QMetaObject::invokeMethod(m_window.get(), "refresh");
    fetchCell(0, ncColumn);
    QCOMPARE(loaded.count(), 0);

    QTRY_COMPARE(openedFolders(), QStringList { openedDir("nc/20") });
    QCOMPARE(TestFiles::read(appDir("nc/20/panel-1.nc")), QByteArray("twenty"));
    QVERIFY(!QFileInfo::exists(appDir("nc/21")));
    QVERIFY(loaded.wait(10000));
    QCOMPARE(m_window->findChild<QTableWidget *>("view")->item(0, 0)->text(), QStringLiteral("21"));
}

// A technician's log: nothing for reloads that bring the list already shown, one line for a
// change, one when the service starts failing and one when it answers again, and a line
// for each fetch with the SHA-256 of what was written.
void tst_InformationActions::logKeepsActionsAndChangesOnly()
{
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QString path = dir.filePath("quillet.log");
    const auto reload = [this] {
        QSignalSpy loaded(m_window.get(), &Information::loadEnded);
        QVERIFY(QMetaObject::invokeMethod(m_window.get(), "refresh"));
        QVERIFY(loaded.wait());
    };
    const auto lines = [&path] {
        QStringList kept;
        for (const QString &line : QString::fromUtf8(TestFiles::read(path)).split('\n', Qt::SkipEmptyParts)) {
            if (line.contains(" info: "))
                kept << line.section(' ', 3).trimmed(); // a Windows line ends with "\r\n"
        }
        return kept;
    };
    const QDate shown = m_window->findChild<QDateEdit *>("dateEdit")->date();
    const QString day = shown.toString("yyyy-MM-dd");
    {
        LogFile log(path);
        log.install();
        reload();
        reload();
        QCOMPARE(lines(), QStringList());

        m_sim.setTasksPerDay(13);
        reload();
        reload();
        m_sim.setFault(DeviceSimulator::Fault::HttpError, 503, "device/task_list/");
        reload();
        reload();
        m_sim.clearFault();
        reload();
        QCOMPARE(lines().size(), 3);
        QCOMPARE(lines().at(0), "task list of " + day + " : 13 tasks (1 added)");
        QVERIFY(lines().at(1).startsWith("device service failing: " + day));
        QVERIFY(lines().at(2).startsWith("device service answers again"));

        fetchCell(0, pdfColumn);
        QTRY_COMPARE(lines().filter("opened folder").size(), 1);
    }
    const QString number = m_sim.tasksFor(shown).at(0).toMap().value("task_num").toString();
    const QByteArray written = TestFiles::read(appDir("pdf/" + number + ".pdf"));
    const QString sha256 = QCryptographicHash::hash(written, QCryptographicHash::Sha256).toHex();
    const QStringList fetchLines = lines().filter("fetch label PDF");
    QCOMPARE(fetchLines.size(), 1);
    QVERIFY2(
        fetchLines.first().contains(QStringLiteral("%1 bytes, SHA-256 %2").arg(written.size()).arg(sha256)),
        qPrintable(fetchLines.first()));
    QCOMPARE(lines().filter("opened folder").size(), 1);
}

void tst_InformationActions::scan_data()
{
    QTest::addColumn<QString>("code");
    QTest::addColumn<int>("key");
    QTest::addColumn<QStringList>("choices");
    // What the file manager got last, or the status line's end when nothing opens.
    QTest::addColumn<QString>("opened");
    QTest::addColumn<QString>("status");
    QTest::newRow("a task number in lower case, ended by Tab")
        << "a100" << int(Qt::Key_Tab) << QStringList() << openedDir("nc/A100") << "";
    QTest::newRow("a file name in two tasks")
        << "PART1" << int(Qt::Key_Return) << QStringList { "B200：PART1.nc", "C300：sub/part1.NC" } << "C300"
        << "";
    QTest::newRow("an unknown code") << "4711" << int(Qt::Key_Enter) << QStringList() << ""
                                     << "未找到 4711";
    QTest::newRow("a path climbing out") << "..\\..\\x" << int(Qt::Key_Return) << QStringList() << ""
                                         << "未找到 ..\\..\\x";
}

// B200 and C300 were fetched before and both hold PART1; A100 is today's task.
void tst_InformationActions::scan()
{
    QFETCH(QString, code);
    QFETCH(int, key);
    QFETCH(QStringList, choices);
    QFETCH(QString, opened);
    QFETCH(QString, status);
    QList<HistoryEntry> fetched;
    for (const QString &file : { QStringLiteral("B200/PART1.nc"), QStringLiteral("C300/sub/part1.NC") }) {
        QVERIFY(TestFiles::write(appDir("nc/" + file), "G0\n"));
        HistoryEntry entry;
        entry.time = QDateTime::currentDateTime();
        entry.action = HistoryEntry::fetchAction;
        entry.task = file.section('/', 0, 0);
        entry.kind = "nc";
        entry.target = appDir("nc/" + entry.task);
        entry.ok = true;
        // As fetched: the copy is checked against these before it opens.
        entry.files << HistoryFile { file.section('/', 1), 3,
            QString::fromLatin1(QCryptographicHash::hash("G0\n", QCryptographicHash::Sha256).toHex()) };
        fetched << entry;
    }
    QVERIFY(HistoryStore(appDir("history")).add(fetched));
    const QString today = QDate::currentDate().toString("yyyy-MM-dd");
    showTasks({ task("A100", url("files/" + today + "/A100.pdf"), url("files/" + today + "/A100.zip")) });
    QStringList offered;
    QTimer chooser;
    connect(&chooser, &QTimer::timeout, this, [&] {
        for (QWidget *widget : QApplication::topLevelWidgets()) {
            auto *dialog = qobject_cast<QDialog *>(widget);
            auto *list = dialog && dialog->isVisible() ? dialog->findChild<QListWidget *>() : nullptr;
            if (!list)
                continue;
            for (int row = 0; row < list->count(); ++row)
                offered << list->item(row)->text();
            list->setCurrentRow(1);
            dialog->accept();
        }
    });
    chooser.start(10);

    m_window->activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(m_window.get()));
    auto *field = m_window->findChild<QLineEdit *>("scanEdit");
    QCOMPARE(field->placeholderText(), QStringLiteral("扫码或输入任务号"));
    QVERIFY(!field->testAttribute(Qt::WA_InputMethodEnabled));
    QTest::keyClicks(field, code);
    QTest::keyClick(field, Qt::Key(key));

    QCOMPARE(field->text(), QString());
    QTRY_COMPARE(offered, choices);
    QTRY_COMPARE(field->palette().color(QPalette::Base) == QColor(255, 200, 200), !status.isEmpty());
    QCOMPARE(m_window->focusWidget(), field);
    if (opened.isEmpty()) {
        QVERIFY2(status.isEmpty() || this->status().endsWith(status), qPrintable(this->status()));
        expectNothingOpened();
    } else {
        QTRY_VERIFY(openedFolders().value(openedFolders().size() - 1).contains(opened));
    }
    const auto scans = [this, &status] {
        int count = 0;
        HistoryStore(appDir("history")).forEach({}, [&](const HistoryEntry &entry) {
            count += entry.action == HistoryEntry::scanAction && entry.ok == status.isEmpty() ? 1 : 0;
        });
        return count;
    };
    QTRY_COMPARE(scans(), 1);
}

HistoryEntry tst_InformationActions::copyOf(const QString &task, const QString &file)
{
    TestFiles::write(appDir("nc/" + task + "/" + file), "G0\n");
    HistoryEntry entry;
    entry.time = QDateTime::currentDateTime();
    entry.action = HistoryEntry::fetchAction;
    entry.task = task;
    entry.kind = "nc";
    entry.target = appDir("nc/" + task);
    entry.ok = true;
    entry.files << HistoryFile { file, 3,
        QString::fromLatin1(QCryptographicHash::hash("G0\n", QCryptographicHash::Sha256).toHex()) };
    return entry;
}

void tst_InformationActions::flowsDoNotHoldEachOther_data()
{
    QTest::addColumn<QString>("earlier");
    QTest::addColumn<QString>("later");
    QTest::newRow("a box over a waiting reload") << "box"
                                                 << "reload";
    QTest::newRow("a fetch over a reload") << "reload"
                                           << "fetch";
    QTest::newRow("a reload over a fetch") << "fetch"
                                           << "reload";
    QTest::newRow("two fetches of different tasks") << "fetch"
                                                    << "fetch";
    QTest::newRow("two boxes") << "box"
                               << "box";
}

// The earlier flow is slow (or, a box, left unanswered); the later one ends meanwhile, and a
// reload's status time is when its reply came.
void tst_InformationActions::flowsDoNotHoldEachOther()
{
    QFETCH(QString, earlier);
    QFETCH(QString, later);
    // The later flow must end while the earlier one still waits, with room for a slow
    // machine (a sanitizer build beside other tests).
    const int slowMs = 4000;
    const int laterMs = 3000;
    const QByteArray escaping = DeviceSimulator::makeZip({ { "../out.nc", "x" } });
    m_sim.setFile("dl/a.zip", DeviceSimulator::makeZip({ { "a.nc", "a" } }));
    m_sim.setFile("dl/b.zip", DeviceSimulator::makeZip({ { "b.nc", "b" } }));
    m_sim.setFile("dl/x.zip", escaping);
    m_sim.setFile("dl/y.zip", escaping);
    showTasks({ task("A", QString(), url("dl/a.zip")), task("B", QString(), url("dl/b.zip")),
        task("X", QString(), url("dl/x.zip")), task("Y", QString(), url("dl/y.zip")) });
    QSignalSpy loads(m_window.get(), &Information::loadEnded);
    QSignalSpy files(m_window.get(), &Information::fileActionEnded);
    const auto openBoxes = [] {
        int open = 0;
        for (QWidget *widget : QApplication::topLevelWidgets())
            open += qobject_cast<QMessageBox *>(widget) && widget->isVisible() ? 1 : 0;
        return open;
    };
    // Starts a flow: the first of its kind on the first row of that kind.
    const auto start = [&](const QString &kind, bool first) {
        if (kind == "reload")
            QMetaObject::invokeMethod(m_window.get(), "refresh");
        else
            clickCell(kind == "box" ? (first ? 2 : 3) : (first ? 0 : 1), ncColumn);
    };
    const QString slowPrefix = earlier == "reload" ? "device/task_list" : "dl/a";
    if (earlier != "box")
        m_sim.setFault(DeviceSimulator::Fault::Delay, slowMs, slowPrefix);
    start(earlier, true);
    if (earlier == "box")
        QTRY_COMPARE(openBoxes(), 1);

    start(later, earlier != later);
    if (later == "reload") {
        QVERIFY(loads.wait(laterMs));
        const QString shown = m_window->findChild<QLabel *>("statusLbl")->text();
        const QTime at = QTime::fromString(shown.left(8), "hh:mm:ss");
        QVERIFY2(qAbs(at.secsTo(QTime::currentTime())) <= 1, qPrintable(shown));
    } else if (later == "box") {
        QTRY_COMPARE(openBoxes(), 2);
    } else {
        QTRY_VERIFY_WITH_TIMEOUT(files.count() >= 1 + (earlier == "box" ? 1 : 0), laterMs);
    }
    if (earlier == "box")
        QCOMPARE(openBoxes() >= 1, true);
    else if (earlier == "reload")
        QCOMPARE(loads.count(), 0);
    MessageBoxCloser closer;
    QTRY_COMPARE(openBoxes(), 0);
    QTRY_VERIFY_WITH_TIMEOUT(loads.count() + files.count() >= 2, slowMs + 10000);
}

// After a click in the table, a scanner's keys still reach the field; a burst that lands
// on the date edit goes to the field too, while a slow typist's keys stay where typed.
void tst_InformationActions::scannerKeysReachTheField()
{
    auto *field = m_window->findChild<QLineEdit *>("scanEdit");
    auto *dateEdit = m_window->findChild<QDateEdit *>("dateEdit");
    m_window->activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(m_window.get()));
    clickCell(0, 0);
    QCOMPARE(QApplication::focusWidget(), field);

    dateEdit->setFocus();
    const QDate before = dateEdit->date();
    QTest::keyClicks(dateEdit, "A100");
    QTest::keyClick(dateEdit, Qt::Key_Return);
    QCOMPARE(QApplication::focusWidget(), field);
    QCOMPARE(dateEdit->date(), before);
    // A chooser left open goes when the next code is scanned.
    QList<HistoryEntry> copies { copyOf("B200", "PART1.nc"), copyOf("C300", "part1.NC") };
    QVERIFY(HistoryStore(appDir("history")).add(copies));
    QTest::keyClicks(field, "PART1");
    QTest::keyClick(field, Qt::Key_Return);
    QPointer<QDialog> chooser;
    QTRY_VERIFY((chooser = qobject_cast<QDialog *>(QApplication::activeModalWidget())));
    QTest::keyClicks(chooser, "A100");
    QTest::keyClick(chooser, Qt::Key_Return);
    QTRY_VERIFY(!chooser);
    const auto scanned = [this] {
        int count = 0;
        HistoryStore(appDir("history")).forEach({}, [&](const HistoryEntry &entry) {
            count += entry.action == HistoryEntry::scanAction && entry.source == "A100" ? 1 : 0;
        });
        return count;
    };
    QTRY_COMPARE(scanned(), 2);
}

QTEST_MAIN(tst_InformationActions)
#include "tst_informationactions.moc"
