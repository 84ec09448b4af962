#include "core/localpath.h"

QString LocalPath::fromFileUrl(const QString &path)
{
    static const QLatin1String fileUrl("file:///");
    if (!path.startsWith(fileUrl))
        return path;
#ifdef Q_OS_WIN
    // The drive letter follows the third slash.
    return path.mid(fileUrl.size());
#else
    // The third slash starts the absolute path.
    return path.mid(fileUrl.size() - 1);
#endif
}
