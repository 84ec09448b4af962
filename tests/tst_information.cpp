#include "service/network.h"
#include "sim/devicesimulator.h"
#include "tasks/information.h"
#include "tasks/refreshschedule.h"

#include <QAbstractItemView>
#include <QDateEdit>
#include <QIcon>
#include <QLabel>
#include <QMutexLocker>
#include <QPushButton>
#include <QScopeGuard>
#include <QScrollBar>
#include <QSignalSpy>
#include <QTableWidget>
#include <QTimer>
#include <QtTest>

#include <memory>

Q_DECLARE_METATYPE(DeviceSimulator::Fault)

class tst_Information : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void cleanup();

    void startLoadsToday();
    void replyShapes_data();
    void replyShapes();
    void failedReloadKeepsRows_data();
    void failedReloadKeepsRows();
    void failedDayChangeShowsNoRows();
    void unchangedReloadKeepsSelection();
    void dayPickedDuringSlowLoadWins();
    void emptyFirstLoadKeepsViewDefaults();
    void dayButtons_data();
    void dayButtons();
    void handPickedDate();
    void pickedDateIsNotShownAsLoaded();
    void dateEditStepsLoadOnce();
    void dateEditBeforeStartLoadsNothing();
    void refreshReloadsLastLoadedDate();
    void tickDuringSlowLoadIsSkipped();
    void supersededSlowReloadKeepsReloading();

private:
    void startWindow(const QString &uid = QStringLiteral("1001"));
    // Does what starts a load, and waits until the window shows its outcome.
    template <typename Action>
    void loads(Action action)
    {
        QSignalSpy ended(window.get(), &Information::loadEnded);
        action();
        QVERIFY(ended.wait(10000));
    }
    void click(const char *button)
    {
        loads([&] { QTest::mouseClick(child<QPushButton>(button), Qt::LeftButton); });
    }
    void reload()
    {
        loads([&] { QMetaObject::invokeMethod(window.get(), "refresh"); });
    }
    QStringList taskListPaths() const;
    RefreshSchedule *schedule() const;
    template <typename T>
    T *child(const char *name) const
    {
        T *widget = window->findChild<T *>(QLatin1String(name));
        Q_ASSERT(widget);
        return widget;
    }
    QTableWidget *view() const { return child<QTableWidget>("view"); }
    QString status() const { return child<QLabel>("statusLbl")->text(); }
    QStringList rowTexts(int row) const;
    QDate shownDay() const { return child<QDateEdit>("dateEdit")->date(); }
    // Days counted from the one the window started on, which stays when midnight passes.
    QString day(int offset) const { return startDay.addDays(offset).toString("yyyy-MM-dd"); }
    static QString taskListPath(const QString &uid, const QString &date)
    {
        return QStringLiteral("device/task_list/%1/%2").arg(uid, date);
    }

    DeviceSimulator sim;
    std::unique_ptr<Information> window;
    QDate startDay;
};

void tst_Information::initTestCase()
{
    QVERIFY(sim.start(0));
    Network *network = Network::getInstance("defalut");
    QMutexLocker locker(&network->mutex);
    network->rootUrl = sim.rootUrl();
}

void tst_Information::init()
{
    sim.clearFault();
    sim.clearCannedReplies();
    sim.clearRequests();
    window.reset(new Information);
}

void tst_Information::cleanup()
{
    window.reset();
}

void tst_Information::startWindow(const QString &uid)
{
    loads([&] { window->start(uid); });
    // The day the window asked for; it stays the start day when midnight passes.
    const QStringList paths = taskListPaths();
    QVERIFY(!paths.isEmpty());
    startDay = QDate::fromString(paths.last().section('/', -1), "yyyy-MM-dd");
    window->show();
    QVERIFY(QTest::qWaitForWindowExposed(window.get()));
}

QStringList tst_Information::taskListPaths() const
{
    QStringList paths;
    for (const DeviceSimulator::Request &request : sim.requests()) {
        if (request.rawPath.startsWith("device/task_list/"))
            paths << QString::fromUtf8(request.rawPath);
    }
    return paths;
}

RefreshSchedule *tst_Information::schedule() const
{
    return window->findChild<RefreshSchedule *>();
}

