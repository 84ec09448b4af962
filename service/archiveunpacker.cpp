#include "service/archiveunpacker.h"

#include "core/diskspace.h"
#include "core/hiddenfile.h"
#include "core/offthread.h"
#include "service/safefilename.h"
#include "service/servicelog.h"

#include <JlCompress.h>
#include <quazip.h>
#include <quazipfileinfo.h>

#include <QBuffer>
#include <QDebug>
#include <QDir>
#include <QFileInfo>
#include <QMetaEnum>
#include <QRandomGenerator>
#include <QScopeGuard>

#include <algorithm>
#include <limits>
#include <memory>

namespace {

// Sizes are added up to this and no further; it is beyond any disk.
constexpr qint64 tooLarge = qint64(1) << 60;

// The Unix mode sits in the high half of the external attributes, whatever system made
// the archive claims to be.
bool isSymbolicLink(quint32 externalAttributes)
{
    return ((externalAttributes >> 16) & 0170000u) == 0120000u;
}

bool isInside(const QString &path, const QString &folder)
{
    return QDir::cleanPath(path).startsWith(folder + QLatin1Char('/'));
}

} // namespace

// An absolute name starts with an empty component, which no component check lets through.
bool ArchiveUnpacker::isSafeEntryName(const QString &name)
{
    QStringList components = name.split(QLatin1Char('/'));
    if (components.last().isEmpty())
        components.removeLast(); // a folder entry ends with "/"
    return !components.isEmpty()
        && std::all_of(components.cbegin(), components.cend(), SafeFileName::isSafeComponent);
}

ArchiveUnpacker::Result ArchiveUnpacker::unpack(const QString &archivePath, const QString &folder)
{
    m_fileCount = 0;
    m_byteCount = 0;
    m_keptReplaced = false;
    const Result result = OffThread::run([&] { return unpackHere(archivePath, folder); });
    // A label PDF is no archive: the fetch's own log line says so.
    if (result != Result::NotAnArchive) {
        qInfo().noquote() << "unpack" << QDir::toNativeSeparators(archivePath) << "into"
                          << QDir::toNativeSeparators(folder) << ":" << m_fileCount << "files," << m_byteCount
                          << "bytes," << QMetaEnum::fromType<Result>().valueToKey(int(result));
    }
    return result;
}

int ArchiveUnpacker::fileCount() const
{
    return m_fileCount;
}

qint64 ArchiveUnpacker::byteCount() const
{
    return m_byteCount;
}

int ArchiveUnpacker::maxEntries() const
{
    return m_maxEntries;
}

void ArchiveUnpacker::setMaxEntries(int count)
{
    m_maxEntries = count;
}

void ArchiveUnpacker::setKeepReplacedAt(const QString &folder)
{
    m_keepReplacedAt = folder;
}

bool ArchiveUnpacker::keptReplaced() const
{
    return m_keptReplaced;
}

