#include "tasks/information.h"
#include "ui_information.h"

#include "core/busycall.h"
#include "core/tracelog.h"
#include "core/windowfit.h"
#include "service/httptransfer.h"
#include "service/network.h"
#include "service/safefilename.h"
#include "settings/setup.h"
#include "tasks/historywindow.h"
#include "tasks/refreshschedule.h"
#include "tasks/statustext.h"
#include "tasks/tasklistchange.h"
#include "tasks/taskslog.h"

#include <QApplication>
#include <QCloseEvent>
#include <QDateTime>
#include <QDebug>
#include <QDir>
#include <QHeaderView>
#include <QIcon>
#include <QMessageBox>
#include <QPointer>
#include <QScopeGuard>
#include <QSignalBlocker>
#include <QStyle>
#include <QTableWidgetItem>
#include <QTimer>

namespace {

const QString dateFormat = QStringLiteral("yyyy-MM-dd");
// Long enough to take a burst of wheel steps as one pick, short enough not to be noticed.
constexpr int datePickDelayMs = 400;
constexpr int pdfColumn = 7;
constexpr int ncColumn = 8;
constexpr int modelColumn = 9;
// Column widths follow the first rows only: enough to see what a column holds, and cheap
// however long the day's list is.
constexpr int columnSizingRows = 50;
// Room beside the widest text, so that neighbouring columns do not run together.
constexpr int columnRoomChars = 2;
// No column grows wider than this many average characters; longer texts end in "...".
constexpr int maxColumnChars = 40;

// Record fields shown as text, by column.
const char *const textFields[]
    = { "task_num", "buyer_address", "u_name", "create_time", "name", "expand_area", "piece" };

} // namespace

Information::Information(QWidget *parent)
    : QWidget(parent)
    , ui(new Ui::Information)
    , dayOffset(0)
    , schedule(new RefreshSchedule(this))
    , datePick(new QTimer(this))
{
    ui->setupUi(this);
    connect(ui->view, SIGNAL(cellClicked(int, int)), this, SLOT(cellClick(int, int)));
    ui->view->horizontalHeader()->setResizeContentsPrecision(columnSizingRows);
    fitColumns();
    setShownDate(QDate::fromString(QDateTime::currentDateTime().toString(dateFormat), dateFormat));
    // Typed dates count once they are committed (Enter or leaving the field).
    ui->dateEdit->setKeyboardTracking(false);
    datePick->setSingleShot(true);
    datePick->setInterval(datePickDelayMs);
    connect(datePick, SIGNAL(timeout()), this, SLOT(loadPickedDate()));
    WindowFit::fit(this);
}

Information::~Information() = default;

void Information::start(QString uid)
{
    this->uid = uid;
    started = true;
    schedule->start();
    loadTaskList(QDate::currentDate().toString(dateFormat));
    connect(schedule, SIGNAL(due()), this, SLOT(refresh()));
}

void Information::loadTaskList(QString date)
{
    currentDate = date;
    const int generation = ++loadGeneration;
    if (date != shownDate)
        setTableStatus(StatusText::loading(date));

    const QPointer<Information> alive(this);
    HttpTransfer transfer;
    const QVariantMap request { { "uid", QVariant(uid) }, { "time", QVariant(date) } };
    ++pendingLoads;
    const QVariantMap reply = transfer.getTaskList(request);
    if (!alive)
        return;
    --pendingLoads;
    if (generation != loadGeneration) {
        qCDebug(traceLog) << "task list of" << date << "dropped: a newer load replaced it";
        schedule->reloadSuperseded();
        return;
    }

    const QVariant data = reply.value("data");
    if (data.userType() == QMetaType::QVariantList) {
        showTasks(date, data.toList());
        return;
    }
    ErrorInfo failure = transfer.lastError();
    if (!failure.hasError())
        failure.set(Network::InvalidReply, QStringLiteral("the reply has no data list"));
    showFailure(date, failure);
}

