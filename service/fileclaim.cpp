#include "service/fileclaim.h"

#include <QDir>
#include <QFileInfo>
#include <QSet>

namespace {

QSet<QString> &filesInUse()
{
    static QSet<QString> inUse;
    return inUse;
}

QStringList claimKeys(const QStringList &paths)
{
    QStringList keys;
    for (const QString &path : paths) {
        if (!path.isEmpty())
            keys << QDir::cleanPath(QFileInfo(path).absoluteFilePath());
    }
    return keys;
}

} // namespace

FileClaim::FileClaim(const QStringList &paths)
{
    const QStringList keys = claimKeys(paths);
    for (const QString &key : keys) {
        if (filesInUse().contains(key)) {
            m_conflict = key;
            return;
        }
    }
    for (const QString &key : keys)
        filesInUse().insert(key);
    m_keys = keys;
}

FileClaim::~FileClaim()
{
    for (const QString &key : qAsConst(m_keys))
        filesInUse().remove(key);
}

bool FileClaim::claimed() const
{
    return m_conflict.isEmpty();
}

QString FileClaim::conflict() const
{
    return m_conflict;
}