QStringList tst_Information::rowTexts(int row) const
{
    QStringList texts;
    for (int column = 0; column < view()->columnCount(); ++column) {
        const QTableWidgetItem *item = view()->item(row, column);
        texts << (item ? item->text() : QStringLiteral("<no item>"));
    }
    return texts;
}

void tst_Information::startLoadsToday()
{
    startWindow("1001");

    // The window fixed its day at start; a test running over midnight sees yesterday.
    QVERIFY(shownDay() == QDate::currentDate() || shownDay() == QDate::currentDate().addDays(-1));
    QCOMPARE(taskListPaths(), QStringList { taskListPath("1001", day(0)) });
    QVERIFY(status().contains(QString::number(sim.tasksFor(shownDay()).size())));

    const QVariantList tasks = sim.tasksFor(shownDay());
    QVERIFY(!tasks.isEmpty());
    QCOMPARE(view()->rowCount(), tasks.size());
    for (int row = 0; row < tasks.size(); ++row) {
        const QVariantMap task = tasks.at(row).toMap();
        const QStringList expected { task.value("task_num").toString(),
            task.value("buyer_address").toString(), task.value("u_name").toString(),
            task.value("create_time").toString(), task.value("name").toString(),
            task.value("expand_area").toString(), task.value("piece").toString(), "打印PDF文件", "查看nc文件",
            "" };
        QCOMPARE(rowTexts(row), expected);
        QCOMPARE(view()->item(row, 7)->foreground().color(), QColor(Qt::blue));
        QCOMPARE(view()->item(row, 8)->foreground().color(), QColor(Qt::blue));
        QVERIFY(!view()->item(row, 0)->data(Qt::ForegroundRole).isValid());
        QVERIFY(!view()->item(row, 9)->data(Qt::DecorationRole).value<QIcon>().isNull());
    }

    QCOMPARE(view()->iconSize(), QSize(200, 200));
    QCOMPARE(view()->verticalScrollMode(), QAbstractItemView::ScrollPerPixel);
    QCOMPARE(view()->horizontalScrollMode(), QAbstractItemView::ScrollPerPixel);
    // The large icon size must not blow the rows up: several rows fit on the screen.
    QVERIFY2(view()->rowHeight(0) < 60, qPrintable(QString::number(view()->rowHeight(0))));

    QStringList headers;
    for (int column = 0; column < view()->columnCount(); ++column)
        headers << view()->horizontalHeaderItem(column)->text();
    QCOMPARE(headers,
        (QStringList { "任务名", "模型", "客户", "创建时间", "房间", "展开", "计件", "板材标签", "查看nc文件",
            "模型" }));
}

void tst_Information::replyShapes_data()
{
    QTest::addColumn<QByteArray>("body");
    QTest::addColumn<QList<QStringList>>("rows");

    const QStringList fixedOnly { "", "", "", "", "", "", "", "打印PDF文件", "查看nc文件", "" };
    QTest::newRow("empty data") << QByteArray(R"({"status":1,"data":[]})") << QList<QStringList>();
    QTest::newRow("record missing fields")
        << QByteArray(R"({"status":1,"data":[{"task_num":"T1","piece":"3"}]})")
        << QList<QStringList> { { "T1", "", "", "", "", "", "3", "打印PDF文件", "查看nc文件", "" } };
    QTest::newRow("numbers shown as text")
        << QByteArray(R"({"status":1,"data":[{"task_num":17,"expand_area":3.5,"piece":12,"extra":"x"}]})")
        << QList<QStringList> { { "17", "", "", "", "", "3.5", "12", "打印PDF文件", "查看nc文件", "" } };
    QTest::newRow("records not maps") << QByteArray(R"({"status":1,"data":[5,"x",null]})")
                                      << QList<QStringList> { fixedOnly, fixedOnly, fixedOnly };
    QTest::newRow("status ignored") << QByteArray(R"({"status":0,"data":[{"u_name":"王"}]})")
                                    << QList<QStringList> { { "", "", "王", "", "", "", "", "打印PDF文件",
                                           "查看nc文件", "" } };
}

// Every well-formed reply replaces the whole table, an empty list included.
void tst_Information::replyShapes()
{
    QFETCH(QByteArray, body);
    QFETCH(QList<QStringList>, rows);

    startWindow();
    QVERIFY(view()->rowCount() > 0);
    view()->selectRow(0);

    sim.setCannedReply("device/task_list/", body);
    click("todayBtn");

    QCOMPARE(view()->rowCount(), rows.size());
    QCOMPARE(view()->columnCount(), 10);
    for (int row = 0; row < rows.size(); ++row)
        QCOMPARE(rowTexts(row), rows.at(row));
    QVERIFY(view()->selectedItems().isEmpty());
}

