#include "statustext.h"

#include "network.h"

#include <QDir>
#include <QLocale>

QString StatusText::clock(const QTime &time)
{
    return time.toString(QStringLiteral("hh:mm:ss"));
}

QString StatusText::loading(const QString &date)
{
    return QStringLiteral("正在加载 %1 的任务…").arg(date);
}

QString StatusText::loaded(const QTime &at, int taskCount)
{
    return QStringLiteral("%1 已加载，共 %2 个任务").arg(clock(at)).arg(taskCount);
}

QString StatusText::stale(const ErrorInfo &failure, const QTime &failingSince, const QTime &loadedAt)
{
    return QStringLiteral("服务异常（%1），自 %2 起；表中是 %3 加载的任务")
        .arg(reason(failure), clock(failingSince), clock(loadedAt));
}

QString StatusText::dayFailed(const QString &date, const ErrorInfo &failure)
{
    return QStringLiteral("%1 的任务无法加载（%2）").arg(date, reason(failure));
}

QString StatusText::reason(const ErrorInfo &failure)
{
    const int code = failure.code();
    if (code >= 100)
        return QStringLiteral("服务器错误 %1").arg(code);
    switch (code) {
    case Network::CannotConnect:
        return QStringLiteral("无法连接");
    case Network::TimedOut:
        return QStringLiteral("超时");
    case Network::Interrupted:
        return QStringLiteral("已中断");
    default:
        return QStringLiteral("回复无效");
    }
}

QString StatusText::fetching(const QString &fileName, qint64 received, qint64 total)
{
    const QLocale locale;
    if (total < 0)
        return QStringLiteral("正在下载 %1：%2").arg(fileName, locale.formattedDataSize(received));
    return QStringLiteral("正在下载 %1：%2 / %3")
        .arg(fileName, locale.formattedDataSize(received), locale.formattedDataSize(total));
}

QString StatusText::fetched(const QString &fileName, const QString &folder)
{
    return QStringLiteral("已下载 %1 到 %2").arg(fileName, QDir::toNativeSeparators(folder));
}

QString StatusText::unpacked(const QString &folder)
{
    return QStringLiteral("NC程序已解压到 %1").arg(QDir::toNativeSeparators(folder));
}

QString StatusText::fetchFailed(const QString &fileName, const HttpTransfer &transfer)
{
    QString why;
    switch (transfer.lastFetchResult()) {
    case HttpTransfer::FetchResult::InUse:
        why = QStringLiteral("同一文件正在下载");
        break;
    case HttpTransfer::FetchResult::NotWebAddress:
        why = QStringLiteral("地址无效");
        break;
    default:
        why = QStringLiteral("下载失败");
        break;
    }
    return QStringLiteral("%1 未下载：%2，原有文件未改动").arg(fileName, why);
}

QString StatusText::ncNotUpdated(const QString &folder, const QString &why)
{
    return QStringLiteral("NC程序未更新（%1）：%2").arg(QDir::toNativeSeparators(folder), why);
}

QString StatusText::unpackProblem(ArchiveUnpacker::Result result)
{
    switch (result) {
    case ArchiveUnpacker::Result::Unpacked:
        return QString();
    case ArchiveUnpacker::Result::NotAnArchive:
        return QStringLiteral("下载的文件不是压缩包");
    case ArchiveUnpacker::Result::UnsafeEntry:
        return QStringLiteral("压缩包里有不安全的文件名，已拒绝");
    case ArchiveUnpacker::Result::FolderKept:
        return QStringLiteral("文件夹正被占用，保留了原有程序");
    case ArchiveUnpacker::Result::ExtractFailed:
        return QStringLiteral("解压失败，保留了原有程序");
    case ArchiveUnpacker::Result::TooLarge:
        return QStringLiteral("压缩包过大或文件过多，磁盘空间不足，保留了原有程序");
    case ArchiveUnpacker::Result::NoFolder:
    case ArchiveUnpacker::Result::ArchiveInsideFolder:
        return QStringLiteral("任务号不能作为文件夹名");
    }
    return QStringLiteral("解压失败");
}
