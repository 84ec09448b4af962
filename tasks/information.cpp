#include "tasks/information.h"
#include "ui_information.h"

#include "core/busycall.h"
#include "core/offthread.h"
#include "core/tracelog.h"
#include "core/windowfit.h"
#include "history/historyfileindex.h"
#include "history/historystore.h"
#include "history/taskliststore.h"
#include "service/httptransfer.h"
#include "service/network.h"
#include "service/safefilename.h"
#include "service/scancode.h"
#include "service/signinresult.h"
#include "settings/setup.h"
#include "tasks/checkedopen.h"
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
#include <QFileInfo>
#include <QHeaderView>
#include <QIcon>
#include <QInputDialog>
#include <QKeyEvent>
#include <QMessageBox>
#include <QMetaEnum>
#include <QPointer>
#include <QScopeGuard>
#include <QSignalBlocker>
#include <QStyle>
#include <QTableWidgetItem>
#include <QThreadPool>
#include <QTimer>
#include <QtConcurrent/QtConcurrentRun>

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
    // A scanner types its code as keys: an input method would take the letters as pinyin.
    ui->scanEdit->setAttribute(Qt::WA_InputMethodEnabled, false);
    ui->scanEdit->installEventFilter(this);
    const QFontMetrics metrics = ui->scanEdit->fontMetrics();
    ui->scanEdit->setMinimumWidth(
        metrics.horizontalAdvance(ui->scanEdit->placeholderText()) + metrics.averageCharWidth() * 4);
    WindowFit::fit(this);
}

Information::~Information() = default;

void Information::start(QString uid)
{
    this->uid = uid;
    started = true;
    schedule->start();
    ui->scanEdit->setFocus();
    loadTaskList(QDate::currentDate().toString(dateFormat));
    connect(schedule, SIGNAL(due()), this, SLOT(refresh()));
}

// The sign-in is retried on the back-off of a failing reload.
void Information::startOffline(QString uid, const QVariantMap &signIn, const QString &why)
{
    this->uid = uid;
    started = true;
    offline = true;
    signInRequest = signIn;
    offlineReason = why;
    failingSince = QTime::currentTime();
    schedule->start();
    schedule->reloadFailed();
    ui->scanEdit->setFocus();
    TaskListStore lists;
    const QDate day = offlineDay(lists, uid);
    showKeptDay(day.isValid() ? day : QDate::currentDate());
    connect(schedule, SIGNAL(due()), this, SLOT(refresh()));
}

bool Information::isOffline() const
{
    return offline;
}

QDate Information::offlineDay(TaskListStore &lists, const QString &uid)
{
    const QList<QDate> days = lists.days(uid);
    return days.contains(QDate::currentDate()) ? QDate::currentDate() : days.value(0);
}

QDateTime Information::keptListTime(const QString &uid)
{
    TaskListStore lists;
    QVariantList tasks;
    QDateTime receivedAt;
    const QDate day = offlineDay(lists, uid);
    return day.isValid() && lists.load(uid, day, tasks, receivedAt) ? receivedAt : QDateTime();
}

void Information::showKeptDay(const QDate &day)
{
    QVariantList tasks;
    QDateTime receivedAt;
    const bool kept = TaskListStore().load(uid, day, tasks, receivedAt);
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
    setTableStatus(keptAt.isValid()
            ? StatusText::offline(offlineReason, failingSince, keptAt, schedule->nextTry())
            : StatusText::offlineNoList(offlineReason, failingSince, day, schedule->nextTry()));
}

// Offline, the day buttons go to the next kept day in their direction, or one day on when
// there is none.
int Information::keptDayOffset(int direction)
{
    const QDate shown = QDate::fromString(currentDate, dateFormat);
    QDate next;
    for (const QDate &day : TaskListStore().days(uid)) {
        if ((direction < 0 && day < shown && (!next.isValid() || day > next))
            || (direction > 0 && day > shown && (!next.isValid() || day < next)))
            next = day;
    }
    return next.isValid() ? static_cast<int>(QDate::currentDate().daysTo(next)) : dayOffset + direction;
}

