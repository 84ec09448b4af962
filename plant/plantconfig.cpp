#include "plant/plantconfig.h"

#include "core/inifile.h"

#include <QDir>
#include <QFileInfo>
#include <QRegularExpression>
#include <QSettings>
#include <QSqlDatabase>

namespace {

// Files libpq reads; a relative name would otherwise depend on the folder the program was
// started from.
const QStringList fileKeys { QStringLiteral("sslrootcert"), QStringLiteral("sslcert"),
    QStringLiteral("sslkey"), QStringLiteral("sslcrl") };

const QList<QPair<QString, QString>> &addedWhenAbsent()
{
    static const QList<QPair<QString, QString>> added {
        { QStringLiteral("sslmode"), QStringLiteral("verify-full") },
        { QStringLiteral("connect_timeout"), QString::number(PlantConfig::connectTimeoutSeconds) },
        { QStringLiteral("keepalives"), QStringLiteral("1") },
        { QStringLiteral("keepalives_idle"), QStringLiteral("30") },
        { QStringLiteral("keepalives_interval"), QStringLiteral("10") },
        { QStringLiteral("keepalives_count"), QStringLiteral("3") },
    };
    return added;
}

// libpq reads a backslash as an escape inside a quoted value.
QString quoted(const QString &value)
{
    QString escaped = value;
    escaped.replace(QLatin1Char('\\'), QStringLiteral("\\\\"))
        .replace(QLatin1Char('\''), QStringLiteral("\\'"));
    return QLatin1Char('\'') + escaped + QLatin1Char('\'');
}

bool isSpace(QChar c)
{
    return c.isSpace();
}

} // namespace

PlantConfig PlantConfig::configured(const QString &programFolder)
{
    const QString path = QDir(programFolder).filePath(QStringLiteral("quillet.ini"));
    if (!QFileInfo::exists(path))
        return PlantConfig();
    QSettings file(path, QSettings::IniFormat);
    file.setIniCodec("UTF-8");
    // A value with a comma reads back as a list; it is one string all the same.
    const QVariant value = file.value(QLatin1String(IniFile::plantHistoryKey));
    const QString text = value.type() == QVariant::StringList ? value.toStringList().join(QLatin1Char(','))
                                                              : value.toString();
    return parse(text, programFolder);
}

PlantConfig PlantConfig::parse(const QString &conninfo, const QString &programFolder)
{
    PlantConfig config;
    const QString text = conninfo.trimmed();
    if (text.isEmpty())
        return config;
    config.m_empty = false;
    if (config.read(text))
        config.complete(programFolder);
    return config;
}

bool PlantConfig::isEmpty() const
{
    return m_empty;
}

bool PlantConfig::isValid() const
{
    return !m_empty && m_problem.isEmpty();
}

QString PlantConfig::problem() const
{
    return m_problem;
}

QStringList PlantConfig::warnings() const
{
    return m_warnings;
}

QString PlantConfig::value(const QString &key) const
{
    QString found;
    for (const auto &pair : m_values) {
        if (pair.first == key)
            found = pair.second;
    }
    return found;
}

QString PlantConfig::description() const
{
    QStringList parts;
    for (const QString &key : { QStringLiteral("host"), QStringLiteral("port"), QStringLiteral("dbname"),
             QStringLiteral("user") }) {
        if (!value(key).isEmpty())
            parts << key + QLatin1Char('=') + value(key);
    }
    return parts.join(QLatin1Char(' '));
}

QString PlantConfig::conninfo() const
{
    QStringList parts;
    for (const auto &pair : m_values)
        parts << pair.first + QLatin1Char('=') + quoted(pair.second);
    return parts.join(QLatin1Char(' '));
}

// Qt's driver joins its connect options with spaces after its own fields; every value goes
// there, so that each keeps the quoting libpq needs.
void PlantConfig::apply(QSqlDatabase &db) const
{
    QStringList options;
    for (const auto &pair : m_values)
        options << pair.first + QLatin1Char('=') + quoted(pair.second);
    db.setConnectOptions(options.join(QLatin1Char(';')));
}

// libpq's keyword form: key = value pairs apart by spaces, a value quoted in '...' where it
// holds spaces, a backslash escaping the next character.
bool PlantConfig::read(const QString &text)
{
    if (text.contains(QRegularExpression(QStringLiteral("^[A-Za-z][A-Za-z0-9+.-]*://"))))
        return refuse(QStringLiteral("it is a URI; write it as keywords (host=... dbname=... user=...)"));
    int i = 0;
    const int size = text.size();
    while (i < size) {
        while (i < size && isSpace(text.at(i)))
            ++i;
        if (i == size)
            break;
        const int keyStart = i;
        while (i < size && text.at(i) != QLatin1Char('=') && !isSpace(text.at(i)))
            ++i;
        const QString key = text.mid(keyStart, i - keyStart);
        while (i < size && isSpace(text.at(i)))
            ++i;
        if (i == size || text.at(i) != QLatin1Char('=') || key.isEmpty())
            return refuse(QStringLiteral("\"%1\" has no value (key=value)").arg(key));
        if (!QRegularExpression(QStringLiteral("^[a-z_]+$")).match(key).hasMatch())
            return refuse(QStringLiteral("\"%1\" is no connection keyword").arg(key));
        ++i;
        while (i < size && isSpace(text.at(i)))
            ++i;
        QString value;
        const bool inQuotes = i < size && text.at(i) == QLatin1Char('\'');
        if (inQuotes)
            ++i;
        bool closed = !inQuotes;
        while (i < size) {
            const QChar c = text.at(i);
            if (inQuotes && c == QLatin1Char('\'')) {
                closed = true;
                ++i;
                break;
            }
            if (!inQuotes && isSpace(c))
                break;
            if (c == QLatin1Char('\\') && i + 1 < size)
                ++i;
            value += text.at(i++);
        }
        if (!closed)
            return refuse(QStringLiteral("the value of %1 has no closing quote").arg(key));
        if (key == QLatin1String("password"))
            return refuse(
                QStringLiteral("it holds a password; put it in the pgpass file of the account instead"));
        // Qt's driver splits its options at semicolons.
        if (value.contains(QLatin1Char(';')))
            return refuse(QStringLiteral("the value of %1 holds a semicolon").arg(key));
        m_values << qMakePair(key, value);
    }
    if (m_values.isEmpty())
        return refuse(QStringLiteral("it names no keyword"));
    return true;
}

void PlantConfig::complete(const QString &programFolder)
{
    for (auto &pair : m_values) {
        if (fileKeys.contains(pair.first) && pair.second != QLatin1String("system")
            && QDir::isRelativePath(QDir::fromNativeSeparators(pair.second)))
            pair.second = QDir::cleanPath(
                QDir(programFolder).absoluteFilePath(QDir::fromNativeSeparators(pair.second)));
    }
    for (const auto &added : addedWhenAbsent()) {
        if (value(added.first).isEmpty())
            m_values << added;
    }
    const QString mode = value(QStringLiteral("sslmode"));
    if (mode != QLatin1String("verify-full"))
        m_warnings << QStringLiteral(
            "sslmode=%1 is weaker than verify-full: the server's certificate or name "
            "goes unchecked")
                          .arg(mode);
}

bool PlantConfig::refuse(const QString &why)
{
    m_values.clear();
    m_problem = QStringLiteral("the connection string is refused: %1").arg(why);
    return false;
}
