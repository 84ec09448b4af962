#ifndef STATUSTEXT_H
#define STATUSTEXT_H

#include "history/fetchhistory.h"
#include "rest/krestservice.h"
#include "service/archiveunpacker.h"
#include "service/errorinfo.h"
#include "service/fetchreport.h"

#include <QDateTime>
#include <QString>
#include <QTime>

// The texts of the task window's status line, in one place so that the window's logic
// reads without them and every wording can be checked side by side.
class StatusText
{
public:
    static QString loading(const QString &date);
    static QString loaded(const QTime &at, int taskCount);
    // nextTry, when valid, says when the window tries again on its own.
    static QString stale(
        const ErrorInfo &failure, const QTime &failingSince, const QTime &loadedAt, const QDateTime &nextTry);
    static QString dayFailed(const QString &date, const ErrorInfo &failure, const QDateTime &nextTry);
    // The reason of a failed device-service request in words.
    static QString reason(const ErrorInfo &failure);
    static QString certificateRefused(const QString &problem);
    static QString proxyNeedsSignIn();

    static QString fetching(const QString &fileName, qint64 received, qint64 total);
    static QString fetched(const QString &fileName, const QString &folder);
    static QString unpacked(const QString &folder);
    // A fetch that found the version already in place: nothing was replaced or kept.
    static QString identical(const QString &fileName);
    static QString fetchFailed(const QString &fileName, const FetchReport &report);
    // How a fetch ended; placedIn is the folder a label PDF is saved in or the one an NC
    // program is unpacked into.
    static QString fetchEnded(const QString &fileName, const QString &placedIn, const FetchReport &report);
    // Why a fetch did not even start writing; empty for a fetch that did.
    static QString fetchProblem(FetchReport::Fetch result);
    static QString restoreOutcome(FetchHistory::RestoreResult result);
    static QString ncNotUpdated(const QString &folder, const QString &why);
    static QString downloadProblem(KRESTService::DownloadResult result);
    // names: the entries behind an UnreadableName or DuplicateName refusal.
    static QString unpackProblem(ArchiveUnpacker::Result result, const QString &names = QString());
    // Added to a fetch's text when its history entry could not be written.
    static QString historyUnavailable();

    // While working offline: why, since when, which kept list the rows are (or that day has
    // none), when the sign-in is tried again.
    static QString offline(
        const QString &why, const QTime &since, const QDateTime &keptAt, const QDateTime &nextTry);
    static QString offlineNoList(
        const QString &why, const QTime &since, const QDate &day, const QDateTime &nextTry);
    // The failed sign-in's offer: the kept list offline use would show.
    static QString offlineOffer(const QDateTime &keptAt);
    // Why there is no offer: the verifier was kept at a time later than the PC's clock says now.
    static QString offlineClockMismatch();
    static QString notFetchedOffline();
    // Online, a recorded NC program whose folder is no longer there.
    static QString folderGone(const QString &task);
    // A task number that cannot name a file or folder: nothing is fetched.
    static QString unsafeTaskNumber(const QString &task);
    static QString needsService();
    static QString passwordChanged();
    static QString scanNotFound(const QString &code);
    static QString scanRefused();
    // The history window's note on the plant history: every row forwarded, or how many wait
    // since when.
    static QString plantNote(qint64 waiting, const QTime &since);

    static QString clock(const QTime &time);
    // A kept list's time: "yyyy-MM-dd hh:mm".
    static QString dayAndTime(const QDateTime &time);

private:
    static QString retry(const QDateTime &nextTry);
    static QString size(qint64 bytes);
};

#endif // STATUSTEXT_H
