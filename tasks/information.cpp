#include "tasks/information.h"
#include "ui_information.h"

#include "core/offthread.h"
#include "core/openbox.h"
#include "core/proxyfactory.h"
#include "core/tracelog.h"
#include "core/windowfit.h"
#include "history/historyfileindex.h"
#include "history/historystore.h"
#include "history/taskliststore.h"
#include "service/devicecall.h"
#include "service/fetchjob.h"
#include "service/httptransfer.h"
#include "service/network.h"
#include "service/safefilename.h"
#include "service/scancode.h"
#include "settings/setup.h"
#include "tasks/checkedopen.h"
#include "tasks/filechooser.h"
#include "tasks/historywindow.h"
#include "tasks/proxysigninbox.h"
#include "tasks/refreshschedule.h"
#include "tasks/scanrouter.h"
#include "tasks/statustext.h"
#include "tasks/tasklistchange.h"
#include "tasks/tasksession.h"
#include "tasks/taskslog.h"

#include <QAbstractButton>
#include <QApplication>
#include <QCloseEvent>
#include <QDateTime>
#include <QDebug>
#include <QDir>
#include <QFileInfo>
#include <QHeaderView>
#include <QIcon>
#include <QMetaEnum>
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
const QColor staleColor(Qt::gray);
const QColor failedScanColor(255, 200, 200);

QString programFolder()
{
    return QCoreApplication::applicationDirPath();
}

} // namespace

Information::Information(QWidget *parent)
    : QWidget(parent)
    , ui(new Ui::Information)
    , dayOffset(0)
    , session(new TaskSession(this))
    , datePick(new QTimer(this))
{
    ui->setupUi(this);
    // Nothing reads what is typed into a cell, and a double click is a click.
    ui->view->setEditTriggers(QAbstractItemView::NoEditTriggers);
    connect(ui->view, SIGNAL(cellClicked(int, int)), this, SLOT(cellClick(int, int)));
    ui->view->viewport()->installEventFilter(this);
    ui->view->horizontalHeader()->setResizeContentsPrecision(columnSizingRows);
    fitColumns();
    setShownDate(QDate::fromString(QDateTime::currentDateTime().toString(dateFormat), dateFormat));
    // Typed dates count once they are committed (Enter or leaving the field).
    ui->dateEdit->setKeyboardTracking(false);
    datePick->setSingleShot(true);
    datePick->setInterval(datePickDelayMs);
    connect(datePick, SIGNAL(timeout()), this, SLOT(loadPickedDate()));
    // A scanner types its code as keys: an input method would take the letters as pinyin,
    // and the field keeps the focus whatever the operator clicks.
    ui->scanEdit->setAttribute(Qt::WA_InputMethodEnabled, false);
    for (QAbstractButton *button : findChildren<QAbstractButton *>())
        button->setFocusPolicy(Qt::TabFocus);
    ui->view->setFocusPolicy(Qt::NoFocus);
    scanRouter = new ScanRouter(this, ui->scanEdit);
    connect(scanRouter, &ScanRouter::codeEntered, this, &Information::scanEntered);
    const QFontMetrics metrics = ui->scanEdit->fontMetrics();
    ui->scanEdit->setMinimumWidth(
        metrics.horizontalAdvance(ui->scanEdit->placeholderText()) + metrics.averageCharWidth() * 4);
    connect(session, &TaskSession::wentOnline, this, &Information::goOnline);
    connect(session, &TaskSession::stillOffline, this, &Information::showOfflineStatus);
    connect(session, &TaskSession::signInRefused, this, [this] {
        emit signInRefused();
        close();
    });
    WindowFit::fit(this);
}

Information::~Information() = default;

void Information::start(QString uid)
{
    this->uid = uid;
    started = true;
    session->startOnline(uid);
    ui->scanEdit->setFocus();
    loadTaskList(QDate::currentDate().toString(dateFormat));
    connect(session->schedule(), SIGNAL(due()), this, SLOT(refresh()));
}

