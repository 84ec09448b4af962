#include "service/archiveentryname.h"

#include <QTextCodec>
#include <QtEndian>

#include <algorithm>

#include <zlib.h>

namespace {

QTextCodec *gb18030()
{
    static QTextCodec *const codec = QTextCodec::codecForName("GB18030");
    return codec;
}

} // namespace

QString ArchiveEntryName::decode(quint16 flags, const QByteArray &rawName, const QByteArray &extra)
{
    QString name;
    if (flags & utf8Flag)
        return QString::fromUtf8(rawName);
    name = unicodePath(rawName, extra);
    if (!name.isEmpty())
        return name;
    if (isValidUtf8(rawName, name))
        return name;
    // Without the codec nothing else can be read, and the name shows as unreadable.
    if (!gb18030())
        return QString(QChar::ReplacementCharacter);
    return gb18030()->toUnicode(rawName);
}

// Each field is an id, a size and the data, all little-endian; the Unicode Path's data is
// a version byte, the CRC-32 of the stored name and the name in UTF-8. A CRC that does not
// match means a tool renamed the entry after writing the field, and the field is stale.
QString ArchiveEntryName::unicodePath(const QByteArray &rawName, const QByteArray &extra)
{
    const uchar *data = reinterpret_cast<const uchar *>(extra.constData());
    int at = 0;
    while (at + 4 <= extra.size()) {
        const quint16 id = qFromLittleEndian<quint16>(data + at);
        const int size = qFromLittleEndian<quint16>(data + at + 2);
        const int start = at + 4;
        at = start + size;
        if (at > extra.size())
            break;
        if (id != unicodePathField || size < 5 || data[start] != 1)
            continue;
        const quint32 crc = qFromLittleEndian<quint32>(data + start + 1);
        const uLong rawCrc = crc32(
            crc32(0L, Z_NULL, 0), reinterpret_cast<const Bytef *>(rawName.constData()), uInt(rawName.size()));
        QString name;
        if (crc == quint32(rawCrc) && isValidUtf8(extra.mid(start + 5, size - 5), name))
            return name;
    }
    return QString();
}

bool ArchiveEntryName::isValidUtf8(const QByteArray &bytes, QString &decoded)
{
    QTextCodec::ConverterState state;
    decoded = QTextCodec::codecForName("UTF-8")->toUnicode(bytes.constData(), bytes.size(), &state);
    return state.invalidChars == 0 && state.remainingChars == 0;
}

bool ArchiveEntryName::isReadable(const QString &name)
{
    return std::none_of(name.cbegin(), name.cend(),
        [](QChar ch) { return ch == QChar::ReplacementCharacter || ch.category() == QChar::Other_Control; });
}

QString ArchiveEntryName::sameFileKey(const QString &name)
{
    return name.normalized(QString::NormalizationForm_C).toCaseFolded();
}
