#ifndef DIALOG_H
#define DIALOG_H

#include "credentials/offlineverifier.h"
#include "service/signinresult.h"

#include <QDateTime>
#include <QDialog>
#include <QRect>
#include <QString>
#include <QVariantMap>

#include <memory>

class Information;

namespace Ui {
class Dialog;
}

// The sign-in window. It fills in the remembered user name and password, signs in through
// the device service and hands the signed-in user over to the task window. Each accepted
// sign-in keeps an offline verifier of the password (OfflineVerifier); when the service
// cannot be reached, a password that matches it opens the task window offline.
class Dialog : public QDialog
{
    Q_OBJECT

public:
    explicit Dialog(QWidget *parent = nullptr);
    ~Dialog() override;

    // Fits the window into available, as the constructor does into its screen's: spacing
    // gives way first, then the title, never the fields or their texts.
    void fitInto(const QRect &available);

signals:
    void showmain();

private slots:
    void on_loginBtn_clicked();
    void on_checkBox_clicked();

private:
    static QVariantMap signInRequest(const QString &userName, const QString &password);
    static QString signInProblem(const ErrorInfo &failure, const QVariantMap &reply);
    void sendSignIn(const QString &userName, const QString &password);
    void signInAnswered(
        const QString &userName, const QString &password, const QVariantMap &reply, const ErrorInfo &error);
    void welcome(const QString &userId);
    void signInFailed(const QString &userName, const QString &password, const ErrorInfo &failure,
        const QVariantMap &reply, SignInResult::Outcome outcome);
    struct OfflineCheck
    {
        OfflineVerifier::Match match = OfflineVerifier::Match::None;
        QString userId;
    };
    void showFailure(
        const QString &userName, const QString &password, const QString &why, const OfflineCheck &check);
    // Keeps the offline verifier; it waits for the disk, so it runs off the GUI thread.
    static bool remember(
        const QString &userName, const QString &password, const QString &userId, const QDateTime &now);
    void openTaskWindow(const QString &userId);
    bool giveWay();
    void openOfflineWindow(
        const QString &userId, const QString &userName, const QString &password, const QString &why);
    void watchTaskWindow(Information *window, const QString &userName);
    void passwordChangedOnService(const QString &userName);

    std::unique_ptr<Ui::Dialog> ui;
    bool proxySignInAsked = false;
};

#endif // DIALOG_H