void Information::startOffline(QString uid, const QVariantMap &signIn, const QString &why)
{
    this->uid = uid;
    started = true;
    session->startOffline(uid, signIn, why);
    ui->scanEdit->setFocus();
    const QDate day = TaskSession::offlineDay(uid);
    showKeptDay(day.isValid() ? day : QDate::currentDate());
    connect(session->schedule(), SIGNAL(due()), this, SLOT(refresh()));
}

bool Information::isOffline() const
{
    return session->isOffline();
}

QDateTime Information::keptListTime(const QString &uid)
{
    return TaskSession::keptListTime(uid);
}

void Information::showKeptDay(const QDate &day)
{
    QVariantList tasks;
    QDateTime receivedAt;
    const bool kept = session->keptList(day, tasks, receivedAt);
    currentDate = shownDate = day.toString(dateFormat);
    loadedAt = QTime();
    keptAt = kept ? receivedAt : QDateTime();
    dayOffset = static_cast<int>(QDate::currentDate().daysTo(day));
    setShownDate(day);
    taskList = tasks;
    rebuildTable();
    setRowsStale(true);
    showOfflineStatus();
}

void Information::showOfflineStatus()
{
    const QDate day = QDate::fromString(shownDate, dateFormat);
    const QDateTime next = session->schedule()->nextTry();
    setTableStatus(keptAt.isValid()
            ? StatusText::offline(session->reason(), session->failingSince(), keptAt, next)
            : StatusText::offlineNoList(session->reason(), session->failingSince(), day, next));
}

// The kept rows stay, grey, until the reload of their day replaces them.
void Information::goOnline(const QString &newUid)
{
    uid = newUid;
    emit signInAccepted(uid);
    loadTaskList(currentDate);
}

void Information::loadTaskList(QString date)
{
    if (session->isOffline()) {
        showKeptDay(QDate::fromString(date, dateFormat));
        return;
    }
    currentDate = date;
    if (date != shownDate)
        setTableStatus(StatusText::loading(date));
    // A load still waiting is for a day no longer wanted, or for the same day again.
    if (pendingLoad) {
        qCDebug(traceLog) << "task list load abandoned: a newer load replaces it";
        pendingLoad->abandon();
        session->schedule()->reloadSuperseded();
    }
    const QVariantMap request { { "uid", QVariant(uid) }, { "time", QVariant(date) } };
    pendingLoad = HttpTransfer::startTaskList(request, this);
    connect(pendingLoad, &DeviceCall::finished, this,
        [this, date](const QVariantMap &reply, const ErrorInfo &error) { loadAnswered(date, reply, error); });
}

void Information::loadAnswered(const QString &date, const QVariantMap &reply, const ErrorInfo &error)
{
    pendingLoad->deleteLater();
    pendingLoad = nullptr;
    if (error.code() == Network::ProxyNeedsSignIn)
        askProxySignIn([this] { loadTaskList(currentDate); });
    const QVariant data = reply.value("data");
    if (data.userType() == QMetaType::QVariantList) {
        showTasks(date, data.toList());
    } else {
        ErrorInfo failure = error;
        if (!failure.hasError())
            failure.set(Network::InvalidReply, QStringLiteral("the reply has no data list"));
        showFailure(date, failure);
    }
    emit loadEnded();
}

// A reply that brings the rows already shown changes nothing on screen, so the
// operator's selection and scroll position stay.
void Information::showTasks(const QString &date, const QVariantList &tasks)
{
    const bool sameDay = date == shownDate && (loadedAt.isValid() || keptAt.isValid());
    const bool unchanged = sameDay && tasks == taskList;
    if (!unchanged)
        logTaskList(date, tasks, sameDay);
    const QDateTime receivedAt = QDateTime::currentDateTime();
    shownDate = date;
    loadedAt = receivedAt.time();
    keptAt = QDateTime();
    session->reloadSucceeded(date, tasks, receivedAt);
    if (!unchanged) {
        taskList = tasks;
        rebuildTable();
    }
    setRowsStale(false);
    setTableStatus(StatusText::loaded(loadedAt, taskList.size()));
    if (!scanAfterLoad.isEmpty()) {
        const QString task = scanAfterLoad;
        scanAfterLoad.clear();
        openScannedTask(QDate::fromString(date, dateFormat), task);
    }
}

