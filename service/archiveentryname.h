#ifndef ARCHIVEENTRYNAME_H
#define ARCHIVEENTRYNAME_H

#include <QByteArray>
#include <QString>

// Decodes the name of a zip entry by one rule, the same on every system, so that an
// archive unpacks under the same names on the Linux build and on a Chinese Windows PC:
// the UTF-8 flag (bit 11) means UTF-8; else an Info-ZIP Unicode Path extra field (0x7075,
// version 1) whose CRC-32 matches the stored name gives the name; else the stored bytes
// as UTF-8 when they are valid UTF-8; else GB18030, which is what Chinese Windows tools
// write. The system's own code page is never consulted.
class ArchiveEntryName
{
public:
    static constexpr quint16 utf8Flag = 0x0800;
    static constexpr quint16 unicodePathField = 0x7075;

    // rawName is the name as stored in the central directory, extra that entry's extra field.
    static QString decode(quint16 flags, const QByteArray &rawName, const QByteArray &extra);
    // False for a name holding the replacement character or control characters: what no
    // rule could read.
    static bool isReadable(const QString &name);
    // The form in which two names that would be one file on some system are equal:
    // Windows ignores case, macOS composes accents.
    static QString sameFileKey(const QString &name);

private:
    static QString unicodePath(const QByteArray &rawName, const QByteArray &extra);
    static bool isValidUtf8(const QByteArray &bytes, QString &decoded);
};

#endif // ARCHIVEENTRYNAME_H
