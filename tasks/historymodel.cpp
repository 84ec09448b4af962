#include "tasks/historymodel.h"

#include "tasks/taskslog.h"
#include <QDebug>
#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>

namespace {

// What the operator reads for the stored names; the names themselves stay in the file for
// the export.
const QString listSql = QStringLiteral(
    "SELECT id, substr(time, 1, 19),"
    " task,"
    " CASE kind WHEN 'pdf' THEN 'PDF ' WHEN 'nc' THEN 'NC ' ELSE '' END"
    " || CASE action WHEN 'fetch' THEN '下载' WHEN 'restore' THEN '恢复' WHEN 'open' THEN '打开文件夹'"
    " WHEN 'prune' THEN '清理旧版本' ELSE action END,"
    " CASE ok WHEN 1 THEN '成功' ELSE '失败' END || '（' || outcome || '）',"
    " bytes, sha256, kept_path"
    " FROM fetch %1 ORDER BY id DESC");

} // namespace

HistoryModel::HistoryModel(QObject *parent)
    : QSqlQueryModel(parent)
{ }

bool HistoryModel::load(const QSqlDatabase &db, const HistoryStore::Filter &filter)
{
    QVariantList values;
    QSqlQuery query(db);
    query.prepare(listSql.arg(HistoryStore::whereClause(filter, values)));
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
