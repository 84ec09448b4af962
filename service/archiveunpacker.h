#ifndef ARCHIVEUNPACKER_H
#define ARCHIVEUNPACKER_H

#include <QObject>
#include <QString>

class QuaZip;

// Unpacks a zip archive into a folder as one step: the entries are extracted into a
// staging folder beside it, which then takes the folder's place. Afterwards the folder
// holds exactly the archive's entries, or, when anything went wrong, it is left exactly
// as it was. An archive with any entry that could land outside the folder is not
// unpacked at all.
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
        FolderKept // the old folder could not be replaced (files in use)
    };
    Q_ENUM(Result)

    ArchiveUnpacker() = default;
    virtual ~ArchiveUnpacker() = default;
    ArchiveUnpacker(const ArchiveUnpacker &) = delete;
    ArchiveUnpacker &operator=(const ArchiveUnpacker &) = delete;

    Result unpack(const QString &archivePath, const QString &folder);

    // True for a relative name made of safe file names only (SafeFileName), one that
    // stays inside the folder it is extracted to and means the same file on every platform.
    static bool isSafeEntryName(const QString &name);

protected:
    // Every rename of the swap goes through here.
    virtual bool moveEntry(const QString &from, const QString &to);

private:
    static Result checkEntries(QuaZip &zip, const QString &archive, int &entryCount);
    Result swapIn(const QString &staging, const QString &target);
    static bool removeEntry(const QString &path);
};

#endif // ARCHIVEUNPACKER_H
