#ifndef TESTFILES_H
#define TESTFILES_H

#include <QByteArray>
#include <QMap>
#include <QString>

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
    // Puts an "xdg-open" first on PATH that stands in for the desktop's file manager: it
    // appends each argument it gets, one a line, to "opened.txt" in folder.
    static bool installRecordingOpener(const QString &folder);
};

#endif // TESTFILES_H