void tst_Information::failedReloadKeepsRows_data()
{
    QTest::addColumn<DeviceSimulator::Fault>("fault");
    QTest::addColumn<int>("value");
    QTest::addColumn<QByteArray>("body");
    QTest::addColumn<QString>("reason");

    using Fault = DeviceSimulator::Fault;
    QTest::newRow("server error") << Fault::HttpError << 500 << QByteArray() << "服务器错误 500";
    QTest::newRow("html page") << Fault::NonJson << 0 << QByteArray() << "回复无效";
    QTest::newRow("no data") << Fault::None << 0 << QByteArray(R"({"status":1})") << "回复无效";
    QTest::newRow("data an object") << Fault::None << 0 << QByteArray(R"({"status":1,"data":{"a":1}})")
                                    << "回复无效";
    QTest::newRow("dropped connection") << Fault::DropHalfway << 0 << QByteArray() << "无法连接";
    QTest::newRow("stalled") << Fault::Stall << 0 << QByteArray() << "超时";
}

// The rows of the day stay, marked as stale with the reason, until the service answers.
void tst_Information::failedReloadKeepsRows()
{
    QFETCH(DeviceSimulator::Fault, fault);
    QFETCH(int, value);
    QFETCH(QByteArray, body);
    QFETCH(QString, reason);
    Network *network = Network::getInstance("defalut");
    network->setTransferTimeout(300);
    const auto restore
        = qScopeGuard([network] { network->setTransferTimeout(Network::DeviceRequestIdleTimeoutMs); });

    startWindow();
    const QStringList firstRow = rowTexts(0);
    const int rows = view()->rowCount();
    if (body.isEmpty())
        sim.setFault(fault, value, "device/task_list/");
    else
        sim.setCannedReply("device/task_list/", body);
    reload();

    QCOMPARE(view()->rowCount(), rows);
    QCOMPARE(rowTexts(0), firstRow);
    QCOMPARE(view()->item(0, 0)->foreground().color(), QColor(Qt::gray));
    QVERIFY2(status().contains(reason) && status().contains("服务异常"), qPrintable(status()));
    // The next try comes later than the normal interval only once reloads keep failing.
    const QString retry = schedule()->nextTry().time().toString("hh:mm:ss");
    QVERIFY2(status().endsWith("下次重试 " + retry), qPrintable(status()));

    sim.clearFault();
    sim.clearCannedReplies();
    reload();
    QVERIFY2(!status().contains("服务异常"), qPrintable(status()));
    QCOMPARE(view()->item(0, 8)->foreground().color(), QColor(Qt::blue));
}

void tst_Information::failedDayChangeShowsNoRows()
{
    startWindow("7");
    sim.setFault(DeviceSimulator::Fault::HttpError, 503, "device/task_list/");
    click("nextdayBtn");

    QCOMPARE(view()->rowCount(), 0);
    QVERIFY2(status().contains(day(1)) && status().contains("503"), qPrintable(status()));

    sim.clearFault();
    reload();
    QCOMPARE(view()->rowCount(), sim.tasksFor(shownDay()).size());
}

void tst_Information::unchangedReloadKeepsSelection()
{
    sim.setTasksPerDay(100);
    const auto restore = qScopeGuard([this] { sim.setTasksPerDay(12); });
    startWindow();
    view()->selectRow(40);
    view()->verticalScrollBar()->setValue(view()->verticalScrollBar()->maximum() / 2);
    const int scrolled = view()->verticalScrollBar()->value();
    const QTableWidgetItem *item = view()->item(40, 0);

    reload();

    QCOMPARE(view()->item(40, 0), item);
    QCOMPARE(view()->selectionModel()->selectedRows().value(0).row(), 40);
    QCOMPARE(view()->verticalScrollBar()->value(), scrolled);
}

