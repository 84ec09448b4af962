#include "tests/shift/shift.h"

#include "app/dialog.h"
#include "service/fetchjob.h"
#include "service/network.h"
#include "sim/devicesimulator.h"
#include "tasks/checkedopen.h"
#include "tasks/historymodel.h"
#include "tasks/historywindow.h"
#include "tasks/information.h"
#include "tasks/refreshschedule.h"
#include "tasks/scanrouter.h"
#include "tasks/statustext.h"
#include "tests/support/filesizelimit.h"

#include <QApplication>
#include <QDateEdit>
#include <QDir>
#include <QDirIterator>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QMutex>
#include <QPushButton>
#include <QRegularExpression>
#include <QTableView>
#include <QTableWidget>
#include <QTest>
#include <QThreadPool>

#include <cstdio>
#include <iterator>

namespace {

using Fault = DeviceSimulator::Fault;

// Time compressed: a reload every 150 ms, retries up to 1.2 s apart, device-service
// requests given up after 0.5 s without data or 1.5 s in all.
constexpr int refreshMs = 150;
constexpr int longestRetryMs = 1200;
constexpr int requestTimeoutMs = 500;
constexpr int requestDeadlineMs = 1500;
// The shift's own waits nest no deeper than this.
constexpr int deepestWait = 4;
constexpr int stepsRemembered = 20;
constexpr int logLinesRemembered = 30;

// Pool threads log too, so what the log handler keeps is kept under a lock.
QMutex logMutex;
QStringList logLines;
// How many fetches the client has logged as ended, and the task and kind of the last one.
int fetchesLogged = 0;
QPair<QString, QString> lastFetchLogged;
// A fetch refused since one of the same file runs ends at once, after the newest click.
bool lastFetchRefused = false;

// The client's debug lines would fill the output; the last ones go with a report.
void keepLastLines(QtMsgType, const QMessageLogContext &, const QString &message)
{
    static const QRegularExpression fetchLine("^fetch (label PDF|NC program) of task \"([^\"]*)\"");
    const QRegularExpressionMatch fetch = fetchLine.match(message);
    const QMutexLocker locker(&logMutex);
    if (fetch.hasMatch()) {
        ++fetchesLogged;
        lastFetchLogged
            = { fetch.captured(2), fetch.captured(1) == QLatin1String("label PDF") ? "pdf" : "nc" };
        lastFetchRefused = message.contains(QLatin1String(": InUse,"));
    }
    logLines.append(message.left(300));
    if (logLines.size() > logLinesRemembered)
        logLines.removeFirst();
}

QPair<int, QPair<QString, QString>> fetchesLoggedSoFar()
{
    const QMutexLocker locker(&logMutex);
    return { fetchesLogged, lastFetchLogged };
}

QString lastLogLines()
{
    const QMutexLocker locker(&logMutex);
    return logLines.join(QStringLiteral("\n  "));
}

// A window reloads within its interval after each load, or retries within its longest wait
// after each failure, each request bounded by the deadline; the clock shown has seconds only.
ShiftInvariants::Bounds withStaleBound(ShiftInvariants::Bounds bounds)
{
    bounds.staleMs = longestRetryMs * 6 / 5 + requestDeadlineMs + 2000 + bounds.lateMs;
    return bounds;
}

#ifdef Q_OS_WIN
const char replayCommand[] = "scripts/windows --shift-seed %1 --shift-steps %2";
// The label PDFs too: a viewer holding one keeps Windows from replacing it.
const QStringList heldOpenFolders { "nc", "pdf" };
#else
const char replayCommand[] = "scripts/shift --seed %1 --steps %2";
const QStringList heldOpenFolders { "nc" };
#endif

// Cell editors are the viewport's children while they are open.
bool hasCellEditor(QTableWidget *view)
{
    for (QWidget *child : view->viewport()->findChildren<QWidget *>(QString(), Qt::FindDirectChildrenOnly)) {
        if (child->isVisible())
            return true;
    }
    return false;
}

} // namespace

