#ifndef LOGFILE_H
#define LOGFILE_H

#include <QFile>
#include <QMutex>
#include <QString>
#include <QtGlobal>

// A log a technician can read where no console shows the debug output: every message at
// info level or above goes, with a time stamp, to a file (normally "log/quillet.log" beside the program) and
// on to the message handler that was installed before. When the file would grow beyond maxBytes it becomes
// "<name>.1", the older ones move up by one, and at most keptFiles files remain.
class LogFile
{
public:
    explicit LogFile(const QString &path, qint64 maxBytes = 2 * 1024 * 1024, int keptFiles = 5);
    ~LogFile();
    LogFile(const LogFile &) = delete;
    LogFile &operator=(const LogFile &) = delete;

    // Makes this log receive every message until it is destroyed.
    void install();
    // Appends one time-stamped line; safe from any thread.
    void write(const QString &message);

private:
    static void handleMessage(QtMsgType type, const QMessageLogContext &context, const QString &message);
    static bool belongsInFile(QtMsgType type);
    bool openFile();
    void rotate();
    QString rotatedName(int index) const;

    const QString m_path;
    const qint64 m_maxBytes;
    const int m_keptFiles;
    qint64 m_rotateAt;
    QMutex m_mutex;
    QFile m_file;
    QtMessageHandler m_previous = nullptr;
    bool m_installed = false;
};

#endif // LOGFILE_H
