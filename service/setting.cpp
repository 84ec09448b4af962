#include "service/setting.h"

#include "service/servicelog.h"
#include <QDebug>
#include <QDir>
#include <QFile>
#include <QFileInfo>

namespace {

constexpr QFileDevice::Permissions OwnerOnly = QFileDevice::ReadOwner | QFileDevice::WriteOwner;

} // namespace

Setting::Setting(QObject *parent)
    : QObject(parent)
    , m_settings(QStringLiteral("Quillet"), QStringLiteral("QuilletApp"))
{ }

QVariant Setting::value(QString key, QVariant defaultValue)
{
    return m_settings.value(key, defaultValue);
}

void Setting::setValue(QString key, QVariant value)
{
    createPrivateFile();
    m_settings.setValue(key, value);
    m_settings.sync();
    if (m_settings.status() != QSettings::NoError)
        qCWarning(serviceLog) << "Setting: could not write" << fileName();
    restrictFile();
}

QString Setting::fileName() const
{
    return m_settings.fileName();
}

// On Windows fileName() names the registry key ("\HKEY_CURRENT_USER\..."), which as a
// path would be a folder at the root of the current drive.
bool Setting::isFile() const
{
#ifdef Q_OS_WIN
    return m_settings.format() != QSettings::NativeFormat;
#else
    return true;
#endif
}

// QSettings writes through QSaveFile, which keeps the permissions of the file it replaces;
// an owner-only file made before the first write therefore never exists readable by others.
void Setting::createPrivateFile()
{
    const QString path = fileName();
    if (!isFile() || QFileInfo::exists(path))
        return;
    QDir().mkpath(QFileInfo(path).absolutePath());
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::NewOnly))
        return;
    file.setPermissions(OwnerOnly);
}

// Also tightens a file left readable by an earlier version or by hand.
void Setting::restrictFile()
{
    QFile file(fileName());
    if (isFile() && file.exists() && !file.setPermissions(OwnerOnly))
        qCWarning(serviceLog) << "Setting: could not restrict" << fileName();
}