ArchiveUnpacker::Result ArchiveUnpacker::unpackHere(const QString &archivePath, const QString &folder)
{
    if (folder.isEmpty())
        return Result::NoFolder;
    const QString archive = QFileInfo(archivePath).absoluteFilePath();
    const QString target = QDir::cleanPath(QFileInfo(folder).absoluteFilePath());

    if (!QFileInfo(archive).isFile())
        return Result::NotAnArchive;
    // Reading the archive through a mapping saves a system call for every header and block,
    // a good part of the time for an archive of many small files.
    QFile file(archive);
    QByteArray mapped;
    QBuffer mappedDevice(&mapped);
    const qint64 size = file.open(QIODevice::ReadOnly) ? file.size() : 0;
    uchar *mapping = size > 0 && size <= std::numeric_limits<int>::max() ? file.map(0, size) : nullptr;
    if (mapping)
        mapped = QByteArray::fromRawData(reinterpret_cast<const char *>(mapping), int(size));
    const std::unique_ptr<QuaZip> zipOwner(mapping ? new QuaZip(&mappedDevice) : new QuaZip(archive));
    QuaZip &zip = *zipOwner;
    if (!zip.open(QuaZip::mdUnzip))
        return Result::NotAnArchive;
    if (isInside(archive, target) || target == QDir::rootPath()) {
        qCWarning(serviceLog) << "ArchiveUnpacker: not unpacked, replacing" << target << "would remove"
                              << archive;
        return Result::ArchiveInsideFolder;
    }

    int entryCount = 0;
    EntrySizes sizes;
    const Result checked = checkEntries(zip, archive, target, entryCount, sizes);
    if (checked != Result::Unpacked)
        return checked;
    m_fileCount = sizes.size();
    for (const auto &entry : qAsConst(sizes))
        m_byteCount += entry.second;

    const QString staging = makeStagingFolder(target);
    if (staging.isEmpty()) {
        qCWarning(serviceLog) << "ArchiveUnpacker: no staging folder beside" << target;
        return Result::ExtractFailed;
    }
    auto removeStaging = qScopeGuard([&staging] { QDir(staging).removeRecursively(); });

    // extractDir opens the archive itself; the same object keeps the file name codec, so
    // it extracts under exactly the names checked above. It checks each entry's CRC but not
    // whether each file was closed whole, hence the sizes.
    zip.close();
    const QStringList extracted = JlCompress::extractDir(zip, staging);
    if (extracted.size() != entryCount || !sizesMatch(staging, sizes)) {
        qCWarning(serviceLog) << "ArchiveUnpacker: extracting" << archive << "failed," << target
                              << "left as it was";
        return Result::ExtractFailed;
    }

    const Result result = swapIn(staging, target);
    if (result == Result::Unpacked)
        removeStaging.dismiss();
    return result;
}

// Goes through QuaZip's own API only: a QuaZip DLL exports its classes, not minizip's functions.
ArchiveUnpacker::Result ArchiveUnpacker::checkEntries(
    QuaZip &zip, const QString &archive, const QString &target, int &entryCount, EntrySizes &sizes) const
{
    QuaZipFileInfo64 info;
    qint64 total = 0;
    for (bool more = zip.goToFirstFile(); more; more = zip.goToNextFile()) {
        if (++entryCount > m_maxEntries) {
            qCWarning(serviceLog) << "ArchiveUnpacker: not unpacked," << archive << "has more than"
                                  << m_maxEntries << "entries";
            return Result::TooLarge;
        }
        if (!zip.getCurrentFileInfo(&info)) {
            qCWarning(serviceLog) << "ArchiveUnpacker: not unpacked, unreadable entry" << entryCount << "in"
                                  << archive;
            return Result::ExtractFailed;
        }
        if (isSymbolicLink(info.externalAttr) || !isSafeEntryName(info.name)) {
            qCWarning(serviceLog) << "ArchiveUnpacker: not unpacked, entry" << info.name << "of" << archive
                                  << "could land outside its folder";
            return Result::UnsafeEntry;
        }
        if (!info.name.endsWith(QLatin1Char('/'))) {
            sizes.append({ info.name, qint64(qMin<quint64>(info.uncompressedSize, quint64(tooLarge))) });
            total = qMin(total + sizes.last().second, tooLarge);
        }
    }
    if (zip.getZipError() != UNZ_OK) {
        qCWarning(serviceLog) << "ArchiveUnpacker: not unpacked, cannot list" << archive;
        return Result::ExtractFailed;
    }
    if (total > spareBytes(QFileInfo(target).absolutePath())) {
        qCWarning(serviceLog) << "ArchiveUnpacker: not unpacked, the" << total << "bytes of" << archive
                              << "would not fit beside" << target;
        return Result::TooLarge;
    }
    return Result::Unpacked;
}

bool ArchiveUnpacker::sizesMatch(const QString &staging, const EntrySizes &sizes)
{
    for (const auto &entry : sizes) {
        const QFileInfo file(staging + QLatin1Char('/') + entry.first);
        if (file.size() != entry.second) {
            qCWarning(serviceLog) << "ArchiveUnpacker:" << entry.first << "was extracted with" << file.size()
                                  << "of" << entry.second << "bytes";
            return false;
        }
    }
    return true;
}