// The earlier pick's slow load is abandoned by the newer one: its day never shows.
void tst_Information::dayPickedDuringSlowLoadWins()
{
    startWindow("7");
    const QString yesterday = day(-1);
    sim.setFault(DeviceSimulator::Fault::Delay, 2500, taskListPath("7", yesterday));
    QTest::mouseClick(child<QPushButton>("lastdayBtn"), Qt::LeftButton);
    QVERIFY2(status().contains(yesterday), qPrintable(status()));
    QTRY_VERIFY(taskListPaths().contains(taskListPath("7", yesterday)));
    click("todayBtn");

    QCOMPARE(shownDay(), QDate::fromString(yesterday, "yyyy-MM-dd").addDays(1));
    QCOMPARE(
        view()->item(0, 0)->text(), sim.tasksFor(shownDay()).first().toMap().value("task_num").toString());
}

void tst_Information::emptyFirstLoadKeepsViewDefaults()
{
    const QSize defaultIconSize = view()->iconSize();
    const auto defaultScrollMode = view()->verticalScrollMode();
    sim.setCannedReply("device/task_list/", R"({"status":1,"data":[]})");

    startWindow();

    QCOMPARE(taskListPaths().size(), 1);
    QCOMPARE(view()->rowCount(), 0);
    QCOMPARE(view()->iconSize(), defaultIconSize);
    QCOMPARE(view()->verticalScrollMode(), defaultScrollMode);
}

void tst_Information::dayButtons_data()
{
    QTest::addColumn<QStringList>("clicks");
    QTest::addColumn<QList<int>>("offsets");

    QTest::newRow("back twice") << QStringList { "lastdayBtn", "lastdayBtn" } << QList<int> { -1, -2 };
    QTest::newRow("back twice, forward once")
        << QStringList { "lastdayBtn", "lastdayBtn", "nextdayBtn" } << QList<int> { -1, -2, -1 };
    QTest::newRow("today resets the offset") << QStringList { "lastdayBtn", "lastdayBtn", "todayBtn",
        "nextdayBtn" } << QList<int> { -1, -2, 0, 1 };
    QTest::newRow("forward past tomorrow")
        << QStringList { "nextdayBtn", "nextdayBtn", "nextdayBtn" } << QList<int> { 1, 2, 3 };
}

// Each click loads its day exactly once, shows it in the date edit and fills the table.
void tst_Information::dayButtons()
{
    QFETCH(QStringList, clicks);
    QFETCH(QList<int>, offsets);

    startWindow("7");
    for (int i = 0; i < clicks.size(); ++i) {
        sim.clearRequests();
        click(qPrintable(clicks.at(i)));

        const QDate expected = startDay.addDays(offsets.at(i));
        QCOMPARE(taskListPaths(), QStringList { taskListPath("7", day(offsets.at(i))) });
        QCOMPARE(child<QDateEdit>("dateEdit")->date(), expected);
        const QVariantList tasks = sim.tasksFor(expected);
        QCOMPARE(view()->rowCount(), tasks.size());
        QCOMPARE(view()->item(0, 0)->text(), tasks.first().toMap().value("task_num").toString());
    }
}

void tst_Information::handPickedDate()
{
    startWindow("7");
    QDateEdit *dateEdit = child<QDateEdit>("dateEdit");

    sim.clearRequests();
    dateEdit->setFocus();
    dateEdit->setDate(startDay.addDays(-3));
    QTRY_COMPARE(taskListPaths(), QStringList { taskListPath("7", day(-3)) });
    QTRY_COMPARE(view()->item(0, 0)->text(),
        sim.tasksFor(startDay.addDays(-3)).first().toMap().value("task_num").toString());

    // The day buttons go on from the picked day.
    sim.clearRequests();
    click("nextdayBtn");
    QCOMPARE(taskListPaths(), QStringList { taskListPath("7", day(-2)) });
    QCOMPARE(dateEdit->date(), startDay.addDays(-2));

    sim.clearRequests();
    dateEdit->setDate(startDay.addDays(5));
    QTRY_COMPARE(taskListPaths(), QStringList { taskListPath("7", day(5)) });
    click("lastdayBtn");
    QCOMPARE(taskListPaths(), (QStringList { taskListPath("7", day(5)), taskListPath("7", day(4)) }));
}

