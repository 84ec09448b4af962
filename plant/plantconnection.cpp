#include "plant/plantconnection.h"

#include "plant/plantschema.h"

#include <QAtomicInteger>
#include <QMetaEnum>
#include <QThread>

namespace {

QString connectionName(const QString &purpose)
{
    static QAtomicInteger<quint64> made;
    return QStringLiteral("quillet-plant-%1-%2-%3")
        .arg(purpose)
        .arg(quintptr(QThread::currentThreadId()), 0, 16)
        .arg(++made);
}

bool mentions(const QString &text, std::initializer_list<const char *> words)
{
    for (const char *word : words) {
        if (text.contains(QLatin1String(word), Qt::CaseInsensitive))
            return true;
    }
    return false;
}

} // namespace

PlantConnection::PlantConnection(const PlantConfig &config, const QString &purpose)
    : m_config(config)
    , m_name(connectionName(purpose))
{ }

PlantConnection::~PlantConnection()
{
    if (!QSqlDatabase::contains(m_name))
        return;
    {
        QSqlDatabase db = QSqlDatabase::database(m_name, false);
        db.close();
    }
    QSqlDatabase::removeDatabase(m_name);
}

PlantConnection::Result PlantConnection::open()
{
    if (!m_config.isValid())
        return fail(Result::Failed, m_config.problem());
    QSqlDatabase db = QSqlDatabase::contains(m_name)
        ? QSqlDatabase::database(m_name, false)
        : QSqlDatabase::addDatabase(QStringLiteral("QPSQL"), m_name);
    if (!db.isValid())
        return fail(Result::NoDriver, QStringLiteral("Qt's PostgreSQL driver is not installed"));
    m_config.apply(db);
    if (!db.open())
        return fail(classify(db.lastError()), db.lastError().text());
    return Result::Connected;
}

PlantConnection::Result PlantConnection::openForWriting()
{
    const Result opened = open();
    if (opened != Result::Connected)
        return opened;
    int version = 0;
    QSqlError error;
    if (!PlantSchema::readVersion(database(), version, error))
        return fail(classify(error), error.text());
    if (version > PlantSchema::version())
        return fail(Result::NewerSchema,
            QStringLiteral("the plant store's schema version %1 is newer than this client's %2")
                .arg(version)
                .arg(PlantSchema::version()));
    if (version < PlantSchema::version())
        return fail(Result::NotPrepared,
            QStringLiteral("the plant store has schema version %1, this client writes %2: run quillet "
                           "--plant-setup")
                .arg(version)
                .arg(PlantSchema::version()));
    return Result::Connected;
}

QSqlDatabase PlantConnection::database() const
{
    return QSqlDatabase::database(m_name, false);
}

QString PlantConnection::errorString() const
{
    return m_error;
}

// SQLSTATE first where the driver has one; a failed connection has only libpq's words.
PlantConnection::Result PlantConnection::classify(const QSqlError &error)
{
    const QString state = error.nativeErrorCode();
    const QString text = error.text();
    if (state == QLatin1String("53300")
        || mentions(text, { "too many clients", "remaining connection slots", "too many connections" }))
        return Result::ServerFull;
    if (state == QLatin1String("28P01")
        || mentions(text, { "password authentication failed", "no password supplied", "fe_sendauth" }))
        return Result::WrongPassword;
    if (state == QLatin1String("42501") || mentions(text, { "permission denied" }))
        return Result::MissingGrant;
    if (state == QLatin1String("28000") || state == QLatin1String("3D000")
        || mentions(text, { "does not exist", "no pg_hba.conf entry", "not permitted to log in" }))
        return Result::MissingRole;
    if (mentions(text, { "certificate", "ssl", "tls" }))
        return Result::CertificateRefused;
    if (mentions(text,
            { "could not connect", "connection refused", "timeout expired", "could not translate",
                "server closed the connection", "no connection to the server", "connection to server",
                "terminating connection" }))
        return Result::Unreachable;
    return Result::Failed;
}

QString PlantConnection::resultName(Result result)
{
    return QString::fromLatin1(QMetaEnum::fromType<Result>().valueToKey(int(result)));
}

PlantConnection::Result PlantConnection::fail(Result result, const QString &why)
{
    m_error = why.trimmed();
    return result;
}
