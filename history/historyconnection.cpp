#include "history/historyconnection.h"

#include "history/historychain.h"
#include "history/historylog.h"

#include <QFileInfo>
#include <QSqlQuery>
#include <QStringList>
#include <QThread>
#include <QUuid>

namespace {

// Each step brings the schema from the version before it to its own; a step, once
// released, never changes: a new version adds a step.
const QList<QStringList> &schemaSteps()
{
    static const QList<QStringList> steps {
        {
            QStringLiteral("CREATE TABLE fetch ("
                           " id INTEGER PRIMARY KEY,"
                           " time TEXT NOT NULL,"
                           " action TEXT NOT NULL,"
                           " user_id TEXT, device TEXT, task TEXT, kind TEXT,"
                           " source TEXT, target TEXT,"
                           " bytes INTEGER, sha256 TEXT,"
                           " outcome TEXT, ok INTEGER,"
                           " duration_ms INTEGER,"
                           " kept_path TEXT)"),
            QStringLiteral("CREATE INDEX fetch_task ON fetch(task, id)"),
            QStringLiteral("CREATE INDEX fetch_time ON fetch(time)"),
            QStringLiteral("CREATE TABLE fetch_file ("
                           " fetch_id INTEGER NOT NULL REFERENCES fetch(id),"
                           " path TEXT NOT NULL, size INTEGER, sha256 TEXT)"),
            QStringLiteral("CREATE INDEX fetch_file_fetch ON fetch_file(fetch_id)"),
        },
        // Times in UTC with their offset, so that neither a clock set back nor a change of
        // time zone reorders them; each row keeps the local text it was written with. A
        // completion row names its start row.
        {
            QStringLiteral("ALTER TABLE fetch ADD COLUMN original_time TEXT"),
            QStringLiteral("ALTER TABLE fetch ADD COLUMN start_id INTEGER"),
            QStringLiteral("UPDATE fetch SET original_time = time,"
                           " time = COALESCE(strftime('%Y-%m-%dT%H:%M:%fZ', time, 'utc'), time)"),
            QStringLiteral("CREATE INDEX fetch_start ON fetch(start_id)"),
        },
        // Each row carries its link in the hash chain (HistoryChain); finishStep chains the
        // rows already there.
        {
            QStringLiteral("ALTER TABLE fetch ADD COLUMN chain TEXT"),
        },
        // The store's own id, made with it (finishStep), so that the plant history tells its
        // rows apart from those of a store begun anew, restored or copied; forwarded_id is
        // the newest row the plant store confirmed.
        {
            QStringLiteral("CREATE TABLE store (id TEXT NOT NULL, forwarded_id INTEGER NOT NULL DEFAULT 0)"),
        },
    };
    return steps;
}

} // namespace

HistoryConnection::HistoryConnection(const QString &folder, const QString &purpose, Access access)
    : SqliteConnection(fileName(folder), QStringLiteral("history"), QStringLiteral("history-") + purpose)
    , m_folder(folder)
{
    if (access == Access::ReadOnly)
        openReadOnly();
    else
        openReadWrite();
}

HistoryConnection::~HistoryConnection() = default;

QString HistoryConnection::fileName(const QString &folder)
{
    return folder + QStringLiteral("/history.sqlite");
}

int HistoryConnection::schemaVersion()
{
    return ::schemaSteps().size();
}

const QList<QStringList> &HistoryConnection::schemaSteps() const
{
    return ::schemaSteps();
}

bool HistoryConnection::isCorruption(const QSqlError &error)
{
    return SqliteConnection::isCorruption(error);
}

QString HistoryConnection::setAside(const QString &folder)
{
    return SqliteConnection::setAside(fileName(folder), QStringLiteral("history"));
}

// The part of a step that SQL alone cannot do.
bool HistoryConnection::finishStep(int version, QSqlError &error)
{
    if (version == 3)
        return HistoryChain::chainExisting(database(), error);
    if (version == 4) {
        QSqlQuery query(database());
        query.prepare(QStringLiteral("INSERT INTO store (id) VALUES (?)"));
        query.addBindValue(QUuid::createUuid().toString(QUuid::WithoutBraces));
        if (!query.exec()) {
            error = query.lastError();
            return false;
        }
    }
    return true;
}

QString HistoryConnection::copyBeforeUpgradeName(const QString &folder, int version)
{
    return fileName(folder) + QStringLiteral(".before-v%1").arg(version);
}

// VACUUM INTO copies what the log holds as well, in one consistent snapshot. A copy left by
// an upgrade that failed after making it is the file as it was then, and is kept.
bool HistoryConnection::beforeStep(int version)
{
    const QString copy = copyBeforeUpgradeName(m_folder, version);
    if (QFileInfo::exists(copy))
        return true;
    QSqlQuery query(database());
    query.prepare(QStringLiteral("VACUUM INTO ?"));
    query.addBindValue(copy);
    if (!query.exec())
        return fail(QStringLiteral("cannot copy the history before upgrading it to version %1").arg(version),
            query.lastError());
    qCInfo(historyLog).noquote() << "history: copied" << fileName(m_folder) << "to" << copy
                                 << "before upgrading it";
    return true;
}