// The rows of the day stay when a reload fails, marked as stale, and so do kept rows shown
// offline until a reload confirms them. Rows of another day are never left under a new
// date: a day that cannot be loaded shows none.
void Information::showFailure(const QString &date, const ErrorInfo &failure)
{
    qCDebug(traceLog) << "task list of" << date << "not loaded:" << failure.code() << failure.message();
    scanAfterLoad.clear();
    session->reloadFailed(date, failure);
    const QDateTime next = session->schedule()->nextTry();
    if (date == shownDate && (loadedAt.isValid() || keptAt.isValid())) {
        setRowsStale(true);
        const QTime rowsFrom = loadedAt.isValid() ? loadedAt : keptAt.time();
        setTableStatus(StatusText::stale(failure, session->failingSince(), rowsFrom, next));
        return;
    }
    shownDate = date;
    loadedAt = QTime();
    keptAt = QDateTime();
    taskList.clear();
    rebuildTable();
    setTableStatus(StatusText::dayFailed(date, failure, next));
}

// One line for each list that differs from the one shown before, none for a reload that
// brings the same list again.
void Information::logTaskList(const QString &date, const QVariantList &tasks, bool sameDay) const
{
    const QString change
        = sameDay ? QStringLiteral(" (%1)").arg(TaskListChange::describe(taskList, tasks)) : QString();
    qCInfo(tasksLog).noquote() << "task list of" << date << ":" << tasks.size() << "tasks" + change;
}

