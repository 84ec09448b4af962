#ifndef NCCOMPARE_H
#define NCCOMPARE_H

#include "history/historyentry.h"
#include "history/ncnormaliser.h"

#include <QList>
#include <QString>
#include <QStringList>

// Compares two versions of an NC program: two folders, file by file, or two files. Files
// are told apart by SHA-256; a changed text file is then compared line by line as
// NcNormaliser reads its lines, so that block numbers, comments, spacing, letter case and
// the way a number is written make no difference, while the lines shown are the files' own.
// A file holding a NUL byte is binary and compared by its digest only. Text is read as
// UTF-8, or as GBK where it is not valid UTF-8. Reading large programs takes a while:
// callers with a window run it off the GUI thread.
class NcCompare
{
public:
    enum class Status
    {
        Added,
        Removed,
        Changed,
        Equivalent // the bytes differ, the normalised lines do not
    };
    enum class LineKind
    {
        Common,
        Removed,
        Added
    };
    struct Line
    {
        LineKind kind = LineKind::Common;
        int oldNumber = 0; // from 1 in the old file; 0 for an added line
        int newNumber = 0; // from 1 in the new file; 0 for a removed line
        QString text; // as read
    };
    // Changed lines with up to 3 lines of context, in the manner of a unified diff.
    struct Hunk
    {
        int oldStart = 0;
        int oldCount = 0;
        int newStart = 0;
        int newCount = 0;
        QList<Line> lines;
    };
    struct FileDiff
    {
        QString path; // relative to the folders compared, or the new file's name
        Status status = Status::Changed;
        bool binary = false;
        QList<Hunk> hunks;
    };
    // One version: a folder or a file, with the digests recorded for its files when they
    // are known (a folder's files otherwise are read to digest them).
    struct Side
    {
        QString path;
        QList<HistoryFile> files;
    };
    struct Result
    {
        QString error; // empty when the comparison was made
        QList<FileDiff> files; // every file that is not the same, by path
        // The files' originals could not be read: the files are named without their lines.
        bool originalsMissing = false;
        bool same() const;
        int hunkCount() const;
    };

    explicit NcCompare(bool integerIsUnit = false);

    Result compare(const Side &older, const Side &newer) const;
    Result compare(const QString &older, const QString &newer) const;
    // The changed lines of two texts, compared as normalised lines; empty when they read alike.
    QList<Hunk> diffLines(const QStringList &older, const QStringList &newer) const;
    // The lines of a text file as read; false for a binary file or one that cannot be read.
    static bool readText(const QString &path, QStringList &lines, bool *binary = nullptr);

private:
    Result compareFolders(const Side &older, const Side &newer) const;
    Result compareFiles(const Side &older, const Side &newer) const;
    bool compareContent(const QString &older, const QString &newer, FileDiff &diff) const;
    static QStringList decodedLines(const QByteArray &bytes);
    static Hunk withHeader(Hunk hunk);

    NcNormaliser m_normaliser;
};

#endif // NCCOMPARE_H