void Information::retrySignIn()
{
    const QPointer<Information> alive(this);
    HttpTransfer transfer;
    ++pendingLoads;
    const QVariantMap reply = transfer.login(signInRequest);
    if (!alive)
        return;
    --pendingLoads;
    const SignInResult::Outcome outcome = SignInResult::decide(transfer.lastError(), reply);
    if (outcome == SignInResult::Outcome::Accepted) {
        goOnline(reply.value("data").toMap().value("id").toString());
        return;
    }
    if (outcome == SignInResult::Outcome::Refused) {
        qCInfo(tasksLog).noquote() << "offline: the service refused the password of"
                                   << signInRequest.value("username").toString() << "on its return";
        offline = false;
        signInRequest.clear();
        emit signInRefused();
        close();
        return;
    }
    schedule->reloadFailed();
    showOfflineStatus();
}

// The kept rows stay, grey, until the reload of their day replaces them.
void Information::goOnline(const QString &newUid)
{
    qCInfo(tasksLog).noquote() << "back online: the service accepted the sign-in of"
                               << signInRequest.value("username").toString() << "again, unreachable since"
                               << StatusText::clock(failingSince);
    offline = false;
    signInRequest.clear();
    if (!newUid.isEmpty())
        uid = newUid;
    failingSince = QTime();
    emit signInAccepted(uid);
    loadTaskList(currentDate);
}

void Information::loadTaskList(QString date)
{
    if (offline) {
        showKeptDay(QDate::fromString(date, dateFormat));
        return;
    }
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
    setRowsStale(false);
    setTableStatus(StatusText::loaded(loadedAt, taskList.size()));
    if (!unchanged)
        keepTaskList(date, tasks);
}

