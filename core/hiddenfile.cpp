#include "core/hiddenfile.h"

#include "core/corelog.h"

#include <QDebug>
#include <QDir>
#include <QFileDevice>

#ifdef Q_OS_WIN
#include <io.h>
#include <qt_windows.h>
#endif

void HiddenFile::hide(const QString &path)
{
    setHidden(path, true);
}

void HiddenFile::reveal(const QString &path)
{
    setHidden(path, false);
}

void HiddenFile::hide(QFileDevice &file)
{
    setHidden(file, true);
}

void HiddenFile::reveal(QFileDevice &file)
{
    setHidden(file, false);
}

#ifdef Q_OS_WIN

void HiddenFile::setHidden(const QString &path, bool hidden)
{
    const std::wstring native = QDir::toNativeSeparators(path).toStdWString();
    const DWORD attributes = GetFileAttributesW(native.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES)
        return;
    const DWORD wanted
        = hidden ? attributes | FILE_ATTRIBUTE_HIDDEN : attributes & ~DWORD(FILE_ATTRIBUTE_HIDDEN);
    if (wanted != attributes && !SetFileAttributesW(native.c_str(), wanted))
        qCDebug(coreLog) << "HiddenFile: cannot change the hidden attribute of" << path;
}

// Times left at zero are not changed.
void HiddenFile::setHidden(QFileDevice &file, bool hidden)
{
    const HANDLE handle = reinterpret_cast<HANDLE>(_get_osfhandle(file.handle()));
    FILE_BASIC_INFO info {};
    if (handle == INVALID_HANDLE_VALUE
        || !GetFileInformationByHandleEx(handle, FileBasicInfo, &info, sizeof info))
        return;
    const DWORD attributes = info.FileAttributes;
    info = FILE_BASIC_INFO {};
    info.FileAttributes
        = hidden ? attributes | FILE_ATTRIBUTE_HIDDEN : attributes & ~DWORD(FILE_ATTRIBUTE_HIDDEN);
    if (info.FileAttributes != attributes
        && !SetFileInformationByHandle(handle, FileBasicInfo, &info, sizeof info))
        qCDebug(coreLog) << "HiddenFile: cannot change the hidden attribute of" << file.fileName();
}

#else

void HiddenFile::setHidden(const QString &, bool) { }

void HiddenFile::setHidden(QFileDevice &, bool) { }

#endif