// Between the pick and its load the date edit shows the picked day over the rows of the
// day before: the status line says the picked day is loading, and no reload of the day
// before may finish meanwhile as if it were the day shown.
void tst_Information::pickedDateIsNotShownAsLoaded()
{
    startWindow("7");
    schedule()->setIntervals(20, 20);
    QTRY_VERIFY(taskListPaths().size() >= 2);

    sim.clearRequests();
    child<QDateEdit>("dateEdit")->setDate(startDay.addDays(-3));
    QCOMPARE(status(), QStringLiteral("正在加载 %1 的任务…").arg(day(-3)));
    QTRY_VERIFY(taskListPaths().contains(taskListPath("7", day(-3))));
    // A reload of the day before may have been on its way at the pick; none is sent after.
    const QStringList paths = taskListPaths();
    const int picked = paths.indexOf(taskListPath("7", day(-3)));
    QVERIFY2(picked <= 1, qPrintable(paths.join(' ')));
    for (int i = picked; i < paths.size(); ++i)
        QCOMPARE(paths.at(i), taskListPath("7", day(-3)));
}

// Wheel steps and arrow keys arrive one date at a time; only where they stop is loaded.
void tst_Information::dateEditStepsLoadOnce()
{
    startWindow("7");
    QDateEdit *dateEdit = child<QDateEdit>("dateEdit");
    dateEdit->setFocus();
    dateEdit->setCurrentSection(QDateTimeEdit::DaySection);
    sim.clearRequests();

    for (int step = 0; step < 4; ++step)
        dateEdit->stepBy(-1);

    QTRY_COMPARE(taskListPaths(), QStringList { taskListPath("7", day(-4)) });
    QTRY_COMPARE(view()->item(0, 0)->text(),
        sim.tasksFor(startDay.addDays(-4)).first().toMap().value("task_num").toString());
}

void tst_Information::dateEditBeforeStartLoadsNothing()
{
    child<QDateEdit>("dateEdit")->setDate(QDate::currentDate().addDays(2));
    QCOMPARE(taskListPaths(), QStringList());
    QCOMPARE(view()->rowCount(), 0);

    // start() loads today even though the date edit was moved.
    startWindow("7");
    QCOMPARE(taskListPaths(), QStringList { taskListPath("7", day(0)) });
}

void tst_Information::refreshReloadsLastLoadedDate()
{
    startWindow("7");
    QVERIFY(schedule());
    QCOMPARE(schedule()->interval(), 5000);
    QVERIFY(schedule()->isActive());

    click("lastdayBtn");
    sim.clearRequests();
    schedule()->setIntervals(50, 50);

    QTRY_VERIFY(taskListPaths().size() >= 2);
    for (const QString &path : taskListPaths())
        QCOMPARE(path, taskListPath("7", day(-1)));
    QCOMPARE(view()->item(0, 0)->text(),
        sim.tasksFor(startDay.addDays(-1)).first().toMap().value("task_num").toString());
}

// A tick that arrives while a load waits for the service is dropped instead of starting a
// second load beside it; the load arms the next tick when it ends.
void tst_Information::tickDuringSlowLoadIsSkipped()
{
    startWindow("7");
    QVERIFY(schedule());
    schedule()->setIntervals(40, 40);
    QSignalSpy ticks(schedule(), &RefreshSchedule::due);

    sim.setFault(DeviceSimulator::Fault::Delay, 600, "device/task_list/");
    sim.clearRequests();
    click("lastdayBtn");

    QVERIFY2(ticks.count() >= 1, qPrintable(QString::number(ticks.count())));
    QCOMPARE(taskListPaths(), QStringList { taskListPath("7", day(-1)) });
    QCOMPARE(view()->rowCount(), sim.tasksFor(startDay.addDays(-1)).size());

    // Once the load is done, the ticks reload again.
    sim.clearFault();
    QTRY_VERIFY(taskListPaths().size() >= 3);
}

// A reload that waits long while a day button's quick load replaces it: the tick the quick
// load arms comes while the slow one still waits and is skipped, yet the reloads go on.
void tst_Information::supersededSlowReloadKeepsReloading()
{
    startWindow("7");
    sim.setFault(DeviceSimulator::Fault::Delay, 1500, taskListPath("7", day(0)));
    schedule()->setIntervals(300, 300);
    QTimer::singleShot(600, window.get(), [this] {
        sim.clearRequests();
        QTest::mouseClick(child<QPushButton>("nextdayBtn"), Qt::LeftButton);
    });

    QTRY_VERIFY_WITH_TIMEOUT(taskListPaths().count(taskListPath("7", day(1))) >= 2, 5000);
}

QTEST_MAIN(tst_Information)
#include "tst_information.moc"
