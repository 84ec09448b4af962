#include "app/dialog.h"
#include "ui_dialog.h"

#include "app/applog.h"
#include "core/offthread.h"
#include "core/openbox.h"
#include "core/proxyfactory.h"
#include "core/windowfit.h"
#include "credentials/offlineverifier.h"
#include "service/devicecall.h"
#include "service/httptransfer.h"
#include "service/network.h"
#include "service/setting.h"
#include "tasks/information.h"
#include "tasks/proxysigninbox.h"
#include "tasks/statustext.h"

#include <QCryptographicHash>
#include <QDebug>
#include <QMessageBox>
#include <QPointer>
#include <QPushButton>
#include <QScreen>
#include <QTimer>

namespace {

// The fields' rows when the screen is too low for the form as drawn.
constexpr int tightSpacing = 12;

} // namespace

Dialog::Dialog(QWidget *parent)
    : QDialog(parent)
    , ui(new Ui::Dialog)
{
    ui->setupUi(this);
    // The form's size is the one drawn at 100 %; larger fonts need more room than that.
    resize(size().expandedTo(sizeHint()));
    fitInto(screen()->availableGeometry());

    Setting setting;
    ui->userNameEd->setText(setting.value("username", QVariant()).toString());
    ui->passWordEd->setText(setting.value("password", QVariant()).toString());
    ui->checkBox->setChecked(setting.value("isChecked", QVariant()).toBool());
}

Dialog::~Dialog() = default;

void Dialog::fitInto(const QRect &available)
{
    WindowFit::fitInto(this, available, [this] { return giveWay(); });
}

bool Dialog::giveWay()
{
    if (ui->fieldsGrid->verticalSpacing() > tightSpacing) {
        ui->fieldsGrid->setVerticalSpacing(tightSpacing);
        ui->titleSpacer->changeSize(0, 0, QSizePolicy::Minimum, QSizePolicy::Fixed);
        return true;
    }
    // The second line still names the program.
    if (!ui->mainText->isHidden()) {
        ui->mainText->hide();
        return true;
    }
    return false;
}

// The sign-in is a flow: the request goes out and the window goes on; the reply's slot
// decides. The button stays disabled until the task window has taken over or the failure
// has been answered, so a second sign-in cannot start meanwhile.
void Dialog::on_loginBtn_clicked()
{
    emit showmain();
    // A click queued as the task window took over.
    if (!isVisible())
        return;

    const QString userName = ui->userNameEd->text();
    const QString password = ui->passWordEd->text();
    if (userName.isEmpty()) {
        OpenBox::warning(tr("warning"), tr("用户名不能为空"));
        return;
    }
    if (password.isEmpty()) {
        OpenBox::warning(tr("warning"), tr("密码不能为空"));
        return;
    }
    ui->loginBtn->setEnabled(false);
    proxySignInAsked = false;
    sendSignIn(userName, password);
}

void Dialog::sendSignIn(const QString &userName, const QString &password)
{
    DeviceCall *call = HttpTransfer::startLogin(signInRequest(userName, password), this);
    connect(call, &DeviceCall::finished, this,
        [this, call, userName, password](const QVariantMap &reply, const ErrorInfo &error) {
            call->deleteLater();
            signInAnswered(userName, password, reply, error);
        });
}

// A window hidden meanwhile (the program closing) shows nothing more.
void Dialog::signInAnswered(
    const QString &userName, const QString &password, const QVariantMap &reply, const ErrorInfo &error)
{
    if (!isVisible()) {
        ui->loginBtn->setEnabled(true);
        return;
    }
    const SignInResult::Outcome outcome = SignInResult::decide(error, reply);
    // A proxy that wants a sign-in is asked once; the sign-in is sent again with its answer.
    if (error.code() == Network::ProxyNeedsSignIn && !proxySignInAsked) {
        proxySignInAsked = true;
        auto *box = new ProxySignInBox(this);
        connect(box, &ProxySignInBox::answered, this, [=] { sendSignIn(userName, password); });
        connect(box, &ProxySignInBox::cancelled, this,
            [=] { signInFailed(userName, password, error, reply, outcome); });
        box->ask(ProxyFactory::describe());
        return;
    }
    if (outcome != SignInResult::Outcome::Accepted) {
        signInFailed(userName, password, error, reply, outcome);
        return;
    }
    const QString userId = reply.value("data").toMap().value("id").toString();
    qCInfo(appLog).noquote() << "sign-in" << userName << "succeeded, user id" << userId;
    const QDateTime now = QDateTime::currentDateTime();
    OffThread::then(
        this, [userName, password, userId, now] { return remember(userName, password, userId, now); },
        [this, userId](bool) { welcome(userId); });
}

// The task window opens once the welcome is acknowledged.
void Dialog::welcome(const QString &userId)
{
    QMessageBox *box = OpenBox::show(QMessageBox::Information, tr("success"), tr("欢迎使用Quillet"));
    connect(box, &QMessageBox::finished, this, [this, userId] {
        ui->loginBtn->setEnabled(true);
        if (isVisible())
            openTaskWindow(userId);
    });
}

