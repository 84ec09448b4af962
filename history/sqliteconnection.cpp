#include "history/sqliteconnection.h"

#include "history/historylog.h"

#include <QAtomicInteger>
#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QMutex>
#include <QSqlQuery>
#include <QThread>

namespace {

// SQLite's result codes for a damaged file and for one that is no database at all.
constexpr int sqliteCorrupt = 11;
constexpr int sqliteNotADatabase = 26;

QString connectionName(const QString &purpose)
{
    static QAtomicInteger<quint64> made;
    return QStringLiteral("quillet-%1-%2-%3")
        .arg(purpose)
        .arg(quintptr(QThread::currentThreadId()), 0, 16)
        .arg(++made);
}

} // namespace

SqliteConnection::SqliteConnection(const QString &file, const QString &what, const QString &purpose)
    : m_file(file)
    , m_what(what)
    , m_name(connectionName(purpose))
{ }

SqliteConnection::~SqliteConnection()
{
    close();
}

bool SqliteConnection::isOpen() const
{
    return m_open;
}

QString SqliteConnection::errorString() const
{
    return m_error;
}

QSqlDatabase SqliteConnection::database() const
{
    return QSqlDatabase::database(m_name, false);
}

QString SqliteConnection::fileName() const
{
    return m_file;
}

bool SqliteConnection::isCorruption(const QSqlError &error)
{
    const int code = error.nativeErrorCode().toInt() & 0xff;
    return error.type() != QSqlError::NoError && (code == sqliteCorrupt || code == sqliteNotADatabase);
}

QString SqliteConnection::setAside(const QString &file, const QString &what)
{
    const QString aside = file + QStringLiteral(".damaged-")
        + QDateTime::currentDateTime().toString(QStringLiteral("yyyyMMdd-hhmmss"));
    if (!QFile::rename(file, aside)) {
        qCWarning(historyLog).noquote()
            << what + QLatin1Char(':') << "cannot set the damaged" << file << "aside";
        return QString();
    }
    // The log belongs to the damaged file; beside a new one it would be read as its own.
    for (const QString &suffix :
        { QStringLiteral("-wal"), QStringLiteral("-shm"), QStringLiteral("-journal") }) {
        if (QFile::exists(file + suffix))
            QFile::rename(file + suffix, aside + suffix);
    }
    qCWarning(historyLog).noquote() << what + QLatin1Char(':') << "the damaged" << file << "was set aside as"
                                    << aside << "and a new one started";
    return aside;
}

bool SqliteConnection::openReadWrite()
{
    for (int attempt = 0; attempt < 2; ++attempt) {
        m_error.clear();
        m_lastSqlError = QSqlError();
        if (prepareFile())
            return m_open = true;
        const bool damaged = isCorruption(m_lastSqlError);
        close();
        if (!damaged || setAside(m_file, m_what).isEmpty())
            break;
    }
    qCWarning(historyLog).noquote() << m_what + QLatin1Char(':') << "unavailable:" << m_error;
    return false;
}

bool SqliteConnection::prepareFile()
{
    const QString folder = QFileInfo(m_file).absolutePath();
    if (!QDir().mkpath(folder)) {
        m_error = QStringLiteral("cannot create the folder %1").arg(folder);
        return false;
    }
    QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), m_name);
    db.setDatabaseName(m_file);
    // Another process (the export) or thread may be writing for a moment.
    db.setConnectOptions(QStringLiteral("QSQLITE_BUSY_TIMEOUT=5000"));
    if (!db.open())
        return fail(QStringLiteral("cannot open"), db.lastError());
    QSqlQuery query(db);
    // FULL makes every commit reach the disk before it returns, so a power cut right after
    // a write keeps it.
    const QString synchronous = QStringLiteral("PRAGMA synchronous=FULL");
    if (!query.exec(synchronous))
        return fail(synchronous, query.lastError());
    if (isSettled(query))
        return upgradeSchema();
    // A new file, or one whose schema is behind: one thread of this process at a time turns
    // WAL on and makes the schema. Turning WAL on while another connection does fails at once
    // as locked, whatever the busy timeout, and two connections would each make the schema.
    // Files already settled take no lock, so a write that waits for another never holds
    // everyone else's opening.
    static QMutex settling;
    const QMutexLocker locker(&settling);
    const QString wal = QStringLiteral("PRAGMA journal_mode=WAL");
    if (!query.exec(wal))
        return fail(wal, query.lastError());
    // Its answer, still open, would keep the upgrade from committing.
    query.finish();
    return upgradeSchema();
}

