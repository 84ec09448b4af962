#include "tasks/supportbundle.h"

#include "core/diskspace.h"
#include "core/hiddenfile.h"
#include "core/inifile.h"
#include "core/proxyfactory.h"
#include "history/historyconnection.h"
#include "history/historycsv.h"
#include "history/historyoutbox.h"
#include "history/historystore.h"
#include "history/historyverifier.h"
#include "history/tasklistconnection.h"
#include "history/taskliststore.h"
#include "plant/plantconfig.h"
#include "plant/plantstatus.h"
#include "service/setting.h"
#include "tasks/historymodel.h"

#include <QBuffer>
#include <QCoreApplication>
#include <QCryptographicHash>
#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLibraryInfo>
#include <QRegularExpression>
#include <QSaveFile>
#include <QSslSocket>
#include <QSysInfo>
#include <QTimeZone>

#include <quazip/quazip.h>
#include <quazip/quazipfile.h>
#include <quazip/quazipnewinfo.h>

#include <algorithm>
#include <limits>

#ifndef QUILLET_VERSION
#define QUILLET_VERSION "unknown"
#endif
#ifndef QUILLET_COMMIT
#define QUILLET_COMMIT "unknown"
#endif

namespace {

const QString readmeName = QStringLiteral("README.txt");
const QString logName = QStringLiteral("quillet.log");

// A typed password this short turns up by chance in nearly every line (a "1" in every time
// stamp), and nothing the bundle reads writes a password out: only its digest is looked for.
constexpr int shortestPlainPassword = 4;

// A history broken throughout names every row; the first ones say enough.
constexpr int shownFindings = 100;

// What README.txt takes at most, counted before it is written.
constexpr qint64 readmeReserve = 4096;

// The bytes a line takes in the zip's UTF-8 text, with its CRLF, without encoding it.
qint64 utf8Size(const QString &line)
{
    qint64 size = 2;
    for (const QChar c : line) {
        const ushort u = c.unicode();
        size += c.isHighSurrogate() ? 4 : c.isLowSurrogate() ? 0 : u < 0x80 ? 1 : u < 0x800 ? 2 : 3;
    }
    return size;
}

qint64 entrySize(const QStringList &lines)
{
    qint64 size = 3; // a byte-order mark, for the CSV
    for (const QString &line : lines)
        size += utf8Size(line);
    return size;
}

QStringList linesOf(const QByteArray &bytes)
{
    QStringList lines = QString::fromUtf8(bytes).split(QLatin1Char('\n'));
    if (!lines.isEmpty() && lines.last().isEmpty())
        lines.removeLast();
    for (QString &line : lines) {
        if (line.endsWith(QLatin1Char('\r')))
            line.chop(1);
    }
    return lines;
}

// The rotated logs by age, oldest first: "quillet.log.4" ... "quillet.log.1", "quillet.log".
QStringList logFiles(const QString &folder)
{
    static const QRegularExpression rotated(QStringLiteral(R"(^quillet\.log(?:\.(\d+))?$)"));
    QList<QPair<int, QString>> found;
    for (const QString &name : QDir(folder).entryList(QDir::Files)) {
        const QRegularExpressionMatch match = rotated.match(name);
        if (match.hasMatch())
            found << qMakePair(match.captured(1).toInt(), name);
    }
    std::sort(found.begin(), found.end(), [](const auto &a, const auto &b) { return a.first > b.first; });
    QStringList names;
    for (const auto &file : qAsConst(found))
        names << file.second;
    return names;
}

const QString hiddenValue = QStringLiteral("（已隐去）");

// A password inside a value, as a connection string writes it ("password=x", "Pwd='x'"), goes
// with its own separator.
QString withoutPasswords(const QString &value)
{
    static const QRegularExpression password(
        QStringLiteral(
            R"((?:^|(?<=[\s;,&]))(?:password|passwd|pwd)\s*=\s*(?:'[^']*'|"[^"]*"|[^;\s,&]*)[;,&]?)"),
        QRegularExpression::CaseInsensitiveOption);
    return QString(value).remove(password).trimmed();
}

QString megabytes(qint64 bytes)
{
    return QStringLiteral("%1 bytes (%2 MB)").arg(bytes).arg(double(bytes) / (1 << 20), 0, 'f', 1);
}

QString utcOffsetText(int seconds)
{
    const int minutes = qAbs(seconds) / 60;
    return QStringLiteral("UTC%1%2:%3")
        .arg(seconds < 0 ? QLatin1Char('-') : QLatin1Char('+'))
        .arg(minutes / 60, 2, 10, QLatin1Char('0'))
        .arg(minutes % 60, 2, 10, QLatin1Char('0'));
}

} // namespace

