#include "tasks/historywindow.h"
#include "ui_historywindow.h"

#include "core/offthread.h"
#include "core/openbox.h"
#include "core/windowfit.h"
#include "history/fetchhistory.h"
#include "history/historyconnection.h"
#include "history/historycsv.h"
#include "history/inplacecompare.h"
#include "plant/plantstatus.h"
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
#include <QHeaderView>
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
constexpr int contentsSizingRows = 50;

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
    // Each column as wide as its header and the rows in view need, at any DPI.
    ui->table->horizontalHeader()->setSectionResizeMode(QHeaderView::ResizeToContents);
    // Each layout measures the rows it looks at: the first ones say enough, and a long
    // history would hold the window at every reload.
    ui->table->horizontalHeader()->setResizeContentsPrecision(contentsSizingRows);
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
    // The worker publishes its state; the window only reads the latest.
    connect(PlantStatusBoard::instance(), &PlantStatusBoard::changed, this, &HistoryWindow::showPlantNote);
    showPlantNote();
}

void HistoryWindow::showPlantNote()
{
    const PlantStatus status = PlantStatusBoard::instance()->current();
    ui->plantLbl->setVisible(status.on);
    if (!status.on)
        return;
    const QDateTime oldest = QDateTime::fromString(status.oldestTime, Qt::ISODateWithMs);
    ui->plantLbl->setText(StatusText::plantNote(status.backlog, oldest.toLocalTime().time()));
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

// A button whose flow is still running stays disabled through every reload.
void HistoryWindow::updateButtons()
{
    const int row = selectedRow();
    const int selected = ui->table->selectionModel()->selectedRows().size();
    ui->restoreBtn->setEnabled(!m_restoring && selected == 1 && !m_model->keptPath(row).isEmpty());
    ui->compareBtn->setEnabled(!m_comparing && (selected == 1 || selected == 2));
    const QString kind = m_model->kindName(row);
    ui->openBtn->setEnabled(
        !m_opening && selected == 1 && (kind == QLatin1String("nc") || kind == QLatin1String("pdf")));
    ui->checkBtn->setEnabled(!m_checking);
    ui->bundleBtn->setEnabled(!m_bundling);
    ui->exportBtn->setEnabled(!m_exporting);
    ui->copyShaAction->setEnabled(row >= 0 && !m_model->sha256(row).isEmpty());
}

// Ends one of the window's flows: its button comes back, and whoever waits on the window
// (a test, the shift) learns of it.
void HistoryWindow::endAction(bool &running)
{
    running = false;
    updateButtons();
    emit actionEnded();
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
// current one is the newest put in place since. The question does not wait; the restore
// runs off the GUI thread once it is answered.
void HistoryWindow::restoreRow(int row)
{
    if (row < 0 || row >= m_model->rowCount() || m_restoring)
        return;
    HistoryStore store(m_folder);
    HistoryEntry entry;
    if (!store.find(m_model->entryId(row), entry) || entry.keptPath.isEmpty()) {
        OpenBox::warning(QStringLiteral("fail"), tr("这条记录没有保留旧版本"));
        return;
    }
    const QString question
        = tr("恢复任务 %1 的旧版本？\n\n恢复的版本：%2\n当前的版本：%3\n\n当前的版本会先保存到记录中。")
              .arg(entry.task, versionText(entry.kind, entry.task, entry.id),
                  versionText(entry.kind, entry.task, std::numeric_limits<qint64>::max()));
    m_restoring = true;
    updateButtons();
    QMessageBox *box = OpenBox::show(
        QMessageBox::Question, QStringLiteral("warning"), question, QMessageBox::Yes | QMessageBox::No);
    connect(box, &QMessageBox::finished, this, [this, box, entry] {
        if (box->clickedButton() != box->button(QMessageBox::Yes)) {
            endAction(m_restoring);
            return;
        }
        restoreEntry(entry);
    });
}

void HistoryWindow::restoreEntry(const HistoryEntry &entry)
{
    const QString folder = m_folder;
    const QString uid = m_uid;
    const qint64 id = entry.id;
    OffThread::then(
        this,
        [folder, uid, id] {
            HttpTransfer transfer;
            transfer.setHistoryFolder(folder);
            transfer.setUserId(uid);
            return transfer.restoreVersion(id);
        },
        [this, entry](FetchHistory::RestoreResult result) {
            reload();
            if (result == FetchHistory::RestoreResult::Restored)
                showStatus(tr("已恢复任务 %1 的旧版本").arg(entry.task));
            else
                OpenBox::warning(QStringLiteral("fail"), StatusText::restoreOutcome(result));
            endAction(m_restoring);
        });
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

// The file is written off the GUI thread from copies of what it reads; a window closed
// meanwhile shows nothing, and a failure is said in a box of its own.
void HistoryWindow::exportTo(const QString &fileName)
{
    if (m_exporting)
        return;
    const HistoryStore::Filter wanted = filter();
    const QString folder = m_folder;
    m_exporting = true;
    updateButtons();
    OffThread::then(
        this,
        [folder, wanted, fileName] {
            Written written;
            HistoryStore store(folder);
            written.done = HistoryCsv::write(
                store, wanted, fileName, &written.error, &written.count, &HistoryModel::outcomeText);
            return written;
        },
        [this, fileName](const Written &written) {
            if (written.done) {
                showStatus(
                    tr("已导出 %1 条记录到 %2").arg(written.count).arg(QDir::toNativeSeparators(fileName)));
            } else {
                qCWarning(tasksLog).noquote() << "history: export failed:" << written.error;
                OpenBox::warning(QStringLiteral("fail"), tr("导出失败"));
            }
            endAction(m_exporting);
        });
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

// The button stays disabled while the bundle is written off the GUI thread.
void HistoryWindow::writeSupportBundle(const QString &fileName)
{
    if (m_bundling)
        return;
    Network *network = Network::getInstance("defalut");
    QString root;
    {
        QMutexLocker locker(&network->mutex);
        root = network->rootUrl;
    }
    SupportBundle::Sources sources = SupportBundle::Sources::besideProgram(root);
    sources.historyFolder = m_folder;
    m_bundling = true;
    updateButtons();
    OffThread::then(
        this,
        [sources, fileName] {
            Written written;
            SupportBundle bundle(sources);
            written.done = bundle.write(fileName);
            written.error = bundle.errorString();
            return written;
        },
        [this, fileName](const Written &written) {
            if (written.done) {
                qCInfo(tasksLog).noquote()
                    << "support bundle written to" << QDir::toNativeSeparators(fileName);
                showStatus(tr("诊断包已保存到 %1").arg(QDir::toNativeSeparators(fileName)));
            } else {
                qCWarning(tasksLog).noquote() << "support bundle failed:" << written.error;
                OpenBox::warning(QStringLiteral("fail"), tr("诊断包写入失败"));
            }
            endAction(m_bundling);
        });
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
    if (m_comparing)
        return;
    QList<HistoryEntry> entries;
    if (!findEntries(rows, entries))
        return;
    const QString problem = whyNotComparable(entries);
    if (!problem.isEmpty()) {
        OpenBox::warning(QStringLiteral("fail"), problem);
        return;
    }
    NcCompare::Side older, newer;
    if (!findSides(entries, older, newer))
        return;
    const bool integerIsUnit = ncIntegerIsUnit;
    // The version in place is compared with its own files as fetched, not with itself.
    const bool inPlace = entries.size() == 1 && QFileInfo(older.path) == QFileInfo(newer.path);
    const QString folder = m_folder;
    const HistoryEntry entry = entries.first();
    const QString first = tr("%1 放入的版本").arg(HistoryStore::localTimeText(entries.first()).left(19));
    const QString second = entries.size() == 2
        ? tr("%1 放入的版本").arg(HistoryStore::localTimeText(entries.last()).left(19))
        : tr("当前的版本（%1）").arg(QDir::toNativeSeparators(newer.path));
    m_comparing = true;
    updateButtons();
    OffThread::then(
        this,
        [integerIsUnit, older, newer, inPlace, folder, entry] {
            return inPlace ? InPlaceCompare(folder, integerIsUnit).compare(entry)
                           : NcCompare(integerIsUnit).compare(older, newer);
        },
        [this, first, second](const NcCompare::Result &result) {
            if (!result.error.isEmpty()) {
                qCWarning(tasksLog).noquote() << "history: compare failed:" << result.error;
                OpenBox::warning(QStringLiteral("fail"), tr("比较失败：%1").arg(result.error));
            } else {
                auto *window = new NcCompareWindow(result, first, second, this);
                window->show();
            }
            endAction(m_comparing);
        });
}

// The entries of the rows, oldest first.
bool HistoryWindow::findEntries(const QList<int> &rows, QList<HistoryEntry> &entries)
{
    HistoryStore store(m_folder);
    for (const int row : rows) {
        HistoryEntry entry;
        if (row < 0 || row >= m_model->rowCount() || !store.find(m_model->entryId(row), entry)) {
            OpenBox::warning(QStringLiteral("fail"), tr("下载记录暂不可用"));
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
            OpenBox::warning(QStringLiteral("fail"),
                tr("%1 放入的版本已不在磁盘上（已被清理），无法比较")
                    .arg(HistoryStore::localTimeText(entry).left(19)));
            return false;
        }
    }
    if (entries.size() == 2)
        return true;
    newer.path = entries.first().target;
    if (!newer.path.isEmpty() && QFileInfo::exists(newer.path))
        return true;
    OpenBox::warning(QStringLiteral("fail"), tr("任务 %1 当前没有程序").arg(entries.first().task));
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
// its own, by a later fetch or restore. The button stays disabled until the check, and the
// operator's answer where it asks one, have ended.
void HistoryWindow::openRow(int row)
{
    if (m_opening)
        return;
    HistoryStore store(m_folder);
    HistoryEntry entry;
    if (row < 0 || row >= m_model->rowCount() || !store.find(m_model->entryId(row), entry)) {
        OpenBox::warning(QStringLiteral("fail"), tr("下载记录暂不可用"));
        return;
    }
    HistoryEntry inPlace;
    const QString path
        = store.lastInstalled(entry.kind, entry.task, std::numeric_limits<qint64>::max(), inPlace)
        ? inPlace.target
        : entry.target;
    if (path.isEmpty() || !QFileInfo::exists(path)) {
        OpenBox::warning(QStringLiteral("fail"), tr("任务 %1 当前没有文件").arg(entry.task));
        return;
    }
    m_opening = true;
    updateButtons();
    auto *open = new CheckedOpen(m_folder, m_uid, this);
    connect(open, &CheckedOpen::finished, this, [this, open] {
        open->deleteLater();
        reload();
        endAction(m_opening);
    });
    open->open(entry.kind, entry.task, path);
}

void HistoryWindow::on_checkBtn_clicked()
{
    checkEveryTask();
}

// Every file of every task is read, and the check recorded, off the GUI thread.
void HistoryWindow::checkEveryTask()
{
    if (m_checking)
        return;
    const QString folder = m_folder;
    const QString uid = m_uid;
    m_checking = true;
    updateButtons();
    OffThread::then(
        this,
        [folder, uid] {
            Swept swept;
            InstalledCheck check(folder);
            swept.readable = check.checkEveryTask(swept.checks);
            swept.error = check.lastError();
            recordSweep(folder, uid, swept.checks, swept.readable);
            return swept;
        },
        [this](const Swept &swept) {
            if (!swept.readable) {
                qCWarning(tasksLog).noquote() << "history: cannot check the tasks' files:" << swept.error;
                OpenBox::warning(QStringLiteral("fail"), tr("下载记录暂不可用"));
            } else {
                showDifferences(swept.checks);
                reload();
            }
            endAction(m_checking);
        });
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
        OpenBox::show(QMessageBox::Information, QStringLiteral("success"),
            tr("已校验 %1 个任务文件，均与下载时相同").arg(checked));
    else
        OpenBox::warning(QStringLiteral("warning"), CheckedOpen::warningText(lines));
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
    if (!CheckedOpen::record(folder, uid, entry))
        qCWarning(tasksLog).noquote() << "history: the check of every task was not recorded";
}
