#include "core/inifile.h"

#include <QDir>

QString IniFile::fileName(const QString &programFolder)
{
    return QDir(programFolder).filePath(QStringLiteral("quillet.ini"));
}

const QStringList &IniFile::keys()
{
    static const QStringList read { QLatin1String(serverRootKey), QLatin1String(caFileKey),
        QLatin1String(ncIntegerIsUnitKey), QLatin1String(proxyKey), QLatin1String(plantHistoryKey) };
    return read;
}
