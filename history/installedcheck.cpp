#include "history/installedcheck.h"

#include "history/filedigest.h"
#include "history/historyconnection.h"
#include "history/historystore.h"
#include "history/versioninplace.h"
#include "history/versionkeeper.h"

#include <QDir>
#include <QDirIterator>
#include <QFileInfo>
#include <QHash>
#include <QMetaEnum>
#include <QSqlError>
#include <QSqlQuery>

#include <algorithm>
#include <limits>

bool InstalledCheck::Differences::isEmpty() const
{
    return changed.isEmpty() && missing.isEmpty() && added.isEmpty();
}

QStringList InstalledCheck::Differences::names() const
{
    QStringList all = changed + missing + added;
    all.sort();
    return all;
}

QString InstalledCheck::Differences::summary() const
{
    QStringList parts;
    const QList<QPair<const char *, const QStringList *>> kinds { { "changed", &changed },
        { "missing", &missing }, { "added", &added } };
    for (const auto &kind : kinds) {
        if (!kind.second->isEmpty())
            parts << QString::fromLatin1(kind.first) + QLatin1Char(' ')
                    + kind.second->join(QStringLiteral(", "));
    }
    return parts.join(QStringLiteral("; "));
}

InstalledCheck::InstalledCheck(const QString &historyFolder, HistoryConnection::Access access)
    : m_folder(historyFolder)
    , m_access(access)
{ }

// A version recorded without digests (a PDF without its SHA-256, an NC program without file
// rows) gives nothing to compare with; neither does one the history never saw.
InstalledCheck::Result InstalledCheck::check(const QString &kind, const QString &task, const QString &path)
{
    m_differences = Differences();
    m_version = HistoryEntry();
    HistoryStore store(m_folder, m_access);
    if (!store.lastInstalled(kind, task, std::numeric_limits<qint64>::max(), m_version)) {
        m_error = store.lastError();
        return m_error.isEmpty() ? Result::NotRecorded : Result::Unreadable;
    }
    QList<HistoryFile> rows;
    if (kind != QLatin1String("pdf") && !store.files(m_version.id, rows)) {
        m_error = store.lastError();
        return Result::Unreadable;
    }
    m_error.clear();
    if (kind == QLatin1String("pdf") ? m_version.sha256.isEmpty() : rows.isEmpty())
        return Result::NotRecorded;
    m_differences = compare(kind, path, m_version.sha256, rows);
    return m_differences.isEmpty() ? Result::Unchanged : Result::Changed;
}

// The history is read first and closed again before any file is: hashing every task's
// files takes a while, and nothing should hold the history meanwhile.
bool InstalledCheck::checkEveryTask(QList<TaskCheck> &checks)
{
    checks.clear();
    QList<HistoryEntry> versions;
    QHash<qint64, QList<HistoryFile>> rows;
    if (!readVersionsInPlace(checks, versions, rows))
        return false;
    for (int i = 0; i < checks.size(); ++i) {
        const HistoryEntry &version = versions.at(i);
        const QList<HistoryFile> files = rows.value(version.id);
        TaskCheck &task = checks[i];
        // An empty target would name the working folder.
        if (task.target.isEmpty()
            || (task.kind == QLatin1String("pdf") ? version.sha256.isEmpty() : files.isEmpty()))
            continue;
        task.differences = compare(task.kind, task.target, version.sha256, files);
        task.result = task.differences.isEmpty() ? Result::Unchanged : Result::Changed;
    }
    return true;
}

