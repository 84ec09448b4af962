#include "service/network.h"
#include "sim/devicesimulator.h"
#include "tasks/information.h"
#include "tasks/refreshschedule.h"
#include "tests/support/testfiles.h"

#include <QApplication>
#include <QDir>
#include <QMutexLocker>
#include <QSignalSpy>
#include <QTableWidget>
#include <QTemporaryDir>
#include <QTimer>
#include <QtTest>

#include <memory>

using Fault = DeviceSimulator::Fault;
Q_DECLARE_METATYPE(DeviceSimulator::Fault)

namespace {

constexpr int ncColumn = 8;

} // namespace

// The task window keeps working while the service misbehaves in each way the simulator
// knows, with the refresh running fast and a file action under way: nothing crashes, the
// files fetched before stay whole, and everything works again once the service recovers.
class tst_InformationFaults : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void cleanup();
    void windowSurvivesFault_data();
    void windowSurvivesFault();

private:
    QTableWidget *view() const { return m_window->findChild<QTableWidget *>("view"); }
    void clickNcCell(int row);
    int openerCalls() const;

    DeviceSimulator m_sim;
    QTemporaryDir m_bin;
    std::unique_ptr<Information> m_window;
};

void tst_InformationFaults::initTestCase()
{
    QVERIFY(m_sim.start(0));
    Network *network = Network::getInstance("defalut");
    {
        QMutexLocker locker(&network->mutex);
        network->rootUrl = m_sim.rootUrl();
    }
    // A stalled task list then costs a second, not the default ten.
    network->setTransferTimeout(1000);

    // A recording stand-in takes the place of the file manager.
    QVERIFY(m_bin.isValid());
    QVERIFY(TestFiles::installRecordingOpener(m_bin.path()));
}

void tst_InformationFaults::init()
{
    m_sim.clearFault();
    QDir(QCoreApplication::applicationDirPath() + "/nc").removeRecursively();
    QFile::remove(m_bin.filePath("opened.txt"));
    m_window.reset(new Information);
    QSignalSpy loaded(m_window.get(), &Information::loadEnded);
    m_window->start("1001");
    QVERIFY(loaded.wait());
    m_window->show();
    QCOMPARE(view()->rowCount(), 12);
}

void tst_InformationFaults::cleanup()
{
    m_sim.clearFault();
    m_window.reset();
    QDir(QCoreApplication::applicationDirPath() + "/nc").removeRecursively();
}

void tst_InformationFaults::clickNcCell(int row)
{
    const QRect cell = view()->visualRect(view()->model()->index(row, ncColumn));
    QTest::mouseClick(view()->viewport(), Qt::LeftButton, Qt::NoModifier, cell.center());
}

int tst_InformationFaults::openerCalls() const
{
    return TestFiles::read(m_bin.filePath("opened.txt")).count('\n');
}

void tst_InformationFaults::windowSurvivesFault_data()
{
    QTest::addColumn<Fault>("fault");
    QTest::addColumn<int>("value");
    QTest::addColumn<QString>("prefix");
    QTest::addColumn<bool>("fetchFails");

    QTest::newRow("slow service") << Fault::Delay << 300 << QString() << false;
    QTest::newRow("http 500") << Fault::HttpError << 500 << QString() << true;
    QTest::newRow("http 404") << Fault::HttpError << 404 << QString() << true;
    QTest::newRow("html instead of json") << Fault::NonJson << 0 << QString("device/") << false;
    QTest::newRow("empty replies") << Fault::EmptyBody << 0 << QString("device/") << false;
    QTest::newRow("connection dropped halfway") << Fault::DropHalfway << 0 << QString() << true;
    QTest::newRow("stalled replies") << Fault::Stall << 0 << QString() << true;
}

void tst_InformationFaults::windowSurvivesFault()
{
    QFETCH(Fault, fault);
    QFETCH(int, value);
    QFETCH(QString, prefix);
    QFETCH(bool, fetchFails);

    const QString folder = QCoreApplication::applicationDirPath() + "/nc";
    clickNcCell(0);
    QTRY_COMPARE(openerCalls(), 1);
    const QMap<QString, QByteArray> fetched = TestFiles::snapshot(folder);
    QCOMPARE(fetched.size(), 5); // the archive, its folder and the three programs in it

    auto *schedule = m_window->findChild<RefreshSchedule *>();
    QVERIFY(schedule);
    schedule->setIntervals(50, 50);
    m_sim.setFault(fault, value, prefix);
    if (fault == Fault::Stall) {
        // A stalled file transfer ends when the connection goes; the service stays slow.
        QTimer::singleShot(1500, [this] { m_sim.setFault(Fault::Delay, 200); });
    }
    // Whether a failed fetch opened the folder anyway shows in what the opener recorded at
    // the end.
    QSignalSpy ended(m_window.get(), &Information::fileActionEnded);
    clickNcCell(0);
    QVERIFY(ended.wait(20000));
    if (fetchFails) {
        QCOMPARE(TestFiles::snapshot(folder), fetched);
    } else {
        // Fetched again: the archive itself carries new time stamps, its programs do not.
        QTRY_COMPARE(openerCalls(), 2);
        QMap<QString, QByteArray> refetched = TestFiles::snapshot(folder);
        QCOMPARE(refetched.keys(), fetched.keys());
        const QString archive = fetched.keys().filter(".zip").value(0);
        QVERIFY(!archive.isEmpty());
        refetched.remove(archive);
        QMap<QString, QByteArray> programs = fetched;
        programs.remove(archive);
        QCOMPARE(refetched, programs);
    }

    // The window goes on refreshing while the service fails.
    m_sim.clearRequests();
    QTRY_VERIFY_WITH_TIMEOUT(m_sim.requests().size() >= 2, 5000);

    m_sim.clearFault();
    QTRY_COMPARE_WITH_TIMEOUT(view()->rowCount(), 12, 5000);
    const QByteArray secondTask = view()->item(1, 0)->text().toUtf8();
    clickNcCell(1);
    QTRY_COMPARE(openerCalls(), fetchFails ? 2 : 3);
    // A failed fetch that opened its folder anyway would show as the line before this one.
    QVERIFY(TestFiles::read(m_bin.filePath("opened.txt"))
                .trimmed()
                .split('\n')
                .value(fetchFails ? 1 : 2)
                .endsWith(secondTask));
    QCOMPARE(TestFiles::snapshot(folder).size(), 10);
}

QTEST_MAIN(tst_InformationFaults)
#include "tst_informationfaults.moc"