// Only a service that cannot be reached offers offline use, and only to a password that
// matches the verifier the last accepted sign-in kept; the check takes its time on purpose,
// off the GUI thread.
void Dialog::signInFailed(const QString &userName, const QString &password, const ErrorInfo &failure,
    const QVariantMap &reply, SignInResult::Outcome outcome)
{
    const QString why = signInProblem(failure, reply);
    const QString detail = failure.message();
    qCInfo(appLog).noquote() << "sign-in" << userName << "failed:" << why
                             << (detail.isEmpty() ? QString() : "(" + detail + ")");
    if (outcome == SignInResult::Outcome::Refused)
        OfflineVerifier::forget(userName);
    if (outcome != SignInResult::Outcome::Unreachable) {
        showFailure(userName, password, why, OfflineCheck());
        return;
    }
    const QDateTime now = QDateTime::currentDateTime();
    OffThread::then(
        this,
        [userName, password, now] {
            OfflineCheck check;
            check.match = OfflineVerifier::check(userName, password, now, &check.userId);
            return check;
        },
        [this, userName, password, why](
            const OfflineCheck &check) { showFailure(userName, password, why, check); });
}

// A matching verifier offers the kept lists of its user; a clock behind the record says why
// there is no offer.
void Dialog::showFailure(
    const QString &userName, const QString &password, const QString &why, const OfflineCheck &check)
{
    if (!isVisible()) {
        ui->loginBtn->setEnabled(true);
        return;
    }
    const bool offer = check.match == OfflineVerifier::Match::Matches;
    const QString offlineUserId = check.userId;
    QString text = tr("登陆失败") + QLatin1Char('\n') + why;
    if (offer)
        text += QLatin1Char('\n') + StatusText::offlineOffer(Information::keptListTime(offlineUserId));
    if (check.match == OfflineVerifier::Match::ClockMismatch)
        text += QLatin1Char('\n') + StatusText::offlineClockMismatch();
    auto *box = new QMessageBox(QMessageBox::Critical, tr("fail"), text, QMessageBox::Ok);
    box->setAttribute(Qt::WA_DeleteOnClose);
    QPushButton *offlineButton = offer ? box->addButton(QMessageBox::Open) : nullptr;
    if (offlineButton) {
        offlineButton->setText(tr("离线使用"));
        box->setDefaultButton(offlineButton);
    }
    connect(box, &QMessageBox::finished, this, [=] {
        ui->loginBtn->setEnabled(true);
        if (offlineButton && box->clickedButton() == offlineButton && isVisible())
            openOfflineWindow(offlineUserId, userName, password, why);
    });
    box->open();
}

bool Dialog::remember(
    const QString &userName, const QString &password, const QString &userId, const QDateTime &now)
{
    const bool kept = OfflineVerifier::remember(userName, password, userId, now);
    if (!kept)
        qCWarning(appLog).noquote() << "sign-in" << userName << ": no offline verifier kept in"
                                    << OfflineVerifier::storeName();
    return kept;
}

// The operator must tell a wrong password from a service that cannot be reached: a reply
// with a status is the service's own refusal, anything else is why no answer came.
QString Dialog::signInProblem(const ErrorInfo &failure, const QVariantMap &reply)
{
    if (!failure.hasError() && reply.contains(QStringLiteral("status")))
        return tr("用户名或密码被服务拒绝");
    return StatusText::reason(failure);
}

// The password leaves the window only as its MD5 digest.
QVariantMap Dialog::signInRequest(const QString &userName, const QString &password)
{
    const QByteArray digest = QCryptographicHash::hash(password.toUtf8(), QCryptographicHash::Md5).toHex();
    return { { "username", userName }, { "password", QString::fromLatin1(digest) } };
}

// The task window has no owner: it stays for the rest of the run, and closing it ends the
// program because this window is hidden by then.
void Dialog::openTaskWindow(const QString &userId)
{
    auto *window = new Information;
    watchTaskWindow(window, ui->userNameEd->text());
    window->start(userId);
    hide();
    window->show();
}

void Dialog::openOfflineWindow(
    const QString &userId, const QString &userName, const QString &password, const QString &why)
{
    qCInfo(appLog).noquote() << "sign-in" << userName << "offline, user id" << userId << ":" << why
                             << "; the password matches the verifier of the last accepted sign-in";
    auto *window = new Information;
    watchTaskWindow(window, userName);
    window->startOffline(userId, signInRequest(userName, password), why);
    hide();
    window->show();
}

// A task window working offline signs in again by itself: an accepted sign-in keeps a new
// verifier, a refused one sends the operator back here.
void Dialog::watchTaskWindow(Information *window, const QString &userName)
{
    connect(window, &Information::signInAccepted, this, [this, userName](const QString &userId) {
        const QString password = ui->passWordEd->text();
        const QDateTime now = QDateTime::currentDateTime();
        OffThread::then(
            this, [userName, password, userId, now] { return remember(userName, password, userId, now); },
            [](bool) {});
    });
    connect(
        window, &Information::signInRefused, this, [this, userName] { passwordChangedOnService(userName); });
}

// Shown before the task window closes, so that the program does not end with it.
void Dialog::passwordChangedOnService(const QString &userName)
{
    OfflineVerifier::forget(userName);
    show();
    OpenBox::warning(QStringLiteral("warning"), StatusText::passwordChanged());
}

void Dialog::on_checkBox_clicked()
{
    Setting setting;
    if (ui->checkBox->isChecked()) {
        setting.setValue("username", ui->userNameEd->text());
        setting.setValue("password", ui->passWordEd->text());
        setting.setValue("isChecked", true);
        return;
    }
    setting.setValue("username", QString(""));
    setting.setValue("password", QString(""));
    setting.setValue("isChecked", false);
}
