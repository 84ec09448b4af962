// Feeds arbitrary credential files to RememberPwd::loadPwd. The first input byte picks the
// form: the raw bytes as the file, the bytes encrypted under the credential key (so that the
// JSON reader sees fuzzed text), or a user name and password stored with savePwd that must
// come back unchanged.

#include "credentials/aescipher.h"
#include "credentials/rememberpwd.h"
#include "tests/fuzz/fuzzcheck.h"

#include <QCoreApplication>
#include <QFile>
#include <QVariantMap>

#include <cstddef>
#include <cstdint>

namespace {

// Made once and kept until the process ends; Qt tears its own state down after main returns.
QCoreApplication *application = nullptr;

QString credentialFile()
{
    return QCoreApplication::applicationDirPath() + QStringLiteral("/logMsg.ini");
}

void writeRaw(const QByteArray &bytes)
{
    QFile file(credentialFile());
    FUZZ_CHECK(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
    FUZZ_CHECK(file.write(bytes) == bytes.size());
}

bool isStringMember(const QVariantMap &map, const QString &key)
{
    return map.contains(key) && map.value(key).userType() == QMetaType::QString;
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int *argc, char ***argv)
{
    application = new QCoreApplication(*argc, *argv);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (size == 0)
        return 0;
    const int mode = data[0] % 3;
    const QByteArray bytes(reinterpret_cast<const char *>(data + 1), int(size - 1));
    RememberPwd store;

    QString userName;
    QString password;
    if (mode == 0) {
        writeRaw(bytes);
    } else if (mode == 1) {
        writeRaw(encryptBytes(bytes, QByteArrayLiteral("PLNX20150923RKTW")));
    } else {
        // Latin-1 text without a zero character: the file text ends at the first zero,
        // and only Latin-1 characters are promised to come back unchanged.
        const QString text = QString::fromLatin1(bytes).remove(QChar(0));
        const int split = text.isEmpty() ? 0 : int(uchar(bytes.at(0))) % (text.size() + 1);
        userName = text.left(split);
        password = text.mid(split);
        store.savePwd(userName, password);
    }

    const QVariantMap loaded = store.loadPwd();
    FUZZ_CHECK(loaded.size() == 2);
    FUZZ_CHECK(isStringMember(loaded, QStringLiteral("username")));
    FUZZ_CHECK(isStringMember(loaded, QStringLiteral("password")));
    if (mode == 2) {
        FUZZ_CHECK(loaded.value(QStringLiteral("username")).toString() == userName);
        FUZZ_CHECK(loaded.value(QStringLiteral("password")).toString() == password);
    }
    return 0;
}
