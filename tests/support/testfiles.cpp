#include "tests/support/testfiles.h"

#include <QCoreApplication>
#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QFileInfo>

bool TestFiles::write(const QString &path, const QByteArray &content)
{
    QDir().mkpath(QFileInfo(path).absolutePath());
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(content) == content.size();
}

QByteArray TestFiles::read(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("<missing>");
}

QMap<QString, QByteArray> TestFiles::snapshot(const QString &root)
{
    QMap<QString, QByteArray> found;
    QDirIterator it(root, QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot,
        QDirIterator::Subdirectories);
    while (it.hasNext()) {
        const QString path = it.next();
        const QFileInfo info = it.fileInfo();
        found.insert(QDir(root).relativeFilePath(path),
            info.isDir() && !info.isSymLink() ? QByteArray("<dir>") : read(path));
    }
    return found;
}

bool TestFiles::settingsAreIsolated(const QString &storeName, const QString &configHome)
{
#ifdef Q_OS_WIN
    Q_UNUSED(configHome)
    return storeName.startsWith(QStringLiteral("\\HKEY_CURRENT_USER\\"));
#else
    return storeName.startsWith(configHome + QLatin1Char('/'));
#endif
}

#ifdef Q_OS_WIN
// The recording explorer.exe is built beside the test programs; it learns from the
// environment where to write.
bool TestFiles::installRecordingOpener(const QString &folder)
{
    qputenv(
        "QUILLET_OPENED_LOG", QDir::toNativeSeparators(folder + QStringLiteral("/opened.txt")).toLocal8Bit());
    return QFileInfo::exists(QCoreApplication::applicationDirPath() + QStringLiteral("/explorer.exe"));
}
#else
bool TestFiles::installRecordingOpener(const QString &folder)
{
    const QString script = folder + QStringLiteral("/xdg-open");
    const QByteArray log = QString(folder + QStringLiteral("/opened.txt")).toUtf8();
    // A write limit the test set on itself is not the stand-in's.
    if (!write(
            script, "#!/bin/sh\nulimit -f unlimited 2>/dev/null\nprintf '%s\\n' \"$@\" >> '" + log + "'\n"))
        return false;
    qputenv("PATH", folder.toLocal8Bit() + ':' + qgetenv("PATH"));
    return QFile::setPermissions(script, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
}
#endif

QStringList TestFiles::openedFolders(const QString &folder)
{
    const QByteArray recorded = read(folder + QStringLiteral("/opened.txt"));
    if (recorded == "<missing>")
        return {};
#ifdef Q_OS_WIN
    const QString text = QString::fromUtf8(recorded); // as the stand-in writes it
#else
    const QString text = QString::fromLocal8Bit(recorded); // the arguments' own bytes
#endif
    // A line still being written is read at a later look.
    return text.left(text.lastIndexOf(QLatin1Char('\n'))).split(QLatin1Char('\n'), Qt::SkipEmptyParts);
}
