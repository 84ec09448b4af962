#include "tasks/historywindow.h"
#include "ui_historywindow.h"

#include "core/busycall.h"
#include "core/offthread.h"
#include "core/windowfit.h"
#include "history/fetchhistory.h"
#include "history/historyconnection.h"
#include "history/historycsv.h"
#include "service/httptransfer.h"
#include "service/network.h"
#include "tasks/checkedopen.h"
#include "tasks/historymodel.h"
#include "tasks/nccomparewindow.h"
#include "tasks/statustext.h"
#include "tasks/supportbundle.h"
#include "tasks/taskslog.h"

#include <QApplication>
#include <QClipboard>
#include <QDebug>
#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QMessageBox>
#include <QMutexLocker>
#include <QPointer>
#include <QScopeGuard>
#include <QScrollBar>
#include <QSqlQuery>
#include <QTimer>

#include <algorithm>
#include <limits>

namespace {

bool ncIntegerIsUnit = false;
// A look at the newest entry's id is cheap; a file watcher on the database misses writes
// on some systems.
constexpr int followIntervalMs = 500;

} // namespace

HistoryWindow::HistoryWindow(const QString &historyFolder, QWidget *parent)
    : QWidget(parent)
    , ui(new Ui::HistoryWindow)
    , m_folder(historyFolder)
    , m_model(new HistoryModel(this))
{
    ui->setupUi(this);
    setAttribute(Qt::WA_DeleteOnClose);
    ui->dayEdit->setDate(QDate::currentDate());
    ui->table->setModel(m_model);
    ui->table->addAction(ui->copyShaAction);
    connect(ui->copyShaAction, &QAction::triggered, this, &HistoryWindow::copySha256);
    connect(ui->taskEdit, &QLineEdit::textChanged, this, &HistoryWindow::reload);
    connect(ui->dayEdit, &QDateEdit::dateChanged, this, &HistoryWindow::reload);
    reload();
    WindowFit::fit(this);
    auto *follow = new QTimer(this);
    follow->setInterval(followIntervalMs);
    connect(follow, &QTimer::timeout, this, &HistoryWindow::followHistory);
    follow->start();
}

HistoryWindow::~HistoryWindow()
{
    // The model's query must go before the connection it reads from.
    m_model->clear();
}

void HistoryWindow::setUserId(const QString &uid)
{
    m_uid = uid;
}

void HistoryWindow::setTaskFilter(const QString &task)
{
    ui->taskEdit->setText(task);
}

void HistoryWindow::setDayFilter(const QDate &day)
{
    if (day.isValid())
        ui->dayEdit->setDate(day);
    ui->dayCheck->setChecked(day.isValid());
}

HistoryStore::Filter HistoryWindow::filter() const
{
    HistoryStore::Filter filter;
    if (ui->dayCheck->isChecked())
        filter.day = ui->dayEdit->date();
    filter.task = ui->taskEdit->text().trimmed();
    return filter;
}

HistoryModel *HistoryWindow::model() const
{
    return m_model;
}

// A history that could not be opened is tried again at every reload.
bool HistoryWindow::ensureConnection()
{
    if (m_connection && m_connection->isOpen())
        return true;
    m_connection.reset(new HistoryConnection(m_folder, QStringLiteral("window")));
    if (m_connection->isOpen())
        return true;
    showStatus(QStringLiteral("下载记录暂不可用"));
    return false;
}

void HistoryWindow::followHistory()
{
    if (isVisible() && m_connection && m_connection->isOpen() && newestId() != m_newestId)
        reload();
}

qint64 HistoryWindow::newestId() const
{
    QSqlQuery query(m_connection->database());
    if (!query.exec(QStringLiteral("SELECT MAX(id) FROM fetch")) || !query.next())
        return m_newestId;
    return query.value(0).toLongLong();
}

QSet<qint64> HistoryWindow::selectedIds() const
{
    QSet<qint64> ids;
    if (!ui->table->selectionModel())
        return ids;
    for (const QModelIndex &index : ui->table->selectionModel()->selectedRows())
        ids.insert(m_model->entryId(index.row()));
    return ids;
}

