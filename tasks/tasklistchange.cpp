#include "tasks/tasklistchange.h"

#include <QMap>
#include <QStringList>
#include <QVariantMap>

namespace {

// Tasks by task number. A number that occurs twice keeps its later record; such a list
// differs from its predecessor in the counts at worst.
QMap<QString, QVariantMap> byNumber(const QVariantList &tasks)
{
    QMap<QString, QVariantMap> map;
    for (const QVariant &task : tasks) {
        const QVariantMap record = task.toMap();
        map.insert(record.value(QStringLiteral("task_num")).toString(), record);
    }
    return map;
}

} // namespace

QString TaskListChange::describe(const QVariantList &before, const QVariantList &after)
{
    if (before == after)
        return QString();
    const QMap<QString, QVariantMap> old = byNumber(before);
    const QMap<QString, QVariantMap> now = byNumber(after);
    int added = 0;
    int changed = 0;
    for (auto task = now.cbegin(); task != now.cend(); ++task) {
        if (!old.contains(task.key()))
            ++added;
        else if (old.value(task.key()) != task.value())
            ++changed;
    }
    int removed = 0;
    for (auto task = old.cbegin(); task != old.cend(); ++task)
        removed += now.contains(task.key()) ? 0 : 1;

    QStringList words;
    if (added > 0)
        words << QStringLiteral("%1 added").arg(added);
    if (removed > 0)
        words << QStringLiteral("%1 removed").arg(removed);
    if (changed > 0)
        words << QStringLiteral("%1 changed").arg(changed);
    return words.isEmpty() ? QStringLiteral("reordered") : words.join(QStringLiteral(", "));
}