// The file logs ahead and has the newest schema (or a newer one); false as well when it
// cannot be read, which the settling then reports.
bool SqliteConnection::isSettled(QSqlQuery &query) const
{
    const bool wal = query.exec(QStringLiteral("PRAGMA journal_mode")) && query.next()
        && query.value(0).toString() == QLatin1String("wal");
    return wal && schemaVersion(query) >= schemaSteps().size();
}

// -1 when it cannot be read.
int SqliteConnection::schemaVersion(QSqlQuery &query)
{
    if (!query.exec(QStringLiteral("PRAGMA user_version")) || !query.next())
        return -1;
    const int version = query.value(0).toInt();
    // VACUUM INTO refuses to run beside a statement still open.
    query.finish();
    return version;
}

// The schema version is read only to learn that the file is a database at all.
bool SqliteConnection::openReadOnly()
{
    if (!QFileInfo(m_file).isFile()) {
        m_error = QStringLiteral("there is no file %1").arg(m_file);
        return false;
    }
    QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), m_name);
    db.setDatabaseName(m_file);
    db.setConnectOptions(QStringLiteral("QSQLITE_BUSY_TIMEOUT=5000;QSQLITE_OPEN_READONLY"));
    if (!db.open())
        return fail(QStringLiteral("cannot open"), db.lastError());
    QSqlQuery query(db);
    if (!query.exec(QStringLiteral("PRAGMA user_version")) || !query.next())
        return fail(QStringLiteral("cannot read"), query.lastError());
    return m_open = true;
}

bool SqliteConnection::upgradeSchema()
{
    QSqlDatabase db = database();
    QSqlQuery query(db);
    const int version = schemaVersion(query);
    if (version < 0)
        return fail(QStringLiteral("cannot read the schema version"), query.lastError());
    const int newest = schemaSteps().size();
    if (version > newest)
        qCWarning(historyLog).noquote() << m_what + QLatin1Char(':') << "schema version" << version
                                        << "is newer than" << newest << "; used as it is";
    for (int step = version; step < newest; ++step) {
        if (version > 0 && !beforeStep(step + 1))
            return false;
        const QString failed = QStringLiteral("cannot upgrade the schema to version %1").arg(step + 1);
        if (!query.exec(QStringLiteral("BEGIN IMMEDIATE")))
            return fail(QStringLiteral("cannot upgrade the schema"), query.lastError());
        // Another process may have made the step between the reading and the lock.
        if (schemaVersion(query) > step) {
            db.rollback();
            continue;
        }
        QSqlError error;
        bool done = true;
        for (const QString &statement : schemaSteps().at(step)) {
            if (!(done = query.exec(statement))) {
                error = query.lastError();
                break;
            }
        }
        done = done && finishStep(step + 1, error);
        // PRAGMA takes no bound values; the number is ours.
        if (done && !(done = query.exec(QStringLiteral("PRAGMA user_version = %1").arg(step + 1))))
            error = query.lastError();
        if (done && !(done = db.commit()))
            error = db.lastError();
        if (!done) {
            db.rollback();
            return fail(failed, error);
        }
    }
    return true;
}

bool SqliteConnection::beforeStep(int)
{
    return true;
}

bool SqliteConnection::finishStep(int, QSqlError &)
{
    return true;
}

bool SqliteConnection::fail(const QString &what, const QSqlError &error)
{
    m_error = QStringLiteral("%1 %2: %3").arg(what, m_file, error.text());
    m_lastSqlError = error;
    return false;
}

void SqliteConnection::close()
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
