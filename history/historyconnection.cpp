#include "history/historyconnection.h"

#include "history/historychain.h"
#include "history/historylog.h"

#include <QAtomicInteger>
#include <QDateTime>
#include <QDebug>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSqlError>
#include <QSqlQuery>
#include <QStringList>
#include <QThread>

namespace {

// SQLite's result codes for a damaged file and for one that is no database at all.
constexpr int sqliteCorrupt = 11;
constexpr int sqliteNotADatabase = 26;

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
    };
    return steps;
}

// Each connection gets a name of its own: Qt SQL replaces a connection added under a name in
// use, and the older object would then remove the newer one's connection with its own.
QString connectionName(const QString &purpose)
{
    static QAtomicInteger<quint64> made;
    return QStringLiteral("quillet-history-%1-%2-%3")
        .arg(purpose)
        .arg(quintptr(QThread::currentThreadId()), 0, 16)
        .arg(++made);
}

} // namespace

HistoryConnection::HistoryConnection(const QString &folder, const QString &purpose, Access access)
    : m_folder(folder)
    , m_name(connectionName(purpose))
{
    if (access == Access::ReadOnly)
        m_open = openReadOnly();
    else
        open();
}

HistoryConnection::~HistoryConnection()
{
    close();
}

bool HistoryConnection::isOpen() const
{
    return m_open;
}

QString HistoryConnection::errorString() const
{
    return m_error;
}

QSqlDatabase HistoryConnection::database() const
{
    return QSqlDatabase::database(m_name, false);
}

QString HistoryConnection::fileName(const QString &folder)
{
    return folder + QStringLiteral("/history.sqlite");
}

int HistoryConnection::schemaVersion()
{
    return schemaSteps().size();
}

bool HistoryConnection::isCorruption(const QSqlError &error)
{
    const int code = error.nativeErrorCode().toInt() & 0xff;
    return error.type() != QSqlError::NoError && (code == sqliteCorrupt || code == sqliteNotADatabase);
}

QString HistoryConnection::setAside(const QString &folder)
{
    const QString file = fileName(folder);
    const QString aside = file + QStringLiteral(".damaged-")
        + QDateTime::currentDateTime().toString(QStringLiteral("yyyyMMdd-hhmmss"));
    if (!QFile::rename(file, aside)) {
        qCWarning(historyLog) << "history: cannot set the damaged" << file << "aside";
        return QString();
    }
    // The log belongs to the damaged file; beside a new one it would be read as its own.
    for (const QString &suffix : { QStringLiteral("-wal"), QStringLiteral("-shm") }) {
        if (QFile::exists(file + suffix))
            QFile::rename(file + suffix, aside + suffix);
    }
    qCWarning(historyLog) << "history: the damaged" << file << "was set aside as" << aside
                          << "and a new one started";
    return aside;
}

// A damaged file found on opening is set aside once and a new one opened in its place.
bool HistoryConnection::open()
{
    for (int attempt = 0; attempt < 2; ++attempt) {
        m_error.clear();
        m_lastSqlError = QSqlError();
        if (prepareFile())
            return m_open = true;
        const bool damaged = isCorruption(m_lastSqlError);
        close();
        if (!damaged || setAside(m_folder).isEmpty())
            break;
    }
    qCWarning(historyLog).noquote() << "history: unavailable:" << m_error;
    return false;
}

bool HistoryConnection::prepareFile()
{
    if (!QDir().mkpath(m_folder)) {
        m_error = QStringLiteral("cannot create the folder %1").arg(m_folder);
        return false;
    }
    QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), m_name);
    db.setDatabaseName(fileName(m_folder));
    // Another process (the export) or thread may be writing for a moment.
    db.setConnectOptions(QStringLiteral("QSQLITE_BUSY_TIMEOUT=5000"));
    if (!db.open())
        return fail(QStringLiteral("cannot open"), db.lastError());
    QSqlQuery query(db);
    // FULL makes every commit reach the disk before it returns, so a power cut right after
    // a fetch keeps its row.
    for (const QString &pragma :
        { QStringLiteral("PRAGMA journal_mode=WAL"), QStringLiteral("PRAGMA synchronous=FULL") }) {
        if (!query.exec(pragma))
            return fail(pragma, query.lastError());
    }
    return upgradeSchema();
}