Shift::Shift(DeviceSimulator &sim, const Options &options)
    : m_sim(sim)
    , m_options(options)
    , m_random(options.seed)
    , m_invariants(
          sim, QCoreApplication::applicationDirPath(), withStaleBound(options.bounds), options.openerFolder)
{
    m_stepTimer.setSingleShot(true);
    connect(&m_stepTimer, &QTimer::timeout, this, &Shift::takeStep);
    m_actions = {
        { 6, false, true, [this] { signIn(true, false); } },
        { 1, false, true, [this] { signIn(false, false); } },
        { 1, false, true, [this] { signIn(true, true); } },
        { 6, false, true, [this] { clickButton("lastdayBtn"); } },
        { 6, false, true, [this] { clickButton("nextdayBtn"); } },
        { 3, false, true, [this] { clickButton("todayBtn"); } },
        { 1, true, true, [this] { slowReloadThenNextDay(); } },
        { 3, false, true, [this] { typeDate(); } },
        { 10, true, false, [this] { waitAWhile(); } },
        { 6, false, true, [this] { clickFileCell(7); } },
        { 6, false, true, [this] { clickFileCell(8); } },
        { 1, false, true, [this] { clickFileCell(9); } },
        { 2, false, true, [this] { doubleClickLinkCell(); } },
        { 2, false, true, [this] { scanAfterTableClick(); } },
        { 1, false, true, [this] { holdBoxOverReload(); } },
        { 2, false, true, [this] { saveSettings(); } },
        { 1, true, true, [this] { logOutAndIn(); } },
        { 2, false, true, [this] { openHistory(); } },
        { 3, false, true, [this] { restoreVersion(); } },
        { 2, false, true, [this] { openTwice(); } },
        { 8, false, false, [this] { switchFault(); } },
        { 2, false, false, [this] { changeLists(); } },
        { 2, false, false, [this] { changeFiles(); } },
        { 2, false, false, [this] { serveBadArchive(); } },
        { 1, false, false, [this] { limitWrites(); } },
        { 1, false, false, [this] { holdFileOpen(); } },
    };
}

Shift::~Shift()
{
    for (QWidget *widget : QApplication::topLevelWidgets()) {
        // Boxes and choosers too: they have no parent, and one left open would keep the next
        // shift's operator waiting for it.
        if (widget->inherits("Information") || widget->inherits("QDialog") || widget->inherits("setup")
            || widget->inherits("HistoryWindow"))
            delete widget;
    }
}

bool Shift::run()
{
    const QtMessageHandler previous = qInstallMessageHandler(keepLastLines);
    {
        const QMutexLocker locker(&logMutex);
        logLines.clear();
        fetchesLogged = 0;
    }
    prepare();
    m_clock.start();
    m_invariants.begin();
    m_stepTimer.start(0);
    m_loop.exec();
    qInstallMessageHandler(previous);
    return m_broken.isEmpty();
}

void Shift::prepare()
{
    const QString folder = QCoreApplication::applicationDirPath();
    QDir(folder + QStringLiteral("/pdf")).removeRecursively();
    QDir(folder + QStringLiteral("/nc")).removeRecursively();
    QDir(folder + QStringLiteral("/history")).removeRecursively();
    m_sim.clearFault();
    m_sim.clearCannedReplies();
    m_sim.setListRevision(0);
    m_sim.setFileRevision(0);
    Network *network = Network::getInstance("defalut");
    network->setTransferTimeout(requestTimeoutMs);
    network->setDeadline(requestDeadlineMs);
    QApplication::setQuitOnLastWindowClosed(false);
    auto *dialog = new Dialog;
    dialog->show();
    m_dialog = dialog;
}

// The next step is armed before this one acts, so it comes even while this one waits.
void Shift::takeStep()
{
    if (m_finishing || m_step >= m_options.steps) {
        m_finishing = true;
        unwind();
        return;
    }
    ++m_step;
    m_stepTimer.start(draw(0, 30));
    // The simulator's request log is of no use here and would grow all shift.
    m_sim.clearRequests();
    if (m_faultSteps > 0 && --m_faultSteps == 0) {
        m_sim.clearFault();
        note(QStringLiteral("fault cleared"));
    }
    if (m_heldOpen && --m_heldOpenSteps <= 0) {
        m_heldOpen.reset();
        note(QStringLiteral("file let go"));
    }
    if (m_writeLimit && --m_writeLimitSteps <= 0) {
        m_writeLimit.reset();
        note(QStringLiteral("write limit lifted"));
    }
    // A window may have appeared inside a step still waiting beneath this one: it is followed
    // before this step acts on it.
    watchNewWindows();
    ++m_depth;
    pickAction();
    --m_depth;
    if (m_finishing)
        return;
    checkPromises();
}

void Shift::pickAction()
{
    int total = 0;
    for (const Action &action : m_actions)
        total += action.weight;
    int ticket = draw(0, total - 1);
    for (const Action &action : m_actions) {
        ticket -= action.weight;
        if (ticket >= 0)
            continue;
        if (action.blocks && m_depth > deepestWait) {
            note(QStringLiteral("nothing: %1 waits are nested already").arg(m_depth - 1));
            return;
        }
        // A message box keeps the operator's hands off every other window until it closes.
        if (action.operatorAction && QApplication::activeModalWidget()) {
            note(QStringLiteral("nothing: a message box is up"));
            return;
        }
        action.run();
        return;
    }
}

void Shift::checkPromises()
{
    tallyStatus();
    const int windows = watchNewWindows();
    if (!m_scanned.isEmpty() && m_clock.elapsed() - m_scannedAtMs > 1000)
        breakPromise(QStringLiteral("the scanned code %1 never reached the scan field").arg(m_scanned));
    // A fetch runs on its own thread, and other file work on pool threads, after the step
    // that started it has returned.
    const bool underWay
        = m_depth > 0 || FetchJob::running() > 0 || QThreadPool::globalInstance()->activeThreadCount() > 0;
    if (m_broken.isEmpty())
        m_broken = windows > 1 ? QStringLiteral("%1 task windows are shown").arg(windows)
                               : m_invariants.check(taskWindow(), underWay);
    m_finishing = !m_broken.isEmpty();
}

