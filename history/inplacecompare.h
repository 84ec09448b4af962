#ifndef INPLACECOMPARE_H
#define INPLACECOMPARE_H

#include "history/historyentry.h"
#include "history/nccompare.h"

#include <QString>

// Compares the NC program a row put in place, as it was fetched, with its folder on disk now:
// the files changed, removed or added since are found from the digests the row recorded, and
// a changed file is compared line by line with its original, read from the task's archive
// beside the folder ("nc/<task>.zip") where that archive's SHA-256 is the row's, or else from
// a kept version of the task whose files have the recorded digests. Where neither holds the
// originals, the files are named without their lines (Result::originalsMissing). Reading the
// files takes a while: callers with a window run it off the GUI thread.
class InPlaceCompare
{
public:
    InPlaceCompare(const QString &historyFolder, bool integerIsUnit = false);

    NcCompare::Result compare(const HistoryEntry &entry) const;

private:
    bool originalsFromArchive(
        const HistoryEntry &entry, const QList<HistoryFile> &wanted, const QString &into) const;
    QString keptOriginals(const HistoryEntry &entry, const QList<HistoryFile> &wanted) const;
    static bool holds(const QString &folder, const QList<HistoryFile> &wanted);

    QString m_folder;
    bool m_integerIsUnit;
};

#endif // INPLACECOMPARE_H
