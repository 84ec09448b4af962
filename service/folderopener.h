#ifndef FOLDEROPENER_H
#define FOLDEROPENER_H

#include <QObject>
#include <QString>

// Shows a folder in the platform's file manager: the Windows file explorer, elsewhere
// the desktop's default handler through xdg-open.
class FolderOpener
{
    Q_GADGET

public:
    static QString program();
    // The folder as the file manager expects it: backslashes on Windows.
    static QString nativePath(const QString &absoluteFolder);
    // Starts the file manager detached and returns at once; false when it did not start.
    static bool open(const QString &absoluteFolder);
};

#endif // FOLDEROPENER_H
