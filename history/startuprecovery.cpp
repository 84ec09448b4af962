#include "history/startuprecovery.h"

#include "core/hiddenfile.h"
#include "history/filedigest.h"
#include "history/historylog.h"

#include <QCoreApplication>
#include <QDebug>
#include <QDir>
#include <QFileInfo>
#include <QRandomGenerator>
#include <QRegularExpression>

namespace {

const QString instancesFolder = QStringLiteral("instances");

// An unpacking's folder (".7.unpack-x1y2", the old one ".7.unpack-x1y2.old"), a restore's
// copy (".7.restoring"), or a download's temporary file ("7.pdf.Ab12Cd", from QSaveFile).
const QRegularExpression &stagingName()
{
    static const QRegularExpression pattern(
        QStringLiteral("^(\\..+\\.(restoring|unpack-[0-9a-z]+)(\\.old)?(\\.[A-Za-z0-9]{6})?"
                       "|.+\\.(pdf|zip)\\.[A-Za-z0-9]{6})$"));
    return pattern;
}

// The task a staging name belongs to: "7" for all of the above.
QString taskOf(const QString &name)
{
    static const QRegularExpression staging(QStringLiteral("\\.(restoring|unpack-).*$"));
    QString task = name.startsWith(QLatin1Char('.')) ? name.mid(1).remove(staging) : name.section('.', 0, -2);
    for (const QString &suffix : { QStringLiteral(".pdf"), QStringLiteral(".zip") }) {
        if (task.endsWith(suffix))
            task.chop(suffix.size());
    }
    return task;
}

QLockFile *newLock(const QString &path)
{
    auto *lock = new QLockFile(path);
    // A lock is given up only when its process has gone, however long it runs.
    lock->setStaleLockTime(0);
    return lock;
}

} // namespace

StartupRecovery::StartupRecovery(const QString &historyFolder)
    : m_history(historyFolder)
{
    const QString root = QFileInfo(historyFolder).absolutePath();
    m_taskFolders << root + QStringLiteral("/nc") << root + QStringLiteral("/pdf");
}

StartupRecovery::~StartupRecovery() = default;

StartupRecovery::Result StartupRecovery::runAtStartUp()
{
    static StartupRecovery recovery;
    return recovery.run();
}

StartupRecovery::Result StartupRecovery::run()
{
    const QString folder = m_history.folder() + QLatin1Char('/') + instancesFolder;
    QDir().mkpath(folder);
    m_lockName = folder
        + QStringLiteral("/%1-%2.lock")
              .arg(QCoreApplication::applicationPid())
              .arg(QRandomGenerator::global()->generate(), 0, 36);
    m_lock.reset(newLock(m_lockName));
    if (!m_lock->tryLock(0))
        qCWarning(historyLog) << "history: cannot hold" << m_lockName;
    if (otherInstanceRuns()) {
        qCInfo(historyLog) << "history: another instance runs on" << m_history.folder()
                           << "; no recovery now";
        return Result::OtherInstance;
    }
    QList<HistoryEntry> starts;
    if (!m_history.store().unfinished(starts))
        return Result::Unavailable;
    for (const HistoryEntry &start : qAsConst(starts))
        complete(start);
    for (const QString &taskFolder : qAsConst(m_taskFolders)) {
        for (const QString &leftover : leftovers(taskFolder))
            moveAside(leftover);
    }
    return Result::Recovered;
}

// Another instance's lock cannot be taken while it runs; that of one that has gone can,
// and goes with it.
bool StartupRecovery::otherInstanceRuns() const
{
    const QDir folder(QFileInfo(m_lockName).absolutePath());
    for (const QString &name : folder.entryList({ QStringLiteral("*.lock") }, QDir::Files)) {
        const QString path = folder.filePath(name);
        if (QFileInfo(path) == QFileInfo(m_lockName))
            continue;
        const std::unique_ptr<QLockFile> other(newLock(path));
        if (!other->tryLock(0))
            return true;
    }
    return false;
}

QStringList StartupRecovery::leftovers(const QString &folder)
{
    QStringList found;
    const QDir dir(folder);
    for (const QString &name :
        dir.entryList(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot)) {
        if (stagingName().match(name).hasMatch())
            found << dir.filePath(name);
    }
    return found;
}

// The completion records what it found. It is the version in place only where that is a
// version recorded before, which it names by its SHA-256 (VersionInPlace): what a cut fetch
// left may be half of a new program, which no row vouches for.
void StartupRecovery::complete(HistoryEntry start)
{
    if (!QFileInfo::exists(start.target))
        putBack(start);
    HistoryEntry done = start;
    done.id = 0;
    done.time = QDateTime::currentDateTime();
    done.timeText.clear();
    done.localTimeText.clear();
    done.outcome = QString::fromLatin1(HistoryEntry::interruptedOutcome);
    const bool found = QFileInfo::exists(start.target);
    const HistoryEntry named = found ? recordedVersion(start) : HistoryEntry();
    done.ok = named.id > 0;
    done.sha256 = named.sha256;
    if (done.keptPath.isEmpty() || !QFileInfo::exists(m_history.versions().absolutePath(done.keptPath)))
        done.keptPath.clear();
    const bool pdf = done.kind == QLatin1String("pdf");
    if (!m_history.completeFetch(
            start.id, done, found && pdf ? done.target : QString(), found && !pdf ? done.target : QString()))
        qCWarning(historyLog).noquote()
            << "history: cannot complete the interrupted entry" << start.id << ":" << m_history.lastError();
    qCInfo(historyLog) << "history: entry" << start.id << "of" << start.task
                       << "was interrupted; completed as" << done.id;
}

