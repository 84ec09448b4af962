#include "tasks/historymodel.h"

#include "history/historyoutcome.h"
#include "tasks/checkedopen.h"
#include "tasks/statustext.h"
#include "tasks/taskslog.h"

#include <QDebug>
#include <QMetaEnum>
#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>

namespace {

// What the operator reads for the stored names; the names themselves stay in the file for
// the export.
const QString listSql = QStringLiteral(
    "SELECT id, %1,"
    " task,"
    " CASE kind WHEN 'pdf' THEN 'PDF ' WHEN 'nc' THEN 'NC ' ELSE '' END"
    " || CASE action WHEN 'fetch' THEN '下载' WHEN 'restore' THEN '恢复' WHEN 'open' THEN '打开文件夹'"
    " WHEN 'prune' THEN '清理旧版本' WHEN 'recover' THEN '启动时整理' WHEN 'check' THEN '校验'"
    " WHEN 'scan' THEN '扫码' WHEN 'chain' THEN '记录加链' ELSE action END,"
    " outcome, bytes, sha256, kept_path, action, kind, ok"
    " FROM fetch %2 ORDER BY id DESC");

// The step names of a fetch's outcome ("Fetched / Saved / Unpacked") as their enums.
template <typename Enum>
Enum step(const QStringList &steps, int at, Enum otherwise)
{
    bool known = false;
    const int value = QMetaEnum::fromType<Enum>().keyToValue(steps.value(at).toLatin1().constData(), &known);
    return known ? Enum(value) : otherwise;
}

} // namespace

HistoryModel::HistoryModel(QObject *parent)
    : QSqlQueryModel(parent)
{ }

bool HistoryModel::load(const QSqlDatabase &db, const HistoryStore::Filter &filter)
{
    QVariantList values;
    QSqlQuery query(db);
    query.prepare(listSql.arg(HistoryStore::localTimeSql(QStringLiteral("%Y-%m-%d %H:%M:%S")),
        HistoryStore::whereClause(filter, values)));
    for (const QVariant &value : qAsConst(values))
        query.addBindValue(value);
    if (!query.exec()) {
        qCWarning(tasksLog).noquote() << "history: cannot list the entries:" << query.lastError().text();
        clear();
        return false;
    }
    setQuery(query);
    setHeaders();
    return true;
}

void HistoryModel::setHeaders()
{
    const QStringList headers { QStringLiteral("编号"), QStringLiteral("时间"), QStringLiteral("任务"),
        QStringLiteral("类型"), QStringLiteral("结果"), QStringLiteral("字节"), QStringLiteral("SHA-256"),
        QStringLiteral("旧版本") };
    for (int column = 0; column < headers.size(); ++column)
        setHeaderData(column, Qt::Horizontal, headers.at(column));
}

QVariant HistoryModel::data(const QModelIndex &index, int role) const
{
    if (index.column() == OutcomeColumn && role == Qt::DisplayRole) {
        HistoryEntry entry;
        entry.action = rawText(index.row(), ActionColumn);
        entry.kind = rawText(index.row(), KindNameColumn);
        entry.outcome = rawText(index.row(), OutcomeColumn);
        entry.ok = rawText(index.row(), OkColumn) == QLatin1String("1");
        return outcomeText(entry);
    }
    if (index.column() != ShaColumn || (role != Qt::DisplayRole && role != Qt::ToolTipRole))
        return QSqlQueryModel::data(index, role);
    const QString sha = QSqlQueryModel::data(index, Qt::DisplayRole).toString();
    return role == Qt::ToolTipRole ? sha : sha.left(shownShaLength);
}

QString HistoryModel::rawText(int row, int column) const
{
    return QSqlQueryModel::data(this->index(row, column), Qt::DisplayRole).toString();
}

qint64 HistoryModel::entryId(int row) const
{
    return rawText(row, IdColumn).toLongLong();
}

QString HistoryModel::sha256(int row) const
{
    return rawText(row, ShaColumn);
}

QString HistoryModel::keptPath(int row) const
{
    return rawText(row, KeptColumn);
}

QString HistoryModel::kindName(int row) const
{
    return rawText(row, KindNameColumn);
}

