#include "credentials/offlineverifier.h"

#include "credentials/credentialslog.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSettings>

#include <openssl/crypto.h>
#include <openssl/evp.h>
#include <openssl/rand.h>

#include <memory>

const char OfflineVerifier::algorithm[] = "PBKDF2-HMAC-SHA256";

namespace {

constexpr int keyBytes = 32;
// A stored count beyond this is not one we wrote and would stall the check.
constexpr int maxIterations = 10 * OfflineVerifier::iterations;
constexpr QFileDevice::Permissions ownerOnly = QFileDevice::ReadOwner | QFileDevice::WriteOwner;

// The same store as the remembered sign-in values.
std::unique_ptr<QSettings> openSettings()
{
    return std::make_unique<QSettings>(QSettings::NativeFormat, QSettings::UserScope,
        QStringLiteral("Quillet"), QStringLiteral("QuilletApp"));
}

bool isFile(const QSettings &settings)
{
#ifdef Q_OS_WIN
    return settings.format() != QSettings::NativeFormat;
#else
    Q_UNUSED(settings)
    return true;
#endif
}

// QSettings writes through QSaveFile, which keeps the permissions of the file it replaces,
// so a file made owner-only before the first write is never readable by others.
void createPrivateFile(const QSettings &settings)
{
    const QString path = settings.fileName();
    if (!isFile(settings) || QFileInfo::exists(path))
        return;
    QDir().mkpath(QFileInfo(path).absolutePath());
    QFile file(path);
    if (file.open(QIODevice::WriteOnly | QIODevice::NewOnly))
        file.setPermissions(ownerOnly);
}

void restrictFile(const QSettings &settings)
{
    QFile file(settings.fileName());
    if (isFile(settings) && file.exists() && !file.setPermissions(ownerOnly))
        qCWarning(credentialsLog) << "offline sign-in: could not restrict" << file.fileName();
}

QByteArray derive(const QString &password, const QByteArray &salt, int count)
{
    QByteArray secret = password.toUtf8();
    QByteArray key(keyBytes, '\0');
    const int done = PKCS5_PBKDF2_HMAC(secret.constData(), secret.size(),
        reinterpret_cast<const unsigned char *>(salt.constData()), salt.size(), count, EVP_sha256(),
        key.size(), reinterpret_cast<unsigned char *>(key.data()));
    OPENSSL_cleanse(secret.data(), size_t(secret.size()));
    return done == 1 ? key : QByteArray();
}

QByteArray randomSalt()
{
    QByteArray salt(OfflineVerifier::saltBytes, '\0');
    if (RAND_bytes(reinterpret_cast<unsigned char *>(salt.data()), salt.size()) != 1)
        return QByteArray();
    return salt;
}

// Kept in UTC; verifiers kept by older versions carry their UTC offset, and read back alike.
QString timeText(const QDateTime &time)
{
    return time.toUTC().toString(Qt::ISODateWithMs);
}

} // namespace

bool OfflineVerifier::remember(
    const QString &user, const QString &password, const QString &userId, const QDateTime &now)
{
    if (user.isEmpty() || !now.isValid())
        return false;
    const QByteArray salt = randomSalt();
    const QByteArray key = salt.isEmpty() ? QByteArray() : derive(password, salt, iterations);
    if (key.isEmpty()) {
        qCWarning(credentialsLog) << "offline sign-in: no verifier computed for" << user;
        return false;
    }
    const auto settings = openSettings();
    createPrivateFile(*settings);
    settings->remove(group(user));
    settings->beginGroup(group(user));
    settings->setValue(QStringLiteral("algorithm"), QString::fromLatin1(algorithm));
    settings->setValue(QStringLiteral("iterations"), iterations);
    settings->setValue(QStringLiteral("salt"), QString::fromLatin1(salt.toBase64()));
    settings->setValue(QStringLiteral("key"), QString::fromLatin1(key.toBase64()));
    settings->setValue(QStringLiteral("userId"), userId);
    settings->setValue(QStringLiteral("signedInAt"), timeText(now));
    settings->endGroup();
    settings->sync();
    restrictFile(*settings);
    return settings->status() == QSettings::NoError;
}

// A verifier that is not one remember() could have written counts as none.
OfflineVerifier::Match OfflineVerifier::check(const QString &user, const QString &password,
    const QDateTime &now, QString *userId, QDateTime *signedInAt)
{
    const auto settings = openSettings();
    if (user.isEmpty() || !settings->contains(group(user) + QStringLiteral("/key")))
        return Match::None;
    settings->beginGroup(group(user));
    const QString kind = settings->value(QStringLiteral("algorithm")).toString();
    const int count = settings->value(QStringLiteral("iterations")).toInt();
    const QByteArray salt = QByteArray::fromBase64(settings->value(QStringLiteral("salt")).toByteArray());
    const QByteArray key = QByteArray::fromBase64(settings->value(QStringLiteral("key")).toByteArray());
    const QString id = settings->value(QStringLiteral("userId")).toString();
    const QDateTime at
        = QDateTime::fromString(settings->value(QStringLiteral("signedInAt")).toString(), Qt::ISODateWithMs);
    settings->endGroup();
    const bool sound = kind == QLatin1String(algorithm) && count >= iterations && count <= maxIterations
        && salt.size() >= saltBytes && key.size() == keyBytes && at.isValid();
    if (!sound || now >= at.addDays(lapseDays)) {
        forget(user);
        return Match::None;
    }
    if (at > now) {
        forget(user);
        qCWarning(credentialsLog).noquote() << "offline sign-in:" << user << "has a verifier kept at"
                                            << at.toString(Qt::ISODate) << ", later than now; it lapses";
        return Match::ClockMismatch;
    }
    const QByteArray typed = derive(password, salt, count);
    if (typed.size() != keyBytes || CRYPTO_memcmp(typed.constData(), key.constData(), keyBytes) != 0)
        return Match::Differs;
    if (userId)
        *userId = id;
    if (signedInAt)
        *signedInAt = at.toLocalTime();
    return Match::Matches;
}

void OfflineVerifier::forget(const QString &user)
{
    // An empty name would name the group of every user's verifier.
    if (user.isEmpty())
        return;
    const auto settings = openSettings();
    settings->remove(group(user));
    settings->sync();
}

QString OfflineVerifier::group(const QString &user)
{
    return QStringLiteral("offline/") + QString::fromLatin1(user.toUtf8().toHex());
}

QString OfflineVerifier::storeName()
{
    return openSettings()->fileName();
}
