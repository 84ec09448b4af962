#include "tasks/checkedopen.h"

#include "core/offthread.h"
#include "history/historyoutcome.h"
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

CheckedOpen::CheckedOpen(const QString &historyFolder, const QString &userId, QObject *parent)
    : QObject(parent)
    , m_folder(historyFolder)
    , m_userId(userId)
{
    qRegisterMetaType<CheckedOpen::Choice>();
}

CheckedOpen::~CheckedOpen()
{
    if (m_box) {
        m_box->disconnect(this);
        delete m_box;
    }
}

void CheckedOpen::open(const QString &kind, const QString &task, const QString &path)
{
    m_openAfter = true;
    approve(kind, task, path);
}

void CheckedOpen::approve(const QString &kind, const QString &task, const QString &path)
{
    m_kind = kind;
    m_task = task;
    m_path = path;
    const QString folder = m_folder;
    OffThread::then(
        this,
        [folder, kind, task, path] {
            InstalledCheck check(folder);
            Checked done;
            done.result = check.check(kind, task, path);
            done.differences = check.differences();
            done.error = check.lastError();
            return done;
        },
        [this](const Checked &check) { checked(check); });
}

void CheckedOpen::checked(const Checked &check)
{
    if (check.result == InstalledCheck::Result::Changed)
        ask(check);
    else
        decided(check, Choice::Opened);
}

// The box has no parent: the window that asked may be closed while it is up.
void CheckedOpen::ask(const Checked &check)
{
    m_box = new QMessageBox(
        QMessageBox::Warning, QStringLiteral("warning"), warningText(annotatedNames(check.differences)));
    m_box->setAttribute(Qt::WA_DeleteOnClose);
    QPushButton *openAnyway = m_box->addButton(tr("仍然打开"), QMessageBox::AcceptRole);
    QPushButton *cancel = m_box->addButton(tr("取消"), QMessageBox::RejectRole);
    m_box->setDefaultButton(cancel);
    m_box->setEscapeButton(cancel);
    connect(m_box, &QMessageBox::finished, this, [this, check, openAnyway] {
        decided(check, m_box && m_box->clickedButton() == openAnyway ? Choice::Opened : Choice::Cancelled);
    });
    m_box->open();
}

// What was checked may have gone while the operator read the warning: then nothing opens.
void CheckedOpen::decided(const Checked &check, Choice choice)
{
    if (choice == Choice::Opened && !QFileInfo::exists(m_path))
        choice = Choice::Cancelled;
    log(check, choice);
    HistoryEntry entry;
    entry.task = m_task;
    entry.kind = m_kind;
    entry.target = m_path;
    entry.outcome = outcome(check.result, choice);
    entry.ok = check.result == InstalledCheck::Result::Unchanged;
    entry.files = check.differences.found;
    const QString folder = m_folder;
    const QString uid = m_userId;
    const QString task = m_task;
    const bool openAfter = m_openAfter && choice == Choice::Opened;
    const QString shown = m_kind == QLatin1String("pdf") ? QFileInfo(m_path).absolutePath() : m_path;
    // The row and the opening go on without the window; the store has logged why a row failed.
    OffThread::then(
        this,
        [folder, uid, entry, openAfter, shown, task]() mutable {
            const bool recorded = record(folder, uid, entry);
            if (!recorded)
                qCWarning(tasksLog).noquote() << "the check of task" << task << "was not recorded";
            if (openAfter) {
                HttpTransfer transfer;
                transfer.setHistoryFolder(folder);
                transfer.setUserId(uid);
                transfer.openLocalPath(shown);
            }
            return recorded;
        },
        [this, choice](bool) { emit finished(choice); });
}

QString CheckedOpen::warningText(const QStringList &names)
{
    QStringList shown = names.mid(0, shownNames);
    if (names.size() > shownNames)
        shown << QObject::tr("……共 %1 个文件").arg(names.size());
    return QObject::tr("以下文件在下载后被改动：") + QLatin1Char('\n') + shown.join(QLatin1Char('\n'));
}

bool CheckedOpen::record(const QString &historyFolder, const QString &userId, HistoryEntry &entry)
{
    entry.time = QDateTime::currentDateTime();
    entry.action = QString::fromLatin1(HistoryEntry::checkAction);
    entry.userId = userId;
    entry.device = HttpTransfer::deviceName();
    return HistoryStore(historyFolder).add(entry);
}

QString CheckedOpen::outcome(InstalledCheck::Result result, Choice choice)
{
    return HistoryOutcome({ InstalledCheck::resultName(result), choiceName(choice) }).text();
}

QString CheckedOpen::choiceName(Choice choice)
{
    return QString::fromLatin1(QMetaEnum::fromType<Choice>().valueToKey(int(choice)));
}

void CheckedOpen::log(const Checked &check, Choice choice) const
{
    const QString what = QStringLiteral("%1 of task \"%2\" at %3")
                             .arg(m_kind == QLatin1String("pdf") ? QStringLiteral("label PDF")
                                                                 : QStringLiteral("NC program"),
                                 m_task, QDir::toNativeSeparators(m_path));
    if (check.result == InstalledCheck::Result::Changed)
        qCWarning(tasksLog).noquote() << "checked" << what
                                      << QStringLiteral("before opening: changed since it was fetched (%1),")
                                             .arg(check.differences.summary())
                                      << "operator chose" << choiceName(choice);
    else if (check.result == InstalledCheck::Result::Unreadable)
        qCWarning(tasksLog).noquote()
            << "checked" << what << "before opening: not checked, the history cannot"
            << "be read:" << check.error;
    else
        qCInfo(tasksLog).noquote() << "checked" << what
                                   << "before opening:" << InstalledCheck::resultName(check.result);
}
