#include "settings/setup.h"
#include "ui_setup.h"

#include "core/busycall.h"
#include "core/windowfit.h"
#include "service/httptransfer.h"
#include "service/setting.h"

#include <QDebug>
#include <QMessageBox>
#include <QVariantMap>

setup::setup(QWidget *parent)
    : QWidget(parent)
    , ui(new Ui::setup)
{
    ui->setupUi(this);
    // The form's size is the one drawn at 100 %; larger fonts need more room than that.
    resize(size().expandedTo(sizeHint()));
    WindowFit::fit(this);
    ui->ownerBtn->setChecked(true);
    // The task window keeps no pointer to its forms, so a closed form would otherwise stay
    // in memory until the program ends.
    setAttribute(Qt::WA_DeleteOnClose);
}

setup::~setup() = default;

void setup::setUid(QString uid)
{
    this->uid = uid;
}

void setup::on_pushButton_clicked()
{
    HttpTransfer transfer;
    const QString name = ui->equipmentEdt->text();
    const bool ownerOnly = ui->ownerBtn->isChecked();
    if (name.isEmpty()) {
        QMessageBox::warning(nullptr, QStringLiteral("warning"), tr("设备名称不能为空"), QMessageBox::Ok,
            QMessageBox::NoButton);
        return;
    }

    const QVariantMap record { { "uid", QVariant(uid) }, { "name", QVariant(name) },
        { "status", QVariant(ownerOnly ? QStringLiteral("0") : QStringLiteral("1")) } };
    // The request waits in a local event loop that still takes clicks: a second save is
    // kept out by the disabled button, and the form must not be touched if it went away.
    BusyCall busy(this, ui->pushButton);
    const QVariantMap reply = busy.run([&] { return transfer.registraAndmodifica(record); });
    if (!busy.windowAlive())
        return;

    const bool saved = reply.value("status").toInt() != 0;
    qInfo().noquote() << "device settings" << name << (ownerOnly ? "owner only" : "everyone") << ":"
                      << (saved ? QStringLiteral("saved")
                                : QStringLiteral("not saved, ") + transfer.lastError().message());
    if (!saved) {
        QMessageBox::critical(nullptr, QStringLiteral("fail"), tr("设置失败"));
        return;
    }
    // The history names the device each fetch was made on.
    Setting().setValue(HttpTransfer::deviceNameKey(), name);
    QMessageBox::about(nullptr, QStringLiteral("success"), tr("设置成功"));
    // Closing deletes the form, and ends the program if no other window is left.
    if (busy.windowAlive())
        close();
}