// The schema version is read only to learn that the file is a database at all.
bool HistoryConnection::openReadOnly()
{
    if (!QFileInfo(fileName(m_folder)).isFile()) {
        m_error = QStringLiteral("there is no history file %1").arg(fileName(m_folder));
        return false;
    }
    QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), m_name);
    db.setDatabaseName(fileName(m_folder));
    db.setConnectOptions(QStringLiteral("QSQLITE_BUSY_TIMEOUT=5000;QSQLITE_OPEN_READONLY"));
    if (!db.open())
        return fail(QStringLiteral("cannot open"), db.lastError());
    QSqlQuery query(db);
    if (!query.exec(QStringLiteral("PRAGMA user_version")) || !query.next())
        return fail(QStringLiteral("cannot read"), query.lastError());
    return true;
}

bool HistoryConnection::upgradeSchema()
{
    QSqlDatabase db = database();
    QSqlQuery query(db);
    if (!query.exec(QStringLiteral("PRAGMA user_version")) || !query.next())
        return fail(QStringLiteral("cannot read the schema version"), query.lastError());
    const int version = query.value(0).toInt();
    // VACUUM INTO refuses to run beside a statement still open.
    query.finish();
    if (version > schemaVersion())
        qCWarning(historyLog) << "history: schema version" << version << "is newer than" << schemaVersion()
                              << "; used as it is";
    for (int step = version; step < schemaVersion(); ++step) {
        if (version > 0 && !copyBeforeUpgrade(step + 1))
            return false;
        // IMMEDIATE takes the write lock at once: another process upgrading the same file waits
        // for this step instead of failing halfway through its own.
        if (!query.exec(QStringLiteral("BEGIN IMMEDIATE")))
            return fail(QStringLiteral("cannot upgrade the schema"), query.lastError());
        for (const QString &statement : schemaSteps().at(step)) {
            if (!query.exec(statement)) {
                const QSqlError error = query.lastError();
                db.rollback();
                return fail(QStringLiteral("cannot upgrade the schema to version %1").arg(step + 1), error);
            }
        }
        QSqlError stepError;
        if (!finishStep(step + 1, stepError)) {
            db.rollback();
            return fail(QStringLiteral("cannot upgrade the schema to version %1").arg(step + 1), stepError);
        }
        // PRAGMA takes no bound values; the number is ours.
        if (!query.exec(QStringLiteral("PRAGMA user_version = %1").arg(step + 1)) || !db.commit()) {
            const QSqlError error = query.lastError().isValid() ? query.lastError() : db.lastError();
            db.rollback();
            return fail(QStringLiteral("cannot upgrade the schema to version %1").arg(step + 1), error);
        }
    }
    return true;
}

// The part of a step that SQL alone cannot do.
bool HistoryConnection::finishStep(int version, QSqlError &error)
{
    if (version == 3)
        return HistoryChain::chainExisting(database(), error);
    return true;
}

QString HistoryConnection::copyBeforeUpgradeName(const QString &folder, int version)
{
    return fileName(folder) + QStringLiteral(".before-v%1").arg(version);
}

// VACUUM INTO copies what the log holds as well, in one consistent snapshot. A copy left by
// an upgrade that failed after making it is the file as it was then, and is kept.
bool HistoryConnection::copyBeforeUpgrade(int version)
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
    qInfo().noquote() << "history: copied" << fileName(m_folder) << "to" << copy << "before upgrading it";
    return true;
}

bool HistoryConnection::fail(const QString &what, const QSqlError &error)
{
    m_error = QStringLiteral("%1 %2: %3").arg(what, fileName(m_folder), error.text());
    m_lastSqlError = error;
    return false;
}

void HistoryConnection::close()
{
    m_open = false;
    if (!QSqlDatabase::contains(m_name))
        return;
    {
        QSqlDatabase db = QSqlDatabase::database(m_name, false);
        db.close();
    }
    QSqlDatabase::removeDatabase(m_name);
}
