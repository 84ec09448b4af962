#include "tasks/statustext.h"

#include "service/safefilename.h"

#include "service/network.h"

#include <QDir>

QString StatusText::clock(const QTime &time)
{
    return time.toString(QStringLiteral("hh:mm:ss"));
}

QString StatusText::dayAndTime(const QDateTime &time)
{
    return time.toString(QStringLiteral("yyyy-MM-dd hh:mm"));
}

QString StatusText::offline(
    const QString &why, const QTime &since, const QDateTime &keptAt, const QDateTime &nextTry)
{
    return QStringLiteral("离线：%1，自 %2 起；表中是 %3 加载的任务；下次重试 %4")
        .arg(why, since.toString(QStringLiteral("hh:mm")), dayAndTime(keptAt), clock(nextTry.time()));
}

QString StatusText::offlineNoList(
    const QString &why, const QTime &since, const QDate &day, const QDateTime &nextTry)
{
    return QStringLiteral("离线：%1，自 %2 起；本机没有保存 %3 的任务；下次重试 %4")
        .arg(why, since.toString(QStringLiteral("hh:mm")), day.toString(QStringLiteral("yyyy-MM-dd")),
            clock(nextTry.time()));
}

QString StatusText::offlineOffer(const QDateTime &keptAt)
{
    if (!keptAt.isValid())
        return QStringLiteral("可离线使用（本机没有保存的任务）");
    return QStringLiteral("可离线查看 %1 加载的任务").arg(dayAndTime(keptAt));
}

QString StatusText::offlineClockMismatch()
{
    return QStringLiteral("电脑时钟与记录不符，无法离线登录");
}

QString StatusText::notFetchedOffline()
{
    return QStringLiteral("离线，此任务尚未下载");
}

QString StatusText::needsService()
{
    return QStringLiteral("离线：设备设置需要连接服务");
}

QString StatusText::passwordChanged()
{
    return QStringLiteral("服务已不接受这个密码：密码已在服务上更改，请用新密码登录");
}

QString StatusText::scanNotFound(const QString &code)
{
    return QStringLiteral("未找到 %1").arg(code);
}

QString StatusText::folderGone(const QString &task)
{
    return QStringLiteral("任务 %1 的NC程序文件夹已不在，可重新下载").arg(task);
}

// Names the characters that cannot stand in a file name; a number refused as a whole (a
// trailing space or dot, a device name) is shown whole, quoted.
QString StatusText::unsafeTaskNumber(const QString &task)
{
    QString refused;
    for (const QChar c : task) {
        if (!SafeFileName::isSafeComponent(QStringLiteral("a") + c + QStringLiteral("a"))
            && !refused.contains(c))
            refused += c;
    }
    return QStringLiteral("任务号含有不能用作文件名的字符：%1")
        .arg(refused.isEmpty() ? QStringLiteral("“%1”").arg(task) : refused);
}

QString StatusText::scanRefused()
{
    return QStringLiteral("扫码无效：含控制字符或超过 128 个字符");
}

QString StatusText::plantNote(qint64 waiting, const QTime &since)
{
    if (waiting == 0)
        return QStringLiteral("全厂记录：已同步");
    return QStringLiteral("全厂记录：%1 条待上传（自 %2）")
        .arg(waiting)
        .arg(since.toString(QStringLiteral("hh:mm")));
}

QString StatusText::loading(const QString &date)
{
    return QStringLiteral("正在加载 %1 的任务…").arg(date);
}

QString StatusText::loaded(const QTime &at, int taskCount)
{
    return QStringLiteral("%1 已加载，共 %2 个任务").arg(clock(at)).arg(taskCount);
}

QString StatusText::retry(const QDateTime &nextTry)
{
    if (!nextTry.isValid())
        return QString();
    return QStringLiteral("，下次重试 %1").arg(clock(nextTry.time()));
}

QString StatusText::stale(
    const ErrorInfo &failure, const QTime &failingSince, const QTime &loadedAt, const QDateTime &nextTry)
{
    return QStringLiteral("服务异常（%1），自 %2 起；表中是 %3 加载的任务%4")
        .arg(reason(failure), clock(failingSince), clock(loadedAt), retry(nextTry));
}

QString StatusText::dayFailed(const QString &date, const ErrorInfo &failure, const QDateTime &nextTry)
{
    return QStringLiteral("%1 的任务无法加载（%2）%3").arg(date, reason(failure), retry(nextTry));
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
    case Network::CertificateRefused:
        return certificateRefused(failure.message());
    case Network::ProxyNeedsSignIn:
        return proxyNeedsSignIn();
    case Network::ProxyRefused:
        return QStringLiteral("代理服务器拒绝连接");
    case Network::ProxyUnreachable:
        return QStringLiteral("代理服务器无法连接");
    case Network::ProxyTimedOut:
        return QStringLiteral("代理服务器超时");
    default:
        return QStringLiteral("回复无效");
    }
}

QString StatusText::proxyNeedsSignIn()
{
    return QStringLiteral("代理服务器需要登录");
}

QString StatusText::certificateRefused(const QString &problem)
{
    return problem.isEmpty() ? QStringLiteral("证书无效") : QStringLiteral("证书无效（%1）").arg(problem);
}

QString StatusText::size(qint64 bytes)
{
    if (bytes < 1024)
        return QStringLiteral("%1 字节").arg(bytes);
    if (bytes < 1024 * 1024)
        return QStringLiteral("%1 KB").arg(bytes / 1024.0, 0, 'f', 1);
    return QStringLiteral("%1 MB").arg(bytes / (1024.0 * 1024.0), 0, 'f', 1);
}

