#ifndef INIFILE_H
#define INIFILE_H

#include <QString>
#include <QStringList>

// "quillet.ini" beside the program: the deployment's own settings. Every key the client reads
// is named here, and only here: the support bundle shows these keys (their values scrubbed)
// and hides the value of any other, so a key the client starts to read joins keys().
class IniFile
{
public:
    static constexpr const char *serverRootKey = "serverRoot";
    static constexpr const char *caFileKey = "caFile";
    static constexpr const char *ncIntegerIsUnitKey = "ncIntegerIsUnit";
    static constexpr const char *proxyKey = "proxy";
    static constexpr const char *plantHistoryKey = "plantHistory";

    static QString fileName(const QString &programFolder);
    // The keys the client reads, as QSettings names them ("group/key" outside [General]).
    static const QStringList &keys();
};

#endif // INIFILE_H
