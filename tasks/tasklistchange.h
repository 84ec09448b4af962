#ifndef TASKLISTCHANGE_H
#define TASKLISTCHANGE_H

#include <QString>
#include <QVariantList>

// What changed between two loads of a day's task list, in a few words for the log: tasks
// are matched by their task number, so a task whose other fields changed counts as changed.
class TaskListChange
{
public:
    // "2 added, 1 removed, 3 changed"; "reordered" when only the order differs, and ""
    // when nothing does.
    static QString describe(const QVariantList &before, const QVariantList &after);
};

#endif // TASKLISTCHANGE_H
