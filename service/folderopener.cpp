#include "service/folderopener.h"

#include "service/servicelog.h"
#include <QDebug>
#include <QDir>
#include <QFileInfo>
#include <QProcess>

namespace {

bool start(const QStringList &arguments)
{
    if (QProcess::startDetached(FolderOpener::program(), arguments))
        return true;
    qCWarning(serviceLog) << "FolderOpener: could not start" << FolderOpener::program() << "on" << arguments;
    return false;
}

} // namespace

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
    return start({ nativePath(absoluteFolder) });
}

// Explorer takes "/select," and the path as two arguments, so a path with spaces may be
// quoted on its own.
bool FolderOpener::select(const QString &absoluteFile)
{
#ifdef Q_OS_WIN
    return start({ QStringLiteral("/select,"), nativePath(absoluteFile) });
#else
    return start({ nativePath(QFileInfo(absoluteFile).absolutePath()) });
#endif
}