// Returns how many task windows are shown.
int Shift::watchNewWindows()
{
    int windows = 0;
    for (QWidget *widget : QApplication::topLevelWidgets()) {
        if (!widget->inherits("Information") || !widget->isVisible())
            continue;
        ++windows;
        if (!widget->property("shiftSeen").toBool())
            watchWindow(widget);
    }
    return windows;
}

// A window signs in as a flow and appears once it has: its time is compressed then, and
// its fetches and scans are followed from then on.
void Shift::watchWindow(QWidget *window)
{
    window->setProperty("shiftSeen", true);
    note(QStringLiteral("a task window appeared"));
    compressTime(window);
    connect(static_cast<Information *>(window), &Information::fileActionEnded, this,
        [this, window] { fetchEnded(window); });
    connect(window->findChild<ScanRouter *>(), &ScanRouter::codeEntered, this, [this](const QString &code) {
        if (code == m_scanned)
            m_scanned.clear();
    });
}

void Shift::breakPromise(const QString &what)
{
    if (m_broken.isEmpty())
        m_broken = what;
    m_finishing = true;
}

// Faults off and waits released, so that every step still waiting can return; the run ends
// once none is left.
void Shift::unwind()
{
    m_sim.clearFault();
    m_sim.clearCannedReplies();
    m_writeLimit.reset();
    m_heldOpen.reset();
    // Fetches and file work still running would write into the next shift's folders.
    // One that never ends is a broken promise, not a shift that never ends.
    const bool threadsBusy
        = FetchJob::running() > 0 || QThreadPool::globalInstance()->activeThreadCount() > 0;
    if (m_unwindingSinceMs < 0)
        m_unwindingSinceMs = m_clock.elapsed();
    if (threadsBusy && m_depth == 0 && m_clock.elapsed() - m_unwindingSinceMs > 10000)
        breakPromise(QStringLiteral("a fetch or file work has not ended 10 s after the last step"));
    else if (m_depth > 0 || threadsBusy) {
        m_stepTimer.start(20);
        return;
    }
    if (m_broken.isEmpty())
        checkPromises();
    m_loop.quit();
}

// What the steps led to, counted by the words of the status line, shows what a run exercised.
void Shift::tallyStatus()
{
    static const QStringList words { "已加载", "服务异常", "无法加载", "正在加载", "已下载", "已解压",
        "未下载", "NC程序未更新", "下载记录暂不可用", "占用" };
    QWidget *window = taskWindow();
    if (!window)
        return;
    const QString status = window->findChild<QLabel *>("statusLbl")->text();
    for (const QString &word : words) {
        if (status.contains(word))
            ++m_seen[word];
    }
}

QString Shift::tally() const
{
    QStringList counts;
    for (auto it = m_seen.cbegin(); it != m_seen.cend(); ++it)
        counts << QStringLiteral("%1 %2").arg(it.key()).arg(it.value());
    return counts.join(QStringLiteral(", "));
}

QString Shift::report() const
{
    if (m_broken.isEmpty())
        return QStringLiteral("seed %1: %2 steps, every promise kept").arg(m_options.seed).arg(m_step);
    return QStringLiteral("seed %1 broke a promise at step %2: %3\nlast steps:\n  %4\nlast log lines:\n  %5\n"
                          "replay: %6")
        .arg(m_options.seed)
        .arg(m_step)
        .arg(m_broken, m_lastSteps.join(QStringLiteral("\n  ")), lastLogLines(),
            QString::fromLatin1(replayCommand).arg(m_options.seed).arg(m_options.steps));
}

int Shift::stepsTaken() const
{
    return m_step;
}

double Shift::firstStandStillMs() const
{
    return m_invariants.firstStandStillMs();
}

double Shift::longestStandStillMs() const
{
    return m_invariants.longestStandStillMs();
}

double Shift::longestGapMs() const
{
    return m_invariants.longestGapMs();
}

double Shift::peakResidentMb() const
{
    return m_invariants.peakResidentMb();
}

int Shift::foldersShown() const
{
    return m_invariants.foldersShown();
}

void Shift::note(const QString &what)
{
    m_lastSteps.append(QStringLiteral("%1 [%2] %3").arg(m_step, 5).arg(m_depth).arg(what));
    // QUILLET_SHIFT_TRACE=1 prints every step as it is taken.
    static const bool trace = qEnvironmentVariableIntValue("QUILLET_SHIFT_TRACE") != 0;
    if (trace)
        std::fprintf(stderr, "%s\n", qPrintable(m_lastSteps.last()));
    if (m_lastSteps.size() > stepsRemembered)
        m_lastSteps.removeFirst();
}

int Shift::draw(int from, int to)
{
    return from + int(m_random.bounded(quint32(to - from + 1)));
}

