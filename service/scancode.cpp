#include "service/scancode.h"

#include "history/taskliststore.h"

#include <QDateTime>

ScanCode::ScanCode(TaskListStore *lists, HistoryFileIndex *files)
    : m_lists(lists)
    , m_files(files)
{ }

ScanCode::Match ScanCode::decide(
    const QString &code, const QString &userId, const QDate &shownDay, const QVariantList &shownTasks) const
{
    Match match;
    match.code = code.trimmed();
    if (!acceptable(match.code)) {
        match.result = Result::Refused;
        return match;
    }
    match.row = taskRow(shownTasks, match.code);
    if (match.row >= 0) {
        match.result = Result::Task;
        match.day = shownDay;
        match.task = shownTasks.at(match.row).toMap();
        return match;
    }
    if (findOnOtherDay(userId, shownDay, match))
        return match;
    if (m_files && m_files->find(match.code, match.files) && !match.files.isEmpty())
        match.result = match.files.size() == 1 ? Result::File : Result::Files;
    return match;
}

bool ScanCode::findOnOtherDay(const QString &userId, const QDate &shownDay, Match &match) const
{
    if (!m_lists)
        return false;
    const QList<QDate> days = m_lists->days(userId);
    for (const QDate &day : days) {
        QVariantList tasks;
        QDateTime receivedAt;
        if (day == shownDay || !m_lists->load(userId, day, tasks, receivedAt))
            continue;
        const int row = taskRow(tasks, match.code);
        if (row < 0)
            continue;
        match.result = Result::TaskOtherDay;
        match.day = day;
        match.row = row;
        match.task = tasks.at(row).toMap();
        return true;
    }
    return false;
}

bool ScanCode::acceptable(const QString &code)
{
    if (code.isEmpty() || code.size() > maxLength)
        return false;
    // Format characters (direction overrides, zero-width ones) are invisible in the status
    // line, so a code holding them is refused too.
    for (const QChar c : code) {
        if (c.category() == QChar::Other_Control || c.category() == QChar::Other_Format)
            return false;
    }
    return true;
}

// Two task numbers that differ only in case are told apart by an exact match.
int ScanCode::taskRow(const QVariantList &tasks, const QString &code)
{
    int found = -1;
    for (int row = 0; row < tasks.size(); ++row) {
        const QString number = tasks.at(row).toMap().value(QStringLiteral("task_num")).toString();
        if (number == code)
            return row;
        if (found < 0 && !number.isEmpty() && number.compare(code, Qt::CaseInsensitive) == 0)
            found = row;
    }
    return found;
}
