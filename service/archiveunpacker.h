#ifndef ARCHIVEUNPACKER_H
#define ARCHIVEUNPACKER_H

#include <QList>
#include <QObject>
#include <QPair>
#include <QString>

class QuaZip;

// Unpacks a zip archive into a folder as one step: the entries are extracted into a
// staging folder beside it, which then takes the folder's place. Afterwards the folder
// holds exactly the archive's entries, or, when anything went wrong, it is left exactly
// as it was. An archive with any entry that could land outside the folder, with more
// entries than maxEntries(), or whose entries would not fit on the disk with its reserve
// is not unpacked at all; every file extracted must have the size its entry announces.
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
        TooLarge // the entries would not fit on the volume with the reserve, or there are too many
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
    // Name and uncompressed size of each file entry (folders excluded).
    using EntrySizes = QList<QPair<QString, qint64>>;

    Result unpackHere(const QString &archivePath, const QString &folder);
    Result checkEntries(
        QuaZip &zip, const QString &archive, const QString &target, int &entryCount, EntrySizes &sizes) const;
    static bool sizesMatch(const QString &staging, const EntrySizes &sizes);
    static QString makeStagingFolder(const QString &target);
    Result swapIn(const QString &staging, const QString &target);
    static bool removeEntry(const QString &path);

    void putAside(const QString &aside);

    int m_maxEntries = defaultMaxEntries;
    int m_fileCount = 0;
    qint64 m_byteCount = 0;
    QString m_keepReplacedAt;
    bool m_keptReplaced = false;
};

#endif // ARCHIVEUNPACKER_H
