#include "app/dialog.h"
#include "credentials/offlineverifier.h"
#include "history/taskliststore.h"
#include "service/network.h"
#include "service/setting.h"
#include "sim/devicesimulator.h"
#include "tasks/information.h"
#include "tasks/refreshschedule.h"
#include "tests/support/messageboxcloser.h"
#include "tests/support/testfiles.h"
#include "tests/support/testpki.h"

#include <QApplication>
#include <QCheckBox>
#include <QDateEdit>
#include <QImage>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QMutexLocker>
#include <QPushButton>
#include <QScopeGuard>
#include <QScreen>
#include <QSignalSpy>
#include <QTableWidget>
#include <QTemporaryDir>
#include <QTimer>
#include <QtTest>

#include <memory>

namespace {

const QString logoPath = QStringLiteral(":/new/prefix1/lALPDgQ9qt2-lopKSg_74_74.png_620x10000q90g.jpg");

QList<Information *> taskWindows()
{
    QList<Information *> windows;
    for (QWidget *widget : QApplication::topLevelWidgets()) {
        if (auto *window = qobject_cast<Information *>(widget))
            windows << window;
    }
    return windows;
}

} // namespace

class tst_Dialog : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void cleanup();
    void cleanupTestCase();

    void form();
    void signIn_data();
    void signIn();
    void secondClickWhileSigningInDoesNothing();
    void clickAsWelcomeBoxClosesDoesNothing();
    void requestCarriesDigest_data();
    void requestCarriesDigest();
    void emptyFields_data();
    void emptyFields();
    void rememberedAcrossWindows();
    void untickingForgets();
    void tickStoresFieldsAtClickTime();
    void offlineSignIn_data();
    void offlineSignIn();

private:
    template <typename T>
    static T *child(QWidget *window, const char *name)
    {
        T *widget = window->findChild<T *>(QLatin1String(name));
        Q_ASSERT(widget);
        return widget;
    }
    // Types text key by key; keyClicks() cannot map characters outside Latin-1 to keys.
    static void type(QWidget *window, const char *field, const QString &text)
    {
        QLineEdit *edit = child<QLineEdit>(window, field);
        for (const QChar character : text)
            QTest::sendKeyEvent(QTest::Click, edit, Qt::Key_unknown, QString(character), Qt::NoModifier);
    }
    static void click(QWidget *window, const char *button)
    {
        QTest::mouseClick(child<QAbstractButton>(window, button), Qt::LeftButton);
    }
    QList<QByteArray> loginPaths() const;

    QTemporaryDir configHome;
    QTemporaryDir pkiDir;
    DeviceSimulator sim;
};

void tst_Dialog::initTestCase()
{
    QVERIFY(configHome.isValid());
    qputenv("XDG_CONFIG_HOME", QFile::encodeName(configHome.path()));
    QVERIFY2(TestFiles::settingsAreIsolated(Setting().fileName(), configHome.path()),
        qPrintable(Setting().fileName()));
    Q_INIT_RESOURCE(resources);
    QVERIFY(sim.start(0));
    Network *network = Network::getInstance("defalut");
    QMutexLocker locker(&network->mutex);
    network->rootUrl = sim.rootUrl();
}

void tst_Dialog::init()
{
    Setting setting;
    setting.setValue("username", QString());
    setting.setValue("password", QString());
    setting.setValue("isChecked", false);
    sim.clearCannedReplies();
    sim.clearRequests();
}

void tst_Dialog::cleanup()
{
    qDeleteAll(taskWindows());
}

void tst_Dialog::cleanupTestCase()
{
    Q_CLEANUP_RESOURCE(resources);
}

QList<QByteArray> tst_Dialog::loginPaths() const
{
    QList<QByteArray> paths;
    for (const DeviceSimulator::Request &request : sim.requests()) {
        if (request.rawPath.startsWith("user/login/"))
            paths << request.rawPath;
    }
    return paths;
}

