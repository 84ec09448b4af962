#include "core/diskspace.h"

#include <QDir>
#include <QFileInfo>
#include <QStorageInfo>

#include <limits>

namespace {

// QStorageInfo needs a path that exists; a file or folder still to be made is on the volume
// of its nearest existing ancestor.
QString existingAncestor(const QString &path)
{
    QString level = QDir::cleanPath(QDir::current().absoluteFilePath(path));
    while (!QFileInfo::exists(level)) {
        const QString parent = QFileInfo(level).path();
        if (parent == level)
            break;
        level = parent;
    }
    return level;
}

} // namespace

qint64 DiskSpace::spareBytes(const QString &path, qint64 reserve)
{
    const QStorageInfo volume(existingAncestor(path));
    const qint64 available = volume.isValid() ? volume.bytesAvailable() : -1;
    if (available < 0)
        return std::numeric_limits<qint64>::max();
    return available - reserve;
}