QWidget *Shift::taskWindow() const
{
    for (QWidget *widget : QApplication::topLevelWidgets()) {
        if (widget->inherits("Information") && widget->isVisible())
            return widget;
    }
    return nullptr;
}

// The task window, or null after signing in instead: a step needing the window takes the
// sign-in's place while there is none.
QWidget *Shift::windowOrSignIn()
{
    QWidget *window = taskWindow();
    if (!window)
        signIn(true, false);
    return window;
}

void Shift::compressTime(QWidget *window)
{
    if (auto *schedule = window->findChild<RefreshSchedule *>())
        schedule->setIntervals(refreshMs, longestRetryMs);
}

void Shift::signIn(bool goodPassword, bool twice)
{
    if (!m_dialog || !m_dialog->isVisible()) {
        note(QStringLiteral("sign in: signed in already, waits instead"));
        waitAWhile();
        return;
    }
    const int blank = draw(0, 9);
    m_dialog->findChild<QLineEdit *>("userNameEd")->setText(blank == 0 ? QString() : QStringLiteral("demo"));
    m_dialog->findChild<QLineEdit *>("passWordEd")
        ->setText(blank == 1   ? QString()
                : goodPassword ? QStringLiteral("demo123")
                               : QStringLiteral("wrong"));
    note(QStringLiteral("sign in%1%2%3")
             .arg(goodPassword ? "" : ", wrong password", twice ? ", clicked twice" : "",
                 blank < 2 ? ", a field left empty" : ""));
    QPushButton *button = m_dialog->findChild<QPushButton *>("loginBtn");
    // The second click counts as a step of its own while it waits.
    if (twice) {
        QTimer::singleShot(5, button, [this, button] {
            if (QApplication::activeModalWidget())
                return;
            ++m_depth;
            QTest::mouseClick(button, Qt::LeftButton);
            --m_depth;
        });
    }
    QTest::mouseClick(button, Qt::LeftButton);
}

void Shift::clickButton(const char *name)
{
    QWidget *window = windowOrSignIn();
    if (!window)
        return;
    note(QStringLiteral("click %1").arg(name));
    QTest::mouseClick(window->findChild<QPushButton *>(name), Qt::LeftButton);
}

// A reload of the day shown waits long, and the operator clicks to the next day, whose list
// comes at once; then the operator watches the window, steps held, until it reloads the new
// day or for longer than statusLineMatches() lets a window go without a reload.
void Shift::slowReloadThenNextDay()
{
    QWidget *window = taskWindow();
    if (!window || m_depth > 1) {
        note(QStringLiteral("slow reload, next day: not now, waits instead"));
        waitAWhile();
        return;
    }
    // The shift signs in as "demo", user 1001.
    const auto listPath = [window] {
        return QStringLiteral("device/task_list/%1/%2")
            .arg(QStringLiteral("1001"),
                window->findChild<QDateEdit *>("dateEdit")->date().toString(QStringLiteral("yyyy-MM-dd")));
    };
    const auto requested = [this](const QString &path) {
        for (const DeviceSimulator::Request &request : m_sim.requests()) {
            if (QString::fromUtf8(request.rawPath) == path)
                return true;
        }
        return false;
    };
    const QString slowPath = listPath();
    const int delay = draw(250, 400);
    m_stepTimer.stop();
    m_faultSteps = 0;
    m_sim.setFault(Fault::Delay, delay, slowPath);
    m_sim.clearRequests();
    note(QStringLiteral("the reload of %1 takes %2 ms; click nextdayBtn while it waits")
             .arg(slowPath)
             .arg(delay));
    // The click waits for its load, and this check comes again meanwhile.
    bool clicked = false;
    QString nextPath;
    waitFor(
        [&] {
            if (clicked || !requested(slowPath))
                return clicked;
            clicked = true;
            QTest::mouseClick(window->findChild<QPushButton *>("nextdayBtn"), Qt::LeftButton);
            nextPath = listPath();
            m_sim.clearRequests();
            return true;
        },
        longestRetryMs * 6 / 5 + requestDeadlineMs);
    // Returned once the slow reload has: every reload from now on is of the next day.
    const bool reloaded = !nextPath.isEmpty()
        && waitFor([&] { return requested(nextPath); }, withStaleBound(m_options.bounds).staleMs + 1500);
    note(reloaded ? QStringLiteral("the next day reloads") : QStringLiteral("no reload seen"));
    m_sim.clearFault();
    m_stepTimer.start(0);
}

// Waits, with every event handled, until condition holds or ms have passed.
bool Shift::waitFor(const std::function<bool()> &condition, int ms)
{
    QEventLoop wait;
    QTimer poll;
    bool held = false;
    connect(&poll, &QTimer::timeout, &wait, [&] {
        held = held || condition();
        if (held)
            wait.quit();
    });
    QTimer::singleShot(ms, &wait, &QEventLoop::quit);
    poll.start(5);
    wait.exec();
    return held;
}