// The newest version recorded before start, with an SHA-256 to be named by, whose digests
// are those of the files now at its target; none when no such row is there.
HistoryEntry StartupRecovery::recordedVersion(const HistoryEntry &start)
{
    const bool pdf = start.kind == QLatin1String("pdf");
    const QString foundSha256 = pdf ? FileDigest::sha256(start.target) : QString();
    const QList<HistoryFile> foundFiles = pdf ? QList<HistoryFile>() : FileDigest::folderFiles(start.target);
    HistoryEntry version;
    qint64 before = start.id;
    while (m_history.store().lastInstalled(start.kind, start.task, before, version)) {
        before = version.id;
        if (version.sha256.isEmpty())
            continue;
        QList<HistoryFile> files;
        const bool same = pdf
            ? version.sha256 == foundSha256
            : m_history.store().files(version.id, files) && !files.isEmpty() && files == foundFiles;
        if (same)
            return version;
    }
    return HistoryEntry();
}

// A staging name of its own: one left by the cut restore itself may be there still, and is
// moved aside after.
QString StartupRecovery::freshStaging(const QString &target)
{
    const QFileInfo info(target);
    const QString base
        = info.absolutePath() + QStringLiteral("/.") + info.fileName() + QStringLiteral(".restoring");
    QString staging = base;
    static const QString letters
        = QStringLiteral("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789");
    while (QFileInfo::exists(staging) || QFileInfo(staging).isSymLink()) {
        staging = base + QLatin1Char('.');
        for (int i = 0; i < 6; ++i)
            staging += letters.at(int(QRandomGenerator::global()->bounded(letters.size())));
    }
    return staging;
}

// The set-aside copy: the version the start row kept, else the folder an unpacking had
// moved aside.
void StartupRecovery::putBack(const HistoryEntry &start)
{
    const QString kept = m_history.versions().absolutePath(start.keptPath);
    if (!start.keptPath.isEmpty() && QFileInfo::exists(kept)) {
        const QString staging = freshStaging(start.target);
        if (FetchHistory::copyPath(kept, staging, true)) {
            HiddenFile::reveal(staging);
            if (QDir().rename(staging, start.target))
                return;
        }
        qCWarning(historyLog) << "history: cannot put" << kept << "back as" << start.target;
        return;
    }
    const QFileInfo target(start.target);
    const QDir folder(target.absolutePath());
    const QStringList old = folder.entryList(
        { QStringLiteral(".%1.unpack-*.old").arg(target.fileName()) }, QDir::Dirs | QDir::Hidden);
    if (old.isEmpty())
        return;
    HiddenFile::reveal(folder.filePath(old.first()));
    if (!QDir().rename(folder.filePath(old.first()), start.target))
        qCWarning(historyLog) << "history: cannot put" << folder.filePath(old.first()) << "back as"
                              << start.target;
}

void StartupRecovery::moveAside(const QString &leftover)
{
    HistoryEntry entry = newEntry(HistoryEntry::recoverAction);
    entry.kind = QString::fromLatin1(VersionKeeper::interruptedKind);
    entry.task = taskOf(QFileInfo(leftover).fileName());
    entry.source = leftover;
    entry.keptPath = m_history.versions().newVersionPath(entry.kind, QString(), entry.time);
    const QString folder = m_history.versions().absolutePath(entry.keptPath);
    if (!QDir().mkpath(folder)) {
        qCWarning(historyLog) << "history: cannot move" << leftover << "into" << folder;
        return;
    }
    const QString moved = folder + QLatin1Char('/') + QFileInfo(leftover).fileName();
    HiddenFile::reveal(leftover);
    entry.ok = QDir().rename(leftover, moved);
    entry.outcome = entry.ok ? QStringLiteral("MovedAside") : QStringLiteral("Failed");
    if (!entry.ok) {
        HiddenFile::hide(leftover);
        QDir().rmdir(folder);
        entry.keptPath.clear();
    }
    qCInfo(historyLog) << "history: left over by an interrupted fetch:" << leftover
                       << (entry.ok ? "moved to" : "cannot be moved to") << moved;
    if (!m_history.record(entry, QString(), QString()))
        qCWarning(historyLog).noquote()
            << "history: cannot record" << leftover << ":" << m_history.lastError();
}

HistoryEntry StartupRecovery::newEntry(const char *action) const
{
    HistoryEntry entry;
    entry.time = QDateTime::currentDateTime();
    entry.action = QString::fromLatin1(action);
    entry.ok = true;
    return entry;
}
