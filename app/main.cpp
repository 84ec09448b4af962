#include "dialog.h"
#include "display.h"
#include "logfile.h"
#include "network.h"
#include "serverconfig.h"

#include <QApplication>
#include <QDebug>

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
    const QString root = ServerConfig::serverRoot(programDir);
    ServerConfig::bind(Network::getInstance("defalut"), root);

    Display::enableHighDpiScaling();
    QApplication app(argc, argv);
    Display::substituteFormFont();
    Dialog dialog;
    dialog.show();
    return app.exec();
}
