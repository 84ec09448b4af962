#include "service/fileclaim.h"

#include <QDir>
#include <QFileInfo>
#include <QHash>
#include <QMutex>
#include <QMutexLocker>

namespace {

// Fetches run on threads of their own and restores on the pool.
QMutex &claimLock()
{
    static QMutex lock;
    return lock;
}

// By the case-folded path, the path as claimed.
QHash<QString, QString> &filesInUse()
{
    static QHash<QString, QString> inUse;
    return inUse;
}

QString foldedKey(const QString &key)
{
    return key.toCaseFolded();
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
    const QMutexLocker locker(&claimLock());
    for (const QString &key : keys) {
        const auto found = filesInUse().constFind(foldedKey(key));
        if (found != filesInUse().cend()) {
            m_conflict = found.value();
            m_differsInCase = found.value() != key;
            return;
        }
    }
    for (const QString &key : keys)
        filesInUse().insert(foldedKey(key), key);
    m_keys = keys;
}

FileClaim::~FileClaim()
{
    const QMutexLocker locker(&claimLock());
    for (const QString &key : qAsConst(m_keys))
        filesInUse().remove(foldedKey(key));
}

bool FileClaim::conflictDiffersInCase() const
{
    return m_differsInCase;
}

bool FileClaim::claimed() const
{
    return m_conflict.isEmpty();
}

QString FileClaim::conflict() const
{
    return m_conflict;
}