QString HistoryModel::outcomeText(const HistoryEntry &entry)
{
    if (entry.outcome == QLatin1String(HistoryEntry::startedOutcome))
        return tr("未完成（正在进行，或被中断，下次启动时补记）");
    if (entry.outcome == QLatin1String(HistoryEntry::interruptedOutcome))
        return tr("被中断（程序被关闭或断电），记录的是启动时的文件");
    if (entry.outcome == QLatin1String(HistoryEntry::identicalOutcome))
        return tr("与当前版本相同，未替换");
    if (entry.action == QLatin1String(HistoryEntry::pruneAction))
        return tr("已清理旧版本");
    if (entry.action == QLatin1String(HistoryEntry::openAction))
        return tr("已打开文件夹");
    if (entry.action == QLatin1String(HistoryEntry::scanAction)) {
        const QString offline = HistoryOutcome::parse(entry.outcome).isOffline() ? tr("（离线）") : QString();
        return (entry.ok ? tr("扫码：已找到") : tr("扫码：未找到")) + offline;
    }
    if (entry.action == QLatin1String(HistoryEntry::recoverAction))
        return entry.ok ? tr("中断时留下的文件，已移到 history\\interrupted")
                        : tr("中断时留下的文件，无法移走");
    if (entry.action == QLatin1String(HistoryEntry::checkAction))
        return checkOutcomeText(entry);
    if (entry.action == QLatin1String(HistoryEntry::chainAction))
        return tr("此前的记录已加链，此后每条记录都链在前一条上");
    if (entry.action == QLatin1String(HistoryEntry::restoreAction))
        return StatusText::restoreOutcome(
            step(QStringList { entry.outcome }, 0, FetchHistory::RestoreResult::Failed));
    return fetchOutcomeText(entry);
}

// The first step that went wrong says why; the status line's words for each.
QString HistoryModel::fetchOutcomeText(const HistoryEntry &entry)
{
    const QStringList steps = HistoryOutcome::parse(entry.outcome).steps();
    const auto fetch = step(steps, 0, FetchReport::Fetch::DownloadFailed);
    const QString notFetched = StatusText::fetchProblem(fetch);
    if (!notFetched.isEmpty())
        return tr("未下载：%1，原有文件未改动").arg(notFetched);
    const bool downloaded = fetch != FetchReport::Fetch::NothingToFetch;
    if (downloaded) {
        const auto download = step(steps, 1, KRESTService::DownloadResult::Incomplete);
        if (download != KRESTService::DownloadResult::Saved)
            return tr("未下载：%1，原有文件未改动").arg(StatusText::downloadProblem(download));
    }
    const bool pdf = entry.kind == QLatin1String("pdf");
    const auto unpack = step(steps, downloaded ? 2 : 1, ArchiveUnpacker::Result::ExtractFailed);
    if (!pdf && unpack != ArchiveUnpacker::Result::Unpacked)
        return tr("NC程序未更新：%1").arg(StatusText::unpackProblem(unpack));
    if (pdf)
        return tr("已下载");
    return downloaded ? tr("已下载并解压") : tr("已解压");
}

// A check before opening names the operator's choice; a check of every task names none.
QString HistoryModel::checkOutcomeText(const HistoryEntry &entry)
{
    using Result = InstalledCheck::Result;
    const QStringList steps = HistoryOutcome::parse(entry.outcome).steps();
    const Result result = step(steps, 0, Result::Unreadable);
    if (steps.size() < 2) {
        if (result == Result::Unchanged)
            return tr("校验全部任务：均与下载时相同");
        return result == Result::Changed ? tr("校验全部任务：有文件在下载后被改动")
                                         : tr("校验全部任务：下载记录不可用");
    }
    const bool opened = step(steps, 1, CheckedOpen::Choice::Cancelled) == CheckedOpen::Choice::Opened;
    switch (result) {
    case Result::Unchanged:
        return tr("打开前校验：与下载时相同，已打开");
    case Result::Changed:
        return opened ? tr("打开前校验：文件在下载后被改动，仍然打开")
                      : tr("打开前校验：文件在下载后被改动，已取消");
    case Result::NotRecorded:
        return tr("打开前校验：记录中没有可对照的版本，已打开");
    case Result::Unreadable:
        break;
    }
    return tr("打开前校验：下载记录不可用，未校验，已打开");
}