// Written on a thread of its own, one list after another in the order they came, and not
// waited for: a wait here would let other loads run in the middle of this one.
void Information::keepTaskList(const QString &date, const QVariantList &tasks)
{
    static QThreadPool keeper;
    keeper.setMaxThreadCount(1);
    const QString user = uid;
    const QDate day = QDate::fromString(date, dateFormat);
    const QDateTime now = QDateTime::currentDateTime();
    QtConcurrent::run(&keeper, [user, day, tasks, now] {
        TaskListStore lists;
        if (!lists.save(user, day, tasks, now))
            qCWarning(tasksLog).noquote()
                << "task list of" << day.toString(dateFormat) << "not kept:" << lists.lastError();
    });
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
        setRowsStale(true);
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
    if (offline) {
        const QString copy = QCoreApplication::applicationDirPath()
            + (pdf ? "/pdf/" + taskNumber + ".pdf" : "/nc/" + taskNumber);
        openFetchedCopy(pdf ? "pdf" : "nc", taskNumber, copy, QString());
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

// copy is a label PDF or an NC program's folder as fetched before; selected, when given, a
// file in that folder to show selected.
void Information::openFetchedCopy(
    const QString &kind, const QString &taskNumber, const QString &copy, const QString &selected)
{
    if (!QFileInfo::exists(copy) || (!selected.isEmpty() && !QFileInfo::exists(selected))) {
        qCInfo(tasksLog).noquote() << "no fetched" << kind << "of task" << taskNumber << "to open";
        setFileStatus(StatusText::notFetchedOffline());
        return;
    }
    HttpTransfer transfer;
    transfer.setUserId(uid);
    // A copy fetched earlier may have been changed on disk since; the operator decides.
    if (!CheckedOpen(transfer.historyFolder(), uid).approve(kind, taskNumber, copy))
        return;
    if (!selected.isEmpty())
        transfer.showLocalFile(selected);
    else
        transfer.openLocalPath(kind == QLatin1String("pdf") ? QFileInfo(copy).absolutePath() : copy);
}

void Information::logFetch(
    const QString &taskNumber, bool pdf, const QString &address, const FetchReport &report)
{
    qInfo().noquote().nospace() << "fetch " << (pdf ? "label PDF" : "NC program") << " of task \""
                                << taskNumber << "\" from " << address << ": " << report.logText();
}

void Information::on_lastdayBtn_clicked()
{
    dayOffset = offline ? keptDayOffset(-1) : dayOffset - 1;
    showDay(QDateTime::currentDateTime().addDays(dayOffset).toString(dateFormat));
}

void Information::on_nextdayBtn_clicked()
{
    dayOffset = offline ? keptDayOffset(1) : dayOffset + 1;
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
    if (offline) {
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
    if (offline)
        retrySignIn();
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

// Enter or Tab ends a code; a Tab stays in the field instead of moving the focus on.
bool Information::eventFilter(QObject *watched, QEvent *event)
{
    if (watched == ui->scanEdit && event->type() == QEvent::KeyPress) {
        const int key = static_cast<QKeyEvent *>(event)->key();
        if (key == Qt::Key_Return || key == Qt::Key_Enter || key == Qt::Key_Tab) {
            scanEntered();
            return true;
        }
    }
    return QWidget::eventFilter(watched, event);
}

// A scanner may send the next code while the last one is still opening: it waits its turn.
void Information::scanEntered()
{
    const QString code = ui->scanEdit->text();
    ui->scanEdit->clear();
    if (code.trimmed().isEmpty())
        return;
    pendingScans << code;
    if (scanning)
        return;
    const QPointer<Information> alive(this);
    scanning = true;
    while (!pendingScans.isEmpty()) {
        scan(pendingScans.takeFirst());
        if (!alive)
            return;
        ui->scanEdit->setFocus();
    }
    scanning = false;
}

// The code is only compared with known task numbers and recorded file names; whatever
// opens comes from the matched record.
void Information::scan(const QString &code)
{
    const QString user = uid;
    const QDate day = QDate::fromString(shownDate, dateFormat);
    const QVariantList shown = taskList;
    const ScanCode::Match match = OffThread::run([code, user, day, shown] {
        TaskListStore lists;
        HistoryFileIndex files(HistoryStore::defaultFolder());
        return ScanCode(&lists, &files).decide(code, user, day, shown);
    });
    using Result = ScanCode::Result;
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
    HttpTransfer transfer;
    transfer.setUserId(uid);
    transfer.recordScan(
        logged, match.files.size() == 1 ? match.files.first().task : task, result, found, offline);
    setScanFailed(!found);
    if (match.result == Result::Refused)
        setFileStatus(StatusText::scanRefused());
    else if (!found)
        setFileStatus(StatusText::scanNotFound(match.code));
    else if (!task.isEmpty())
        openScannedTask(match.day, task);
    else {
        QStringList choices;
        for (const HistoryFileIndex::Hit &hit : match.files)
            choices << hit.task + QStringLiteral("：") + hit.path;
        const int chosen = match.files.size() == 1 ? 0 : chooseFile(match.code, choices);
        if (chosen >= 0) {
            const HistoryFileIndex::Hit &hit = match.files.at(chosen);
            openScannedFile(hit.task, hit.folder, hit.path);
        }
    }
}

// As a click on the NC cell of the task's row, on its day.
void Information::openScannedTask(const QDate &day, const QString &taskNumber)
{
    if (day.toString(dateFormat) != shownDate) {
        dayOffset = static_cast<int>(QDate::currentDate().daysTo(day));
        showDay(day.toString(dateFormat));
    }
    const int row = ScanCode::taskRow(taskList, taskNumber);
    if (row < 0) {
        setScanFailed(true);
        setFileStatus(StatusText::scanNotFound(taskNumber));
        return;
    }
    ui->view->selectRow(row);
    ui->view->scrollToItem(ui->view->item(row, 0));
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

int Information::chooseFile(const QString &code, const QStringList &choices)
{
    bool chosen = false;
    const QString choice = QInputDialog::getItem(
        this, tr("选择文件"), tr("%1 在多个任务中，请选择：").arg(code), choices, 0, false, &chosen);
    return chosen ? choices.indexOf(choice) : -1;
}

void Information::setScanFailed(bool failed)
{
    QPalette palette = ui->scanEdit->palette();
    palette.setColor(
        QPalette::Base, failed ? failedScanColor : QApplication::palette(ui->scanEdit).color(QPalette::Base));
    ui->scanEdit->setPalette(palette);
}