// A date typed and committed: the window loads it once the picking pauses.
void Shift::typeDate()
{
    QWidget *window = windowOrSignIn();
    if (!window)
        return;
    auto *edit = window->findChild<QDateEdit *>("dateEdit");
    const QDate date = QDate::currentDate().addDays(draw(-9, 9));
    note(QStringLiteral("type date %1").arg(date.toString(Qt::ISODate)));
    edit->setDate(date);
}

void Shift::waitAWhile()
{
    const int ms = draw(20, 400);
    note(QStringLiteral("wait %1 ms").arg(ms));
    QEventLoop wait;
    QTimer::singleShot(ms, &wait, &QEventLoop::quit);
    wait.exec();
}

void Shift::clickFileCell(int column)
{
    QPointer<QWidget> window = windowOrSignIn();
    if (!window)
        return;
    auto *view = window->findChild<QTableWidget *>("view");
    if (view->rowCount() == 0) {
        note(QStringLiteral("click a file: no rows, waits instead"));
        waitAWhile();
        return;
    }
    const int row = heldOpenRow(
        view, column, draw(0, view->rowCount() - 1), m_heldOpen ? m_heldOpen->fileName() : QString());
    const QModelIndex index = view->model()->index(row, column);
    view->scrollTo(index);
    note(QStringLiteral("click %1 of row %2 (%3)")
             .arg(column == 7      ? "the PDF"
                     : column == 8 ? "the NC program"
                                   : "the model")
             .arg(row)
             .arg(view->item(row, 0) ? view->item(row, 0)->text() : QString()));
    if (column != 9)
        m_clicked.append({ view->item(row, 0) ? view->item(row, 0)->text() : QString(),
            column == 7 ? "pdf" : "nc", QDateTime::currentDateTime(), QDateTime(), false });
    // Clicks offline or refused fetch nothing; the oldest are forgotten.
    while (m_clicked.size() > 50)
        m_clicked.removeFirst();
    QTest::mouseClick(view->viewport(), Qt::LeftButton, Qt::NoModifier, view->visualRect(index).center());
}

// A fetch ends in the slot that logs it and shows its outcome, so the status line is this
// fetch's; it is the oldest click on its task and kind still waiting, or the newest for one
// refused while another fetch of the same file runs. Which of several refused clicks a
// refusal was is not known (their threads run in any order, and a refusal may be shown
// after a later click), so its row is looked for since the oldest of them. Other file
// actions (a copy checked and opened) log no fetch.
void Shift::fetchEnded(QWidget *window)
{
    const QPair<int, QPair<QString, QString>> logged = fetchesLoggedSoFar();
    if (logged.first == m_fetchesSeen)
        return;
    m_fetchesSeen = logged.first;
    const bool refused = [] {
        const QMutexLocker locker(&logMutex);
        return lastFetchRefused;
    }();
    for (int n = 0; n < m_clicked.size(); ++n) {
        const int i = refused ? m_clicked.size() - 1 - n : n;
        ShiftInvariants::Fetch fetch = m_clicked.at(i);
        if (fetch.task != logged.second.first || fetch.kind != logged.second.second)
            continue;
        if (refused) {
            for (const ShiftInvariants::Fetch &waiting : qAsConst(m_clicked)) {
                if (waiting.task == fetch.task && waiting.kind == fetch.kind)
                    fetch.began = qMin(fetch.began, waiting.began);
            }
        }
        m_clicked.removeAt(i);
        const QString status = window->findChild<QLabel *>("statusLbl")->text();
        fetch.ended = QDateTime::currentDateTime();
        fetch.historyUnavailableShown
            = status.section(QStringLiteral("　｜　"), 1).contains(StatusText::historyUnavailable());
        m_invariants.addFetch(fetch);
        return;
    }
}

// A double click, as in the file explorer, on a link cell: one fetch (or one check of the
// copy offline), and no cell editor.
void Shift::doubleClickLinkCell()
{
    QWidget *window = windowOrSignIn();
    if (!window)
        return;
    auto *view = window->findChild<QTableWidget *>("view");
    if (view->rowCount() == 0)
        return;
    const int row = draw(0, view->rowCount() - 1);
    const int column = draw(7, 8);
    const QModelIndex index = view->model()->index(row, column);
    view->scrollTo(index);
    note(
        QStringLiteral("double click %1 of row %2").arg(column == 7 ? "the PDF" : "the NC program").arg(row));
    const int fetches = FetchJob::running();
    const int checks = window->findChildren<CheckedOpen *>().size();
    const QString task = view->item(row, 0) ? view->item(row, 0)->text() : QString();
    // Taken before the click: the fetch's thread may write its row before the click returns.
    const QDateTime began = QDateTime::currentDateTime();
    QTest::mouseDClick(view->viewport(), Qt::LeftButton, Qt::NoModifier, view->visualRect(index).center());
    const int started = FetchJob::running() - fetches + window->findChildren<CheckedOpen *>().size() - checks;
    if (hasCellEditor(view))
        breakPromise(QStringLiteral("a double click on row %1 opened a cell editor").arg(row));
    else if (started > 1)
        breakPromise(
            QStringLiteral("a double click on row %1 started %2 file actions").arg(row).arg(started));
    else if (FetchJob::running() > fetches)
        m_clicked.append({ task, column == 7 ? "pdf" : "nc", began, QDateTime(), false });
}