// Every load removes all rows and makes every item anew. The rows go in one call: removed
// one by one, each removal makes the view rescan its header, which grows with the square of
// the rows. The items are set with the model's signals held back, since the view would
// otherwise work out the place of each new item on its own; it repaints once at the end.
void Information::rebuildTable()
{
    rowsStale = false;
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

// The cells only show: no item is editable.
void Information::fillRow(int row, const QVariantMap &task, const QIcon &icon)
{
    const auto shown = [](QTableWidgetItem *item) {
        item->setFlags(Qt::ItemIsSelectable | Qt::ItemIsEnabled);
        return item;
    };
    int column = 0;
    for (const char *field : textFields)
        ui->view->setItem(row, column++, shown(new QTableWidgetItem(task.value(field).toString())));

    auto *pdfItem = shown(new QTableWidgetItem(tr("打印PDF文件")));
    pdfItem->setData(Qt::ForegroundRole, QColor(Qt::blue));
    ui->view->setItem(row, pdfColumn, pdfItem);

    auto *ncItem = shown(new QTableWidgetItem(tr("查看nc文件")));
    ncItem->setData(Qt::ForegroundRole, QColor(Qt::blue));
    ui->view->setItem(row, ncColumn, ncItem);

    auto *modelItem = shown(new QTableWidgetItem());
    modelItem->setData(Qt::DecorationRole, icon);
    ui->view->setItem(row, modelColumn, modelItem);
}

// Each click on a link cell starts one flow; everything it needs is copied from the row
// now, since a reload may replace the rows before it ends.
void Information::cellClick(int row, int col)
{
    if (col != pdfColumn && col != ncColumn)
        return;
    if (row < 0 || row >= taskList.size())
        return;
    if (doubleClicked) {
        doubleClicked = false;
        return;
    }
    const bool pdf = col == pdfColumn;
    const QVariantMap task = taskList.at(row).toMap();
    const QString taskNumber = task.value("task_num").toString();
    // The task number names a file and a folder beside the program; an empty one is allowed.
    if (!taskNumber.isEmpty() && !SafeFileName::isSafeComponent(taskNumber)) {
        qCWarning(tasksLog) << "file action refused: the task number" << taskNumber
                            << "is not a plain file name";
        setFileStatus(StatusText::unsafeTaskNumber(taskNumber));
        return;
    }
    if (session->isOffline()) {
        const QString copy = programFolder() + (pdf ? "/pdf/" + taskNumber + ".pdf" : "/nc/" + taskNumber);
        openFetchedCopy(pdf ? "pdf" : "nc", taskNumber, copy, QString());
        return;
    }
    fetch(task, pdf);
}

// A double click, as in the file explorer, is one click: its second press is taken out, and
// the click its release still makes does nothing.
bool Information::eventFilter(QObject *watched, QEvent *event)
{
    if (watched == ui->view->viewport()) {
        if (event->type() == QEvent::MouseButtonPress)
            doubleClicked = false;
        if (event->type() == QEvent::MouseButtonDblClick) {
            doubleClicked = true;
            return true;
        }
    }
    return QWidget::eventFilter(watched, event);
}

void Information::fetch(const QVariantMap &task, bool pdf)
{
    const QString address = task.value(pdf ? "pdf" : "nc_url").toString();
    const QString taskNumber = task.value("task_num").toString();
    const QString folder = programFolder() + (pdf ? "/pdf/" : "/nc/");
    const QString fileName = taskNumber + (pdf ? ".pdf" : ".zip");
    const QString placedIn = pdf ? folder : folder + taskNumber;
    const QVariantMap request { { "remoteFile", address }, { "localFile", folder + fileName },
        { "localPath", folder + taskNumber } };
    qCDebug(traceLog) << request;
    // A fetch started later may end first; only the newest shows its progress.
    const int action = ++fileActions;
    auto *job = new FetchJob(request, uid);
    connect(job, &FetchJob::progress, this, [this, fileName, action](qint64 received, qint64 total) {
        if (action == fileActions)
            setFileStatus(StatusText::fetching(fileName, received, total));
    });
    connect(job, &FetchJob::finished, this,
        [this, task, taskNumber, pdf, address, fileName, placedIn](
            const FetchReport &report, bool historyRecorded, const QString &) {
            logFetch(taskNumber, pdf, address, report);
            fetchEnded(fileName, placedIn, report, historyRecorded);
            if (report.download == KRESTService::DownloadResult::ProxyNeedsSignIn)
                askProxySignIn([this, task, pdf] { fetch(task, pdf); });
        });
    setFileStatus(StatusText::fetching(fileName, 0, -1));
    job->start();
}

// The NC folder is opened only when it holds the program just fetched; anything else is
// said out loud, since the old program there would be taken for the new one.
void Information::fetchEnded(
    const QString &fileName, const QString &placedIn, const FetchReport &report, bool historyRecorded)
{
    const QString historyNote = historyRecorded ? QString() : StatusText::historyUnavailable();
    setFileStatus(StatusText::fetchEnded(fileName, placedIn, report) + historyNote);
    if (report.succeeded() && !report.pdf && report.ncNotUpdated())
        OpenBox::warning(QStringLiteral("warning"),
            tr("NC程序未更新") + QLatin1Char('\n')
                + StatusText::unpackProblem(report.unpack, report.unpackConflict));
    else if (report.succeeded())
        openFolder(placedIn);
    emit fileActionEnded();
}

// The folder opens at once; the row recording it is written off the GUI thread.
void Information::openFolder(const QString &folder)
{
    const QString user = uid;
    OffThread::then(
        this,
        [folder, user] {
            HttpTransfer transfer;
            transfer.setUserId(user);
            transfer.openLocalPath(folder);
            return transfer.historyRecorded();
        },
        [](bool) {});
}

// copy is a label PDF or an NC program's folder as fetched before; selected, when given, a
// file in that folder to show selected.
void Information::openFetchedCopy(
    const QString &kind, const QString &taskNumber, const QString &copy, const QString &selected)
{
    if (!QFileInfo::exists(copy) || (!selected.isEmpty() && !QFileInfo::exists(selected))) {
        qCInfo(tasksLog).noquote() << "no fetched" << kind << "of task" << taskNumber << "to open";
        if (!session->isOffline() && kind == QLatin1String("nc"))
            offerFetchOf(taskNumber);
        else
            setFileStatus(StatusText::notFetchedOffline());
        return;
    }
    // A copy fetched earlier may have been changed on disk since; the operator decides.
    auto *check = new CheckedOpen(HistoryStore::defaultFolder(), uid, this);
    const QString user = uid;
    connect(check, &CheckedOpen::finished, this,
        [this, check, kind, copy, selected, user](CheckedOpen::Choice choice) {
            check->deleteLater();
            emit fileActionEnded();
            if (choice != CheckedOpen::Choice::Opened)
                return;
            if (selected.isEmpty()) {
                openFolder(kind == QLatin1String("pdf") ? QFileInfo(copy).absolutePath() : copy);
                return;
            }
            OffThread::then(
                this,
                [selected, user] {
                    HttpTransfer transfer;
                    transfer.setUserId(user);
                    transfer.showLocalFile(selected);
                    return true;
                },
                [](bool) {});
        });
    check->approve(kind, taskNumber, copy);
}

// Online, a program whose folder has gone can be fetched again from the shown day's row.
void Information::offerFetchOf(const QString &task)
{
    const int row = ScanCode::taskRow(taskList, task);
    setFileStatus(StatusText::folderGone(task));
    if (row < 0)
        return;
    const QVariantMap record = taskList.at(row).toMap();
    choose(StatusText::folderGone(task), { tr("重新下载任务 %1 的NC程序").arg(task) },
        [this, record](int index) {
            if (index == 0 && !session->isOffline())
                fetch(record, false);
        });
}

void Information::logFetch(
    const QString &taskNumber, bool pdf, const QString &address, const FetchReport &report)
{
    qCInfo(tasksLog).noquote().nospace() << "fetch " << (pdf ? "label PDF" : "NC program") << " of task \""
                                         << taskNumber << "\" from " << address << ": " << report.logText();
}

void Information::on_lastdayBtn_clicked()
{
    const QDate kept = session->isOffline()
        ? session->nextKeptDay(QDate::fromString(currentDate, dateFormat), -1)
        : QDate();
    dayOffset = kept.isValid() ? static_cast<int>(QDate::currentDate().daysTo(kept)) : dayOffset - 1;
    showDay(QDateTime::currentDateTime().addDays(dayOffset).toString(dateFormat));
}

void Information::on_nextdayBtn_clicked()
{
    const QDate kept = session->isOffline()
        ? session->nextKeptDay(QDate::fromString(currentDate, dateFormat), 1)
        : QDate();
    dayOffset = kept.isValid() ? static_cast<int>(QDate::currentDate().daysTo(kept)) : dayOffset + 1;
    showDay(QDateTime::currentDateTime().addDays(dayOffset).toString(dateFormat));
}

void Information::on_todayBtn_clicked()
{
    dayOffset = 0;
    showDay(QDateTime::currentDateTime().toString(dateFormat));
}

// The date edit shows the day asked for at once; the rows follow when it has loaded.
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
    qCInfo(tasksLog).noquote() << "signed out";
    close();
}

