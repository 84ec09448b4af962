#include "app/serverconfig.h"

#include "app/applog.h"
#include "core/inifile.h"
#include "service/network.h"

#include <QDebug>
#include <QDir>
#include <QFileInfo>
#include <QMutexLocker>
#include <QSettings>
#include <QUrl>

#ifdef Q_OS_WIN
#include <qt_windows.h>

#include <vector>
#endif

#ifndef QUILLET_SERVER_ROOT
#define QUILLET_SERVER_ROOT "http://127.0.0.1:18080/"
#endif

namespace {

QString withTrailingSlash(const QString &root)
{
    return root.endsWith(QLatin1Char('/')) ? root : root + QLatin1Char('/');
}

bool isServerUrl(const QString &text)
{
    const QUrl url(text, QUrl::StrictMode);
    const QString scheme = url.scheme().toLower();
    return url.isValid() && !url.host().isEmpty()
        && (scheme == QLatin1String("http") || scheme == QLatin1String("https"));
}

QString configured(const QString &executableDir, const QString &key)
{
    const QString path = IniFile::fileName(executableDir);
    if (!QFileInfo::exists(path))
        return QString();
    QSettings file(path, QSettings::IniFormat);
    file.setIniCodec("UTF-8");
    return file.value(key).toString().trimmed();
}

} // namespace

QString ServerConfig::defaultRoot()
{
    return withTrailingSlash(QStringLiteral(QUILLET_SERVER_ROOT));
}

QString ServerConfig::serverRoot(const QString &executableDir)
{
    const QString root = configured(executableDir, QLatin1String(IniFile::serverRootKey));
    if (root.isEmpty())
        return defaultRoot();
    if (!isServerUrl(root)) {
        qCWarning(appLog) << "quillet.ini: serverRoot is not an http address, using" << defaultRoot()
                          << "instead of" << root;
        return defaultRoot();
    }
    return withTrailingSlash(root);
}

QString ServerConfig::caFile(const QString &executableDir)
{
    const QString file = configured(executableDir, QLatin1String(IniFile::caFileKey));
    if (file.isEmpty())
        return QString();
    return QDir::cleanPath(QDir(executableDir).absoluteFilePath(QDir::fromNativeSeparators(file)));
}

ProxyFactory::Setting ServerConfig::proxy(const QString &executableDir, QString *problem)
{
    return ProxyFactory::parse(configured(executableDir, QLatin1String(IniFile::proxyKey)), problem);
}

bool ServerConfig::ncIntegerIsUnit(const QString &executableDir)
{
    return configured(executableDir, QLatin1String(IniFile::ncIntegerIsUnitKey))
               .compare(QLatin1String("mm"), Qt::CaseInsensitive)
        == 0;
}

QString ServerConfig::executableDir(const char *argv0)
{
#ifdef Q_OS_LINUX
    const QFileInfo self(QStringLiteral("/proc/self/exe"));
    if (self.exists())
        return QFileInfo(self.symLinkTarget()).absolutePath();
#elif defined(Q_OS_WIN)
    // argv[0] comes in the ANSI code page, which cannot spell every folder name
    // ("C:\数控 Quillet" on a Western system); the wide module name can.
    std::vector<wchar_t> name(32768);
    const DWORD length = GetModuleFileNameW(nullptr, name.data(), DWORD(name.size()));
    if (length > 0 && length < name.size())
        return QFileInfo(QDir::fromNativeSeparators(QString::fromWCharArray(name.data(), int(length))))
            .absolutePath();
#endif
    return QFileInfo(QString::fromLocal8Bit(argv0 ? argv0 : "")).absolutePath();
}

void ServerConfig::bind(Network *network, const QString &root)
{
    QMutexLocker locker(&network->mutex);
    network->rootUrl = root;
}