// A click on a text cell, then a scanned code (a task shown or an unknown one) as a
// scanner types it: a burst of keys ended by Enter, wherever the focus is. The code must
// reach the scan field, and no cell becomes an editor.
void Shift::scanAfterTableClick()
{
    QWidget *window = windowOrSignIn();
    if (!window)
        return;
    auto *view = window->findChild<QTableWidget *>("view");
    if (view->rowCount() == 0)
        return;
    const int row = draw(0, view->rowCount() - 1);
    const QModelIndex index = view->model()->index(row, draw(0, 6));
    view->scrollTo(index);
    QTest::mouseClick(view->viewport(), Qt::LeftButton, Qt::NoModifier, view->visualRect(index).center());
    const QTableWidgetItem *item = view->item(draw(0, view->rowCount() - 1), 0);
    const QString code = draw(0, 2) > 0 && item && !item->text().isEmpty()
        ? item->text()
        : QStringLiteral("T%1").arg(draw(10000, 99999));
    QWidget *target = QApplication::focusWidget();
    if (!target || target->window() != window)
        target = view;
    note(QStringLiteral("click row %1, then scan %2 (keys to %3)").arg(row).arg(code, target->objectName()));
    m_scanned = code;
    m_scannedAtMs = m_clock.elapsed();
    // A task's code fetches its NC program as a click on its cell does.
    if (item && code == item->text())
        m_clicked.append({ code, "nc", QDateTime::currentDateTime(), QDateTime(), false });
    QElapsedTimer typing;
    typing.start();
    QTest::keyClicks(target, code);
    QTest::keyClick(target, Qt::Key_Return);
    // Keys further apart than a scanner's are typing, rightly no scan: a machine busy
    // elsewhere (Wine's server among others) may space them so.
    if (m_scanned == code && target != window->findChild<QLineEdit *>("scanEdit")
        && typing.elapsed() > ScanRouter::burstGapMs) {
        note(QStringLiteral("the keys took %1 ms: typed, not scanned").arg(typing.elapsed()));
        m_scanned.clear();
    }
    if (hasCellEditor(view))
        breakPromise(QStringLiteral("the scan after a click on row %1 opened a cell editor").arg(row));
}

// A box left open for seconds (the history window's, for an entry that has gone) while the
// shown day reloads slowly: the reloads must go on beneath it.
void Shift::holdBoxOverReload()
{
    if (!windowOrSignIn())
        return;
    if (!historyWindow())
        openHistory();
    HistoryWindow *history = historyWindow();
    if (!history)
        return;
    const int delay = draw(300, 1200);
    const int hold = draw(2000, 5000);
    m_sim.setFault(Fault::Delay, delay, QStringLiteral("device/task_list/"));
    // Steps come about every 15 ms.
    m_faultSteps = hold / 15;
    m_closer.holdFor(hold);
    note(QStringLiteral("a box held open for %1 ms while reloads take %2 ms").arg(hold).arg(delay));
    history->openRow(-1);
}

// While a label PDF is held open, a click on a PDF goes to its row when that is shown: the
// fetch that Windows must refuse to let replace it. Else the row drawn.
int Shift::heldOpenRow(QTableWidget *view, int column, int drawn, const QString &held) const
{
    if (column != 7 || !held.endsWith(QLatin1String(".pdf")))
        return drawn;
    const QString task = QFileInfo(held).completeBaseName();
    const QList<QTableWidgetItem *> found = view->findItems(task, Qt::MatchExactly);
    return found.isEmpty() ? drawn : found.first()->row();
}

HistoryWindow *Shift::historyWindow() const
{
    for (QWidget *widget : QApplication::topLevelWidgets()) {
        if (widget->inherits("HistoryWindow") && widget->isVisible())
            return static_cast<HistoryWindow *>(widget);
    }
    return nullptr;
}

// "记录": the history of the selected row's task, or of every task with no row selected.
void Shift::openHistory()
{
    if (!windowOrSignIn())
        return;
    note(QStringLiteral("open the history"));
    QTest::mouseClick(taskWindow()->findChild<QPushButton *>("historyBtn"), Qt::LeftButton);
}

// "恢复此版本" on a row that offers an earlier version, answered yes.
void Shift::restoreVersion()
{
    if (!historyWindow())
        openHistory();
    QPointer<HistoryWindow> history = historyWindow();
    if (!history)
        return;
    QList<int> offered;
    for (int row = 0; row < history->model()->rowCount(); ++row) {
        if (!history->model()->keptPath(row).isEmpty())
            offered << row;
    }
    if (offered.isEmpty()) {
        note(QStringLiteral("restore: no version offered"));
        return;
    }
    const int row = offered.at(draw(0, offered.size() - 1));
    history->findChild<QTableView *>("table")->selectRow(row);
    note(QStringLiteral("restore the version history entry %1 replaced").arg(history->model()->entryId(row)));
    QTest::mouseClick(history->findChild<QPushButton *>("restoreBtn"), Qt::LeftButton);
    // The question does not wait in the click; the operator answers it at once.
    for (QWidget *widget : QApplication::topLevelWidgets()) {
        auto *box = qobject_cast<QMessageBox *>(widget);
        if (box && box->isVisible() && box->button(QMessageBox::Yes))
            box->button(QMessageBox::Yes)->click();
    }
}

