#include "tests/shift/shiftinvariants.h"

#include "history/historystore.h"
#include "service/devicecall.h"
#include "service/network.h"
#include "sim/devicesimulator.h"
#include "tasks/refreshschedule.h"
#include "tests/support/testfiles.h"

#include <QBuffer>
#include <QCryptographicHash>
#include <QDate>
#include <QDateEdit>
#include <QDateTime>
#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QFileInfo>
#include <QLabel>
#include <QRegularExpression>
#include <QTableWidget>
#include <QTime>

#include <quazip.h>
#include <quazipfile.h>

#ifdef Q_OS_LINUX
#include <time.h>
#include <unistd.h>
#endif
#ifdef Q_OS_WIN
#include <windows.h>
// psapi.h needs the types windows.h declares.
#include <psapi.h>
#endif

namespace {

const char *const textFields[]
    = { "task_num", "buyer_address", "u_name", "create_time", "name", "expand_area", "piece" };
const QStringList ownFolders { "pdf", "nc", "history", "log" };
// Longer than any write limit of the shift lasts.
constexpr int historyUnreadableSecs = 60;

// The task window's status line says what its table is before a "｜"; file actions follow.
QString tableStatus(QWidget *window)
{
    const QString text = window->findChild<QLabel *>("statusLbl")->text();
    return text.section(QStringLiteral("　｜　"), 0, 0);
}

QDate shownDate(QWidget *window)
{
    return window->findChild<QDateEdit *>("dateEdit")->date();
}

QTableWidget *table(QWidget *window)
{
    return window->findChild<QTableWidget *>("view");
}

QStringList rowTexts(QTableWidget *view, int row)
{
    QStringList texts;
    for (int column = 0; column < 7; ++column) {
        const QTableWidgetItem *item = view->item(row, column);
        texts << (item ? item->text() : QStringLiteral("<no item>"));
    }
    return texts;
}

QStringList recordTexts(const QVariantMap &task)
{
    QStringList texts;
    for (const char *field : textFields)
        texts << task.value(field).toString();
    return texts;
}

// Task numbers begin with the day they belong to: "20261209-03".
QDate dayOfTask(const QString &taskNumber)
{
    return QDate::fromString(taskNumber.left(8), QStringLiteral("yyyyMMdd"));
}

QString servedPath(const QString &taskNumber, const QString &suffix)
{
    return QStringLiteral("files/%1/%2%3")
        .arg(dayOfTask(taskNumber).toString(QStringLiteral("yyyy-MM-dd")), taskNumber, suffix);
}

// Milliseconds from a clock time shown to now, across midnight too.
int msSince(const QString &clock)
{
    const QTime then = QTime::fromString(clock, QStringLiteral("hh:mm:ss"));
    int ms = then.msecsTo(QTime::currentTime());
    if (ms < -12 * 3600 * 1000)
        ms += 24 * 3600 * 1000;
    else if (ms > 12 * 3600 * 1000)
        ms -= 24 * 3600 * 1000;
    return ms;
}

QByteArray readAll(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

// A file listed a moment ago may be gone: a pool thread replacing it has set the old one
// aside and not yet renamed the new one into place. It is read again at a later step.
bool vanished(const QString &path)
{
    return !QFileInfo::exists(path);
}

// Left by work under way: a folder being unpacked or replaced, a file being saved.
bool isWorkInProgress(const QString &name)
{
    return name.startsWith(QLatin1Char('.')) || name.contains(QRegularExpression("\\.(pdf|zip)\\.\\w+$"));
}

const QRegularExpression loadingForm("^正在加载 (\\d{4}-\\d{2}-\\d{2}) 的任务…$");
const QRegularExpression loadedForm("^(\\d{2}:\\d{2}:\\d{2}) 已加载，共 (\\d+) 个任务$");
const QRegularExpression staleForm("^服务异常（.+），自 \\d{2}:\\d{2}:\\d{2} 起；表中是 "
                                   "(\\d{2}:\\d{2}:\\d{2}) 加载的任务(，下次重试 (\\d{2}:\\d{2}:\\d{2}))?$");
const QRegularExpression failedForm(
    "^(\\d{4}-\\d{2}-\\d{2}) 的任务无法加载（.+）(，下次重试 (\\d{2}:\\d{2}:\\d{2}))?$");

} // namespace

ShiftInvariants::ShiftInvariants(
    DeviceSimulator &sim, const QString &programFolder, const Bounds &bounds, const QString &openerFolder)
    : m_sim(sim)
    , m_programFolder(programFolder)
    , m_bounds(bounds)
    , m_openerFolder(openerFolder)
{
    m_tick.setTimerType(Qt::PreciseTimer);
    m_tick.setInterval(1);
    QObject::connect(&m_tick, &QTimer::timeout, [this] { tick(); });
}

void ShiftInvariants::begin()
{
    m_programFolderBefore = topLevelEntries(m_programFolder);
    // The tests keep their settings store beside the test programs; the settings are not the
    // program folder's, and another test may make that folder first while the shift runs.
    const QFileInfo configHome(qEnvironmentVariable("XDG_CONFIG_HOME"));
    if (configHome.absolutePath() == QFileInfo(m_programFolder).absoluteFilePath())
        m_programFolderBefore << configHome.fileName();
    m_parentFolderBefore = topLevelEntries(m_programFolder + QStringLiteral("/.."));
    // The stand-in's record goes on from earlier shifts of the same process.
    if (!m_openerFolder.isEmpty())
        m_foldersShown = m_foldersBefore = TestFiles::openedFolders(m_openerFolder).size();
    m_clock.start();
    m_lastTickNs = m_clock.nsecsElapsed();
    m_lastTickCpuNs = threadCpuNs();
    m_tick.start();
}

void ShiftInvariants::setNewestListRevision(int revision)
{
    m_newestListRevision = revision;
}

void ShiftInvariants::addFetch(const Fetch &fetch)
{
    m_fetches.append(fetch);
}

void ShiftInvariants::pauseWatch()
{
    tick();
    m_paused = true;
}

void ShiftInvariants::resumeWatch()
{
    m_paused = false;
    m_lastTickNs = m_clock.nsecsElapsed();
    m_lastTickCpuNs = threadCpuNs();
}

// A gap counts as the client's when the GUI thread was on the processor for at least half
// of it; a machine busy with other work takes the processor away from a thread that had
// nothing to do, and that is no stand-still of the client's. (Elsewhere than on Linux every
// gap counts.)
void ShiftInvariants::tick()
{
    const qint64 now = m_clock.nsecsElapsed();
    const qint64 cpu = threadCpuNs();
    const qint64 gap = now - m_lastTickNs;
    if (!m_paused) {
        m_longestWallNs = qMax(m_longestWallNs, gap);
        qint64 &longest = m_checksWithWindow < 2 ? m_longestFirstNs : m_longestNs;
        if (cpu < 0 || 2 * (cpu - m_lastTickCpuNs) >= gap)
            longest = qMax(longest, gap);
    }
    m_lastTickNs = now;
    m_lastTickCpuNs = cpu;
}

qint64 ShiftInvariants::threadCpuNs()
{
#ifdef Q_OS_LINUX
    timespec spec {};
    if (clock_gettime(CLOCK_THREAD_CPUTIME_ID, &spec) == 0)
        return qint64(spec.tv_sec) * 1000000000 + spec.tv_nsec;
#endif
    return -1;
}

QString ShiftInvariants::check(QWidget *window, bool actionsUnderWay)
{
    pauseWatch();
    QString broken = eventLoopNeverStood();
    // The window that appeared at one step has been painted by the next.
    if (window && m_checksWithWindow < 2)
        ++m_checksWithWindow;
    if (broken.isEmpty() && window)
        broken = rowsAreTheShownDay(window);
    if (broken.isEmpty() && window)
        broken = statusLineMatches(window);
    if (broken.isEmpty())
        broken = reloadsComeWhenDue(window);
    if (broken.isEmpty())
        broken = filesAreServedVersions();
    if (broken.isEmpty())
        broken = everyFetchHasItsHistoryRow();
    if (broken.isEmpty())
        broken = foldersShownAreTheClients();
    if (broken.isEmpty())
        broken = noFileOutsideItsFolders(actionsUnderWay);
    if (broken.isEmpty())
        broken = memoryStaysBounded();
    resumeWatch();
    return broken;
}

// The rows are one day's tasks as the simulator served them, and that day is the one the
// date edit shows; while another day loads the rows may still be the day before it. No
// rows only with a failure, a load under way or a day without tasks.
QString ShiftInvariants::rowsAreTheShownDay(QWidget *window) const
{
    QTableWidget *view = table(window);
    const QString status = tableStatus(window);
    const bool loading = loadingForm.match(status).hasMatch();
    const QRegularExpressionMatch failed = failedForm.match(status);
    if (view->rowCount() == 0) {
        const QRegularExpressionMatch loaded = loadedForm.match(status);
        if (loaded.hasMatch() && loaded.captured(2) != QLatin1String("0"))
            return QStringLiteral("no rows, yet the status line says: ") + status;
        return QString();
    }
    if (failed.hasMatch())
        return QStringLiteral("rows of %1 shown under: %2").arg(rowTexts(view, 0).first(), status);

    const QDate day = dayOfTask(rowTexts(view, 0).first());
    if (!loading && day != shownDate(window))
        return QStringLiteral("rows of %1 shown while the date edit shows %2 and the status line says: %3")
            .arg(day.toString(Qt::ISODate), shownDate(window).toString(Qt::ISODate), status);
    for (int revision = m_newestListRevision; revision >= 0; --revision) {
        const QVariantList tasks = m_sim.tasksFor(day, revision);
        if (tasks.size() != view->rowCount())
            continue;
        bool same = true;
        for (int row = 0; row < tasks.size() && same; ++row)
            same = rowTexts(view, row) == recordTexts(tasks.at(row).toMap());
        if (same)
            return QString();
    }
    return QStringLiteral("the %1 rows are no list the simulator served for %2 (first row: %3)")
        .arg(view->rowCount())
        .arg(day.toString(Qt::ISODate), rowTexts(view, 0).join('|'));
}

// The status line is one of the window's own forms, agrees with the rows, and is recent
// (rows kept from before a failure may be none: a day without tasks):
// a window that stops reloading, or stops retrying, would show an ever older time.
QString ShiftInvariants::statusLineMatches(QWidget *window) const
{
    const QString status = tableStatus(window);
    const int rows = table(window)->rowCount();
    if (status.isEmpty() || loadingForm.match(status).hasMatch())
        return QString();
    const QRegularExpressionMatch loaded = loadedForm.match(status);
    if (loaded.hasMatch()) {
        if (loaded.captured(2).toInt() != rows)
            return QStringLiteral("%1 rows under: %2").arg(rows).arg(status);
        if (msSince(loaded.captured(1)) > m_bounds.staleMs)
            return QStringLiteral("no reload for %1 ms: %2").arg(msSince(loaded.captured(1))).arg(status);
        return QString();
    }
    const QRegularExpressionMatch stale = staleForm.match(status);
    const QRegularExpressionMatch failed = failedForm.match(status);
    if (!stale.hasMatch() && !failed.hasMatch())
        return QStringLiteral("a status line of no known form: ") + status;
    const QString retry = stale.hasMatch() ? stale.captured(3) : failed.captured(3);
    if (retry.isEmpty())
        return QStringLiteral("a failure without its next try: ") + status;
    if (msSince(retry) > m_bounds.staleMs)
        return QStringLiteral("the next try is %1 ms past: %2").arg(msSince(retry)).arg(status);
    return QString();
}

// Every file under pdf/ and nc/ is byte for byte a body the simulator served for its task:
// never a truncated one, and an unpacked folder holds exactly one served archive's files.
QString ShiftInvariants::filesAreServedVersions() const
{
    const QDir pdf(m_programFolder + QStringLiteral("/pdf"));
    for (const QString &name : pdf.entryList(QDir::Files | QDir::Hidden)) {
        if (isWorkInProgress(name) || isVerified(pdf.filePath(name)))
            continue;
        const QString task = name.chopped(4);
        const QByteArray body = readAll(pdf.filePath(name));
        if (body.isEmpty() && vanished(pdf.filePath(name)))
            continue;
        if (!name.endsWith(QLatin1String(".pdf")) || !isServed(servedPath(task, ".pdf"), body))
            return QStringLiteral("pdf/%1 is no file the simulator served").arg(name)
                + unservedDetail(servedPath(task, ".pdf"), body);
        markVerified(pdf.filePath(name));
    }
    const QDir nc(m_programFolder + QStringLiteral("/nc"));
    for (const QString &name : nc.entryList(QDir::Files | QDir::Hidden)) {
        if (isWorkInProgress(name) || isVerified(nc.filePath(name)))
            continue;
        const QByteArray body = readAll(nc.filePath(name));
        if (body.isEmpty() && vanished(nc.filePath(name)))
            continue;
        if (!name.endsWith(QLatin1String(".zip")) || !isServed(servedPath(name.chopped(4), ".zip"), body))
            return QStringLiteral("nc/%1 is no file the simulator served").arg(name)
                + unservedDetail(servedPath(name.chopped(4), ".zip"), body);
        markVerified(nc.filePath(name));
    }
    for (const QString &name : nc.entryList(QDir::Dirs | QDir::NoDotAndDotDot)) {
        if (isVerified(nc.filePath(name)))
            continue;
        const QString before = stampOf(nc.filePath(name));
        const QString broken = folderIsOneServedArchive(nc.filePath(name), servedPath(name, ".zip"));
        // One swapped while it was read is read again at a later step.
        if (!QFileInfo(nc.filePath(name)).isDir() || stampOf(nc.filePath(name)) != before)
            continue;
        if (!broken.isEmpty())
            return broken;
        markVerified(nc.filePath(name));
    }
    return QString();
}

// A file or folder that has not changed since it was found served is not read again.
QString ShiftInvariants::stampOf(const QString &path) const
{
    const QFileInfo info(path);
    if (!info.isDir())
        return QStringLiteral("%1 %2 %3")
            .arg(info.size())
            .arg(info.lastModified().toMSecsSinceEpoch())
            .arg(info.fileTime(QFileDevice::FileMetadataChangeTime).toMSecsSinceEpoch());
    QString stamp;
    QDirIterator it(
        path, QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot, QDirIterator::Subdirectories);
    while (it.hasNext()) {
        it.next();
        stamp += it.filePath() + QLatin1Char(' ') + stampOf(it.filePath()) + QLatin1Char('\n');
    }
    return stamp;
}

bool ShiftInvariants::isVerified(const QString &path) const
{
    const auto found = m_verified.constFind(path);
    return found != m_verified.constEnd() && found.value() == stampOf(path);
}

void ShiftInvariants::markVerified(const QString &path) const
{
    m_verified.insert(path, stampOf(path));
}

bool ShiftInvariants::isServed(const QString &path, const QByteArray &content) const
{
    return m_sim.servedDigests(path).contains(QCryptographicHash::hash(content, QCryptographicHash::Md5));
}

// What a file no served body matches is like, for the report: a cut version, a mix, or
// something else; the file itself is gone by the next seed.
QString ShiftInvariants::unservedDetail(const QString &path, const QByteArray &content) const
{
    QStringList versions;
    for (const QByteArray &served : m_sim.servedBodies(path)) {
        int same = 0;
        while (same < content.size() && same < served.size() && content.at(same) == served.at(same))
            ++same;
        versions << QStringLiteral("%1 bytes, the first %2 the same").arg(served.size()).arg(same);
    }
    versions.removeDuplicates();
    return QStringLiteral(" (%1 bytes; served: %2)")
        .arg(content.size())
        .arg(versions.isEmpty() ? QStringLiteral("no body kept") : versions.join(QStringLiteral("; ")));
}

QString ShiftInvariants::folderIsOneServedArchive(const QString &folder, const QString &zipPath) const
{
    QMap<QString, QByteArray> files;
    QDirIterator it(folder, QDir::Files | QDir::Hidden, QDirIterator::Subdirectories);
    while (it.hasNext()) {
        const QString path = it.next();
        files.insert(QDir(folder).relativeFilePath(path), readAll(path));
    }
    for (const QByteArray &zip : m_sim.servedBodies(zipPath)) {
        if (archiveEntries(zip) == files)
            return QString();
    }
    return QStringLiteral("nc/%1/ holds %2 files that are no archive the simulator served (a mix or a cut)")
        .arg(QFileInfo(folder).fileName())
        .arg(files.size());
}

QMap<QString, QByteArray> ShiftInvariants::archiveEntries(const QByteArray &zip) const
{
    const QByteArray key = QCryptographicHash::hash(zip, QCryptographicHash::Md5);
    const auto cached = m_archiveCache.constFind(key);
    if (cached != m_archiveCache.constEnd())
        return cached.value();
    QMap<QString, QByteArray> entries;
    QByteArray copy = zip;
    QBuffer buffer(&copy);
    QuaZip archive(&buffer);
    if (archive.open(QuaZip::mdUnzip)) {
        for (bool more = archive.goToFirstFile(); more; more = archive.goToNextFile()) {
            QuaZipFile entry(&archive);
            if (entry.open(QIODevice::ReadOnly))
                entries.insert(archive.getCurrentFileName(), entry.readAll());
        }
    }
    m_archiveCache.insert(key, entries);
    return entries;
}

// Beside the program only pdf/, nc/, history/ and log/ appear, and nothing beside its
// folder; inside pdf/ and nc/ only task files and folders, and staging left by work under
// way only while it is.
QString ShiftInvariants::noFileOutsideItsFolders(bool actionsUnderWay) const
{
    for (const QString &name : topLevelEntries(m_programFolder)) {
        if (!m_programFolderBefore.contains(name) && !ownFolders.contains(name))
            return QStringLiteral("%1 appeared beside the program").arg(name);
    }
    for (const QString &name : topLevelEntries(m_programFolder + QStringLiteral("/.."))) {
        if (!m_parentFolderBefore.contains(name))
            return QStringLiteral("%1 appeared beside the program's folder").arg(name);
    }
    if (!QDir(m_programFolder + QStringLiteral("/pdf"))
             .entryList(QDir::Dirs | QDir::NoDotAndDotDot | QDir::Hidden)
             .isEmpty())
        return QStringLiteral("a folder appeared in pdf/");
    const QStringList nc = topLevelEntries(m_programFolder + QStringLiteral("/nc"));
    for (const QString &name : nc) {
        if (isWorkInProgress(name) && !actionsUnderWay)
            return QStringLiteral("nc/%1 was left behind with no action under way").arg(name);
    }
    const QStringList pdf = topLevelEntries(m_programFolder + QStringLiteral("/pdf"));
    for (const QString &name : pdf) {
        if (isWorkInProgress(name) && !actionsUnderWay)
            return QStringLiteral("pdf/%1 was left behind with no action under way").arg(name);
    }
    return QString();
}

QStringList ShiftInvariants::topLevelEntries(const QString &folder) const
{
    return QDir(folder).entryList(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot);
}

// Every fetch has its own entry in the history, of its task and kind, made while it ran, and
// the SHA-256 it names is of the file in place or of a version served for the task; or the
// status line said the history was unavailable. A history that cannot be read now (a write
// limit also stops its opening) is read at a later step.
QString ShiftInvariants::everyFetchHasItsHistoryRow() const
{
    if (m_fetches.isEmpty())
        return QString();
    HistoryStore store(m_programFolder + QStringLiteral("/history"));
    while (!m_fetches.isEmpty()) {
        const Fetch fetch = m_fetches.first();
        const QString what = QStringLiteral("the fetch of the %1 of %2 at %3")
                                 .arg(fetch.kind, fetch.task, fetch.began.toString(HistoryStore::timeFormat));
        HistoryEntry found;
        if (!findHistoryRow(store, fetch, found)) {
            if (fetch.ended.secsTo(QDateTime::currentDateTime()) > historyUnreadableSecs)
                return what + QStringLiteral(": the history is unreadable since (%1)").arg(store.lastError());
            return QString();
        }
        if (found.id == 0 && !fetch.historyUnavailableShown)
            return what + QStringLiteral(" has no history row, and the status line did not say so");
        if (found.id != 0 && !found.sha256.isEmpty() && !isServedSha256(fetch, found.sha256))
            return what + QStringLiteral(" names SHA-256 %1, of no version served").arg(found.sha256);
        m_historyRowsFound.insert(found.id);
        m_fetches.removeFirst();
    }
    return QString();
}

// The oldest fetch entry of the fetch's task and kind, made while it ran and not yet taken
// by another; found.id stays 0 when there is none. A start row that no completion follows
// does not count: the fetch's own row is its completion. False when the history cannot be
// read.
bool ShiftInvariants::findHistoryRow(HistoryStore &store, const Fetch &fetch, HistoryEntry &found) const
{
    HistoryStore::Filter filter;
    filter.task = fetch.task;
    filter.since = fetch.began.date();
    return store.forEach(filter, [&](const HistoryEntry &entry) {
        const QDateTime time = QDateTime::fromString(entry.timeText, Qt::ISODateWithMs);
        if (found.id != 0 || entry.action != QLatin1String(HistoryEntry::fetchAction)
            || entry.outcome == QLatin1String(HistoryEntry::startedOutcome) || entry.kind != fetch.kind
            || entry.task != fetch.task || time < fetch.began || time > fetch.ended
            || m_historyRowsFound.contains(entry.id))
            return;
        found = entry;
    });
}

bool ShiftInvariants::isServedSha256(const Fetch &fetch, const QString &sha256) const
{
    const bool pdf = fetch.kind == QLatin1String("pdf");
    const QString path = servedPath(fetch.task, pdf ? QStringLiteral(".pdf") : QStringLiteral(".zip"));
    QList<QByteArray> versions = m_sim.servedBodies(path);
    // Bodies too large to keep are known by their MD5 only.
    if (versions.size() < m_sim.servedDigests(path).size())
        return true;
    versions << readAll(m_programFolder + (pdf ? QStringLiteral("/pdf/") : QStringLiteral("/nc/"))
        + fetch.task + (pdf ? QStringLiteral(".pdf") : QStringLiteral(".zip")));
    for (const QByteArray &version : qAsConst(versions)) {
        if (QCryptographicHash::hash(version, QCryptographicHash::Sha256).toHex() == sha256.toLatin1())
            return true;
    }
    return false;
}

// The file explorer is only ever asked to show pdf/ or an NC program's folder, each as one
// argument in the system's own form.
QString ShiftInvariants::foldersShownAreTheClients() const
{
    if (m_openerFolder.isEmpty())
        return QString();
    const QStringList shown = TestFiles::openedFolders(m_openerFolder);
    const QString pdf = QDir::toNativeSeparators(m_programFolder + QStringLiteral("/pdf"));
    const QString nc = QDir::toNativeSeparators(m_programFolder + QStringLiteral("/nc/"));
    for (; m_foldersShown < shown.size(); ++m_foldersShown) {
        const QString &folder = shown.at(m_foldersShown);
        const QString task = folder.mid(nc.size());
        if (folder != pdf
            && !(folder.startsWith(nc) && !task.isEmpty() && QFileInfo(task).fileName() == task))
            return QStringLiteral("the file explorer was asked to show %1").arg(folder);
    }
    return QString();
}

qint64 ShiftInvariants::nowMs() const
{
    return m_clock.elapsed();
}

// A due time of the window's schedule counts from when it came, not from the next check;
// a new window's schedule is watched from its first check on.
void ShiftInvariants::watchReloads(QWidget *window)
{
    if (window == m_reloading)
        return;
    m_reloading = window;
    m_idleSinceMs = -1;
    m_callsSeen.clear();
    if (RefreshSchedule *schedule = window ? window->findChild<RefreshSchedule *>() : nullptr)
        QObject::connect(schedule, &RefreshSchedule::due, schedule, [this, window] {
            if (window == m_reloading && m_idleSinceMs < 0)
                m_idleSinceMs = nowMs();
        });
}

// Whatever is open (a box, a fetch, a check, another load), no reload or retry of the
// sign-in comes later than the bound after its due time: the schedule's timer fires on
// time, the tick it fires sends a request, or finds one under way whose end arms the next,
// and no request waits past the network's deadline: never is nothing armed and nothing
// under way for longer.
QString ShiftInvariants::reloadsComeWhenDue(QWidget *window)
{
    watchReloads(window);
    if (!window)
        return QString();
    const qint64 now = nowMs();
    const QDateTime next = window->findChild<RefreshSchedule *>()->nextTry();
    if (next.isValid() && next.msecsTo(QDateTime::currentDateTime()) > m_bounds.overdueMs)
        return QStringLiteral("the reload due at %1 is %2 ms overdue")
            .arg(next.toString(QStringLiteral("hh:mm:ss.zzz")))
            .arg(next.msecsTo(QDateTime::currentDateTime()));
    QHash<QObject *, qint64> waiting;
    for (DeviceCall *call : window->findChildren<DeviceCall *>()) {
        if (!call->isFinished())
            waiting.insert(call, m_callsSeen.value(call, now));
    }
    m_callsSeen = waiting;
    const int deadline = Network::getInstance("defalut")->deadline();
    for (const qint64 since : qAsConst(waiting)) {
        if (now - since > deadline + m_bounds.overdueMs)
            return QStringLiteral("a request of the task window has waited %1 ms, past its deadline of %2 ms")
                .arg(now - since)
                .arg(deadline);
    }
    // A day being picked loads once the picking pauses, and the tick waits for it.
    if (!waiting.isEmpty() || next.isValid() || loadingForm.match(tableStatus(window)).hasMatch())
        m_idleSinceMs = -1;
    else if (m_idleSinceMs < 0)
        m_idleSinceMs = now;
    if (m_idleSinceMs >= 0 && now - m_idleSinceMs > m_bounds.overdueMs)
        return QStringLiteral("for %1 ms no reload was sent, none waits and none is armed")
            .arg(now - m_idleSinceMs);
    return QString();
}

int ShiftInvariants::foldersShown() const
{
    return m_foldersShown - m_foldersBefore;
}

QString ShiftInvariants::eventLoopNeverStood() const
{
    if (m_longestFirstNs > qint64(m_bounds.firstStandStillMs) * 1000000)
        return QStringLiteral(
            "the event loop stood still for %1 ms, busy, before the first task window was painted")
            .arg(double(m_longestFirstNs) / 1e6, 0, 'f', 1);
    if (m_longestNs <= qint64(m_bounds.standStillMs) * 1000000)
        return QString();
    return QStringLiteral("the event loop stood still for %1 ms, busy")
        .arg(double(m_longestNs) / 1e6, 0, 'f', 1);
}

QString ShiftInvariants::memoryStaysBounded() const
{
    const double mb = residentMb();
    m_peakResidentMb = qMax(m_peakResidentMb, mb);
    if (mb > m_bounds.residentMb)
        return QStringLiteral("resident memory %1 MB").arg(mb, 0, 'f', 1);
    return QString();
}

// Resident memory on Linux, the working set on Windows; 0 where neither is known.
double ShiftInvariants::residentMb()
{
#if defined(Q_OS_LINUX)
    const QList<QByteArray> fields = readAll(QStringLiteral("/proc/self/statm")).split(' ');
    return fields.value(1).toDouble() * double(sysconf(_SC_PAGESIZE)) / (1024.0 * 1024.0);
#elif defined(Q_OS_WIN)
    PROCESS_MEMORY_COUNTERS counters {};
    if (GetProcessMemoryInfo(GetCurrentProcess(), &counters, sizeof counters))
        return double(counters.WorkingSetSize) / (1024.0 * 1024.0);
#endif
    return 0;
}

double ShiftInvariants::firstStandStillMs() const
{
    return double(m_longestFirstNs) / 1e6;
}

double ShiftInvariants::longestStandStillMs() const
{
    return double(m_longestNs) / 1e6;
}

double ShiftInvariants::longestGapMs() const
{
    return double(m_longestWallNs) / 1e6;
}

double ShiftInvariants::peakResidentMb() const
{
    return m_peakResidentMb;
}