SupportBundle::Sources SupportBundle::Sources::besideProgram(const QString &serviceRoot)
{
    Sources sources;
    sources.programFolder = QCoreApplication::applicationDirPath();
    sources.logFolder = sources.programFolder + QStringLiteral("/log");
    sources.iniFile = sources.programFolder + QStringLiteral("/quillet.ini");
    sources.historyFolder = HistoryStore::defaultFolder();
    sources.serviceRoot = serviceRoot;
    sources.passwords = rememberedPasswords();
    return sources;
}

SupportBundle::SupportBundle(const Sources &sources, qint64 sizeLimit)
    : m_sources(sources)
    , m_sizeLimit(sizeLimit)
{
    for (const QString &password : sources.passwords) {
        if (password.isEmpty())
            continue;
        m_secrets << QString::fromLatin1(
            QCryptographicHash::hash(password.toUtf8(), QCryptographicHash::Md5).toHex());
        if (password.size() >= shortestPlainPassword)
            m_secrets << password;
    }
}

QString SupportBundle::errorString() const
{
    return m_error;
}

namespace {

std::function<QStringList()> &passwordSource()
{
    static std::function<QStringList()> source;
    return source;
}

} // namespace

void SupportBundle::setPasswordSource(const std::function<QStringList()> &source)
{
    passwordSource() = source;
}

QStringList SupportBundle::rememberedPasswords()
{
    QStringList passwords { Setting().value(QStringLiteral("password"), QString()).toString() };
    if (passwordSource())
        passwords << passwordSource()();
    passwords.removeAll(QString());
    return passwords;
}