// Made with mkdir, so it has the permissions any new folder gets there; a temporary folder
// would be its owner's only.
QString ArchiveUnpacker::makeStagingFolder(const QString &target)
{
    const QFileInfo targetInfo(target);
    QDir().mkpath(targetInfo.absolutePath());
    const QString prefix = targetInfo.absolutePath() + QStringLiteral("/.") + targetInfo.fileName()
        + QStringLiteral(".unpack-");
    for (int attempt = 0; attempt < 16; ++attempt) {
        const QString candidate = prefix + QString::number(QRandomGenerator::global()->generate(), 36);
        if (QDir().mkdir(candidate)) {
            HiddenFile::hide(candidate);
            return candidate;
        }
    }
    return QString();
}

ArchiveUnpacker::Result ArchiveUnpacker::swapIn(const QString &staging, const QString &target)
{
    const QFileInfo old(target);
    if (!old.exists() && !old.isSymLink()) {
        if (moveEntry(staging, target))
            return Result::Unpacked;
        qCWarning(serviceLog) << "ArchiveUnpacker: could not move the unpacked files to" << target;
        return Result::FolderKept;
    }

    // The old folder is moved aside first: on Windows that fails while the machine holds
    // one of its files open, and then nothing of it has changed yet.
    const QString aside = staging + QStringLiteral(".old");
    if (!moveEntry(target, aside)) {
        qCWarning(serviceLog) << "ArchiveUnpacker: kept the old" << target
                              << "unchanged, it cannot be replaced (a file in it may be in use)";
        return Result::FolderKept;
    }
    if (!moveEntry(staging, target)) {
        if (moveEntry(aside, target))
            qCWarning(serviceLog) << "ArchiveUnpacker: could not move the unpacked files to" << target
                                  << "; kept the old folder";
        else
            qCWarning(serviceLog) << "ArchiveUnpacker: could not move the unpacked files to" << target
                                  << "; the old folder is at" << aside;
        return Result::FolderKept;
    }
    putAside(aside);
    return Result::Unpacked;
}

// The replaced folder is kept when asked; one that cannot be kept goes, as it did before
// anything was kept, so that the new program is in place either way.
void ArchiveUnpacker::putAside(const QString &aside)
{
    if (!m_keepReplacedAt.isEmpty()) {
        QDir().mkpath(QFileInfo(m_keepReplacedAt).absolutePath());
        m_keptReplaced = moveEntry(aside, m_keepReplacedAt);
        if (m_keptReplaced)
            return;
        qCWarning(serviceLog) << "ArchiveUnpacker: could not keep the replaced files as" << m_keepReplacedAt;
    }
    if (!removeEntry(aside))
        qCWarning(serviceLog) << "ArchiveUnpacker: could not remove the replaced files in" << aside;
}

// A staging name is hidden, and what leaves it must not be; what takes one is hidden.
bool ArchiveUnpacker::moveEntry(const QString &from, const QString &to)
{
    const bool toStaging = QFileInfo(to).fileName().startsWith(QLatin1Char('.'));
    if (!toStaging)
        HiddenFile::reveal(from);
    if (!QDir().rename(from, to)) {
        if (!toStaging)
            HiddenFile::hide(from);
        return false;
    }
    if (toStaging)
        HiddenFile::hide(to);
    return true;
}

qint64 ArchiveUnpacker::spareBytes(const QString &folder) const
{
    return DiskSpace::spareBytes(folder, DiskSpace::defaultReserve);
}

// A link is removed itself, never what it points to.
bool ArchiveUnpacker::removeEntry(const QString &path)
{
    const QFileInfo info(path);
    if (info.isSymLink() || !info.isDir())
        return QFile::remove(path);
    return QDir(path).removeRecursively();
}
