#ifndef FILECLAIM_H
#define FILECLAIM_H

#include <QString>
#include <QStringList>

// A claim on the files and folders a fetch or a restore is about to write, held for as long
// as the object lives. Both wait in a local event loop that still delivers clicks, so a
// second request for the same file can arrive before the first has finished; it finds the
// file claimed and must be refused. Paths are compared in their absolute, clean form; empty
// ones are left out. Used on the GUI thread only.
class FileClaim
{
public:
    explicit FileClaim(const QStringList &paths);
    ~FileClaim();
    FileClaim(const FileClaim &) = delete;
    FileClaim &operator=(const FileClaim &) = delete;

    // False when one of the paths was claimed already; then none is claimed by this object.
    bool claimed() const;
    // The path found claimed already, in its clean form; empty when the claim was had.
    QString conflict() const;

private:
    QStringList m_keys;
    QString m_conflict;
};

#endif // FILECLAIM_H
