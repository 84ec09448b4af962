#include "service/folderopener.h"

#include "service/servicelog.h"

#include <QDebug>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QStandardPaths>

#ifdef Q_OS_WIN
#include <QProcess>
#else
#include <cerrno>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>
#endif

namespace {

// Elsewhere than on Windows the program is started by its full path (see startDetached),
// looked up on PATH here.
QString resolvedProgram()
{
#ifdef Q_OS_WIN
    return FolderOpener::program();
#else
    const QString found = QStandardPaths::findExecutable(FolderOpener::program());
    return found.isEmpty() ? FolderOpener::program() : found;
#endif
}

#ifdef Q_OS_WIN
bool startDetached(const QString &program, const QStringList &arguments)
{
    return QProcess::startDetached(program, arguments);
}
#else
// Qt 5 allocates in the forked child before it runs the program; under a sanitizer, whose
// allocator is not ready for a fork, another thread allocating at the fork leaves that child,
// and the thread waiting for it to start, stuck for good. posix_spawn allocates nothing in
// the child. The shell starts the program in the background and ends at once, so the
// program is no child of ours left to be reaped.
bool startDetached(const QString &program, const QStringList &arguments)
{
    if (!QFileInfo(program).isExecutable())
        return false;
    QList<QByteArray> words { "/bin/sh", "-c", "\"$0\" \"$@\" &", QFile::encodeName(program) };
    for (const QString &argument : arguments)
        words << QFile::encodeName(argument);
    std::vector<char *> argv;
    for (QByteArray &word : words)
        argv.push_back(word.data());
    argv.push_back(nullptr);
    // A session of its own, as Qt gives a detached program: the terminal's signals to this
    // process's group are not the file manager's.
    posix_spawnattr_t attributes;
    posix_spawnattr_init(&attributes);
    posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSID);
    pid_t shell = 0;
    const int spawned = posix_spawn(&shell, "/bin/sh", nullptr, &attributes, argv.data(), environ);
    posix_spawnattr_destroy(&attributes);
    if (spawned != 0)
        return false;
    int status = 0;
    while (waitpid(shell, &status, 0) < 0) {
        if (errno != EINTR)
            return false;
    }
    return WIFEXITED(status) && WEXITSTATUS(status) == 0;
}
#endif

bool start(const QStringList &arguments)
{
    if (startDetached(resolvedProgram(), arguments))
        return true;
    qCWarning(serviceLog) << "FolderOpener: could not start" << FolderOpener::program() << "on" << arguments;
    return false;
}

} // namespace

QString FolderOpener::program()
{
#ifdef Q_OS_WIN
    return QStringLiteral("explorer");
#else
    return QStringLiteral("xdg-open");
#endif
}

QString FolderOpener::nativePath(const QString &absoluteFolder)
{
    return QDir::toNativeSeparators(absoluteFolder);
}

// The path travels as one argument of its own, so spaces in it need no quoting.
bool FolderOpener::open(const QString &absoluteFolder)
{
    return start({ nativePath(absoluteFolder) });
}

// Explorer takes "/select," and the path as two arguments, so a path with spaces may be
// quoted on its own.
bool FolderOpener::select(const QString &absoluteFile)
{
#ifdef Q_OS_WIN
    return start({ QStringLiteral("/select,"), nativePath(absoluteFile) });
#else
    return start({ nativePath(QFileInfo(absoluteFile).absolutePath()) });
#endif
}