void tst_Dialog::form()
{
    Dialog dialog;
    QCOMPARE(dialog.objectName(), QStringLiteral("Dialog"));
    QCOMPARE(dialog.windowTitle(), QStringLiteral("Dialog"));
    // Drawn for 1044 x 657, which the offscreen screen (800 x 600) has no room for.
    const QRect room = dialog.screen()->availableGeometry();
    QVERIFY(dialog.width() <= room.width() && dialog.height() <= room.height());
    QCOMPARE(child<QLineEdit>(&dialog, "passWordEd")->echoMode(), QLineEdit::Password);

    // Keyboard focus goes user name, password, sign-in button, remember box.
    const QList<QWidget *> expected { child<QWidget>(&dialog, "userNameEd"),
        child<QWidget>(&dialog, "passWordEd"), child<QWidget>(&dialog, "loginBtn"),
        child<QWidget>(&dialog, "checkBox") };
    QList<QWidget *> chain;
    QWidget *widget = expected.first();
    do {
        if (widget->focusPolicy() & Qt::TabFocus)
            chain << widget;
        widget = widget->nextInFocusChain();
    } while (widget != expected.first() && chain.size() < 10);
    QCOMPARE(chain, expected);

    const QImage logo(logoPath);
    QCOMPARE(logo.size(), QSize(74, 74));
    QVERIFY(child<QLabel>(&dialog, "label_3")->text().contains(QStringLiteral("src=\"%1\"").arg(logoPath)));
}

void tst_Dialog::signIn_data()
{
    QTest::addColumn<QByteArray>("cannedReply");
    QTest::addColumn<int>("httpStatus");
    QTest::addColumn<QString>("password");
    QTest::addColumn<bool>("signedIn");
    QTest::addColumn<QString>("uid");
    // The failure box's second line: why the sign-in failed.
    QTest::addColumn<QString>("why");

    const QString refused = QStringLiteral("用户名或密码被服务拒绝");
    const QString invalid = QStringLiteral("回复无效");
    QTest::newRow("demo account") << QByteArray() << 200 << "demo123" << true << "1001"
                                  << "";
    QTest::newRow("wrong password") << QByteArray() << 200 << "demo12" << false << "" << refused;
    QTest::newRow("status number 1") << QByteArray(R"({"status":1,"data":{"id":"42"}})") << 200 << "x" << true
                                     << "42"
                                     << "";
    QTest::newRow("status text 1") << QByteArray(R"({"status":"1","data":{"id":7}})") << 200 << "x" << true
                                   << "7"
                                   << "";
    QTest::newRow("status number 0") << QByteArray(R"({"status":0,"data":{"id":"42"}})") << 200 << "x"
                                     << false << "" << refused;
    QTest::newRow("status text 0") << QByteArray(R"({"status":"0","data":{"id":"42"}})") << 200 << "x"
                                   << false << "" << refused;
    QTest::newRow("status not a number")
        << QByteArray(R"({"status":"ok","data":{"id":"42"}})") << 200 << "x" << false << "" << refused;
    QTest::newRow("status absent") << QByteArray(R"({"data":{"id":"42"}})") << 200 << "x" << false << ""
                                   << invalid;
    QTest::newRow("not json") << QByteArray("<html>maintenance</html>") << 200 << "x" << false << ""
                              << invalid;
    QTest::newRow("server error") << QByteArray(R"({"status":1,"data":{"id":"42"}})") << 500 << "x" << false
                                  << ""
                                  << "服务器错误 500";
    QTest::newRow("success without data") << QByteArray(R"({"status":1})") << 200 << "x" << true << ""
                                          << "";
}

void tst_Dialog::signIn()
{
    QFETCH(QByteArray, cannedReply);
    QFETCH(int, httpStatus);
    QFETCH(QString, password);
    QFETCH(bool, signedIn);
    QFETCH(QString, uid);
    QFETCH(QString, why);

    if (!cannedReply.isNull())
        sim.setCannedReply("user/login/", cannedReply, httpStatus);
    Dialog dialog;
    dialog.show();
    type(&dialog, "userNameEd", "demo");
    type(&dialog, "passWordEd", password);

    MessageBoxCloser closer;
    click(&dialog, "loginBtn");

    // The run's first sign-in builds its first task window: 5.5 s once in a sanitizer build
    // beside other tests.
    QTRY_COMPARE_WITH_TIMEOUT(closer.seen.size(), 1, 15000);
    QTRY_COMPARE(taskWindows().size(), signedIn ? 1 : 0);
    QCOMPARE(loginPaths().size(), 1);
    const QList<Information *> windows = taskWindows();
    if (!signedIn) {
        QCOMPARE(closer.seen, QStringList { "fail|登陆失败\n" + why });
        QVERIFY(dialog.isVisible());
        QCOMPARE(child<QLineEdit>(&dialog, "userNameEd")->text(), QStringLiteral("demo"));
        QCOMPARE(child<QLineEdit>(&dialog, "passWordEd")->text(), password);
        QVERIFY(windows.isEmpty());
        return;
    }
    QCOMPARE(closer.seen, QStringList { "success|欢迎使用Quillet" });
    QVERIFY(dialog.isHidden());
    QCOMPARE(windows.size(), 1);
    QVERIFY(windows.first()->isVisible());
    QVERIFY(!windows.first()->parentWidget());

    // The task window asks for today's tasks of the user id the reply carried.
    QList<QByteArray> taskPaths;
    QTRY_VERIFY(!sim.requests().isEmpty() && sim.requests().last().rawPath.startsWith("device/task_list/"));
    for (const DeviceSimulator::Request &request : sim.requests()) {
        if (request.rawPath.startsWith("device/task_list/"))
            taskPaths << request.rawPath;
    }
    const QString today = child<QDateEdit>(windows.first(), "dateEdit")->date().toString("yyyy-MM-dd");
    QCOMPARE(
        taskPaths, QList<QByteArray> { QStringLiteral("device/task_list/%1/%2").arg(uid, today).toUtf8() });
}

