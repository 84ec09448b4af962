#ifndef FILECLAIM_H
#define FILECLAIM_H

#include <QString>
#include <QStringList>

// A claim on the files and folders a fetch or a restore is about to write, held for as long
// as the object lives. Fetches and restores run beside the windows, so a second request for
// the same file can arrive before the first has finished; it finds the file claimed and
// must be refused. Paths are compared in their absolute, clean form and ignoring case, since
// on Windows "A1" and "a1" are one folder; empty ones are left out. Safe on any thread.
class FileClaim
{
public:
    explicit FileClaim(const QStringList &paths);
    ~FileClaim();
    FileClaim(const FileClaim &) = delete;
    FileClaim &operator=(const FileClaim &) = delete;

    // False when one of the paths was claimed already; then none is claimed by this object.
    bool claimed() const;
    // The path found claimed already, in its clean form and as its claim spells it; empty
    // when the claim was had.
    QString conflict() const;
    // The conflict is a path spelt otherwise than the one asked for, equal only ignoring case.
    bool conflictDiffersInCase() const;

private:
    QStringList m_keys;
    bool m_differsInCase = false;
    QString m_conflict;
};

#endif // FILECLAIM_H
