#include "setup.h"
#include "ui_setup.h"

#include "httptransfer.h"

#include <QMessageBox>
#include <QPointer>
#include <QVariantMap>

setup::setup(QWidget *parent)
    : QWidget(parent)
    , ui(new Ui::setup)
{
    ui->setupUi(this);
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
    // The request waits in a local event loop; the form must not be touched if it went
    // away meanwhile.
    const QPointer<setup> alive(this);
    const QVariantMap reply = transfer.registraAndmodifica(record);
    if (!alive || reply.value("status").toInt() == 0)
        return;

    QMessageBox::about(nullptr, QStringLiteral("success"), tr("设置成功"));
    if (!alive)
        return;
    hide();
    deleteLater();
}
