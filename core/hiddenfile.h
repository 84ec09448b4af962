#ifndef HIDDENFILE_H
#define HIDDENFILE_H

#include <QString>

class QFileDevice;

// The hidden attribute of the staging names beside the task files (a half-written
// download, an unpacking, a restore), so that an operator browsing "nc\" in the Windows
// file explorer does not meet a half-copied program. Elsewhere a name starting with "."
// is hidden already, and these do nothing. A name must be revealed before it is renamed
// to a name of its own: the attribute goes with the file. Failures only cost the hiding.
class HiddenFile
{
public:
    static void hide(const QString &path);
    static void reveal(const QString &path);
    // The same for an open file, such as a QSaveFile whose temporary name is its own.
    static void hide(QFileDevice &file);
    static void reveal(QFileDevice &file);

private:
    static void setHidden(const QString &path, bool hidden);
    static void setHidden(QFileDevice &file, bool hidden);
};

#endif // HIDDENFILE_H
