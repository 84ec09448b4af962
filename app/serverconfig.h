#ifndef SERVERCONFIG_H
#define SERVERCONFIG_H

#include "core/proxyfactory.h"

#include <QObject>
#include <QString>

class Network;

// The device-service root the client talks to. The root compiled in can be overridden by
// a deployment with the key "serverRoot" in "quillet.ini" beside the executable, which may
// also name a company CA with "caFile" and a proxy with "proxy". Nothing
// here needs the application object, since the root is bound before it exists.
class ServerConfig
{
    Q_GADGET

public:
    // The compiled-in root, ending with "/".
    static QString defaultRoot();
    // The root for an executable in executableDir: the file's value when it is an
    // absolute http(s) URL, otherwise the default; always ending with "/".
    static QString serverRoot(const QString &executableDir);
    // The company CA file named by "caFile", relative to executableDir or absolute; ""
    // when none is named.
    static QString caFile(const QString &executableDir);
    // The proxy "proxy" names: "system" (also when unset), "none" or "http://host:port". A
    // value refused gives the system's, with problem saying why.
    static ProxyFactory::Setting proxy(const QString &executableDir, QString *problem);
    // True when "ncIntegerIsUnit" says "mm": the shop's controls read a number without a
    // decimal point in millimetres, so the NC compare reads "X100" as "X100.0".
    static bool ncIntegerIsUnit(const QString &executableDir);
    // The folder of the running executable; argv0 is used where the system cannot say.
    static QString executableDir(const char *argv0);
    // Writes root into the client's rootUrl while holding its mutex.
    static void bind(Network *network, const QString &root);
};

#endif // SERVERCONFIG_H