// While the service has not answered, a second click on "登录" does nothing.
void tst_Dialog::secondClickWhileSigningInDoesNothing()
{
    sim.setFault(DeviceSimulator::Fault::Delay, 2000, "user/login/");
    const auto restore = qScopeGuard([this] { sim.clearFault(); });
    Dialog dialog;
    dialog.show();
    type(&dialog, "userNameEd", "demo");
    type(&dialog, "passWordEd", "demo123");
    bool clickedWhileWaiting = false;
    QTimer::singleShot(100, &dialog, [&] {
        clickedWhileWaiting = true;
        click(&dialog, "loginBtn");
    });

    MessageBoxCloser closer;
    click(&dialog, "loginBtn");

    QTRY_COMPARE(taskWindows().size(), 1);
    QVERIFY(clickedWhileWaiting);
    QCOMPARE(loginPaths().size(), 1);
    QCOMPARE(closer.seen, QStringList { "success|欢迎使用Quillet" });
}

// A click as the welcome box closes reaches a sign-in window that has handed over.
void tst_Dialog::clickAsWelcomeBoxClosesDoesNothing()
{
    Dialog dialog;
    dialog.show();
    type(&dialog, "userNameEd", "demo");
    type(&dialog, "passWordEd", "demo123");
    QTimer boxWatch;
    std::unique_ptr<MessageBoxCloser> closer;
    connect(&boxWatch, &QTimer::timeout, &dialog, [&] {
        auto *box = qobject_cast<QMessageBox *>(QApplication::activeModalWidget());
        if (!box)
            return;
        boxWatch.stop();
        closer.reset(new MessageBoxCloser);
        box->done(QMessageBox::Ok);
        click(&dialog, "loginBtn");
    });
    boxWatch.start(5);

    click(&dialog, "loginBtn");

    QTRY_COMPARE(taskWindows().size(), 1);
    QTRY_VERIFY(!closer || closer->seen.isEmpty());
    QCOMPARE(loginPaths().size(), 1);
}

void tst_Dialog::requestCarriesDigest_data()
{
    QTest::addColumn<QString>("userName");
    QTest::addColumn<QString>("password");
    QTest::addColumn<QByteArray>("path");

    QTest::newRow("demo") << "demo"
                          << "demo123" << QByteArray("user/login/demo/62cc2d8b4bf2d8728120d052163a77df");
    QTest::newRow("spaces kept") << "  "
                                 << "pw" << QByteArray("user/login/  /8fe4c11451281c094a6578e6ddbf5eed");
    QTest::newRow("utf-8 password") << "操作员"
                                    << "密码123"
                                    << QByteArray("user/login/操作员/d18902dd4cc8df459a9e769dc749888d");
}

void tst_Dialog::requestCarriesDigest()
{
    QFETCH(QString, userName);
    QFETCH(QString, password);
    QFETCH(QByteArray, path);

    Dialog dialog;
    dialog.show();
    type(&dialog, "userNameEd", userName);
    type(&dialog, "passWordEd", password);
    MessageBoxCloser closer;
    click(&dialog, "loginBtn");

    QTRY_VERIFY(!closer.seen.isEmpty());
    const QList<QByteArray> paths = loginPaths();
    QCOMPARE(paths.size(), 1);
    QCOMPARE(QByteArray::fromPercentEncoding(paths.first()), path);
    for (const DeviceSimulator::Request &request : sim.requests()) {
        const QByteArray seen = QByteArray::fromPercentEncoding(request.rawPath) + request.body;
        QVERIFY2(!seen.contains(password.toUtf8()), seen.constData());
    }
}

