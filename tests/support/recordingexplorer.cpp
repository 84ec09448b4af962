// Stands in for the Windows file explorer in the tests: built as "explorer.exe" beside the
// test programs, where Windows looks before the system folder. It appends each argument
// it gets, one a line in UTF-8, to the file named by QUILLET_OPENED_LOG.
#include <QCoreApplication>
#include <QFile>
#include <QLockFile>

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    const QString logName = qEnvironmentVariable("QUILLET_OPENED_LOG");
    if (logName.isEmpty())
        return 1;
    QByteArray lines;
    for (const QString &argument : app.arguments().mid(1))
        lines += argument.toUtf8() + '\n';
    // Appending on Windows is a seek to the end and a write: two explorers started at once
    // would write over each other's lines without the lock.
    QLockFile lock(logName + QStringLiteral(".lock"));
    QFile log(logName);
    if (!lock.lock() || !log.open(QIODevice::Append))
        return 1;
    return log.write(lines) == lines.size() ? 0 : 1;
}
