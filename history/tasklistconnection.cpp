#include "history/tasklistconnection.h"

#include "history/historyconnection.h"

#include <QDateTime>
#include <QDebug>
#include <QDir>
#include <QFile>
#include <QSqlError>
#include <QSqlQuery>
#include <QStringList>
#include <QThread>

namespace {

// Each step brings the schema from the version before it to its own; a released step never
// changes.
const QList<QStringList> &schemaSteps()
{
    static const QList<QStringList> steps {
        {
            QStringLiteral("CREATE TABLE task_list ("
                           " user_id TEXT NOT NULL,"
                           " day TEXT NOT NULL,"
                           " received_at TEXT NOT NULL,"
                           " task_count INTEGER NOT NULL,"
                           " tasks TEXT NOT NULL,"
                           " PRIMARY KEY (user_id, day))"),
        },
    };
    return steps;
}

QString connectionName()
{
    return QStringLiteral("quillet-tasklists-%1").arg(quintptr(QThread::currentThreadId()), 0, 16);
}

} // namespace

TaskListConnection::TaskListConnection(const QString &folder)
    : m_folder(folder)
    , m_name(connectionName())
{
    open();
}

TaskListConnection::~TaskListConnection()
{
    close();
}

bool TaskListConnection::isOpen() const
{
    return m_open;
}

QString TaskListConnection::errorString() const
{
    return m_error;
}

QSqlDatabase TaskListConnection::database() const
{
    return QSqlDatabase::database(m_name, false);
}

QString TaskListConnection::fileName(const QString &folder)
{
    return folder + QStringLiteral("/tasklists.sqlite");
}

int TaskListConnection::schemaVersion()
{
    return schemaSteps().size();
}

QString TaskListConnection::setAside(const QString &folder)
{
    const QString file = fileName(folder);
    const QString aside = file + QStringLiteral(".damaged-")
        + QDateTime::currentDateTime().toString(QStringLiteral("yyyyMMdd-hhmmss"));
    if (!QFile::rename(file, aside)) {
        qDebug() << "task lists: cannot set the damaged" << file << "aside";
        return QString();
    }
    for (const QString &suffix :
        { QStringLiteral("-wal"), QStringLiteral("-shm"), QStringLiteral("-journal") }) {
        if (QFile::exists(file + suffix))
            QFile::rename(file + suffix, aside + suffix);
    }
    qDebug() << "task lists: the damaged" << file << "was set aside as" << aside;
    return aside;
}

bool TaskListConnection::open()
{
    for (int attempt = 0; attempt < 2; ++attempt) {
        m_error.clear();
        m_damaged = false;
        if (prepareFile())
            return m_open = true;
        close();
        if (!m_damaged || setAside(m_folder).isEmpty())
            break;
    }
    qDebug().noquote() << "task lists: unavailable:" << m_error;
    return false;
}

bool TaskListConnection::prepareFile()
{
    if (!QDir().mkpath(m_folder)) {
        m_error = QStringLiteral("cannot create the folder %1").arg(m_folder);
        return false;
    }
    QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), m_name);
    db.setDatabaseName(fileName(m_folder));
    db.setConnectOptions(QStringLiteral("QSQLITE_BUSY_TIMEOUT=5000"));
    if (!db.open())
        return fail(QStringLiteral("cannot open"), db.lastError());
    return upgradeSchema();
}

bool TaskListConnection::upgradeSchema()
{
    QSqlDatabase db = database();
    QSqlQuery query(db);
    if (!query.exec(QStringLiteral("PRAGMA user_version")) || !query.next())
        return fail(QStringLiteral("cannot read the schema version"), query.lastError());
    const int version = query.value(0).toInt();
    for (int step = version; step < schemaVersion(); ++step) {
        if (!db.transaction())
            return fail(QStringLiteral("cannot upgrade the schema"), db.lastError());
        bool done = true;
        for (const QString &statement : schemaSteps().at(step))
            done = done && query.exec(statement);
        // PRAGMA takes no bound values; the number is ours.
        done = done && query.exec(QStringLiteral("PRAGMA user_version = %1").arg(step + 1)) && db.commit();
        if (!done) {
            const QSqlError error = query.lastError().isValid() ? query.lastError() : db.lastError();
            db.rollback();
            return fail(QStringLiteral("cannot upgrade the schema to version %1").arg(step + 1), error);
        }
    }
    return true;
}

bool TaskListConnection::fail(const QString &what, const QSqlError &error)
{
    m_error = QStringLiteral("%1 %2: %3").arg(what, fileName(m_folder), error.text());
    m_damaged = HistoryConnection::isCorruption(error);
    return false;
}

void TaskListConnection::close()
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
