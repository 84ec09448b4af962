#include "app/commandline.h"
#include "app/dialog.h"
#include "app/display.h"
#include "app/logfile.h"
#include "app/serverconfig.h"
#include "app/tlstrust.h"
#include "credentials/rememberpwd.h"
#include "history/startuprecovery.h"
#include "service/network.h"
#include "tasks/historywindow.h"
#include "tasks/supportbundle.h"

#include <QApplication>
#include <QDebug>
#include <QFileInfo>
#include <QMessageBox>
#include <QTimer>

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
    if (!commandLine.opensWindow())
        return commandLine.run(log);
    log.install();
    qInfo().noquote() << "Quillet started in" << programDir;
    const QString root = ServerConfig::serverRoot(programDir);
    ServerConfig::bind(Network::getInstance("defalut"), root);
    HistoryWindow::setNcIntegerIsUnit(ServerConfig::ncIntegerIsUnit(programDir));

    Display::enableHighDpiScaling();
    QApplication app(argc, argv);
    Display::substituteFormFont();
    StartupRecovery::runAtStartUp();
    // Before any request, so that every connection trusts the same certificates.
    const QString trustProblem = TlsTrust::addCompanyCa(ServerConfig::caFile(programDir));
    Dialog dialog;
    dialog.show();
    if (!trustProblem.isEmpty())
        QTimer::singleShot(0, [trustProblem] { QMessageBox::warning(nullptr, "warning", trustProblem); });
    return app.exec();
}
