#include "settings/setup.h"
#include "ui_setup.h"

#include "core/openbox.h"
#include "core/windowfit.h"
#include "service/devicecall.h"
#include "service/httptransfer.h"
#include "service/setting.h"
#include "settings/settingslog.h"

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

// The record is sent without waiting: the button stays disabled until the service answers,
// and the form goes once its outcome is acknowledged.
void setup::on_pushButton_clicked()
{
    const QString name = ui->equipmentEdt->text();
    const bool ownerOnly = ui->ownerBtn->isChecked();
    if (name.isEmpty()) {
        OpenBox::warning(QStringLiteral("warning"), tr("设备名称不能为空"));
        return;
    }

    const QVariantMap record { { "uid", QVariant(uid) }, { "name", QVariant(name) },
        { "status", QVariant(ownerOnly ? QStringLiteral("0") : QStringLiteral("1")) } };
    ui->pushButton->setEnabled(false);
    DeviceCall *call = HttpTransfer::startRecord(record, this);
    connect(call, &DeviceCall::finished, this,
        [this, call, name, ownerOnly](const QVariantMap &reply, const ErrorInfo &error) {
            call->deleteLater();
            showOutcome(name, ownerOnly, reply.value("status").toInt() != 0, error);
        });
}

void setup::showOutcome(const QString &name, bool ownerOnly, bool saved, const ErrorInfo &error)
{
    qCInfo(settingsLog).noquote() << "device settings" << name << (ownerOnly ? "owner only" : "everyone")
                                  << ":"
                                  << (saved ? QStringLiteral("saved")
                                            : QStringLiteral("not saved, ") + error.message());
    if (!saved) {
        ui->pushButton->setEnabled(true);
        OpenBox::show(QMessageBox::Critical, QStringLiteral("fail"), tr("设置失败"));
        return;
    }
    // The history names the device each fetch was made on.
    Setting().setValue(HttpTransfer::deviceNameKey(), name);
    QMessageBox *box = OpenBox::show(QMessageBox::Information, QStringLiteral("success"), tr("设置成功"));
    // Closing deletes the form, and ends the program if no other window is left.
    connect(box, &QMessageBox::finished, this, &QWidget::close);
}