// A reply that brings the rows already shown changes nothing on screen, so the
// operator's selection and scroll position stay.
void Information::showTasks(const QString &date, const QVariantList &tasks)
{
    const bool sameDay = date == shownDate && loadedAt.isValid();
    const bool unchanged = sameDay && tasks == taskList;
    if (failingSince.isValid())
        qInfo().noquote() << "device service answers again, after failing since"
                          << StatusText::clock(failingSince);
    if (!unchanged)
        logTaskList(date, tasks, sameDay);
    shownDate = date;
    loadedAt = QTime::currentTime();
    failingSince = QTime();
    schedule->reloadSucceeded();
    if (!unchanged) {
        taskList = tasks;
        rebuildTable();
    }
    setTableStatus(StatusText::loaded(loadedAt, taskList.size()));
}

// The rows of the day stay when a reload fails, marked as stale. Rows of another day are
// never left under a new date: a day that cannot be loaded shows none.
void Information::showFailure(const QString &date, const ErrorInfo &failure)
{
    qCDebug(traceLog) << "task list of" << date << "not loaded:" << failure.code() << failure.message();
    if (!failingSince.isValid()) {
        failingSince = QTime::currentTime();
        qInfo().noquote() << "device service failing:" << date << "not loaded," << failure.message();
    }
    schedule->reloadFailed();
    if (date == shownDate && loadedAt.isValid()) {
        setTableStatus(StatusText::stale(failure, failingSince, loadedAt, schedule->nextTry()));
        return;
    }
    shownDate = date;
    loadedAt = QTime();
    taskList.clear();
    rebuildTable();
    setTableStatus(StatusText::dayFailed(date, failure, schedule->nextTry()));
}

// One line for each list that differs from the one shown before, none for a reload that
// brings the same list again.
void Information::logTaskList(const QString &date, const QVariantList &tasks, bool sameDay) const
{
    const QString change
        = sameDay ? QStringLiteral(" (%1)").arg(TaskListChange::describe(taskList, tasks)) : QString();
    qInfo().noquote() << "task list of" << date << ":" << tasks.size() << "tasks" + change;
}

// Every load removes all rows and makes every item anew. The rows go in one call: removed
// one by one, each removal makes the view rescan its header, which grows with the square of
// the rows. The items are set with the model's signals held back, since the view would
// otherwise work out the place of each new item on its own; it repaints once at the end.
void Information::rebuildTable()
{
    ui->view->setRowCount(0);
    ui->view->setRowCount(taskList.size());
    const QIcon icon = modelIcon();
    {
        const QSignalBlocker blocker(ui->view->model());
        for (int row = 0; row < taskList.size(); ++row)
            fillRow(row, taskList.at(row).toMap(), icon);
    }
    ui->view->viewport()->update();

    if (taskList.isEmpty())
        return;
    ui->view->setIconSize(QSize(200, 200));
    ui->view->setVerticalScrollMode(QAbstractItemView::ScrollPerPixel);
    ui->view->setHorizontalScrollMode(QAbstractItemView::ScrollPerPixel);
    fitColumns();
}

// Each column as wide as its title and its texts need, within reason.
void Information::fitColumns()
{
    QHeaderView *header = ui->view->horizontalHeader();
    const int room = ui->view->fontMetrics().averageCharWidth() * columnRoomChars;
    const int widest = ui->view->fontMetrics().averageCharWidth() * maxColumnChars;
    for (int column = 0; column < ui->view->columnCount(); ++column) {
        ui->view->resizeColumnToContents(column);
        header->resizeSection(column, qMin(header->sectionSize(column) + room, widest));
    }
}

// Made from a small pixmap so that the view's large icon size never scales it up: the
// rows keep their normal height and stay readable.
QIcon Information::modelIcon() const
{
    return QIcon(style()->standardIcon(QStyle::SP_FileIcon).pixmap(24, 24));
}