// Closing the window ends the session: nothing reloads as its user any more, a load still
// waiting is abandoned, and the history window, which restores as that user, goes too, so
// that the program ends once the windows left are closed. Fetches under way end on their
// own threads and record their rows; nothing is shown of them. A settings form stays until
// it is saved or closed.
void Information::closeEvent(QCloseEvent *event)
{
    session->stop();
    datePick->stop();
    if (pendingLoad)
        pendingLoad->abandon();
    pendingLoad = nullptr;
    closeChooser();
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
    if (pendingLoad) {
        pendingLoad->abandon();
        pendingLoad = nullptr;
        session->schedule()->reloadSuperseded();
    }
    setTableStatus(StatusText::loading(date.toString(dateFormat)));
    datePick->start();
}

// The day buttons then go on from the picked day, so the offset becomes its distance
// from today. The scan field gets the focus back.
void Information::loadPickedDate()
{
    const QDate date = ui->dateEdit->date();
    dayOffset = static_cast<int>(QDate::currentDate().daysTo(date));
    ui->scanEdit->setFocus();
    loadTaskList(date.toString(dateFormat));
}

// The form deletes itself once it is closed or saved.
void Information::on_update_clicked()
{
    if (session->isOffline()) {
        setFileStatus(StatusText::needsService());
        return;
    }
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

// Each load arms the next refresh when it ends, so a tick that comes while one waits is
// left to it; a picked day loads once the picking pauses, and arms the next one then.
void Information::refresh()
{
    if (pendingLoad || session->state() == TaskSession::State::SigningInAgain) {
        qCDebug(traceLog) << "refresh skipped: the task list of" << currentDate << "is still loading";
        return;
    }
    if (datePick->isActive())
        return;
    if (session->isOffline())
        session->retrySignIn();
    else
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

void Information::setRowsStale(bool stale)
{
    if (stale == rowsStale)
        return;
    rowsStale = stale;
    for (int row = 0; row < ui->view->rowCount(); ++row) {
        for (int column = 0; column < modelColumn; ++column) {
            const bool link = column == pdfColumn || column == ncColumn;
            if (QTableWidgetItem *item = ui->view->item(row, column))
                item->setData(Qt::ForegroundRole,
                    stale      ? QVariant(staleColor)
                        : link ? QVariant(QColor(Qt::blue))
                               : QVariant());
        }
    }
}

// A new code closes a chooser still open for the one before. Codes ending while one is
// looked up wait their turn.
void Information::scanEntered(const QString &code)
{
    if (code.trimmed().isEmpty())
        return;
    closeChooser();
    pendingScans << code;
    if (!scanning)
        scanNext();
}

// The code is only compared with known task numbers and recorded file names; whatever
// opens comes from the matched record. The look-up works on copies of the shown day.
void Information::scanNext()
{
    if (pendingScans.isEmpty()) {
        scanning = false;
        return;
    }
    scanning = true;
    const QString code = pendingScans.takeFirst();
    const QString user = uid;
    const QDate day = QDate::fromString(shownDate, dateFormat);
    const QVariantList shown = taskList;
    OffThread::then(
        this,
        [code, user, day, shown] {
            TaskListStore lists;
            HistoryFileIndex files(HistoryStore::defaultFolder());
            return ScanCode(&lists, &files).decide(code, user, day, shown);
        },
        [this, code](const ScanCode::Match &match) {
            scanDecided(code, match);
            ui->scanEdit->setFocus();
            scanNext();
        });
}

void Information::scanDecided(const QString &code, const ScanCode::Match &match)
{
    using Result = ScanCode::Result;
    const bool offline = session->isOffline();
    const bool found = match.result != Result::Unknown && match.result != Result::Refused;
    const QString result = QString::fromLatin1(QMetaEnum::fromType<Result>().valueToKey(int(match.result)));
    const QString task = match.task.value("task_num").toString();
    const QString logged = match.result == Result::Refused ? QString() : match.code;
    qCInfo(tasksLog).nospace()
        << "scan " << (match.result == Result::Refused ? code.left(ScanCode::maxLength) : logged) << ": "
        << qPrintable(result)
        << qPrintable(task.isEmpty() ? QString() : " " + task + " of " + match.day.toString(dateFormat))
        << qPrintable(match.files.isEmpty() ? QString() : QStringLiteral(" %1 files").arg(match.files.size()))
        << (offline ? " (offline)" : "");
    const QString user = uid;
    const QString recordedTask = match.files.size() == 1 ? match.files.first().task : task;
    OffThread::then(
        this,
        [user, logged, recordedTask, result, found, offline] {
            HttpTransfer transfer;
            transfer.setUserId(user);
            transfer.recordScan(logged, recordedTask, result, found, offline);
            return transfer.historyRecorded();
        },
        [](bool) {});
    setScanFailed(!found);
    if (match.result == Result::Refused)
        setFileStatus(StatusText::scanRefused());
    else if (!found)
        setFileStatus(StatusText::scanNotFound(match.code));
    else if (!task.isEmpty())
        openScannedTask(match.day, task);
    else if (match.files.size() == 1)
        openScannedFile(match.files.first().task, match.files.first().folder, match.files.first().path);
    else {
        QStringList choices;
        for (const HistoryFileIndex::Hit &hit : match.files)
            choices << hit.task + QStringLiteral("：") + hit.path;
        const QList<HistoryFileIndex::Hit> hits = match.files;
        choose(tr("%1 在多个任务中，请选择：").arg(match.code), choices, [this, hits](int index) {
            if (index >= 0 && index < hits.size())
                openScannedFile(hits.at(index).task, hits.at(index).folder, hits.at(index).path);
        });
    }
}

// As a click on the NC cell of the task's row, on its day: another day loads first.
void Information::openScannedTask(const QDate &day, const QString &taskNumber)
{
    if (day.toString(dateFormat) != shownDate) {
        dayOffset = static_cast<int>(QDate::currentDate().daysTo(day));
        scanAfterLoad = session->isOffline() ? QString() : taskNumber;
        showDay(day.toString(dateFormat));
        if (!session->isOffline())
            return;
    }
    const int row = ScanCode::taskRow(taskList, taskNumber);
    if (row < 0) {
        setScanFailed(true);
        setFileStatus(StatusText::scanNotFound(taskNumber));
        return;
    }
    ui->view->selectRow(row);
    ui->view->scrollToItem(ui->view->item(row, 0));
    doubleClicked = false;
    cellClick(row, ncColumn);
}

// A file name the history holds is still refused when it would lead out of its folder.
void Information::openScannedFile(const QString &task, const QString &folder, const QString &path)
{
    const QString root = QDir::cleanPath(folder);
    const QString file = QDir::cleanPath(root + QLatin1Char('/') + path);
    if (!file.startsWith(root + QLatin1Char('/'))) {
        qCWarning(tasksLog) << "scan: the recorded file" << path << "of task" << task << "leaves its folder";
        return;
    }
    openFetchedCopy(QStringLiteral("nc"), task, root, file);
}

// One chooser at a time; its keys count as the window's, so a scan closes it.
void Information::choose(
    const QString &question, const QStringList &choices, const std::function<void(int)> &chosen)
{
    closeChooser();
    chooser = new FileChooser(tr("选择文件"), question, choices, tr("打开"));
    scanRouter->watch(chooser);
    connect(chooser, &FileChooser::chosen, this, chosen);
    chooser->open();
}

// The proxy is asked for once in the window's life: the answer is kept for the whole
// program, and a proxy that refuses it again counts as the service not answering.
void Information::askProxySignIn(const std::function<void()> &retry)
{
    if (proxySignInAsked)
        return;
    proxySignInAsked = true;
    auto *box = new ProxySignInBox(this);
    connect(box, &ProxySignInBox::answered, this, retry);
    box->ask(ProxyFactory::describe());
}

// Closed without a choice. The scan that closes it may come from its own keys, so it goes
// once control is back in the event loop.
void Information::closeChooser()
{
    if (!chooser)
        return;
    chooser->disconnect(this);
    chooser->hide();
    chooser->deleteLater();
    chooser = nullptr;
}

void Information::setScanFailed(bool failed)
{
    QPalette palette = ui->scanEdit->palette();
    palette.setColor(
        QPalette::Base, failed ? failedScanColor : QApplication::palette(ui->scanEdit).color(QPalette::Base));
    ui->scanEdit->setPalette(palette);
}
