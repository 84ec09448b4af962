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
    // Shows the folder of absoluteFile with the file selected where the file manager can
    // (Windows); elsewhere opens its folder. Returns at once as open() does.
    static bool select(const QString &absoluteFile);
};

#endif // FOLDEROPENER_H