// Only the rows fetched so far are looked at: a selection is among the rows seen.
void HistoryWindow::reselect(const QSet<qint64> &ids)
{
    for (int row = 0; row < m_model->rowCount() && !ids.isEmpty(); ++row) {
        if (ids.contains(m_model->entryId(row)))
            ui->table->selectionModel()->select(
                m_model->index(row, 0), QItemSelectionModel::Select | QItemSelectionModel::Rows);
    }
}

void HistoryWindow::reload()
{
    const QSet<qint64> selected = selectedIds();
    const int scrolled = ui->table->verticalScrollBar()->value();
    const auto keepView = qScopeGuard([this, selected, scrolled] {
        reselect(selected);
        ui->table->verticalScrollBar()->setValue(scrolled);
    });
    if (!ensureConnection() || !m_model->load(m_connection->database(), filter())) {
        m_model->clear();
        showStatus(QStringLiteral("下载记录暂不可用"));
    } else {
        showStatus(QString());
        m_newestId = newestId();
    }
    ui->table->setColumnHidden(HistoryModel::IdColumn, true);
    for (int column = HistoryModel::KeptColumn; column < HistoryModel::ColumnCount; ++column)
        ui->table->setColumnHidden(column, true);
    // Only the rows in view are measured, however many there are.
    ui->table->resizeColumnsToContents();
    connect(ui->table->selectionModel(), &QItemSelectionModel::selectionChanged, this,
        &HistoryWindow::updateButtons, Qt::UniqueConnection);
    updateButtons();
}

void HistoryWindow::on_dayCheck_toggled(bool checked)
{
    ui->dayEdit->setEnabled(checked);
    reload();
}

int HistoryWindow::selectedRow() const
{
    const QModelIndexList rows = ui->table->selectionModel()->selectedRows();
    return rows.isEmpty() ? -1 : rows.first().row();
}

void HistoryWindow::updateButtons()
{
    const int row = selectedRow();
    const int selected = ui->table->selectionModel()->selectedRows().size();
    ui->restoreBtn->setEnabled(selected == 1 && !m_model->keptPath(row).isEmpty());
    ui->compareBtn->setEnabled(selected == 1 || selected == 2);
    const QString kind = m_model->kindName(row);
    ui->openBtn->setEnabled(selected == 1 && (kind == QLatin1String("nc") || kind == QLatin1String("pdf")));
    ui->copyShaAction->setEnabled(row >= 0 && !m_model->sha256(row).isEmpty());
}

void HistoryWindow::copySha256()
{
    const int row = selectedRow();
    if (row >= 0)
        QApplication::clipboard()->setText(m_model->sha256(row));
}

void HistoryWindow::on_restoreBtn_clicked()
{
    restoreRow(selectedRow());
}

// The version a restore puts back is the one in place before the entry's fetch; the
// current one is the newest put in place since.
void HistoryWindow::restoreRow(int row)
{
    if (row < 0 || row >= m_model->rowCount())
        return;
    HistoryStore store(m_folder);
    HistoryEntry entry;
    if (!store.find(m_model->entryId(row), entry) || entry.keptPath.isEmpty()) {
        QMessageBox::warning(nullptr, QStringLiteral("fail"), tr("这条记录没有保留旧版本"));
        return;
    }
    const QString question
        = tr("恢复任务 %1 的旧版本？\n\n恢复的版本：%2\n当前的版本：%3\n\n当前的版本会先保存到记录中。")
              .arg(entry.task, versionText(entry.kind, entry.task, entry.id),
                  versionText(entry.kind, entry.task, std::numeric_limits<qint64>::max()));
    const QPointer<HistoryWindow> alive(this);
    if (QMessageBox::question(nullptr, QStringLiteral("warning"), question) != QMessageBox::Yes || !alive)
        return;

    HttpTransfer transfer;
    transfer.setHistoryFolder(m_folder);
    transfer.setUserId(m_uid);
    const FetchHistory::RestoreResult result = transfer.restoreVersion(entry.id);
    if (!alive)
        return;
    reload();
    if (result == FetchHistory::RestoreResult::Restored)
        showStatus(tr("已恢复任务 %1 的旧版本").arg(entry.task));
    else
        QMessageBox::warning(nullptr, QStringLiteral("fail"), StatusText::restoreOutcome(result));
}

