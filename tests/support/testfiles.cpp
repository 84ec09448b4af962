#include "testfiles.h"

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

bool TestFiles::installRecordingOpener(const QString &folder)
{
    const QString script = folder + QStringLiteral("/xdg-open");
    const QByteArray log = QString(folder + QStringLiteral("/opened.txt")).toUtf8();
    if (!write(script, "#!/bin/sh\nprintf '%s\\n' \"$@\" >> '" + log + "'\n"))
        return false;
    qputenv("PATH", folder.toLocal8Bit() + ':' + qgetenv("PATH"));
    return QFile::setPermissions(script, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
}
