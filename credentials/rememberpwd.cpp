#include "credentials/rememberpwd.h"

#include "credentials/aescipher.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QSaveFile>

static const char credentialKey[] = "PLNX20150923RKTW";

// The file a "file:///" address names, by the rule the transfer service follows: the drive
// letter follows the third slash on Windows, the third slash starts the path elsewhere. The
// credential store stands alone, so it does not borrow the service's helper.
static QString localPath(const QString &path)
{
    static const QLatin1String fileUrl("file:///");
    if (!path.startsWith(fileUrl))
        return path;
#ifdef Q_OS_WIN
    return path.mid(fileUrl.size());
#else
    return path.mid(fileUrl.size() - 1);
#endif
}

// Text up to the first zero byte, read as UTF-8.
static QString textUpToZero(const QByteArray &bytes)
{
    const int zero = bytes.indexOf('\0');
    return QString::fromUtf8(zero < 0 ? bytes : bytes.left(zero));
}

static QByteArray keyBytes()
{
    return QString::fromLatin1(credentialKey).toUtf8();
}

RememberPwd::RememberPwd()
    : QObject(nullptr)
    , filePath(QCoreApplication::applicationDirPath() + QStringLiteral("/logMsg.ini"))
{ }

RememberPwd::~RememberPwd() = default;

void RememberPwd::writeFile(const QString &text, const QString &path)
{
    const QString target = localPath(path);
    QString slashed = target;
    slashed.replace(QLatin1Char('\\'), QLatin1Char('/'));
    const int lastSlash = slashed.lastIndexOf(QLatin1Char('/'));
    if (lastSlash > 0)
        QDir().mkpath(slashed.left(lastSlash));

    // Written to a temporary file and renamed over the old one, so a failed write keeps it
    // whole. The flush is checked here because commit() does not notice a failing one. The
    // key is the same in every installation, so only the owner may read the file.
    QSaveFile file(target);
    if (!file.open(QIODevice::WriteOnly))
        return;
    file.setPermissions(QFileDevice::ReadOwner | QFileDevice::WriteOwner);
    const QByteArray cipherText = encryptBytes(text.toUtf8(), keyBytes());
    if (file.write(cipherText) != cipherText.size() || !file.flush()) {
        file.cancelWriting();
        return;
    }
    file.commit();
}

QString RememberPwd::readFile(const QString &path)
{
    QFile file(localPath(path));
    if (!file.open(QIODevice::ReadOnly))
        return QString();
    const QByteArray plain = decryptBytes(file.readAll(), keyBytes());
    file.close();
    return textUpToZero(plain);
}

void RememberPwd::savePwd(const QString &userName, const QString &password)
{
    QJsonObject credentials;
    credentials.insert(QStringLiteral("username"), userName);
    credentials.insert(QStringLiteral("password"), password);
    writeFile(textUpToZero(QJsonDocument(credentials).toJson()), filePath);
}

QVariantMap RememberPwd::loadPwd()
{
    QString userName = QLatin1String("");
    QString password = QLatin1String("");
    const QJsonDocument document = QJsonDocument::fromJson(readFile(filePath).toUtf8());
    if (!document.isNull() && !document.isEmpty()) {
        const QJsonObject credentials = document.object();
        userName = credentials.value(QStringLiteral("username")).toString();
        password = credentials.value(QStringLiteral("password")).toString();
    }
    QVariantMap result;
    result.insert(QStringLiteral("username"), userName);
    result.insert(QStringLiteral("password"), password);
    return result;
}
