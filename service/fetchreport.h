#ifndef FETCHREPORT_H
#define FETCHREPORT_H

#include "rest/krestservice.h"
#include "service/archiveunpacker.h"

#include <QByteArray>
#include <QString>
#include <QStringList>

// How one fetch of a task file ended, filled in once as it runs: whether there was anything
// to fetch, how the transfer went, what was written, how the unpacking went and what was
// kept. The log line, the status line and the history row are all worded from it, so they
// name the same steps.
class FetchReport
{
    Q_GADGET

public:
    // How the fetch ended before any unpacking.
    enum class Fetch
    {
        Fetched,
        NothingToFetch, // no address: the local file was only unpacked
        InUse, // another fetch is writing the same file or folder
        NotWebAddress, // the address is not an http or https address
        DownloadFailed, // the transfer failed; the old file is kept
        CaseClash // another task's files differ from this one's only in case (clashingTask): on
                  // Windows they would be the same files
    };
    Q_ENUM(Fetch)

    // A label PDF is in place once saved, an NC program once unpacked.
    bool pdf = false;
    Fetch fetch = Fetch::NothingToFetch;
    // Whether a transfer ran; download says how it ended.
    bool downloadRan = false;
    KRESTService::DownloadResult download = KRESTService::DownloadResult::Saved;
    // NotAnArchive when no unpacking ran.
    ArchiveUnpacker::Result unpack = ArchiveUnpacker::Result::NotAnArchive;
    // The entry names an UnreadableName or DuplicateName unpacking refused.
    QString unpackConflict;
    // The file or archive fetched has the SHA-256 of the version in place, so nothing was
    // replaced, unpacked or kept: a label PDF's download ended Unchanged, an NC program's
    // archive was not unpacked.
    bool identical = false;
    // The task a CaseClash refusal met, as its files spell it.
    QString clashingTask;
    // Why the server's certificate was refused, in Qt's words.
    QString certificateProblem;
    // The size and SHA-256 of the file saved, computed while writing; 0 and empty otherwise.
    qint64 bytes = 0;
    QByteArray sha256;
    // Where the version this fetch replaced was kept, relative to the history folder; empty
    // when none was kept.
    QString keptPath;
    qint64 durationMs = 0;

    // What the fetch call returns: false when it failed or was refused.
    bool succeeded() const;
    // The file is in place, as the history counts it.
    bool inPlace() const;
    // An NC fetch left the folder's old program: the unpacking failed, unless there was
    // neither a download nor an archive to unpack.
    bool ncNotUpdated() const;

    // The steps by their names, in the order they happened.
    QStringList steps() const;
    // "Fetched Saved Unpacked, 1024 bytes, SHA-256 <hex>, 12 ms", for the log.
    QString logText() const;
    // "Fetched / Saved / Unpacked", for the history row; "Identical" for an identical fetch.
    QString historyOutcome() const;

private:
    bool unpackTellsSomething() const;
};

Q_DECLARE_METATYPE(FetchReport)

#endif // FETCHREPORT_H
