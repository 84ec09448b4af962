#include "settings/setup.h"

#include "service/httptransfer.h"
#include "service/network.h"
#include "service/setting.h"
#include "sim/devicesimulator.h"
#include "tests/support/messageboxcloser.h"

#include <QApplication>
#include <QLineEdit>
#include <QMessageBox>
#include <QMutexLocker>
#include <QPointer>
#include <QPushButton>
#include <QRadioButton>
#include <QTimer>
#include <QtTest>

class tst_Setup : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void freshFormDefaults();
    void postsRecord_data();
    void postsRecord();
    void emptyNameWarnsAndSendsNothing();
    void replyDecidesOutcome_data();
    void replyDecidesOutcome();
    void secondSaveWhileWaitingSendsNothing();
    void closingDeletesForm();

private:
    static void save(setup *form);
    QList<DeviceSimulator::Request> recordRequests() const;

    DeviceSimulator m_sim;
};

void tst_Setup::initTestCase()
{
    QVERIFY(m_sim.start(0));
    Network *network = Network::getInstance(QStringLiteral("defalut"));
    QMutexLocker locker(&network->mutex);
    network->rootUrl = m_sim.rootUrl();
}

void tst_Setup::init()
{
    m_sim.clearCannedReplies();
    m_sim.clearFault();
    m_sim.clearRequests();
}

void tst_Setup::save(setup *form)
{
    auto *button = form->findChild<QPushButton *>(QStringLiteral("pushButton"));
    QVERIFY(button);
    QTest::mouseClick(button, Qt::LeftButton);
}

QList<DeviceSimulator::Request> tst_Setup::recordRequests() const
{
    QList<DeviceSimulator::Request> found;
    for (const DeviceSimulator::Request &request : m_sim.requests()) {
        if (request.rawPath.startsWith("device/record"))
            found << request;
    }
    return found;
}

void tst_Setup::freshFormDefaults()
{
    setup form;
    QCOMPARE(form.objectName(), QStringLiteral("setup"));
    QCOMPARE(form.size(), QSize(403, 281));
    QVERIFY(form.findChild<QLineEdit *>(QStringLiteral("equipmentEdt"))->text().isEmpty());
    QVERIFY(form.findChild<QRadioButton *>(QStringLiteral("ownerBtn"))->isChecked());
    QVERIFY(!form.findChild<QRadioButton *>(QStringLiteral("everyoneBtn"))->isChecked());
}

void tst_Setup::postsRecord_data()
{
    QTest::addColumn<QString>("uid");
    QTest::addColumn<QString>("name");
    QTest::addColumn<QStringList>("picks");
    QTest::addColumn<QString>("status");

    QTest::newRow("default-owner") << "1001" << QString::fromUtf8("一号机") << QStringList() << "0";
    QTest::newRow("everyone") << "1001"
                              << "cnc-2" << QStringList { "everyoneBtn" } << "1";
    QTest::newRow("everyone-then-owner") << "1001"
                                         << "cnc-3" << QStringList { "everyoneBtn", "ownerBtn" } << "0";
    QTest::newRow("spaces-sent-unchanged") << "1001"
                                           << "   " << QStringList() << "0";
    QTest::newRow("form-characters") << "7"
                                     << "a&b+c=d%25e f" << QStringList() << "0";
    QTest::newRow("no-uid") << QString() << "cnc-4" << QStringList() << "0";
}

void tst_Setup::postsRecord()
{
    QFETCH(QString, uid);
    QFETCH(QString, name);
    QFETCH(QStringList, picks);
    QFETCH(QString, status);

    QPointer<setup> form = new setup;
    if (!uid.isNull())
        form->setUid(uid);
    form->show();
    form->findChild<QLineEdit *>(QStringLiteral("equipmentEdt"))->setText(name);
    for (const QString &pick : picks)
        QTest::mouseClick(form->findChild<QRadioButton *>(pick), Qt::LeftButton);

    MessageBoxCloser closer;
    save(form);

    QTRY_COMPARE(closer.seen, QStringList { QString::fromUtf8("success|设置成功") });
    QCOMPARE(recordRequests().size(), 1);
    const QList<QVariantMap> records = m_sim.records();
    QVERIFY(!records.isEmpty());
    const QVariantMap sent = records.last();
    QCOMPARE(sent.value("uid").toString(), uid.isNull() ? QString() : uid);
    QCOMPARE(sent.value("name").toString(), name);
    QCOMPARE(sent.value("status").type(), QVariant::String);
    QCOMPARE(sent.value("status").toString(), status);
    QCOMPARE(sent.size(), 3);
    QTRY_VERIFY(!form);
}