void tst_Dialog::emptyFields_data()
{
    QTest::addColumn<QString>("userName");
    QTest::addColumn<QString>("password");
    QTest::addColumn<QString>("box");

    QTest::newRow("no user name") << ""
                                  << "demo123"
                                  << "warning|用户名不能为空";
    QTest::newRow("no password") << "demo"
                                 << ""
                                 << "warning|密码不能为空";
    QTest::newRow("neither") << ""
                             << ""
                             << "warning|用户名不能为空";
}

void tst_Dialog::emptyFields()
{
    QFETCH(QString, userName);
    QFETCH(QString, password);
    QFETCH(QString, box);

    Dialog dialog;
    dialog.show();
    type(&dialog, "userNameEd", userName);
    type(&dialog, "passWordEd", password);
    QSignalSpy attempts(&dialog, &Dialog::showmain);
    MessageBoxCloser closer;
    click(&dialog, "loginBtn");

    QCOMPARE(attempts.count(), 1);
    QTRY_COMPARE(closer.seen, QStringList { box });
    QVERIFY(sim.requests().isEmpty());
    QVERIFY(dialog.isVisible());
    QVERIFY(taskWindows().isEmpty());
}

void tst_Dialog::rememberedAcrossWindows()
{
    {
        Dialog first;
        first.show();
        type(&first, "userNameEd", "demo");
        type(&first, "passWordEd", "demo123");
        click(&first, "checkBox");
        QVERIFY(child<QCheckBox>(&first, "checkBox")->isChecked());
    }

    Dialog second;
    QCOMPARE(child<QLineEdit>(&second, "userNameEd")->text(), QStringLiteral("demo"));
    QCOMPARE(child<QLineEdit>(&second, "passWordEd")->text(), QStringLiteral("demo123"));
    QVERIFY(child<QCheckBox>(&second, "checkBox")->isChecked());
    // The store keeps the typed text, unlike the request.
    QCOMPARE(Setting().value("password", QVariant()).toString(), QStringLiteral("demo123"));
}

void tst_Dialog::untickingForgets()
{
    {
        Dialog first;
        first.show();
        type(&first, "userNameEd", "demo");
        type(&first, "passWordEd", "demo123");
        click(&first, "checkBox");
    }
    {
        Dialog second;
        second.show();
        click(&second, "checkBox");
        QVERIFY(!child<QCheckBox>(&second, "checkBox")->isChecked());
        // The fields themselves stay as they are.
        QCOMPARE(child<QLineEdit>(&second, "userNameEd")->text(), QStringLiteral("demo"));
    }

    Dialog third;
    QCOMPARE(child<QLineEdit>(&third, "userNameEd")->text(), QString());
    QCOMPARE(child<QLineEdit>(&third, "passWordEd")->text(), QString());
    QVERIFY(!child<QCheckBox>(&third, "checkBox")->isChecked());
    Setting setting;
    QCOMPARE(setting.value("isChecked", QVariant()), QVariant(false));
    QCOMPARE(setting.value("username", QVariant()), QVariant(QString("")));
}

void tst_Dialog::tickStoresFieldsAtClickTime()
{
    {
        Dialog first;
        first.show();
        type(&first, "userNameEd", "demo");
        click(&first, "checkBox");
        type(&first, "passWordEd", "typed later");
    }

    Dialog second;
    QCOMPARE(child<QLineEdit>(&second, "userNameEd")->text(), QStringLiteral("demo"));
    QCOMPARE(child<QLineEdit>(&second, "passWordEd")->text(), QString());
    QVERIFY(child<QCheckBox>(&second, "checkBox")->isChecked());
}

