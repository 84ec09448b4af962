#ifndef SCANCODE_H
#define SCANCODE_H

#include "history/historyfileindex.h"

#include <QDate>
#include <QList>
#include <QObject>
#include <QString>
#include <QVariantList>
#include <QVariantMap>

class TaskListStore;

// Decides what a scanned (or typed) code names: a task of the shown day, a task of another
// kept day, or an NC program's file among the versions in place. The code is only ever
// compared with known task numbers and recorded file names: whatever the caller opens is
// built from the matched record or history row, never from the code.
class ScanCode
{
    Q_GADGET

public:
    enum class Result
    {
        Task, // a task of the shown day
        TaskOtherDay, // a task of another kept day
        File, // one file of a current NC version
        Files, // several files, in one or more tasks: the operator picks one
        Unknown,
        Refused, // not acceptable(): never looked up
    };
    Q_ENUM(Result)

    static constexpr int maxLength = 128;

    struct Match
    {
        Result result = Result::Unknown;
        QString code; // as compared, without the surrounding white space a scanner adds
        QDate day; // Task, TaskOtherDay: the day whose list holds the task
        int row = -1; // Task, TaskOtherDay: its index in that day's list
        QVariantMap task; // Task, TaskOtherDay: the matched record
        QList<HistoryFileIndex::Hit> files; // File, Files
    };

    // Either source may be null; that part is then not looked up. Both must outlive this.
    ScanCode(TaskListStore *lists, HistoryFileIndex *files);

    // Looks code up: first in shownTasks (the list of shownDay as the window shows it), then
    // in userId's other kept days, newest first, then among the files. Reads the stores:
    // with many entries, call it off the GUI thread.
    Match decide(const QString &code, const QString &userId, const QDate &shownDay,
        const QVariantList &shownTasks) const;

    // Not empty, at most maxLength characters, no control or format character.
    static bool acceptable(const QString &code);
    // The index of the record in tasks whose "task_num" is code, preferring the same case to
    // another; -1 if none.
    static int taskRow(const QVariantList &tasks, const QString &code);

private:
    bool findOnOtherDay(const QString &userId, const QDate &shownDay, Match &match) const;

    TaskListStore *m_lists;
    HistoryFileIndex *m_files;
};

#endif // SCANCODE_H
