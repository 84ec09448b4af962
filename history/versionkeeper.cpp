#include "history/versionkeeper.h"

#include "history/historylog.h"
#include <QDebug>
#include <QDir>
#include <QDirIterator>
#include <QFileInfo>
#include <QHash>
#include <QMutex>

#include <algorithm>

namespace {

const QString stampFormat = QStringLiteral("yyyyMMdd-hhmmss");
const QStringList kinds { QStringLiteral("nc"), QStringLiteral("pdf"),
    QString::fromLatin1(VersionKeeper::interruptedKind) };

bool isInterrupted(const QString &kind)
{
    return kind == QLatin1String(VersionKeeper::interruptedKind);
}

// Versions of all tasks sort by the time stamp their names start with, then by the counter
// of a second one set aside within the same second ("20261209-101500-2.pdf").
QString stampOf(const QString &relative)
{
    QString name = QFileInfo(relative).fileName();
    if (name.endsWith(QLatin1String(".pdf")))
        name.chop(4);
    const int counter = name.mid(stampFormat.size() + 1).toInt();
    return name.left(stampFormat.size()) + QString::number(counter).rightJustified(6, QLatin1Char('0'));
}

// Sizes of kept versions by absolute path; prune() runs on pool threads.
QMutex sizeLock;

QHash<QString, qint64> &knownSizes()
{
    static QHash<QString, qint64> sizes;
    return sizes;
}

} // namespace

VersionKeeper::VersionKeeper(const QString &historyFolder)
    : m_folder(historyFolder)
{ }

int VersionKeeper::maxVersions() const
{
    return m_maxVersions;
}

qint64 VersionKeeper::maxBytes() const
{
    return m_maxBytes;
}

void VersionKeeper::setLimits(int versions, qint64 bytes)
{
    m_maxVersions = versions;
    m_maxBytes = bytes;
}

// The task number arrives checked as a file name; this only keeps it inside the folder.
bool VersionKeeper::isUsableTask(const QString &task)
{
    return !task.isEmpty() && task != QLatin1String(".") && task != QLatin1String("..")
        && !task.contains(QLatin1Char('/')) && !task.contains(QLatin1Char('\\'));
}

// A name once given is not given again while any version of that second is kept, even
// when the first ones have gone: entries point to their versions by name.
QString VersionKeeper::newVersionPath(const QString &kind, const QString &task, const QDateTime &when) const
{
    if ((!isUsableTask(task) && !isInterrupted(kind)) || !kinds.contains(kind))
        return QString();
    const QString stamp = when.toString(stampFormat);
    int last = 0;
    for (const QString &existing : versions(kind, task)) {
        const QString key = stampOf(existing);
        if (key.startsWith(stamp))
            last = qMax(last, qMax(1, key.mid(stamp.size()).toInt()));
    }
    const QString name = last == 0 ? stamp : stamp + QLatin1Char('-') + QString::number(last + 1);
    const QString suffix = kind == QLatin1String("pdf") ? QStringLiteral(".pdf") : QString();
    return taskFolder(kind, task) + QLatin1Char('/') + name + suffix;
}

QString VersionKeeper::absolutePath(const QString &relative) const
{
    return m_folder + QLatin1Char('/') + relative;
}

QString VersionKeeper::taskFolder(const QString &kind, const QString &task) const
{
    return isInterrupted(kind) ? kind : kind + QLatin1Char('/') + task;
}

QStringList VersionKeeper::versions(const QString &kind, const QString &task) const
{
    if (!isUsableTask(task) && !isInterrupted(kind))
        return QStringList();
    const QString folder = taskFolder(kind, task);
    QStringList found;
    const QStringList names
        = QDir(absolutePath(folder)).entryList(QDir::Dirs | QDir::Files | QDir::NoDotAndDotDot);
    for (const QString &name : names)
        found << folder + QLatin1Char('/') + name;
    std::sort(found.begin(), found.end(),
        [](const QString &a, const QString &b) { return stampOf(a) < stampOf(b); });
    return found;
}

QStringList VersionKeeper::allVersions() const
{
    QStringList found;
    for (const QString &kind : kinds) {
        if (isInterrupted(kind)) {
            found << versions(kind, QString());
            continue;
        }
        const QStringList tasks = QDir(absolutePath(kind)).entryList(QDir::Dirs | QDir::NoDotAndDotDot);
        for (const QString &task : tasks)
            found << versions(kind, task);
    }
    return found;
}

void VersionKeeper::sortOldestFirst(QStringList &versions, const Order &order)
{
    std::sort(versions.begin(), versions.end(), [&order](const QString &a, const QString &b) {
        const qint64 first = order.sequence.value(a, -1);
        const qint64 second = order.sequence.value(b, -1);
        if (first != second)
            return first < second;
        return stampOf(a) < stampOf(b);
    });
}

QStringList VersionKeeper::prune(const QString &kind, const QString &task, const Order &order) const
{
    QStringList removed;
    QStringList ofTask = versions(kind, task);
    sortOldestFirst(ofTask, order);
    QStringList spare = order.spare;
    if (!ofTask.isEmpty())
        spare << ofTask.last();
    int over = ofTask.size() - m_maxVersions;
    for (const QString &version : qAsConst(ofTask)) {
        if (over <= 0)
            break;
        if (spare.contains(version))
            continue;
        if (remove(version))
            removed << version;
        --over;
    }

    QStringList all = allVersions();
    sortOldestFirst(all, order);
    qint64 total = 0;
    for (const QString &version : qAsConst(all))
        total += removed.contains(version) ? 0 : keptSize(version);
    for (const QFileInfo &file : QDir(m_folder).entryInfoList(QDir::Files | QDir::Hidden))
        total += file.size();
    for (const QString &version : qAsConst(all)) {
        if (total <= m_maxBytes)
            break;
        if (spare.contains(version) || removed.contains(version))
            continue;
        const qint64 size = keptSize(version);
        if (remove(version)) {
            removed << version;
            total -= size;
        }
    }
    return removed;
}

// A kept version never changes, so its size is worked out once per process: walking every
// file of every kept NC folder at every fetch would take long on a full history.
qint64 VersionKeeper::keptSize(const QString &relative) const
{
    const QString path = absolutePath(relative);
    {
        QMutexLocker locker(&sizeLock);
        const auto known = knownSizes().constFind(path);
        if (known != knownSizes().constEnd())
            return known.value();
    }
    const qint64 size = sizeOf(path);
    QMutexLocker locker(&sizeLock);
    knownSizes().insert(path, size);
    return size;
}

qint64 VersionKeeper::sizeOf(const QString &path)
{
    const QFileInfo info(path);
    if (!info.isDir())
        return info.size();
    qint64 total = 0;
    QDirIterator it(path, QDir::Files | QDir::Hidden | QDir::System, QDirIterator::Subdirectories);
    while (it.hasNext()) {
        it.next();
        total += it.fileInfo().size();
    }
    return total;
}

// The task's folder goes with its last version.
bool VersionKeeper::remove(const QString &relative) const
{
    const QString path = absolutePath(relative);
    const QFileInfo info(path);
    const bool removed
        = info.isDir() && !info.isSymLink() ? QDir(path).removeRecursively() : QFile::remove(path);
    if (!removed) {
        qCWarning(historyLog) << "history: cannot remove the old version" << path;
        return false;
    }
    QDir().rmdir(info.absolutePath());
    QMutexLocker locker(&sizeLock);
    knownSizes().remove(path);
    return true;
}
