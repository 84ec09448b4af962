#include "tasks/proxysigninbox.h"

#include "core/proxycredentials.h"

#include <QDialogButtonBox>
#include <QFormLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>

ProxySignInBox::ProxySignInBox(QWidget *parent)
    : QDialog(parent)
    , m_prompt(new QLabel(this))
    , m_user(new QLineEdit(this))
    , m_password(new QLineEdit(this))
{
    setAttribute(Qt::WA_DeleteOnClose);
    setWindowTitle(tr("代理服务器需要登录"));
    m_prompt->setWordWrap(true);
    m_password->setEchoMode(QLineEdit::Password);

    auto *fields = new QFormLayout;
    fields->addRow(tr("用户名"), m_user);
    fields->addRow(tr("密码"), m_password);
    auto *buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
    buttons->button(QDialogButtonBox::Ok)->setText(tr("登录"));
    buttons->button(QDialogButtonBox::Cancel)->setText(tr("取消"));
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    connect(this, &QDialog::accepted, this, &ProxySignInBox::keepAnswer);
    connect(this, &QDialog::rejected, this, &ProxySignInBox::cancelled);

    auto *layout = new QVBoxLayout(this);
    layout->addWidget(m_prompt);
    layout->addLayout(fields);
    layout->addWidget(buttons);
}

void ProxySignInBox::ask(const QString &proxyName)
{
    m_prompt->setText(tr("代理服务器 %1 需要用户名和密码才能连接服务。").arg(proxyName));
    m_user->setFocus();
    open();
}

// An empty user name is no answer: Qt would try it, and the proxy refuse it again.
void ProxySignInBox::keepAnswer()
{
    if (m_user->text().isEmpty()) {
        emit cancelled();
        return;
    }
    ProxyCredentials::set(m_user->text(), m_password->text());
    emit answered();
}
