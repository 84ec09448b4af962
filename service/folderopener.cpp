#include "service/folderopener.h"

#include "service/servicelog.h"
#include <QDebug>
#include <QDir>
#include <QProcess>

QString FolderOpener::program()
{
#ifdef Q_OS_WIN
    return QStringLiteral("explorer");
#else
    return QStringLiteral("xdg-open");
#endif
}

QString FolderOpener::nativePath(const QString &absoluteFolder)
{
    return QDir::toNativeSeparators(absoluteFolder);
}

// The path travels as one argument of its own, so spaces in it need no quoting.
bool FolderOpener::open(const QString &absoluteFolder)
{
    const QString path = nativePath(absoluteFolder);
    if (QProcess::startDetached(program(), { path }))
        return true;
    qCWarning(serviceLog) << "FolderOpener: could not start" << program() << "on" << path;
    return false;
}
