#include "archiveunpacker.h"

#include <JlCompress.h>
#include <quazip.h>
#include <quazipfileinfo.h>

#include <QDebug>
#include <QDir>
#include <QFileInfo>
#include <QTemporaryDir>

#include <algorithm>

namespace {

bool isControl(QChar ch)
{
    return ch.unicode() < 0x20 || ch.unicode() == 0x7f;
}

// Windows drops trailing dots and spaces from a name, so a component made only of them
// ("..", ". .", "... ") would name the folder itself or its parent.
bool isDotsAndSpaces(const QString &component)
{
    for (const QChar ch : component) {
        if (ch != QLatin1Char('.') && ch != QLatin1Char(' '))
            return false;
    }
    return true;
}

bool isInside(const QString &path, const QString &folder)
{
    return QDir::cleanPath(path).startsWith(folder + QLatin1Char('/'));
}

} // namespace

bool ArchiveUnpacker::isSafeEntryName(const QString &name)
{
    if (name.isEmpty() || name.startsWith(QLatin1Char('/')))
        return false;
    // Backslashes are separators on Windows; a colon names a drive or a data stream there.
    if (name.contains(QLatin1Char('\\')) || name.contains(QLatin1Char(':')))
        return false;
    if (std::any_of(name.cbegin(), name.cend(), isControl))
        return false;

    QStringList components = name.split(QLatin1Char('/'));
    if (components.last().isEmpty())
        components.removeLast(); // a folder entry ends with "/"
    if (components.isEmpty())
        return false;
    for (const QString &component : qAsConst(components)) {
        if (component.isEmpty() || isDotsAndSpaces(component))
            return false;
    }
    return true;
}

ArchiveUnpacker::Result ArchiveUnpacker::unpack(const QString &archivePath, const QString &folder)
{
    if (folder.isEmpty())
        return Result::NoFolder;
    const QString archive = QFileInfo(archivePath).absoluteFilePath();
    const QString target = QDir::cleanPath(QFileInfo(folder).absoluteFilePath());

    QuaZip zip(archive);
    if (!QFileInfo(archive).isFile() || !zip.open(QuaZip::mdUnzip))
        return Result::NotAnArchive;
    if (isInside(archive, target) || target == QDir::rootPath()) {
        qDebug() << "ArchiveUnpacker: not unpacked, replacing" << target << "would remove" << archive;
        return Result::ArchiveInsideFolder;
    }

    const QList<QuaZipFileInfo64> entries = zip.getFileInfoList64();
    for (const QuaZipFileInfo64 &entry : entries) {
        if (entry.isSymbolicLink() || !isSafeEntryName(entry.name)) {
            qDebug() << "ArchiveUnpacker: not unpacked, entry" << entry.name << "of" << archive
                     << "could land outside" << target;
            return Result::UnsafeEntry;
        }
    }

    const QFileInfo targetInfo(target);
    QDir().mkpath(targetInfo.absolutePath());
    QTemporaryDir staging(targetInfo.absolutePath() + QLatin1Char('/') + QLatin1Char('.')
        + targetInfo.fileName() + QStringLiteral(".unpack-XXXXXX"));
    if (!staging.isValid()) {
        qDebug() << "ArchiveUnpacker: no staging folder beside" << target << staging.errorString();
        return Result::ExtractFailed;
    }

    // extractDir opens the archive itself; the same object keeps the file name codec, so
    // it extracts under exactly the names checked above.
    zip.close();
    const QStringList extracted = JlCompress::extractDir(zip, staging.path());
    if (extracted.size() != entries.size()) {
        qDebug() << "ArchiveUnpacker: extracting" << archive << "failed," << target << "left as it was";
        return Result::ExtractFailed;
    }

    const Result result = swapIn(staging.path(), target);
    if (result == Result::Unpacked)
        staging.setAutoRemove(false);
    return result;
}

ArchiveUnpacker::Result ArchiveUnpacker::swapIn(const QString &staging, const QString &target)
{
    const QFileInfo old(target);
    if (!old.exists() && !old.isSymLink()) {
        if (moveEntry(staging, target))
            return Result::Unpacked;
        qDebug() << "ArchiveUnpacker: could not move the unpacked files to" << target;
        return Result::FolderKept;
    }

    // The old folder is moved aside first: on Windows that fails while the machine holds
    // one of its files open, and then nothing of it has changed yet.
    const QString aside = staging + QStringLiteral(".old");
    if (!moveEntry(target, aside)) {
        qDebug() << "ArchiveUnpacker: kept the old" << target
                 << "unchanged, it cannot be replaced (a file in it may be in use)";
        return Result::FolderKept;
    }
    if (!moveEntry(staging, target)) {
        if (moveEntry(aside, target))
            qDebug() << "ArchiveUnpacker: could not move the unpacked files to" << target
                     << "; kept the old folder";
        else
            qDebug() << "ArchiveUnpacker: could not move the unpacked files to" << target
                     << "; the old folder is at" << aside;
        return Result::FolderKept;
    }
    if (!removeEntry(aside))
        qDebug() << "ArchiveUnpacker: could not remove the replaced files in" << aside;
    return Result::Unpacked;
}

bool ArchiveUnpacker::moveEntry(const QString &from, const QString &to)
{
    return QDir().rename(from, to);
}

// A link is removed itself, never what it points to.
bool ArchiveUnpacker::removeEntry(const QString &path)
{
    const QFileInfo info(path);
    if (info.isSymLink() || !info.isDir())
        return QFile::remove(path);
    return QDir(path).removeRecursively();
}