// The version in place of each task's NC program and PDF (VersionInPlace), and the file rows
// of each.
bool InstalledCheck::readVersionsInPlace(
    QList<TaskCheck> &checks, QList<HistoryEntry> &versions, QHash<qint64, QList<HistoryFile>> &rows)
{
    m_error.clear();
    HistoryConnection connection(m_folder, QStringLiteral("check"), m_access);
    if (!connection.isOpen()) {
        m_error = connection.errorString();
        return false;
    }
    const QString inPlace = VersionInPlace::newestIds();
    QSqlQuery query(connection.database());
    query.setForwardOnly(true);
    if (!query.exec(QStringLiteral("SELECT %1 FROM fetch WHERE id IN (%2) ORDER BY task, kind")
                        .arg(HistoryStore::listColumns, inPlace))) {
        m_error = query.lastError().text();
        return false;
    }
    while (query.next()) {
        const HistoryEntry version = HistoryStore::fromQuery(query);
        if (!VersionKeeper::isUsableTask(version.task))
            continue;
        versions << version;
        checks << TaskCheck { version.task, version.kind, version.target, Result::NotRecorded, {} };
    }
    if (!query.exec(
            QStringLiteral("SELECT fetch_id, path, size, sha256 FROM fetch_file WHERE fetch_id IN (%1)")
                .arg(inPlace))) {
        m_error = query.lastError().text();
        return false;
    }
    while (query.next())
        rows[query.value(0).toLongLong()] << HistoryFile { query.value(1).toString(),
            query.value(2).toLongLong(), query.value(3).toString() };
    return true;
}

const InstalledCheck::Differences &InstalledCheck::differences() const
{
    return m_differences;
}

const HistoryEntry &InstalledCheck::version() const
{
    return m_version;
}

QString InstalledCheck::lastError() const
{
    return m_error;
}

InstalledCheck::Differences InstalledCheck::compare(
    const QString &kind, const QString &path, const QString &sha256, const QList<HistoryFile> &rows)
{
    return kind == QLatin1String("pdf") ? compareFile(path, sha256) : compareFolder(path, rows);
}

bool InstalledCheck::isIgnored(const QString &path)
{
    const QString name = path.section(QLatin1Char('/'), -1);
    return name.compare(QLatin1String("Thumbs.db"), Qt::CaseInsensitive) == 0
        || name.compare(QLatin1String("desktop.ini"), Qt::CaseInsensitive) == 0;
}

QString InstalledCheck::resultName(Result result)
{
    return QString::fromLatin1(QMetaEnum::fromType<Result>().valueToKey(int(result)));
}

InstalledCheck::Differences InstalledCheck::compareFile(const QString &path, const QString &sha256)
{
    Differences differences;
    HistoryFile file { QFileInfo(path).fileName(), 0, QString() };
    if (!QFileInfo(path).isFile()) {
        differences.missing << file.path;
    } else {
        file.sha256 = FileDigest::sha256(path, &file.size);
        if (file.sha256.compare(sha256, Qt::CaseInsensitive) == 0)
            return differences;
        differences.changed << file.path;
    }
    differences.found << file;
    return differences;
}

// Every file is hashed, a differing one too: the record of the check keeps what is there now.
InstalledCheck::Differences InstalledCheck::compareFolder(
    const QString &folder, const QList<HistoryFile> &rows)
{
    QHash<QString, HistoryFile> recorded;
    for (const HistoryFile &row : rows) {
        if (!isIgnored(row.path))
            recorded.insert(row.path, row);
    }
    Differences differences;
    const QDir root(QFileInfo(folder).absoluteFilePath());
    QDirIterator it(root.path(), QDir::Files | QDir::Hidden | QDir::System, QDirIterator::Subdirectories);
    while (it.hasNext()) {
        HistoryFile file;
        const QString onDisk = it.next();
        file.path = root.relativeFilePath(onDisk);
        if (isIgnored(file.path))
            continue;
        const auto row = recorded.constFind(file.path);
        const bool known = row != recorded.constEnd();
        file.sha256 = FileDigest::sha256(onDisk, &file.size);
        if (known && row->size == file.size && row->sha256.compare(file.sha256, Qt::CaseInsensitive) == 0) {
            recorded.remove(file.path);
            continue;
        }
        (known ? differences.changed : differences.added) << file.path;
        if (known)
            recorded.remove(file.path);
        differences.found << file;
    }
    for (const HistoryFile &row : qAsConst(recorded)) {
        differences.missing << row.path;
        differences.found << HistoryFile { row.path, 0, QString() };
    }
    for (QStringList *names : { &differences.changed, &differences.missing, &differences.added })
        names->sort();
    std::sort(differences.found.begin(), differences.found.end(),
        [](const HistoryFile &a, const HistoryFile &b) { return a.path < b.path; });
    return differences;
}
