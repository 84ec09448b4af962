#include "app/logfile.h"

#include <QDateTime>
#include <QDir>
#include <QFileInfo>
#include <QMutexLocker>

namespace {

LogFile *installedLog = nullptr;

// Older Windows editors show nothing else as a line break.
#ifdef Q_OS_WIN
const QLatin1String lineEnd("\r\n");
#else
const QLatin1String lineEnd("\n");
#endif

// Set while a thread writes to the log, so that a message raised by the writing itself
// goes only to the previous handler instead of waiting for the lock it holds.
thread_local bool writing = false;

const char *typeName(QtMsgType type)
{
    switch (type) {
    case QtDebugMsg:
        return "debug";
    case QtInfoMsg:
        return "info";
    case QtWarningMsg:
        return "warning";
    case QtCriticalMsg:
        return "critical";
    case QtFatalMsg:
        return "fatal";
    }
    return "debug";
}

} // namespace

LogFile::LogFile(const QString &path, qint64 maxBytes, int keptFiles)
    : m_path(path)
    , m_maxBytes(maxBytes)
    , m_keptFiles(qMax(1, keptFiles))
    , m_rotateAt(maxBytes)
    , m_file(path)
{ }

LogFile::~LogFile()
{
    if (!m_installed)
        return;
    qInstallMessageHandler(m_previous);
    installedLog = nullptr;
}

void LogFile::install()
{
    installedLog = this;
    m_previous = qInstallMessageHandler(handleMessage);
    m_installed = true;
}

// Debug messages are detail for a console, whatever their category: the file keeps the
// technician's lines.
bool LogFile::belongsInFile(QtMsgType type)
{
    return type != QtDebugMsg;
}

void LogFile::handleMessage(QtMsgType type, const QMessageLogContext &context, const QString &message)
{
    LogFile *log = installedLog;
    if (log && !writing && belongsInFile(type)) {
        writing = true;
        log->write(QLatin1String(typeName(type)) + QLatin1String(": ") + message);
        writing = false;
    }
    if (log && log->m_previous)
        log->m_previous(type, context, message);
}

void LogFile::write(const QString &message)
{
    const QString stamp = QDateTime::currentDateTime().toString(QStringLiteral("yyyy-MM-dd HH:mm:ss.zzz "));
    const QByteArray line = (stamp + message + lineEnd).toUtf8();
    QMutexLocker locker(&m_mutex);
    if (!openFile())
        return;
    if (m_file.size() > 0 && m_file.size() + line.size() > m_rotateAt) {
        rotate();
        if (!openFile())
            return;
        // After a failed rotation the file is still the old one; the next try comes when
        // it has grown by the size again, not with every line.
        m_rotateAt = m_file.size() + m_maxBytes;
    }
    m_file.write(line);
}

// Opened on first use, so a program that never logs leaves no folder behind. Unbuffered,
// so that the last lines before a crash are in the file.
bool LogFile::openFile()
{
    if (m_file.isOpen())
        return true;
    QDir().mkpath(QFileInfo(m_path).absolutePath());
    return m_file.open(QIODevice::Append | QIODevice::Unbuffered);
}

// Windows cannot rename an open file, so the current one is closed first. When a rename
// still fails (a viewer holding the file), writing goes on in the current file.
void LogFile::rotate()
{
    m_file.close();
    QFile::remove(rotatedName(m_keptFiles - 1));
    for (int index = m_keptFiles - 1; index > 0; --index)
        QFile::rename(rotatedName(index - 1), rotatedName(index));
}

// Index 0 is the current file; the others carry their number.
QString LogFile::rotatedName(int index) const
{
    return index == 0 ? m_path : m_path + QLatin1Char('.') + QString::number(index);
}