// "打开" clicked, and again a moment later, as the 500 ms follow of the history may have
// made it clickable: while the first check runs, the second starts no other.
void Shift::openTwice()
{
    if (!historyWindow())
        openHistory();
    QPointer<HistoryWindow> history = historyWindow();
    if (!history)
        return;
    if (!history->property("shiftSeen").toBool()) {
        history->setProperty("shiftSeen", true);
        connect(history, &HistoryWindow::actionEnded, this, [this] { ++m_historyActionsEnded; });
    }
    QList<int> files;
    for (int row = 0; row < history->model()->rowCount(); ++row) {
        const QString kind = history->model()->kindName(row);
        if (kind == QLatin1String("nc") || kind == QLatin1String("pdf"))
            files << row;
    }
    if (files.isEmpty())
        return;
    const int row = files.at(draw(0, files.size() - 1));
    history->findChild<QTableView *>("table")->selectRow(row);
    const int delay = draw(0, 700);
    note(QStringLiteral("click 打开 on history entry %1 twice, %2 ms apart")
             .arg(history->model()->entryId(row))
             .arg(delay));
    auto *button = history->findChild<QPushButton *>("openBtn");
    const int ended = m_historyActionsEnded;
    QTest::mouseClick(button, Qt::LeftButton);
    // A check under way keeps the button disabled until it has ended.
    const bool checking = !button->isEnabled();
    QTimer::singleShot(delay, history, [this, button, ended, checking] {
        if (QApplication::activeModalWidget())
            return;
        if (checking && ended == m_historyActionsEnded && button->isEnabled())
            breakPromise(QStringLiteral("打开 became clickable again while its check ran"));
        QTest::mouseClick(button, Qt::LeftButton);
    });
}

// Opens the device settings form, saves a name (or none) and closes what stays open.
void Shift::saveSettings()
{
    QWidget *window = windowOrSignIn();
    if (!window)
        return;
    QTest::mouseClick(window->findChild<QPushButton *>("update"), Qt::LeftButton);
    QPointer<QWidget> form;
    for (QWidget *widget : QApplication::topLevelWidgets()) {
        if (widget->inherits("setup") && widget->isVisible()
            && !widget->findChild<QLineEdit *>("equipmentEdt")->isModified())
            form = widget;
    }
    if (!form)
        return;
    const QString name = draw(0, 4) == 0 ? QString() : QStringLiteral("切割机 %1").arg(draw(1, 99));
    note(QStringLiteral("settings: save \"%1\"").arg(name));
    auto *edit = form->findChild<QLineEdit *>("equipmentEdt");
    edit->setText(name);
    edit->setModified(true);
    QTest::mouseClick(form->findChild<QPushButton *>("pushButton"), Qt::LeftButton);
    if (form && form->isVisible())
        form->close();
}

// Logging out ends the program; the operator starts it again and signs in. Only between
// waits: a window is deleted here, and no step may still be waiting in it.
void Shift::logOutAndIn()
{
    QWidget *window = taskWindow();
    if (!window || m_depth > 1) {
        note(QStringLiteral("log out: not now, waits instead"));
        waitAWhile();
        return;
    }
    note(QStringLiteral("log out, start again"));
    QTest::mouseClick(window->findChild<QPushButton *>("out"), Qt::LeftButton);
    delete window;
    for (QWidget *widget : QApplication::topLevelWidgets()) {
        if (widget->inherits("setup") || widget->inherits("HistoryWindow"))
            widget->close();
    }
    delete m_dialog.data();
    auto *dialog = new Dialog;
    dialog->show();
    m_dialog = dialog;
    signIn(true, false);
}

