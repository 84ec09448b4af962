#include "app/consoleoutput.h"

#include <QtGlobal>

#ifdef Q_OS_WIN
#include <windows.h>

#include <cstdio>
#endif

void ConsoleOutput::attach()
{
#ifdef Q_OS_WIN
    // A redirected output (a file or a pipe) is a valid handle already.
    if (GetFileType(GetStdHandle(STD_OUTPUT_HANDLE)) != FILE_TYPE_UNKNOWN)
        return;
    if (!AttachConsole(ATTACH_PARENT_PROCESS))
        return;
    std::freopen("CONOUT$", "w", stdout);
    std::freopen("CONOUT$", "w", stderr);
#endif
}
