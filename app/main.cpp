#include "dialog.h"
#include "network.h"
#include "serverconfig.h"

#include <QApplication>

// The logo lives in a static library, whose resources must be registered by hand.
struct EmbeddedResources
{
    EmbeddedResources() { Q_INIT_RESOURCE(resources); }
    ~EmbeddedResources() { Q_CLEANUP_RESOURCE(resources); }
};

int main(int argc, char *argv[])
{
    const EmbeddedResources resources;
    const QString root = ServerConfig::serverRoot(ServerConfig::executableDir(argc > 0 ? argv[0] : nullptr));
    ServerConfig::bind(Network::getInstance("defalut"), root);

    QApplication app(argc, argv);
    Dialog dialog;
    dialog.show();
    return app.exec();
}
