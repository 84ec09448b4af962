#ifndef ARCHIVEUNPACKER_H
#define ARCHIVEUNPACKER_H

#include <QFileDevice>
#include <QHash>
#include <QList>
#include <QObject>
#include <QString>

class QuaZip;

// Unpacks a zip archive into a folder as one step: the entries are extracted into a
// staging folder beside it, which then takes the folder's place. Afterwards the folder
// holds exactly the archive's entries, or, when anything went wrong, it is left exactly
// as it was. An archive with any entry that could land outside the folder, with more
// entries than maxEntries(), or whose entries would not fit on the disk with its reserve
// is not unpacked at all; every file extracted must have the size its entry announces.
// Entry names are decoded by ArchiveEntryName; an archive with a name no rule reads, or
// with two entries that would be one file on some system, is refused as well. The archive
// is read through QFile, never mapped: a mapped file that another program truncates kills
// the reader.
//
// The work runs on a pool thread while unpack() waits in a local event loop, so the
// caller's window keeps painting.
class ArchiveUnpacker
{
    Q_GADGET

public:
    enum class Result
    {
        Unpacked,
        NotAnArchive, // missing, unreadable or not a zip file: nothing was done
        NoFolder, // no folder was named
        ArchiveInsideFolder, // replacing the folder would remove the archive itself
        UnsafeEntry, // an entry could land outside the folder
        ExtractFailed, // an entry could not be extracted; the folder is untouched
        FolderKept, // the old folder could not be replaced (files in use)
        TooLarge, // the entries would not fit on the volume with the reserve, or there are too many
        UnreadableName, // an entry's name decodes to no readable text (conflictingName() is it)
        DuplicateName // two entries would be one file on some system (conflictingName() names both)
    };
    Q_ENUM(Result)

    // Far more files than any NC program has, and few enough to list and check quickly.
    static constexpr int defaultMaxEntries = 100000;

    ArchiveUnpacker() = default;
    virtual ~ArchiveUnpacker() = default;
    ArchiveUnpacker(const ArchiveUnpacker &) = delete;
    ArchiveUnpacker &operator=(const ArchiveUnpacker &) = delete;

    Result unpack(const QString &archivePath, const QString &folder);
    // The files and bytes the archive of the last unpack() holds, once its entries passed
    // their checks; 0 when it was refused before.
    int fileCount() const;
    qint64 byteCount() const;
    // The entry names behind the last UnreadableName or DuplicateName, joined by "、".
    QString conflictingName() const;

    int maxEntries() const;
    void setMaxEntries(int count);
    // Where the folder that an unpacking replaces goes once the new one is in place; empty
    // (the default) removes it.
    void setKeepReplacedAt(const QString &folder);
    // The last unpack() moved the folder it replaced there.
    bool keptReplaced() const;

    // True for a relative name made of safe file names only (SafeFileName), one that
    // stays inside the folder it is extracted to and means the same file on every platform.
    static bool isSafeEntryName(const QString &name);

protected:
    // Both run on the pool thread that does the work. Every rename of the swap goes through
    // moveEntry().
    virtual bool moveEntry(const QString &from, const QString &to);
    // The bytes that may be unpacked beside folder while the disk keeps its reserve.
    virtual qint64 spareBytes(const QString &folder) const;

private:
    // One entry as it is to be extracted, in the archive's order.
    struct Entry
    {
        QString name;
        bool folder = false;
        qint64 size = 0;
        // Only entries made on Unix carry a mode.
        bool hasMode = false;
        QFileDevice::Permissions permissions;
    };
    using Entries = QList<Entry>;

    Result unpackHere(const QString &archivePath, const QString &folder);
    Result checkEntries(QuaZip &zip, const QString &archive, const QString &target, Entries &entries);
    // Folders and files met so far, by ArchiveEntryName::sameFileKey().
    struct SeenNames
    {
        QHash<QString, QString> folders;
        QHash<QString, QString> files;
    };
    Result checkName(const QString &archive, const QString &name, bool folder, SeenNames &seen);
    Result duplicate(const QString &archive, const QString &first, const QString &second);
    static bool extractAll(QuaZip &zip, const Entries &entries, const QString &staging);
    static bool extractFile(QuaZip &zip, const Entry &entry, const QString &path);
    static bool holdsExactly(const QString &staging, const Entries &entries);
    static QString makeStagingFolder(const QString &target);
    Result swapIn(const QString &staging, const QString &target);
    static bool removeEntry(const QString &path);

    void putAside(const QString &aside);

    int m_maxEntries = defaultMaxEntries;
    int m_fileCount = 0;
    qint64 m_byteCount = 0;
    QString m_conflictingName;
    QString m_keepReplacedAt;
    bool m_keptReplaced = false;
};

#endif // ARCHIVEUNPACKER_H