void Shift::switchFault()
{
    struct Choice
    {
        Fault fault;
        int from;
        int to;
        const char *name;
    };
    static const Choice choices[] = {
        { Fault::None, 0, 0, "none" },
        { Fault::Delay, 20, 600, "slow" },
        { Fault::HttpError, 500, 503, "HTTP error" },
        { Fault::NonJson, 0, 0, "not JSON" },
        { Fault::EmptyBody, 0, 0, "empty body" },
        { Fault::DropHalfway, 0, 0, "dropped halfway" },
        { Fault::Stall, 0, 0, "stalled" },
        { Fault::Trickle, 2000, 20000, "trickling" },
        { Fault::Redirect, 301, 308, "redirected" },
        { Fault::HugeBody, 1, 3, "huge" },
        { Fault::Gzip, 0, 3, "gzip" },
    };
    static const char *const prefixes[] = { "", "device/task_list/", "files/", "user/" };
    const Choice &choice = choices[draw(0, int(std::size(choices)) - 1)];
    int value = draw(choice.from, choice.to);
    if (choice.fault == Fault::Redirect && (value == 303 || value == 304 || value == 305 || value == 306))
        value = 302;
    const QString prefix = QLatin1String(prefixes[draw(0, int(std::size(prefixes)) - 1)]);
    m_sim.setFault(choice.fault, value, prefix);
    // A stall holds its connections until the fault changes: a few steps, as time goes here.
    m_faultSteps = choice.fault == Fault::Stall ? draw(1, 6) : 0;
    note(QStringLiteral("fault: %1 %2 on \"%3\"").arg(choice.name).arg(value).arg(prefix));
}

void Shift::changeLists()
{
    m_sim.setListRevision(++m_listRevision);
    m_invariants.setNewestListRevision(m_listRevision);
    note(QStringLiteral("lists: revision %1").arg(m_listRevision));
}

void Shift::changeFiles()
{
    m_sim.setFileRevision(++m_fileRevision);
    note(QStringLiteral("files: revision %1").arg(m_fileRevision));
}

// One task's archive becomes hostile (an entry climbing out of its folder), truncated or no
// archive at all; or every such archive is served normally again.
void Shift::serveBadArchive()
{
    QWidget *window = taskWindow();
    const int kind = draw(0, 3);
    if (!window || kind == 3) {
        m_sim.clearCannedReplies();
        note(QStringLiteral("archives: served normally again"));
        return;
    }
    auto *view = window->findChild<QTableWidget *>("view");
    if (view->rowCount() == 0)
        return;
    const QString task = view->item(draw(0, view->rowCount() - 1), 0)->text();
    const QString path = QStringLiteral("files/%1/%2.zip")
                             .arg(QDate::fromString(task.left(8), "yyyyMMdd").toString("yyyy-MM-dd"), task);
    const QByteArray good = DeviceSimulator::makeZip({ { "panel-1.nc", "G0 X0 Y0\nM30\n" } });
    QByteArray body;
    if (kind == 0)
        body = DeviceSimulator::makeZip(
            { { "panel-1.nc", "G0 X0\n" }, { "../../shift-escaped.nc", "M30\n" } });
    else if (kind == 1)
        body = good.left(good.size() / 2);
    else
        body = "<html>not an archive</html>";
    m_sim.setCannedReply(path, body);
    note(QStringLiteral("archive of %1: %2")
             .arg(task,
                 kind == 0       ? "hostile"
                     : kind == 1 ? "truncated"
                                 : "no archive"));
}

// A full disk, as near as a test can make one: every file the process writes stops at a
// size, for a stretch of steps.
void Shift::limitWrites()
{
    if (m_writeLimit) {
        m_writeLimit.reset();
        note(QStringLiteral("write limit lifted"));
        return;
    }
    const int bytes = draw(100, 4000);
    m_writeLimit.reset(new FileSizeLimit(bytes));
    m_writeLimitSteps = draw(3, 30);
    note(QStringLiteral("write limit %1 bytes for %2 steps%3")
             .arg(bytes)
             .arg(m_writeLimitSteps)
             .arg(m_writeLimit->isActive() ? "" : " (not on this system)"));
}

// A program in an unpacked folder held open, as the machine's own software holds the one it
// cuts, or a label PDF, as a viewer holds it: on Windows the folder can then be neither
// renamed nor removed, and the PDF not replaced.
void Shift::holdFileOpen()
{
    m_heldOpen.reset();
    QWidget *window = taskWindow();
    QStringList programs;
    for (const QString &folder : heldOpenFolders) {
        QDirIterator it(QCoreApplication::applicationDirPath() + QLatin1Char('/') + folder,
            { "*.nc", "*.pdf" }, QDir::Files, QDirIterator::Subdirectories);
        while (it.hasNext()) {
            const QString path = it.next();
            // Only PDFs of the tasks shown, which a click may fetch again while held.
            if (!path.endsWith(QLatin1String(".pdf")) || !window
                || heldOpenRow(window->findChild<QTableWidget *>("view"), 7, -1, path) >= 0)
                programs << path;
        }
    }
    if (programs.isEmpty())
        return;
    programs.sort();
    const QString path = programs.at(draw(0, programs.size() - 1));
    m_heldOpen.reset(new QFile(path));
    m_heldOpen->open(QIODevice::ReadOnly);
    m_heldOpenSteps = draw(2, 20);
    note(QStringLiteral("hold %1 open for %2 steps")
             .arg(QDir(QCoreApplication::applicationDirPath()).relativeFilePath(path))
             .arg(m_heldOpenSteps));
    // The operator fetches the labels again while the viewer still shows them.
    if (path.endsWith(QLatin1String(".pdf")) && m_depth <= deepestWait && !QApplication::activeModalWidget())
        clickFileCell(7);
}
