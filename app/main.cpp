#include "dialog.h"
#include "historyexportcommand.h"
#include "logfile.h"
#include "network.h"
#include "serverconfig.h"
#include "tlstrust.h"

#include <QApplication>
#include <QDebug>
#include <QFont>
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
    log.install();
    qInfo().noquote() << "Quillet started in" << programDir;
    if (HistoryExportCommand::isRequested(argc, argv))
        return HistoryExportCommand::run(argc, argv);
    const QString root = ServerConfig::serverRoot(programDir);
    ServerConfig::bind(Network::getInstance("defalut"), root);

    QApplication app(argc, argv);
    // The forms ask for the Windows UI font; elsewhere a CJK font with narrow Latin glyphs
    // keeps their texts close to the widths the labels were drawn for.
    QFont::insertSubstitution(QStringLiteral("微软雅黑"), QStringLiteral("WenQuanYi Micro Hei"));
    // Before any request, so that every connection trusts the same certificates.
    const QString trustProblem = TlsTrust::addCompanyCa(ServerConfig::caFile(programDir));
    Dialog dialog;
    dialog.show();
    if (!trustProblem.isEmpty())
        QTimer::singleShot(0, [trustProblem] { QMessageBox::warning(nullptr, "warning", trustProblem); });
    return app.exec();
}