void Information::fillRow(int row, const QVariantMap &task, const QIcon &icon)
{
    int column = 0;
    for (const char *field : textFields)
        ui->view->setItem(row, column++, new QTableWidgetItem(task.value(field).toString()));

    auto *pdfItem = new QTableWidgetItem(tr("打印PDF文件"));
    pdfItem->setData(Qt::ForegroundRole, QColor(Qt::blue));
    ui->view->setItem(row, pdfColumn, pdfItem);

    auto *ncItem = new QTableWidgetItem(tr("查看nc文件"));
    ncItem->setData(Qt::ForegroundRole, QColor(Qt::blue));
    ui->view->setItem(row, ncColumn, ncItem);

    auto *modelItem = new QTableWidgetItem();
    modelItem->setData(Qt::DecorationRole, icon);
    ui->view->setItem(row, modelColumn, modelItem);
}

// The fetch waits in a local event loop during which refresh() may replace taskList and
// rebuild the table, so everything the action needs is copied first.
void Information::cellClick(int row, int col)
{
    if (col != pdfColumn && col != ncColumn)
        return;
    if (row < 0 || row >= taskList.size())
        return;
    const bool pdf = col == pdfColumn;
    const QVariantMap task = taskList.at(row).toMap();
    const QString address = task.value(pdf ? "pdf" : "nc_url").toString();
    const QString taskNumber = task.value("task_num").toString();
    // The task number names a file and a folder beside the program; an empty one is allowed.
    if (!taskNumber.isEmpty() && !SafeFileName::isSafeComponent(taskNumber)) {
        qCWarning(tasksLog) << "file action refused: the task number" << taskNumber
                            << "is not a plain file name";
        return;
    }

    const QString folder = QCoreApplication::applicationDirPath() + (pdf ? "/pdf/" : "/nc/");
    const QString fileName = taskNumber + (pdf ? ".pdf" : ".zip");
    const QVariantMap request { { "remoteFile", address }, { "localFile", folder + fileName },
        { "localPath", folder + taskNumber } };
    HttpTransfer transfer;
    transfer.setUserId(uid);
    qCDebug(traceLog) << request;
    // A fetch clicked while this one waits may end first; its result, and whether its history
    // row was written, must not give way to this one's progress.
    const int action = ++fileActions;
    connect(&transfer, &HttpTransfer::fetchProgress, this,
        [this, fileName, action](qint64 received, qint64 total) {
            if (action == fileActions)
                setFileStatus(StatusText::fetching(fileName, received, total));
        });
    setFileStatus(StatusText::fetching(fileName, 0, -1));

    BusyCall busy(this);
    busy.run([&] { return transfer.downloadNcFile(request); });
    logFetch(taskNumber, pdf, address, transfer.lastFetch());
    if (busy.windowAlive())
        finishFileAction(transfer, fileName, pdf ? folder : folder + taskNumber);
}

// The NC folder is opened only when it holds the program just fetched; anything else is
// said out loud, since the old program there would be taken for the new one.
void Information::finishFileAction(HttpTransfer &transfer, const QString &fileName, const QString &placedIn)
{
    const FetchReport &report = transfer.lastFetch();
    const QString historyNote = transfer.historyRecorded() ? QString() : StatusText::historyUnavailable();
    setFileStatus(StatusText::fetchEnded(fileName, placedIn, report) + historyNote);
    if (!report.succeeded())
        return;
    if (!report.pdf && report.ncNotUpdated()) {
        QMessageBox::warning(nullptr, QStringLiteral("warning"),
            tr("NC程序未更新") + QLatin1Char('\n') + StatusText::unpackProblem(report.unpack));
        return;
    }
    transfer.openLocalPath(placedIn);
}

void Information::logFetch(
    const QString &taskNumber, bool pdf, const QString &address, const FetchReport &report)
{
    qInfo().noquote().nospace() << "fetch " << (pdf ? "label PDF" : "NC program") << " of task \""
                                << taskNumber << "\" from " << address << ": " << report.logText();
}