// The user info may hold a password, the parameters a session and the query a token; the
// host and path say enough.
QString SupportBundle::scrubbed(const QString &text)
{
    static const QRegularExpression address(QStringLiteral(
        R"(([A-Za-z][A-Za-z0-9+.\-]*://)(?:[^/?#\s"'<>]*@)?([^;?#\s"'<>]*)(?:[;?#][^\s"'<>]*)?)"));
    // The service takes a sign-in path's last segment, the password's MD5, as the password.
    static const QRegularExpression signIn(QStringLiteral(R"((user/login/[^/\s"'<>?#]*/)[^/\s"'<>?#,]*)"));
    QString result = text;
    if (result.contains(QLatin1String("://")))
        result.replace(address, QStringLiteral("\\1\\2"));
    if (result.contains(QLatin1String("user/login/")))
        result.replace(signIn, QStringLiteral("\\1(removed)"));
    return result;
}

bool SupportBundle::write(const QString &fileName)
{
    m_entries.clear();
    m_missing.clear();
    m_secretLines = 0;
    m_error.clear();
    gather();
    keepWithinLimit();
    m_entries.prepend(readme());

    const QByteArray zip = zipped();
    if (zip.isEmpty()) {
        m_error = QStringLiteral("cannot make the zip for %1").arg(fileName);
        return false;
    }
    QSaveFile file(fileName);
    if (!file.open(QIODevice::WriteOnly)) {
        m_error = QStringLiteral("cannot write %1: %2").arg(fileName, file.errorString());
        return false;
    }
    HiddenFile::hide(file);
    if (file.write(zip) != zip.size()) {
        file.cancelWriting();
        m_error = QStringLiteral("cannot write %1: %2").arg(fileName, file.errorString());
        return false;
    }
    HiddenFile::reveal(file);
    if (!file.commit()) {
        m_error = QStringLiteral("cannot write %1: %2").arg(fileName, file.errorString());
        return false;
    }
    return true;
}

void SupportBundle::gather()
{
    m_entries << systemEntry();
    addIni();
    addLogs();
    addHistory();
    addTaskLists();
    for (Entry &entry : m_entries)
        clean(entry);
}

SupportBundle::Entry SupportBundle::systemEntry() const
{
    const QDateTime now = QDateTime::currentDateTime();
    const qint64 free = DiskSpace::spareBytes(m_sources.programFolder, 0);
    Entry entry { QStringLiteral("system.txt"),
        QStringLiteral(
            "version and build, operating system, Qt and OpenSSL, service root, proxy, plant history, clock, "
            "free space"),
        {} };
    entry.lines << QStringLiteral("Quillet %1, commit %2, built with Qt %3 for %4")
                       .arg(QLatin1String(QUILLET_VERSION), QLatin1String(QUILLET_COMMIT),
                           QLatin1String(QT_VERSION_STR), QSysInfo::buildAbi())
                << QStringLiteral("operating system: %1 (%2 %3, %4)")
                       .arg(QSysInfo::prettyProductName(), QSysInfo::kernelType(), QSysInfo::kernelVersion(),
                           QSysInfo::currentCpuArchitecture())
                << QStringLiteral("Qt: %1 (%2)").arg(QLatin1String(qVersion()), QLibraryInfo::build())
                << QStringLiteral("OpenSSL: %1 (built against %2)")
                       .arg(QSslSocket::sslLibraryVersionString(), QSslSocket::sslLibraryBuildVersionString())
                << QStringLiteral("service root: %1").arg(m_sources.serviceRoot)
                << QStringLiteral("proxy: %1").arg(ProxyFactory::describe()) << plantLine()
                << QStringLiteral("clock: %1, %2, UTC %3, time zone %4")
                       .arg(now.toString(Qt::ISODateWithMs), utcOffsetText(now.offsetFromUtc()),
                           now.toUTC().toString(Qt::ISODateWithMs),
                           QString::fromUtf8(QTimeZone::systemTimeZoneId()))
                << QStringLiteral("program folder: %1").arg(QDir::toNativeSeparators(m_sources.programFolder))
                << QStringLiteral("free space there: %1")
                       .arg(free == std::numeric_limits<qint64>::max() ? QStringLiteral("unknown")
                                                                       : megabytes(free));
    return entry;
}

// The running client's forwarder knows best; a command reads the settings and the history.
QString SupportBundle::plantLine() const
{
    PlantStatus status = PlantStatusBoard::instance()->current();
    if (!status.on) {
        const PlantConfig config = PlantConfig::configured(QFileInfo(m_sources.iniFile).absolutePath());
        if (config.isEmpty())
            return QStringLiteral("plant history: off");
        if (!config.isValid())
            return QStringLiteral("plant history: off, %1").arg(config.problem());
        status.plantStore = config.description();
        HistoryOutbox::Backlog backlog;
        HistoryOutbox outbox(m_sources.historyFolder, HistoryConnection::Access::ReadOnly);
        if (!outbox.backlog(backlog))
            return QStringLiteral("plant history: %1, backlog unknown (%2)")
                .arg(status.plantStore, outbox.lastError());
        status.backlog = backlog.count;
        status.oldestTime = backlog.oldestTime;
    }
    QString line
        = QStringLiteral("plant history: %1, %2 rows waiting").arg(status.plantStore).arg(status.backlog);
    if (!status.oldestTime.isEmpty())
        line += QStringLiteral(" since %1").arg(status.oldestTime);
    if (status.on && !status.connected && !status.why.isEmpty())
        line += QStringLiteral(", not connected: %1").arg(status.why);
    if (status.refused > 0)
        line += QStringLiteral(", %1 rows refused as repeats with other chains").arg(status.refused);
    return line;
}

void SupportBundle::addIni()
{
    QFile file(m_sources.iniFile);
    if (!file.open(QIODevice::ReadOnly)) {
        m_missing << QStringLiteral("quillet.ini: none beside the program");
        return;
    }
    Entry entry { QStringLiteral("quillet.ini"),
        QStringLiteral("the settings file beside the program: the keys the client reads, their values "
                       "without passwords or user info; any other key's value hidden"),
        {} };
    entry.lines = iniLines(linesOf(file.readAll()));
    entry.scrubbed = true;
    m_entries << entry;
}

// Comments are left out: they may hold anything.
QStringList SupportBundle::iniLines(const QStringList &lines)
{
    QStringList shown;
    QString group;
    for (const QString &raw : lines) {
        const QString line = raw.trimmed();
        if (line.startsWith(QLatin1Char(';')) || line.startsWith(QLatin1Char('#')))
            continue;
        if (line.startsWith(QLatin1Char('[')) && line.endsWith(QLatin1Char(']'))) {
            group = line.mid(1, line.size() - 2).trimmed();
            shown << line;
            continue;
        }
        const int equals = line.indexOf(QLatin1Char('='));
        if (equals < 0) {
            shown << (line.isEmpty() ? line : hiddenValue);
            continue;
        }
        const QString key = line.left(equals).trimmed();
        const bool general
            = group.isEmpty() || group.compare(QLatin1String("General"), Qt::CaseInsensitive) == 0;
        const bool read = IniFile::keys().contains(general ? key : group + QLatin1Char('/') + key);
        shown << key + QLatin1Char('=')
                + (read ? withoutPasswords(scrubbed(line.mid(equals + 1).trimmed())) : hiddenValue);
    }
    return shown;
}

void SupportBundle::addLogs()
{
    const QStringList names = logFiles(m_sources.logFolder);
    if (names.isEmpty())
        m_missing
            << QStringLiteral("log: no log files in %1").arg(QDir::toNativeSeparators(m_sources.logFolder));
    for (const QString &name : names) {
        QFile file(QDir(m_sources.logFolder).filePath(name));
        if (!file.open(QIODevice::ReadOnly)) {
            m_missing << QStringLiteral("log/%1: %2").arg(name, file.errorString());
            continue;
        }
        m_entries << Entry { QStringLiteral("log/") + name,
            name == logName ? QStringLiteral("the log, newest lines last")
                            : QStringLiteral("an older log, rotated away"),
            linesOf(file.readAll()), 0, 0, false, true };
    }
}

// Only read: the bundle never creates, upgrades or sets aside a history.
void SupportBundle::addHistory()
{
    const QString folder = m_sources.historyFolder;
    if (!QFileInfo::exists(HistoryConnection::fileName(folder))) {
        m_missing << QStringLiteral("history: none in %1").arg(QDir::toNativeSeparators(folder));
        return;
    }
    HistoryVerifier verifier(folder);
    const HistoryVerifier::Result result = verifier.verify();
    Entry check { QStringLiteral("history-check.txt"),
        QStringLiteral("what \"quillet --verify-history\" says"), {} };
    if (result == HistoryVerifier::Result::Intact)
        check.lines << QStringLiteral("the history holds; head %1").arg(verifier.head());
    else if (result == HistoryVerifier::Result::ProgramsChanged)
        check.lines << QStringLiteral("the history holds; head %1; files in place were changed since:")
                           .arg(verifier.head())
                    << verifier.findings().mid(0, shownFindings);
    else if (result == HistoryVerifier::Result::CannotCheck)
        check.lines << QStringLiteral("cannot check: %1").arg(verifier.findings().value(0));
    else
        check.lines << verifier.findings().mid(0, shownFindings);
    if (verifier.findings().size() > shownFindings)
        check.lines << QStringLiteral("and %1 more").arg(verifier.findings().size() - shownFindings);
    m_entries << check;

    QList<HistoryEntry> newest;
    HistoryStore store(folder, HistoryConnection::Access::ReadOnly);
    if (!store.newest(historyRows, newest))
        m_missing << QStringLiteral("history rows: %1").arg(store.lastError());
    Entry rows { QStringLiteral("history-newest.csv"),
        QStringLiteral("the newest %1 history rows at most, oldest first, as \"导出\" writes them")
            .arg(historyRows),
        { HistoryCsv::header() }, 1 };
    rows.trimmable = true;
    // Field by field: an address's query must not run on into the next column.
    for (HistoryEntry &entry : newest) {
        for (QString *field : { &entry.userId, &entry.device, &entry.task, &entry.source, &entry.target,
                 &entry.outcome, &entry.keptPath })
            *field = scrubbed(*field);
        rows.lines << HistoryCsv::line(entry, &HistoryModel::outcomeText);
    }
    rows.scrubbed = true;
    m_entries << rows;
}

// Opening the kept lists may bring their schema up to date, so only an existing file is opened.
void SupportBundle::addTaskLists()
{
    if (!QFileInfo::exists(TaskListConnection::fileName(m_sources.historyFolder))) {
        m_missing << QStringLiteral("task lists: none kept");
        return;
    }
    TaskListStore store(m_sources.historyFolder);
    Entry entry { QStringLiteral("tasklists.txt"),
        QStringLiteral("the kept task lists: user, day, number of tasks and when they came"),
        store.summary() };
    if (!store.lastError().isEmpty())
        entry.lines << store.lastError();
    m_entries << entry;
}

void SupportBundle::clean(Entry &entry)
{
    QStringList kept;
    kept.reserve(entry.lines.size());
    for (int i = 0; i < entry.lines.size(); ++i) {
        const QString line = entry.scrubbed ? entry.lines.at(i) : scrubbed(entry.lines.at(i));
        if (holdsPassword(line)) {
            ++m_secretLines;
            if (i < entry.firstRow)
                --entry.firstRow;
            continue;
        }
        kept << line;
    }
    entry.lines = kept;
}

// The digest is hex, which a log or a reply may write in either case.
bool SupportBundle::holdsPassword(const QString &line) const
{
    for (const QString &secret : m_secrets) {
        if (line.contains(secret, Qt::CaseInsensitive))
            return true;
    }
    return false;
}

// The oldest log lines go first, the oldest history rows after them; every other entry stays
// whole, even when the bundle then stays above the limit.
void SupportBundle::keepWithinLimit()
{
    qint64 excess = readmeReserve - m_sizeLimit;
    for (const Entry &entry : qAsConst(m_entries))
        excess += entrySize(entry.lines);
    for (const bool logs : { true, false }) {
        for (Entry &entry : m_entries) {
            if (excess <= 0)
                return;
            if (!entry.trimmable || entry.name.startsWith(QLatin1String("log/")) != logs
                || entry.firstRow >= entry.lines.size())
                continue;
            const int first = entry.firstRow;
            int end = first;
            while (end < entry.lines.size() && excess > 0)
                excess -= utf8Size(entry.lines.at(end++));
            entry.lines.erase(entry.lines.begin() + first, entry.lines.begin() + end);
            entry.droppedOld += end - first;
        }
    }
}

SupportBundle::Entry SupportBundle::readme() const
{
    Entry entry { readmeName, QStringLiteral("this list"), {} };
    entry.lines << QStringLiteral("Quillet support bundle, written %1 by Quillet %2.")
                       .arg(
                           QDateTime::currentDateTime().toString(Qt::ISODate), QLatin1String(QUILLET_VERSION))
                << QString() << QStringLiteral("Files:");
    entry.lines << QStringLiteral("  %1: %2").arg(readmeName, entry.about);
    for (const Entry &content : m_entries)
        entry.lines << QStringLiteral("  %1: %2").arg(content.name, content.about);
    entry.lines << QString()
                << QStringLiteral("Every address has lost its user info, parameters, query and fragment, "
                                  "every sign-in path its password digest.")
                << QStringLiteral(
                       "Above the size limit only the oldest log lines and history rows are left out.")
                << QStringLiteral(
                       "Never in it: a remembered password or its MD5, the credential file, sign-in "
                       "verifiers, NC programs, label PDFs.")
                << QString() << QStringLiteral("Left out:");
    const QStringList leftOut = leftOutLines();
    entry.lines << (leftOut.isEmpty() ? QStringList { QStringLiteral("  nothing") } : leftOut);
    return entry;
}

QStringList SupportBundle::leftOutLines() const
{
    QStringList lines;
    for (const QString &missing : m_missing)
        lines << QStringLiteral("  ") + missing;
    for (const Entry &entry : m_entries) {
        if (entry.droppedOld > 0)
            lines << QStringLiteral("  %1: its %2 oldest lines, to keep the bundle within %3")
                         .arg(entry.name)
                         .arg(entry.droppedOld)
                         .arg(megabytes(m_sizeLimit));
    }
    if (m_secretLines > 0)
        lines << QStringLiteral("  %1 lines that held a remembered password or its MD5").arg(m_secretLines);
    return lines;
}

// Made in memory and written in one go, so that the saved file never holds part of a zip.
QByteArray SupportBundle::zipped() const
{
    QBuffer buffer;
    QuaZip zip(&buffer);
    if (!zip.open(QuaZip::mdCreate))
        return {};
    for (const Entry &entry : m_entries) {
        QByteArray content
            = entry.name.endsWith(QLatin1String(".csv")) ? QByteArray("\xEF\xBB\xBF") : QByteArray();
        content += entry.lines.join(QLatin1String("\r\n")).toUtf8();
        if (!entry.lines.isEmpty())
            content += "\r\n";
        // Without permissions unzip would make the files unreadable even for their owner.
        QuaZipNewInfo info(entry.name);
        info.setPermissions(QFile::ReadOwner | QFile::WriteOwner | QFile::ReadGroup | QFile::ReadOther);
        QuaZipFile file(&zip);
        if (!file.open(QIODevice::WriteOnly, info) || file.write(content) != content.size())
            return {};
        file.close();
        if (file.getZipError() != ZIP_OK)
            return {};
    }
    zip.close();
    return zip.getZipError() == ZIP_OK ? buffer.data() : QByteArray();
}
