#include "tasks/filechooser.h"

#include <QDialogButtonBox>
#include <QLabel>
#include <QListWidget>
#include <QPushButton>
#include <QVBoxLayout>

FileChooser::FileChooser(const QString &title, const QString &question, const QStringList &choices,
    const QString &acceptText, QWidget *parent)
    : QDialog(parent)
    , m_list(new QListWidget(this))
{
    setWindowTitle(title);
    setAttribute(Qt::WA_DeleteOnClose);
    auto *layout = new QVBoxLayout(this);
    layout->addWidget(new QLabel(question, this));
    m_list->addItems(choices);
    m_list->setCurrentRow(0);
    layout->addWidget(m_list);
    auto *buttons = new QDialogButtonBox(this);
    QPushButton *accept = buttons->addButton(acceptText, QDialogButtonBox::AcceptRole);
    QPushButton *cancel = buttons->addButton(tr("取消"), QDialogButtonBox::RejectRole);
    for (QPushButton *button : { accept, cancel }) {
        button->setAutoDefault(false);
        button->setDefault(false);
    }
    layout->addWidget(buttons);
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    connect(m_list, &QListWidget::itemDoubleClicked, this, &QDialog::accept);
    connect(this, &QDialog::finished, this,
        [this](int result) { emit chosen(result == QDialog::Accepted ? m_list->currentRow() : -1); });
}
