#ifndef TESTFILES_H
#define TESTFILES_H

#include <QByteArray>
#include <QMap>
#include <QString>
#include <QStringList>

// File fixtures shared by the tests that fetch, unpack and replace files.
class TestFiles
{
public:
    // Writes content to path, creating its folder; true when every byte was written.
    static bool write(const QString &path, const QByteArray &content);
    // The content of path, or "<missing>" when it cannot be read.
    static QByteArray read(const QString &path);
    // Every file and folder under root by relative path: a file's content, "<dir>" for a
    // folder, so that comparing two snapshots shows anything lost, added or changed.
    static QMap<QString, QByteArray> snapshot(const QString &root);
    // Makes the file manager that FolderOpener starts a recording stand-in: it appends each
    // argument it gets, one a line, to "opened.txt" in folder. On Windows that is the
    // "explorer.exe" built beside the test programs, elsewhere an "xdg-open" put first on PATH.
    static bool installRecordingOpener(const QString &folder);
    // True when the settings store named storeName is one the test may change: a file under
    // configHome, or on Windows the user's registry key (scripts/windows runs the tests in
    // a throw-away Wine prefix).
    static bool settingsAreIsolated(const QString &storeName, const QString &configHome);
    // The arguments recorded in folder so far, in order.
    static QStringList openedFolders(const QString &folder);
};

#endif // TESTFILES_H
