#include "app/applog.h"
#include "app/commandline.h"
#include "app/dialog.h"
#include "app/display.h"
#include "app/logfile.h"
#include "app/serverconfig.h"
#include "app/tlstrust.h"
#include "core/openbox.h"
#include "core/proxyfactory.h"
#include "credentials/rememberpwd.h"
#include "history/historystore.h"
#include "history/startuprecovery.h"
#include "plant/plantforwarding.h"
#include "service/fetchjob.h"
#include "service/httptransfer.h"
#include "service/network.h"
#include "tasks/historywindow.h"
#include "tasks/supportbundle.h"

#include <QApplication>
#include <QDebug>
#include <QFileInfo>
#include <QMessageBox>
#include <QTimer>
#include <QUrl>

// How long quitting waits for the fetches still running.
constexpr int quitWaitMs = 5000;

// The logo lives in a static library, whose resources must be registered by hand.
struct EmbeddedResources
{
    EmbeddedResources() { Q_INIT_RESOURCE(resources); }
    ~EmbeddedResources() { Q_CLEANUP_RESOURCE(resources); }
};

int main(int argc, char *argv[])
{
    const EmbeddedResources resources;
    const QString programDir = ServerConfig::executableDir(argc > 0 ? argv[0] : nullptr);
    LogFile log(programDir + QStringLiteral("/log/quillet.log"));
    // The bundle leaves out every line holding a password this PC remembers, the credential
    // file's too, which only the program itself reads.
    SupportBundle::setPasswordSource([] {
        const bool remembered = QFileInfo::exists(QCoreApplication::applicationDirPath() + "/logMsg.ini");
        return remembered ? QStringList { RememberPwd().loadPwd().value("password").toString() }
                          : QStringList();
    });
    CommandLine commandLine(argc, argv);
    QString proxyProblem;
    ProxyFactory::install(ServerConfig::proxy(programDir, &proxyProblem));
    if (!commandLine.opensWindow())
        return commandLine.run(log);
    log.install();
    qCInfo(appLog).noquote() << "Quillet started in" << programDir << "with proxy"
                             << ProxyFactory::describe();
    // The value itself is not logged: a refused one may hold a password.
    if (!proxyProblem.isEmpty())
        qCWarning(appLog).noquote() << "quillet.ini: proxy refused," << proxyProblem
                                    << "; the system's proxy is used";
    const QString root = ServerConfig::serverRoot(programDir);
    ServerConfig::bind(Network::getInstance("defalut"), root);
    HistoryWindow::setNcIntegerIsUnit(ServerConfig::ncIntegerIsUnit(programDir));

    Display::enableHighDpiScaling();
    QApplication app(argc, argv);
    // The sign-in's request finds the system's proxy known, a WPAD search already done.
    ProxyFactory::warmUp(QUrl(root));
    Display::substituteFormFont();
    StartupRecovery::runAtStartUp();
    // Forwarding to the plant history, when quillet.ini names one, on a thread of its own.
    PlantForwarding plant(PlantConfig::configured(programDir), HistoryStore::defaultFolder(),
        { HttpTransfer::deviceName(), QSysInfo::machineHostName(), QStringLiteral(QUILLET_VERSION) });
    plant.start();
    // Before any request, so that every connection trusts the same certificates.
    const QString trustProblem = TlsTrust::addCompanyCa(ServerConfig::caFile(programDir));
    Dialog dialog;
    dialog.show();
    if (!trustProblem.isEmpty())
        QTimer::singleShot(0, [trustProblem] { OpenBox::warning(QStringLiteral("warning"), trustProblem); });
    if (!proxyProblem.isEmpty())
        QTimer::singleShot(0, [] {
            OpenBox::warning(QStringLiteral("warning"),
                QStringLiteral("quillet.ini 中的代理设置（proxy）无效：只能是 system、none 或 "
                               "http://主机:端口，不能含用户名或密码。已改用系统代理设置。"));
        });
    const int code = app.exec();
    // A fetch that has begun writing finishes or rolls back whole and writes its row; one
    // still waiting for the server was abandoned as the application quit.
    if (!FetchJob::waitForRunning(quitWaitMs))
        qCWarning(appLog).noquote() << "quitting with" << FetchJob::running() << "fetches still running";
    return code;
}