void tst_Setup::emptyNameWarnsAndSendsNothing()
{
    setup form;
    form.setUid("1001");
    form.show();

    MessageBoxCloser closer;
    save(&form);

    QTRY_COMPARE(closer.seen, QStringList { QString::fromUtf8("warning|设备名称不能为空") });
    QVERIFY(recordRequests().isEmpty());
    QVERIFY(form.isVisible());
}

void tst_Setup::replyDecidesOutcome_data()
{
    QTest::addColumn<QByteArray>("reply");
    QTest::addColumn<bool>("success");

    QTest::newRow("status-1") << QByteArray("{\"status\":1,\"data\":{}}") << true;
    QTest::newRow("status-text-1") << QByteArray("{\"status\":\"1\"}") << true;
    QTest::newRow("status-0") << QByteArray("{\"status\":0,\"data\":{}}") << false;
    QTest::newRow("status-absent") << QByteArray("{\"data\":{}}") << false;
    QTest::newRow("status-text-success") << QByteArray("{\"status\":\"success\"}") << false;
    QTest::newRow("not-json") << QByteArray("<html></html>") << false;
}

void tst_Setup::replyDecidesOutcome()
{
    QFETCH(QByteArray, reply);
    QFETCH(bool, success);

    m_sim.setCannedReply(QStringLiteral("device/record"), reply);
    QPointer<setup> form = new setup;
    form->setUid("1001");
    form->show();
    auto *nameEdit = form->findChild<QLineEdit *>(QStringLiteral("equipmentEdt"));
    nameEdit->setText("cnc-1");
    Setting().setValue(HttpTransfer::deviceNameKey(), "saved before");

    MessageBoxCloser closer;
    save(form);
    QTRY_COMPARE(closer.seen.size(), 1);
    QCOMPARE(recordRequests().size(), 1);
    // The history names the device by the name saved last.
    QCOMPARE(Setting().value(HttpTransfer::deviceNameKey(), QString()).toString(),
        QString(success ? "cnc-1" : "saved before"));

    if (success) {
        QCOMPARE(closer.seen, QStringList { QString::fromUtf8("success|设置成功") });
        QTRY_VERIFY(!form);
        return;
    }
    QCOMPARE(closer.seen, QStringList { QString::fromUtf8("fail|设置失败") });
    QVERIFY(form);
    QVERIFY(form->isVisible());
    QCOMPARE(nameEdit->text(), QStringLiteral("cnc-1"));
    QVERIFY(form->findChild<QPushButton *>(QStringLiteral("pushButton"))->isEnabled());
    delete form;
}

// While the service has not answered, a second click on "保存" sends nothing.
void tst_Setup::secondSaveWhileWaitingSendsNothing()
{
    m_sim.setFault(DeviceSimulator::Fault::Delay, 2000, QStringLiteral("device/record"));
    QPointer<setup> form = new setup;
    form->show();
    form->findChild<QLineEdit *>(QStringLiteral("equipmentEdt"))->setText("cnc-1");
    bool clickedWhileWaiting = false;
    QTimer::singleShot(100, form, [&] {
        clickedWhileWaiting = true;
        save(form);
    });

    MessageBoxCloser closer;
    save(form);

    QTRY_COMPARE(closer.seen, QStringList { QString::fromUtf8("success|设置成功") });
    QVERIFY(clickedWhileWaiting);
    QCOMPARE(recordRequests().size(), 1);
    QTRY_VERIFY(!form);
}

void tst_Setup::closingDeletesForm()
{
    QPointer<setup> form = new setup;
    form->show();
    QVERIFY(form->close());
    QTRY_VERIFY(!form);
    QVERIFY(m_sim.requests().isEmpty());
}

QTEST_MAIN(tst_Setup)
#include "tst_setup.moc"
