#ifndef HISTORYFILEINDEX_H
#define HISTORYFILEINDEX_H

#include <QList>
#include <QString>

// Finds an NC program's file by its name among the versions now in place: for each task the
// newest fetch or restore of its NC program that succeeded, with the files the history
// recorded for it. A name is only ever compared with recorded file names, never turned into
// a path.
//
// Every call opens the history for its own thread and closes it again, as HistoryStore does.
class HistoryFileIndex
{
public:
    struct Hit
    {
        QString task;
        QString folder; // the task's NC folder as the history recorded it
        QString path; // the file inside folder, "/" separated
    };

    explicit HistoryFileIndex(const QString &folder);

    QString lastError() const;

    // The files named name, with or without its last extension, ignoring case, in every
    // task's current NC version, by task and path; false when the history cannot be read.
    bool find(const QString &name, QList<Hit> &hits);

    // Whether the file at path (its last part) is called name, as find() compares.
    static bool nameMatches(const QString &path, const QString &name);

private:
    bool fail(const QString &what, const QString &why);

    QString m_folder;
    QString m_error;
};

#endif // HISTORYFILEINDEX_H
