#ifndef PROXYSIGNINBOX_H
#define PROXYSIGNINBOX_H

#include <QDialog>

class QLabel;
class QLineEdit;

// The box that asks for the proxy's user name and password once a request failed with
// Network::ProxyNeedsSignIn or KRESTService::DownloadResult::ProxyNeedsSignIn. It never
// waits: ask() opens it with open() and returns, and exactly one of answered() or
// cancelled() follows. An answer is kept by ProxyCredentials for the whole program, so the
// caller only has to try its request again, once. The box deletes itself when it closes.
class ProxySignInBox : public QDialog
{
    Q_OBJECT

public:
    explicit ProxySignInBox(QWidget *parent = nullptr);

    // Opens the box; proxyName (host and port, never credentials) says which proxy asks.
    void ask(const QString &proxyName);

signals:
    // The credentials are kept: try the request again.
    void answered();
    // The operator gave none: the service counts as unreachable.
    void cancelled();

private:
    void keepAnswer();

    QLabel *m_prompt;
    QLineEdit *m_user;
    QLineEdit *m_password;
};

#endif // PROXYSIGNINBOX_H