QString HistoryWindow::versionText(const QString &kind, const QString &task, qint64 beforeId)
{
    HistoryStore store(m_folder);
    HistoryEntry installed;
    if (!store.lastInstalled(kind, task, beforeId, installed))
        return tr("记录之前的版本（SHA-256 未知）");
    return tr("%1，SHA-256 %2")
        .arg(HistoryStore::localTimeText(installed).left(19),
            installed.sha256.isEmpty() ? tr("未知") : installed.sha256);
}

void HistoryWindow::on_exportBtn_clicked()
{
    const QString suggested = QDir::homePath() + QStringLiteral("/下载记录-")
        + QDate::currentDate().toString(QStringLiteral("yyyyMMdd")) + QStringLiteral(".csv");
    const QString fileName
        = QFileDialog::getSaveFileName(this, tr("导出"), suggested, tr("CSV 文件 (*.csv)"));
    if (!fileName.isEmpty())
        exportTo(fileName);
}

// The window may be closed, and so deleted, while the file is written: the work takes copies
// of what it reads, and only a window still there shows the result.
bool HistoryWindow::exportTo(const QString &fileName)
{
    const HistoryStore::Filter wanted = filter();
    const QString folder = m_folder;
    QString error;
    int count = 0;
    const QPointer<HistoryWindow> alive(this);
    const bool written = OffThread::run([folder, wanted, fileName, &error, &count] {
        HistoryStore store(folder);
        return HistoryCsv::write(store, wanted, fileName, &error, &count, &HistoryModel::outcomeText);
    });
    if (!written) {
        qCWarning(tasksLog).noquote() << "history: export failed:" << error;
        QMessageBox::warning(nullptr, QStringLiteral("fail"), tr("导出失败"));
        return false;
    }
    if (alive)
        showStatus(tr("已导出 %1 条记录到 %2").arg(count).arg(QDir::toNativeSeparators(fileName)));
    return true;
}

void HistoryWindow::on_bundleBtn_clicked()
{
    const QString suggested = QDir::homePath() + QStringLiteral("/诊断包-")
        + QDateTime::currentDateTime().toString(QStringLiteral("yyyyMMdd-HHmmss")) + QStringLiteral(".zip");
    const QString fileName
        = QFileDialog::getSaveFileName(this, tr("诊断包"), suggested, tr("ZIP 文件 (*.zip)"));
    if (!fileName.isEmpty())
        writeSupportBundle(fileName);
}

// The button stays disabled while the bundle is written; the window may be gone by then.
bool HistoryWindow::writeSupportBundle(const QString &fileName)
{
    Network *network = Network::getInstance("defalut");
    QString root;
    {
        QMutexLocker locker(&network->mutex);
        root = network->rootUrl;
    }
    SupportBundle::Sources sources = SupportBundle::Sources::besideProgram(root);
    sources.historyFolder = m_folder;
    QString error;
    BusyCall busy(this, ui->bundleBtn);
    const bool written = busy.run([&] {
        return OffThread::run([sources, fileName, &error] {
            SupportBundle bundle(sources);
            const bool done = bundle.write(fileName);
            error = bundle.errorString();
            return done;
        });
    });
    if (!written) {
        qCWarning(tasksLog).noquote() << "support bundle failed:" << error;
        QMessageBox::warning(nullptr, QStringLiteral("fail"), tr("诊断包写入失败"));
        return false;
    }
    qCInfo(tasksLog).noquote() << "support bundle written to" << QDir::toNativeSeparators(fileName);
    if (busy.windowAlive())
        showStatus(tr("诊断包已保存到 %1").arg(QDir::toNativeSeparators(fileName)));
    return true;
}

void HistoryWindow::showStatus(const QString &text)
{
    ui->statusLbl->setText(text);
}

void HistoryWindow::setNcIntegerIsUnit(bool millimetres)
{
    ncIntegerIsUnit = millimetres;
}

void HistoryWindow::on_compareBtn_clicked()
{
    QList<int> rows;
    for (const QModelIndex &index : ui->table->selectionModel()->selectedRows())
        rows << index.row();
    compareRows(rows);
}

