#include "app/dialog.h"
#include "ui_dialog.h"

#include "app/applog.h"
#include "core/busycall.h"
#include "core/offthread.h"
#include "core/windowfit.h"
#include "credentials/offlineverifier.h"
#include "service/httptransfer.h"
#include "service/setting.h"
#include "tasks/information.h"
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

void Dialog::on_loginBtn_clicked()
{
    emit showmain();

    const QString userName = ui->userNameEd->text();
    const QString password = ui->passWordEd->text();
    if (userName.isEmpty()) {
        QMessageBox::warning(nullptr, tr("warning"), tr("用户名不能为空"), QMessageBox::Ok);
        return;
    }
    if (password.isEmpty()) {
        QMessageBox::warning(nullptr, tr("warning"), tr("密码不能为空"), QMessageBox::Ok);
        return;
    }

    // The request waits in a local event loop that still takes clicks: a second sign-in
    // is kept out by the disabled button, until the task window has taken over (a click
    // as the welcome box closes would open a second one). A window closed meanwhile shows
    // nothing more.
    HttpTransfer transfer;
    BusyCall busy(this, ui->loginBtn);
    const QVariantMap reply = busy.run([&] { return transfer.login(signInRequest(userName, password)); });
    if (!busy.windowAlive() || !isVisible())
        return;
    const SignInResult::Outcome outcome = SignInResult::decide(transfer.lastError(), reply);
    if (outcome != SignInResult::Outcome::Accepted) {
        signInFailed(userName, password, transfer.lastError(), reply, outcome);
        return;
    }

    const QString userId = reply.value("data").toMap().value("id").toString();
    qInfo().noquote() << "sign-in" << userName << "succeeded, user id" << userId;
    busy.run([&] { return remember(userName, password, userId); });
    if (!busy.windowAlive() || !isVisible())
        return;
    QMessageBox::about(nullptr, tr("success"), tr("欢迎使用Quillet"));
    openTaskWindow(userId);
}

// Only a service that cannot be reached offers offline use, and only to a password that
// matches the verifier the last accepted sign-in kept; the check takes its time on purpose.
void Dialog::signInFailed(const QString &userName, const QString &password, const ErrorInfo &failure,
    const QVariantMap &reply, SignInResult::Outcome outcome)
{
    const QString why = signInProblem(failure, reply);
    const QString detail = failure.message();
    qInfo().noquote() << "sign-in" << userName << "failed:" << why
                      << (detail.isEmpty() ? QString() : "(" + detail + ")");
    if (outcome == SignInResult::Outcome::Refused)
        OfflineVerifier::forget(userName);
    QString userId;
    const QDateTime now = QDateTime::currentDateTime();
    const QPointer<Dialog> alive(this);
    const bool offer = outcome == SignInResult::Outcome::Unreachable && OffThread::run([&] {
        return OfflineVerifier::check(userName, password, now, &userId);
    }) == OfflineVerifier::Match::Matches;
    if (!alive || !isVisible())
        return;
    QString text = tr("登陆失败") + QLatin1Char('\n') + why;
    if (offer)
        text += QLatin1Char('\n') + StatusText::offlineOffer(Information::keptListTime(userId));
    QMessageBox box(QMessageBox::Critical, tr("fail"), text, QMessageBox::Ok);
    QPushButton *offlineButton = offer ? box.addButton(QMessageBox::Open) : nullptr;
    if (offlineButton) {
        offlineButton->setText(tr("离线使用"));
        box.setDefaultButton(offlineButton);
    }
    box.exec();
    if (alive && offlineButton && box.clickedButton() == offlineButton)
        openOfflineWindow(userId, userName, password, why);
}

bool Dialog::remember(const QString &userName, const QString &password, const QString &userId)
{
    const QDateTime now = QDateTime::currentDateTime();
    const bool kept
        = OffThread::run([=] { return OfflineVerifier::remember(userName, password, userId, now); });
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
    connect(window, &Information::signInAccepted, this,
        [this, userName](const QString &userId) { remember(userName, ui->passWordEd->text(), userId); });
    connect(
        window, &Information::signInRefused, this, [this, userName] { passwordChangedOnService(userName); });
}

// Shown before the task window closes, so that the program does not end with it.
void Dialog::passwordChangedOnService(const QString &userName)
{
    OfflineVerifier::forget(userName);
    show();
    QTimer::singleShot(0, this, [] {
        QMessageBox::warning(
            nullptr, QStringLiteral("warning"), StatusText::passwordChanged(), QMessageBox::Ok);
    });
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
