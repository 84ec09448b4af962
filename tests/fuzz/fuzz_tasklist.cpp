// Answers the task-list request with arbitrary reply text and lets the task window load
// it. The table must show exactly the records of the reply's "data" list, each field in its
// column, whatever else the text holds.

#include "service/dataparse.h"
#include "service/network.h"
#include "sim/devicesimulator.h"
#include "tasks/information.h"
#include "tests/fuzz/fuzzcheck.h"

#include <QApplication>
#include <QMutexLocker>
#include <QTableWidget>

#include <cstddef>
#include <cstdint>
#include <memory>

namespace {

struct Fixture
{
    std::unique_ptr<QApplication> application;
    DeviceSimulator simulator;
    std::unique_ptr<Information> window;
    QTableWidget *view = nullptr;
};

Fixture *fixture = nullptr;

const char *const textFields[]
    = { "task_num", "buyer_address", "u_name", "create_time", "name", "expand_area", "piece" };

void dropDebugMessages(QtMsgType type, const QMessageLogContext &context, const QString &message)
{
    if (type == QtDebugMsg)
        return;
    qInstallMessageHandler(nullptr);
    qt_message_output(type, context, message);
    qInstallMessageHandler(dropDebugMessages);
}

// The records the window should show, read from the reply as the device-service client does.
QVariantList expectedRecords(const QByteArray &reply)
{
    return DataParse::jsonToVariant(QString::fromUtf8(reply), nullptr).toMap().value("data").toList();
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int *argc, char ***argv)
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    qInstallMessageHandler(dropDebugMessages);
    fixture = new Fixture;
    fixture->application = std::make_unique<QApplication>(*argc, *argv);
    FUZZ_CHECK(fixture->simulator.start(0));
    Network *client = Network::getInstance(QStringLiteral("defalut"));
    {
        QMutexLocker locker(&client->mutex);
        client->rootUrl = fixture->simulator.rootUrl();
    }
    fixture->window = std::make_unique<Information>();
    fixture->view = fixture->window->findChild<QTableWidget *>(QStringLiteral("view"));
    FUZZ_CHECK(fixture->view != nullptr);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QByteArray reply(reinterpret_cast<const char *>(data), int(size));
    DeviceSimulator &simulator = fixture->simulator;
    simulator.clearCannedReplies();
    simulator.clearRequests();
    simulator.setCannedReply(QStringLiteral("device/task_list"), reply);

    fixture->window->loadTaskList(QStringLiteral("2024-03-01"));

    const QVariantList records = expectedRecords(reply);
    QTableWidget *view = fixture->view;
    FUZZ_CHECK(view->rowCount() == records.size());
    for (int row = 0; row < records.size(); ++row) {
        const QVariantMap record = records.at(row).toMap();
        int column = 0;
        for (const char *field : textFields) {
            const QTableWidgetItem *item = view->item(row, column++);
            FUZZ_CHECK(item && item->text() == record.value(field).toString());
        }
    }
    return 0;
}