QString StatusText::fetching(const QString &fileName, qint64 received, qint64 total)
{
    if (total < 0)
        return QStringLiteral("正在下载 %1：已收到 %2").arg(fileName, size(received));
    return QStringLiteral("正在下载 %1：%2 / %3").arg(fileName, size(received), size(total));
}

QString StatusText::fetched(const QString &fileName, const QString &folder)
{
    return QStringLiteral("已下载 %1 到 %2").arg(fileName, QDir::toNativeSeparators(folder));
}

QString StatusText::unpacked(const QString &folder)
{
    return QStringLiteral("NC程序已解压到 %1").arg(QDir::toNativeSeparators(folder));
}

QString StatusText::identical(const QString &fileName)
{
    return QStringLiteral("%1 与当前版本相同，未替换").arg(fileName);
}

QString StatusText::fetchFailed(const QString &fileName, const FetchReport &report)
{
    QString why = report.fetch == FetchReport::Fetch::CaseClash
        ? QStringLiteral("任务号与任务 %1 只有大小写不同").arg(report.clashingTask)
        : fetchProblem(report.fetch);
    if (why.isEmpty())
        why = report.download == KRESTService::DownloadResult::CertificateRefused
            ? certificateRefused(report.certificateProblem)
            : downloadProblem(report.download);
    return QStringLiteral("%1 未下载：%2，原有文件未改动").arg(fileName, why);
}

QString StatusText::fetchProblem(FetchReport::Fetch result)
{
    switch (result) {
    case FetchReport::Fetch::InUse:
        return QStringLiteral("同一文件正在下载");
    case FetchReport::Fetch::NotWebAddress:
        return QStringLiteral("地址无效");
    default:
        return QString();
    }
}

QString StatusText::restoreOutcome(FetchHistory::RestoreResult result)
{
    using Result = FetchHistory::RestoreResult;
    switch (result) {
    case Result::Restored:
        return QStringLiteral("已恢复旧版本");
    case Result::InUse:
        return QStringLiteral("文件正被占用，未恢复，当前版本保持不变");
    case Result::NotKept:
        return QStringLiteral("旧版本已不存在，未恢复");
    case Result::Altered:
        return QStringLiteral("旧版本的文件与记录的 SHA-256 不符，未恢复，当前版本保持不变");
    case Result::Unknown:
    case Result::Failed:
        break;
    }
    return QStringLiteral("未恢复，当前版本保持不变");
}

QString StatusText::fetchEnded(const QString &fileName, const QString &placedIn, const FetchReport &report)
{
    if (!report.succeeded())
        return fetchFailed(fileName, report);
    if (report.identical)
        return identical(fileName);
    if (report.pdf)
        return fetched(fileName, placedIn);
    if (report.ncNotUpdated())
        return ncNotUpdated(placedIn, unpackProblem(report.unpack, report.unpackConflict));
    return unpacked(placedIn);
}

QString StatusText::downloadProblem(KRESTService::DownloadResult result)
{
    using Result = KRESTService::DownloadResult;
    switch (result) {
    case Result::CannotWrite:
        return QStringLiteral("文件正被其他程序占用或无法写入");
    case Result::NoSpace:
        return QStringLiteral("磁盘空间不足");
    case Result::NetworkError:
        return QStringLiteral("无法连接");
    case Result::TimedOut:
        return QStringLiteral("超时");
    case Result::TooSlow:
        return QStringLiteral("传输过慢，已放弃");
    case Result::HttpError:
        return QStringLiteral("服务器错误");
    case Result::Incomplete:
        return QStringLiteral("传输中断");
    case Result::TooLarge:
        return QStringLiteral("文件过大");
    case Result::ChecksumMismatch:
        return QStringLiteral("校验失败");
    case Result::CertificateRefused:
        return QStringLiteral("证书无效");
    case Result::InsecureRedirect:
        return QStringLiteral("服务器转向不安全的 http 地址，已拒绝");
    case Result::UnexpectedContent:
        return QStringLiteral("服务器返回的不是PDF文件");
    case Result::ProxyNeedsSignIn:
        return proxyNeedsSignIn();
    case Result::ProxyRefused:
        return QStringLiteral("代理服务器拒绝连接");
    case Result::ProxyUnreachable:
        return QStringLiteral("代理服务器无法连接");
    case Result::ProxyTimedOut:
        return QStringLiteral("代理服务器超时");
    case Result::Saved:
    case Result::Unchanged:
        break;
    }
    return QStringLiteral("下载失败");
}

QString StatusText::ncNotUpdated(const QString &folder, const QString &why)
{
    return QStringLiteral("NC程序未更新（%1）：%2").arg(QDir::toNativeSeparators(folder), why);
}

QString StatusText::unpackProblem(ArchiveUnpacker::Result result, const QString &names)
{
    switch (result) {
    case ArchiveUnpacker::Result::UnreadableName:
        return QStringLiteral("压缩包里的文件名无法识别");
    case ArchiveUnpacker::Result::DuplicateName:
        return names.isEmpty() ? QStringLiteral("压缩包里有重名的文件")
                               : QStringLiteral("压缩包里有重名的文件：%1").arg(names);
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

QString StatusText::historyUnavailable()
{
    return QStringLiteral("（下载记录暂不可用）");
}
