#include "tasks/checkedopen.h"

#include "core/offthread.h"
#include "history/historystore.h"
#include "service/httptransfer.h"
#include "tasks/taskslog.h"

#include <QDebug>
#include <QDir>
#include <QFileInfo>
#include <QMessageBox>
#include <QMetaEnum>
#include <QPushButton>

namespace {

// A warning taller than the screen hides its buttons; the record keeps every name.
constexpr int shownNames = 20;

QStringList annotatedNames(const InstalledCheck::Differences &differences)
{
    QStringList names;
    for (const QString &name : differences.changed)
        names << QStringLiteral("%1（已改动）").arg(name);
    for (const QString &name : differences.missing)
        names << QStringLiteral("%1（已删除）").arg(name);
    for (const QString &name : differences.added)
        names << QStringLiteral("%1（新增）").arg(name);
    return names;
}

} // namespace

CheckedOpen::CheckedOpen(const QString &historyFolder, const QString &userId)
    : m_folder(historyFolder)
    , m_userId(userId)
{ }

bool CheckedOpen::open(const QString &kind, const QString &task, const QString &path)
{
    if (!approve(kind, task, path))
        return false;
    HttpTransfer transfer;
    transfer.setHistoryFolder(m_folder);
    transfer.setUserId(m_userId);
    transfer.openLocalPath(kind == QLatin1String("pdf") ? QFileInfo(path).absolutePath() : path);
    return true;
}

bool CheckedOpen::approve(const QString &kind, const QString &task, const QString &path)
{
    const QString folder = m_folder;
    InstalledCheck check(folder);
    const InstalledCheck::Result result = OffThread::run([&] { return check.check(kind, task, path); });
    const Choice choice = decide(result, check.differences());
    log(kind, task, path, result, check, choice);

    HistoryEntry entry;
    entry.task = task;
    entry.kind = kind;
    entry.target = path;
    entry.outcome = outcome(result, choice);
    entry.ok = result == InstalledCheck::Result::Unchanged;
    entry.files = check.differences().found;
    // The store has logged why.
    if (!record(entry))
        qCWarning(tasksLog).noquote() << "the check of task" << task << "was not recorded";
    return choice == Choice::Opened;
}

CheckedOpen::Choice CheckedOpen::decide(
    InstalledCheck::Result result, const InstalledCheck::Differences &differences)
{
    if (result != InstalledCheck::Result::Changed)
        return Choice::Opened;
    return confirm(annotatedNames(differences)) ? Choice::Opened : Choice::Cancelled;
}

// The box has no parent: the window that asked may be closed while it waits.
bool CheckedOpen::confirm(const QStringList &names)
{
    QMessageBox box(QMessageBox::Warning, QStringLiteral("warning"), warningText(names));
    QPushButton *openAnyway = box.addButton(QObject::tr("仍然打开"), QMessageBox::AcceptRole);
    QPushButton *cancel = box.addButton(QObject::tr("取消"), QMessageBox::RejectRole);
    box.setDefaultButton(cancel);
    box.setEscapeButton(cancel);
    box.exec();
    return box.clickedButton() == openAnyway;
}

QString CheckedOpen::warningText(const QStringList &names)
{
    QStringList shown = names.mid(0, shownNames);
    if (names.size() > shownNames)
        shown << QObject::tr("……共 %1 个文件").arg(names.size());
    return QObject::tr("以下文件在下载后被改动：") + QLatin1Char('\n') + shown.join(QLatin1Char('\n'));
}

// The row is written off the GUI thread: the commit waits for the disk.
bool CheckedOpen::record(HistoryEntry &entry) const
{
    entry.time = QDateTime::currentDateTime();
    entry.action = QString::fromLatin1(HistoryEntry::checkAction);
    entry.userId = m_userId;
    entry.device = HttpTransfer::deviceName();
    const QString folder = m_folder;
    return OffThread::run([folder, &entry] { return HistoryStore(folder).add(entry); });
}

QString CheckedOpen::outcome(InstalledCheck::Result result, Choice choice)
{
    return InstalledCheck::resultName(result) + QStringLiteral(" / ") + choiceName(choice);
}

QString CheckedOpen::choiceName(Choice choice)
{
    return QString::fromLatin1(QMetaEnum::fromType<Choice>().valueToKey(int(choice)));
}

void CheckedOpen::log(const QString &kind, const QString &task, const QString &path,
    InstalledCheck::Result result, const InstalledCheck &check, Choice choice) const
{
    const QString what
        = QStringLiteral("%1 of task \"%2\" at %3")
              .arg(kind == QLatin1String("pdf") ? QStringLiteral("label PDF") : QStringLiteral("NC program"),
                  task, QDir::toNativeSeparators(path));
    if (result == InstalledCheck::Result::Changed)
        qCWarning(tasksLog).noquote() << "checked" << what
                                      << QStringLiteral("before opening: changed since it was fetched (%1),")
                                             .arg(check.differences().summary())
                                      << "operator chose" << choiceName(choice);
    else if (result == InstalledCheck::Result::Unreadable)
        qCWarning(tasksLog).noquote()
            << "checked" << what << "before opening: not checked, the history cannot"
            << "be read:" << check.lastError();
    else
        qCInfo(tasksLog).noquote() << "checked" << what
                                   << "before opening:" << InstalledCheck::resultName(result);
}