void HistoryWindow::compareRows(const QList<int> &rows)
{
    QList<HistoryEntry> entries;
    if (!findEntries(rows, entries))
        return;
    const QString problem = whyNotComparable(entries);
    if (!problem.isEmpty()) {
        QMessageBox::warning(nullptr, QStringLiteral("fail"), problem);
        return;
    }
    NcCompare::Side older, newer;
    if (!findSides(entries, older, newer))
        return;
    const bool integerIsUnit = ncIntegerIsUnit;
    // The window may be closed while the programs are read.
    const QPointer<HistoryWindow> alive(this);
    const NcCompare::Result result
        = OffThread::run([&] { return NcCompare(integerIsUnit).compare(older, newer); });
    if (!alive)
        return;
    if (!result.error.isEmpty()) {
        qDebug().noquote() << "history: compare failed:" << result.error;
        QMessageBox::warning(nullptr, QStringLiteral("fail"), tr("比较失败：%1").arg(result.error));
        return;
    }
    const QString first = tr("%1 放入的版本").arg(entries.first().timeText.left(19));
    const QString second = entries.size() == 2
        ? tr("%1 放入的版本").arg(entries.last().timeText.left(19))
        : tr("当前的版本（%1）").arg(QDir::toNativeSeparators(newer.path));
    auto *window = new NcCompareWindow(result, first, second, this);
    window->show();
}

// The entries of the rows, oldest first.
bool HistoryWindow::findEntries(const QList<int> &rows, QList<HistoryEntry> &entries)
{
    HistoryStore store(m_folder);
    for (const int row : rows) {
        HistoryEntry entry;
        if (row < 0 || row >= m_model->rowCount() || !store.find(m_model->entryId(row), entry)) {
            QMessageBox::warning(nullptr, QStringLiteral("fail"), tr("下载记录暂不可用"));
            return false;
        }
        entries << entry;
    }
    std::sort(entries.begin(), entries.end(),
        [](const HistoryEntry &a, const HistoryEntry &b) { return a.id < b.id; });
    return true;
}

QString HistoryWindow::whyNotComparable(const QList<HistoryEntry> &entries)
{
    if (entries.isEmpty() || entries.size() > 2)
        return tr("请选择一条或同一任务的两条 NC 程序记录");
    for (const HistoryEntry &entry : entries) {
        const bool installed = entry.action == QLatin1String(HistoryEntry::fetchAction)
            || entry.action == QLatin1String(HistoryEntry::restoreAction);
        if (entry.kind != QLatin1String("nc") || !installed || !entry.ok)
            return tr("只能比较成功下载或恢复的 NC 程序");
    }
    if (entries.first().task != entries.last().task)
        return tr("请选择同一任务的两条记录");
    return QString();
}

// The versions of the entries, or of the one entry and the version in place; false (and a
// message) when one is no longer on disk.
bool HistoryWindow::findSides(
    const QList<HistoryEntry> &entries, NcCompare::Side &older, NcCompare::Side &newer)
{
    for (const HistoryEntry &entry : entries) {
        if (!versionSide(entry, &entry == &entries.first() ? older : newer)) {
            QMessageBox::warning(nullptr, QStringLiteral("fail"),
                tr("%1 放入的版本已不在磁盘上（已被清理），无法比较").arg(entry.timeText.left(19)));
            return false;
        }
    }
    if (entries.size() == 2)
        return true;
    newer.path = entries.first().target;
    if (!newer.path.isEmpty() && QFileInfo::exists(newer.path))
        return true;
    QMessageBox::warning(
        nullptr, QStringLiteral("fail"), tr("任务 %1 当前没有程序").arg(entries.first().task));
    return false;
}

// The version on disk, with the digests recorded for its files where the history has them.
bool HistoryWindow::versionSide(const HistoryEntry &entry, NcCompare::Side &side)
{
    FetchHistory history(m_folder);
    side.path = history.versionPath(entry);
    if (side.path.isEmpty())
        return false;
    if (!history.store().files(entry.id, side.files))
        side.files.clear();
    return true;
}

void HistoryWindow::on_openBtn_clicked()
{
    openRow(selectedRow());
}