void tst_Dialog::offlineSignIn_data()
{
    QTest::addColumn<QString>("service");
    QTest::addColumn<QString>("user");
    QTest::addColumn<QString>("password");
    QTest::addColumn<bool>("offered");
    // Once offline: "answers" or "refuses" the sign-in retried by the task window.
    QTest::addColumn<QString>("then");
    QTest::newRow("no connection, the right password, the service comes back") << "down"
                                                                               << "offline-op"
                                                                               << "pw-7" << true << "answers";
    QTest::newRow("a 503, the right password, the password changed meanwhile") << "503"
                                                                               << "offline-op"
                                                                               << "pw-7" << true << "refuses";
    QTest::newRow("no connection, a wrong password") << "down"
                                                     << "offline-op"
                                                     << "pw-8" << false << "";
    QTest::newRow("no connection, an unknown user") << "down"
                                                    << "nobody"
                                                    << "pw-7" << false << "";
    QTest::newRow("a refused certificate") << "tls"
                                           << "offline-op"
                                           << "pw-7" << false << "";
    QTest::newRow("a 404") << "404"
                           << "offline-op"
                           << "pw-7" << false << "";
}

// The user first signs in with the service up, which keeps a verifier and today's list.
void tst_Dialog::offlineSignIn()
{
    QFETCH(QString, service);
    QFETCH(QString, user);
    QFETCH(QString, password);
    QFETCH(bool, offered);
    QFETCH(QString, then);
    sim.addAccount("offline-op", "pw-7", "5005");
    {
        Dialog first;
        first.show();
        type(&first, "userNameEd", "offline-op");
        type(&first, "passWordEd", "pw-7");
        MessageBoxCloser closer;
        click(&first, "loginBtn");
        QTRY_COMPARE(taskWindows().size(), 1);
        QTRY_VERIFY(TaskListStore().newestDay("5005").isValid());
        qDeleteAll(taskWindows());
    }
    Network *network = Network::getInstance("defalut");
    // A service that is gone, or one whose certificate no CA here vouches for.
    DeviceSimulator down;
    const TestPki stranger;
    QVERIFY(TestPki::save(stranger.issue("127.0.0.1"), pkiDir.path(), "stranger"));
    QVERIFY(service == "tls" ? down.startTls(pkiDir.filePath("stranger.pem"), pkiDir.filePath("stranger.key"))
                             : down.start(0));
    const QString downRoot = down.rootUrl();
    if (service != "tls")
        down.stop();
    const auto setRoot = [network](const QString &root) {
        QMutexLocker locker(&network->mutex);
        network->rootUrl = root;
    };
    const auto restore = qScopeGuard([&] {
        setRoot(sim.rootUrl());
        sim.clearFault();
    });
    if (service == "down" || service == "tls")
        setRoot(downRoot);
    else
        sim.setFault(DeviceSimulator::Fault::HttpError, service.toInt(), "user/login/");

    Dialog dialog;
    dialog.show();
    type(&dialog, "userNameEd", user);
    type(&dialog, "passWordEd", password);
    MessageBoxCloser closer;
    closer.answer = QMessageBox::Open;
    click(&dialog, "loginBtn");

    QTRY_COMPARE(closer.seen.size(), 1);
    QCOMPARE(closer.seen.first().contains("\n可离线查看 "), offered);
    QTRY_COMPARE(taskWindows().size(), offered ? 1 : 0);
    if (!offered)
        return;
    Information *window = taskWindows().first();
    QVERIFY(window->isOffline());
    QVariantList kept;
    QDateTime keptAt;
    QVERIFY(TaskListStore().load("5005", TaskListStore().newestDay("5005"), kept, keptAt));
    auto *view = window->findChild<QTableWidget *>("view");
    QCOMPARE(view->rowCount(), kept.size());
    QCOMPARE(view->item(0, 0)->foreground().color(), QColor(Qt::gray));
    QVERIFY(window->findChild<QLabel *>("statusLbl")->text().startsWith("离线："));

    setRoot(sim.rootUrl());
    sim.clearFault();
    if (then == "refuses")
        sim.setCannedReply("user/login/", R"({"status":0})");
    window->findChild<RefreshSchedule *>()->setIntervals(50, 50);
    if (then == "answers") {
        QTRY_VERIFY(!window->isOffline());
        QTRY_VERIFY(!view->item(0, 0)->data(Qt::ForegroundRole).isValid());
        return;
    }
    QTRY_VERIFY(!window->isVisible());
    QVERIFY(dialog.isVisible());
    QTRY_VERIFY(closer.seen.size() == 2 && closer.seen.last().contains("密码已在服务上更改"));
    QCOMPARE(OfflineVerifier::check("offline-op", "pw-7", QDateTime::currentDateTime()),
        OfflineVerifier::Match::None);
}

QTEST_MAIN(tst_Dialog)
#include "tst_dialog.moc"