void Information::on_lastdayBtn_clicked()
{
    --dayOffset;
    showDay(QDateTime::currentDateTime().addDays(dayOffset).toString(dateFormat));
}

void Information::on_nextdayBtn_clicked()
{
    ++dayOffset;
    showDay(QDateTime::currentDateTime().addDays(dayOffset).toString(dateFormat));
}

void Information::on_todayBtn_clicked()
{
    dayOffset = 0;
    showDay(QDateTime::currentDateTime().toString(dateFormat));
}

// Another day picked while this one loaded has replaced it; the date edit follows the
// load that counts.
void Information::showDay(const QString &date)
{
    datePick->stop();
    loadTaskList(date);
    setShownDate(QDate::fromString(currentDate, dateFormat));
}

// The window's own changes of the date edit must not reach on_dateEdit_dateChanged,
// which would load the day a second time.
void Information::setShownDate(const QDate &date)
{
    const QSignalBlocker blocker(ui->dateEdit);
    ui->dateEdit->setDate(date);
}

void Information::on_out_clicked()
{
    qInfo().noquote() << "signed out";
    close();
}

// Closing the window ends the session: nothing reloads as its user any more, and the history
// window, which restores as that user, goes too, so that the program ends once the windows
// left are closed. A settings form stays until it is saved or closed.
void Information::closeEvent(QCloseEvent *event)
{
    schedule->stop();
    datePick->stop();
    if (historyWindow)
        historyWindow->close();
    QWidget::closeEvent(event);
}

// Only the operator's own picks arrive here; the load follows once the picking pauses.
// Meanwhile the date edit already shows the picked day, so the rows are marked as not yet
// its own, and no load of another day may finish as if it were.
void Information::on_dateEdit_dateChanged(QDate date)
{
    if (!started || !date.isValid())
        return;
    ++loadGeneration;
    setTableStatus(StatusText::loading(date.toString(dateFormat)));
    datePick->start();
}

// The day buttons then go on from the picked day, so the offset becomes its distance
// from today.
void Information::loadPickedDate()
{
    const QDate date = ui->dateEdit->date();
    dayOffset = static_cast<int>(QDate::currentDate().daysTo(date));
    loadTaskList(date.toString(dateFormat));
}

// The form deletes itself once it is closed or saved.
void Information::on_update_clicked()
{
    auto *form = new setup;
    form->setUid(uid);
    form->show();
}

// One history window at a time; the task of the selected row fills its task filter.
void Information::on_historyBtn_clicked()
{
    const int row = ui->view->currentRow();
    const QString task = row >= 0 && row < taskList.size()
        ? taskList.at(row).toMap().value("task_num").toString()
        : QString();
    if (!historyWindow) {
        historyWindow = new HistoryWindow(HttpTransfer().historyFolder());
        historyWindow->setUserId(uid);
    }
    historyWindow->setTaskFilter(task);
    historyWindow->show();
    historyWindow->raise();
    historyWindow->activateWindow();
}

// Each load arms the next refresh when it ends (one replaced by a newer load only when none
// is armed), so one that comes while a load waits is left to that load.
void Information::refresh()
{
    // A tick during a slow load would otherwise start a second load inside the first.
    if (pendingLoads > 0) {
        qCDebug(traceLog) << "refresh skipped: the task list of" << currentDate << "is still loading";
        return;
    }
    // A picked day loads once the picking pauses, and arms the next refresh.
    if (datePick->isActive())
        return;
    loadTaskList(currentDate);
}

void Information::setTableStatus(const QString &text)
{
    tableStatus = text;
    ui->statusLbl->setText(
        fileStatus.isEmpty() ? tableStatus : tableStatus + QStringLiteral("　｜　") + fileStatus);
}

void Information::setFileStatus(const QString &text)
{
    fileStatus = text;
    setTableStatus(tableStatus);
}