// The version in place may have been put somewhere other than where the selected entry put
// its own, by a later fetch or restore.
void HistoryWindow::openRow(int row)
{
    HistoryStore store(m_folder);
    HistoryEntry entry;
    if (row < 0 || row >= m_model->rowCount() || !store.find(m_model->entryId(row), entry)) {
        QMessageBox::warning(nullptr, QStringLiteral("fail"), tr("下载记录暂不可用"));
        return;
    }
    HistoryEntry inPlace;
    const QString path
        = store.lastInstalled(entry.kind, entry.task, std::numeric_limits<qint64>::max(), inPlace)
        ? inPlace.target
        : entry.target;
    if (path.isEmpty() || !QFileInfo::exists(path)) {
        QMessageBox::warning(nullptr, QStringLiteral("fail"), tr("任务 %1 当前没有文件").arg(entry.task));
        return;
    }
    BusyCall<HistoryWindow, QPushButton> busy(this, ui->openBtn);
    busy.run([&] { return CheckedOpen(m_folder, m_uid).open(entry.kind, entry.task, path); });
    if (busy.windowAlive())
        reload();
}

void HistoryWindow::on_checkBtn_clicked()
{
    checkEveryTask();
}

// Every file of every task is read: the work runs off the GUI thread, on copies, since the
// window may be closed meanwhile.
void HistoryWindow::checkEveryTask()
{
    const QString folder = m_folder;
    const QString uid = m_uid;
    QList<InstalledCheck::TaskCheck> checks;
    QString error;
    BusyCall<HistoryWindow, QPushButton> busy(this, ui->checkBtn);
    const bool readable = busy.run([&] {
        return OffThread::run([folder, &checks, &error] {
            InstalledCheck check(folder);
            const bool read = check.checkEveryTask(checks);
            error = check.lastError();
            return read;
        });
    });
    recordSweep(folder, uid, checks, readable);
    if (!readable) {
        qCWarning(tasksLog).noquote() << "history: cannot check the tasks' files:" << error;
        QMessageBox::warning(nullptr, QStringLiteral("fail"), tr("下载记录暂不可用"));
        return;
    }
    showDifferences(checks);
    if (busy.windowAlive())
        reload();
}

void HistoryWindow::showDifferences(const QList<InstalledCheck::TaskCheck> &checks)
{
    QStringList lines;
    int checked = 0;
    for (const InstalledCheck::TaskCheck &task : checks) {
        checked += task.result == InstalledCheck::Result::Unchanged
            || task.result == InstalledCheck::Result::Changed;
        const QString what
            = tr("任务 %1 的%2：")
                  .arg(task.task, task.kind == QLatin1String("pdf") ? tr("PDF") : tr("NC 程序"));
        for (const QString &name : task.differences.changed)
            lines << what + tr("%1（已改动）").arg(name);
        for (const QString &name : task.differences.missing)
            lines << what + tr("%1（已删除）").arg(name);
        for (const QString &name : task.differences.added)
            lines << what + tr("%1（新增）").arg(name);
    }
    if (lines.isEmpty())
        QMessageBox::information(
            nullptr, QStringLiteral("success"), tr("已校验 %1 个任务文件，均与下载时相同").arg(checked));
    else
        QMessageBox::warning(nullptr, QStringLiteral("warning"), CheckedOpen::warningText(lines));
}

// One row for the whole check: its files are the differing ones by their place beside the
// program ("nc/<task>/<file>", "pdf/<task>.pdf"), its bytes the number of task files checked.
void HistoryWindow::recordSweep(
    const QString &folder, const QString &uid, const QList<InstalledCheck::TaskCheck> &checks, bool readable)
{
    HistoryEntry entry;
    bool changed = false;
    for (const InstalledCheck::TaskCheck &task : checks) {
        entry.bytes += task.result == InstalledCheck::Result::Unchanged
            || task.result == InstalledCheck::Result::Changed;
        changed = changed || task.result == InstalledCheck::Result::Changed;
        const QString prefix = task.kind == QLatin1String("pdf") ? QStringLiteral("pdf/")
                                                                 : QStringLiteral("nc/%1/").arg(task.task);
        for (HistoryFile file : task.differences.found) {
            file.path.prepend(prefix);
            entry.files << file;
        }
    }
    const InstalledCheck::Result result = !readable ? InstalledCheck::Result::Unreadable
        : changed                                   ? InstalledCheck::Result::Changed
                                                    : InstalledCheck::Result::Unchanged;
    entry.outcome = InstalledCheck::resultName(result);
    entry.ok = result == InstalledCheck::Result::Unchanged;
    if (!CheckedOpen(folder, uid).record(entry))
        qCWarning(tasksLog).noquote() << "history: the check of every task was not recorded";
}
