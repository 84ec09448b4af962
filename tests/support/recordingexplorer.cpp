// Stands in for the Windows file explorer in the tests: built as "explorer.exe" beside the
// test programs, where Windows looks before the system folder. It appends each argument
// it gets, one a line in UTF-8, to the file named by QUILLET_OPENED_LOG.
#include <QCoreApplication>
#include <QFile>

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    QFile log(qEnvironmentVariable("QUILLET_OPENED_LOG"));
    if (log.fileName().isEmpty() || !log.open(QIODevice::Append))
        return 1;
    for (const QString &argument : app.arguments().mid(1))
        log.write(argument.toUtf8() + '\n');
    return 0;
}
