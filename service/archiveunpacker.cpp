#include "service/archiveunpacker.h"

#include "core/diskspace.h"
#include "core/hiddenfile.h"
#include "core/offthread.h"
#include "service/archiveentryname.h"
#include "service/safefilename.h"
#include "service/servicelog.h"

#include <quazip.h>
#include <quazipfile.h>
#include <quazipfileinfo.h>

#include <QBuffer>
#include <QDebug>
#include <QDir>
#include <QDirIterator>
#include <QFileInfo>
#include <QMetaEnum>
#include <QRandomGenerator>
#include <QScopeGuard>
#include <QSet>
#include <QTextCodec>

#include <algorithm>

namespace {

// Archives up to this size are read into memory in one piece.
constexpr qint64 wholeReadLimit = qint64(64) << 20;

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
    m_conflictingName.clear();
    const Result result = OffThread::run([&] { return unpackHere(archivePath, folder); });
    // A label PDF is no archive: the fetch's own log line says so.
    if (result != Result::NotAnArchive) {
        qCInfo(serviceLog).noquote() << "unpack" << QDir::toNativeSeparators(archivePath) << "into"
                                     << QDir::toNativeSeparators(folder) << ":" << m_fileCount << "files,"
                                     << m_byteCount << "bytes,"
                                     << QMetaEnum::fromType<Result>().valueToKey(int(result));
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

QString ArchiveUnpacker::conflictingName() const
{
    return m_conflictingName;
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
    // An archive of the usual size is read whole into memory first, which saves a system
    // call for every header and block; a larger one is read as it goes. Either way through
    // QFile: a mapping of a file that another program truncates kills the reader.
    QFile file(archive);
    if (!file.open(QIODevice::ReadOnly))
        return Result::NotAnArchive;
    QByteArray bytes;
    QBuffer inMemory(&bytes);
    const bool whole = file.size() <= wholeReadLimit;
    if (whole)
        bytes = file.readAll();
    QuaZip zip(whole ? static_cast<QIODevice *>(&inMemory) : &file);
    // Latin-1 hands the stored bytes of an unflagged name through unchanged, so that
    // ArchiveEntryName decides how to read them; QuaZip decodes flagged names as UTF-8.
    zip.setFileNameCodec(QTextCodec::codecForName("ISO-8859-1"));
    if (!zip.open(QuaZip::mdUnzip))
        return Result::NotAnArchive;
    if (isInside(archive, target) || target == QDir::rootPath()) {
        qCWarning(serviceLog) << "ArchiveUnpacker: not unpacked, replacing" << target << "would remove"
                              << archive;
        return Result::ArchiveInsideFolder;
    }

    Entries entries;
    const Result checked = checkEntries(zip, archive, target, entries);
    if (checked != Result::Unpacked)
        return checked;
    for (const Entry &entry : qAsConst(entries)) {
        if (!entry.folder) {
            ++m_fileCount;
            m_byteCount += entry.size;
        }
    }

    const QString staging = makeStagingFolder(target);
    if (staging.isEmpty()) {
        qCWarning(serviceLog) << "ArchiveUnpacker: no staging folder beside" << target;
        return Result::ExtractFailed;
    }
    auto removeStaging = qScopeGuard([&staging] { QDir(staging).removeRecursively(); });
    if (!extractAll(zip, entries, staging) || !holdsExactly(staging, entries)) {
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
    QuaZip &zip, const QString &archive, const QString &target, Entries &entries)
{
    QuaZipFileInfo64 info;
    qint64 total = 0;
    SeenNames seen;
    for (bool more = zip.goToFirstFile(); more; more = zip.goToNextFile()) {
        if (entries.size() >= m_maxEntries) {
            qCWarning(serviceLog) << "ArchiveUnpacker: not unpacked," << archive << "has more than"
                                  << m_maxEntries << "entries";
            return Result::TooLarge;
        }
        if (!zip.getCurrentFileInfo(&info)) {
            qCWarning(serviceLog) << "ArchiveUnpacker: not unpacked, unreadable entry" << entries.size() + 1
                                  << "in" << archive;
            return Result::ExtractFailed;
        }
        const bool flagged = info.flags & ArchiveEntryName::utf8Flag;
        const QByteArray raw = flagged ? info.name.toUtf8() : info.name.toLatin1();
        Entry entry;
        entry.name = ArchiveEntryName::decode(info.flags, raw, info.extra);
        entry.folder = entry.name.endsWith(QLatin1Char('/'));
        if (isSymbolicLink(info.externalAttr) || !isSafeEntryName(entry.name)) {
            if (!ArchiveEntryName::isReadable(entry.name))
                return checkName(archive, entry.name, entry.folder, seen);
            qCWarning(serviceLog) << "ArchiveUnpacker: not unpacked, entry" << entry.name << "of" << archive
                                  << "could land outside its folder";
            return Result::UnsafeEntry;
        }
        const Result named = checkName(archive, entry.name, entry.folder, seen);
        if (named != Result::Unpacked)
            return named;
        entry.size = qint64(qMin<quint64>(info.uncompressedSize, quint64(tooLarge)));
        entry.hasMode = (info.externalAttr >> 16) != 0;
        entry.permissions = info.getPermissions();
        if (!entry.folder)
            total = qMin(total + entry.size, tooLarge);
        entries.append(entry);
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

// Every folder on an entry's path counts, so "A/x.nc" and "a/y.nc" clash as well: on
// Windows both land in one folder.
ArchiveUnpacker::Result ArchiveUnpacker::checkName(
    const QString &archive, const QString &name, bool folder, SeenNames &seen)
{
    if (!ArchiveEntryName::isReadable(name)) {
        m_conflictingName = name;
        qCWarning(serviceLog) << "ArchiveUnpacker: not unpacked, the name of entry" << name << "of" << archive
                              << "cannot be read";
        return Result::UnreadableName;
    }
    QString path = name;
    if (folder)
        path.chop(1);
    const QStringList components = path.split(QLatin1Char('/'));
    QString prefix;
    for (int i = 0; i < components.size(); ++i) {
        prefix += (i == 0 ? QString() : QStringLiteral("/")) + components.at(i);
        const QString key = ArchiveEntryName::sameFileKey(prefix);
        const bool last = i == components.size() - 1;
        if (seen.files.contains(key))
            return duplicate(archive, seen.files.value(key), prefix);
        if (last && !folder) {
            if (seen.folders.contains(key))
                return duplicate(archive, seen.folders.value(key), prefix);
            seen.files.insert(key, prefix);
        } else if (seen.folders.value(key, prefix) != prefix) {
            return duplicate(archive, seen.folders.value(key), prefix);
        } else {
            seen.folders.insert(key, prefix);
        }
    }
    return Result::Unpacked;
}

ArchiveUnpacker::Result ArchiveUnpacker::duplicate(
    const QString &archive, const QString &first, const QString &second)
{
    m_conflictingName = first == second ? first : first + QStringLiteral("、") + second;
    qCWarning(serviceLog) << "ArchiveUnpacker: not unpacked," << archive << "holds" << first << "and"
                          << second << ", one file on some system";
    return Result::DuplicateName;
}

// The entries are extracted one by one under the names decoded above, which extractDir
// cannot be told.
bool ArchiveUnpacker::extractAll(QuaZip &zip, const Entries &entries, const QString &staging)
{
    int index = 0;
    for (bool more = zip.goToFirstFile(); more; more = zip.goToNextFile(), ++index) {
        if (index >= entries.size())
            return false;
        const Entry &entry = entries.at(index);
        const QString path = staging + QLatin1Char('/') + entry.name;
        const bool done = entry.folder ? QDir().mkpath(path) : extractFile(zip, entry, path);
        if (!done)
            return false;
    }
    return index == entries.size() && zip.getZipError() == UNZ_OK;
}

// NewOnly: a file already there is another entry that this disk sees as the same name.
// Closing the entry checks its CRC; the size is checked besides, since a short entry
// whose CRC happens to match would pass.
bool ArchiveUnpacker::extractFile(QuaZip &zip, const Entry &entry, const QString &path)
{
    QuaZipFile in(&zip);
    QFile out(path);
    if (!QDir().mkpath(QFileInfo(path).absolutePath()) || !in.open(QIODevice::ReadOnly)
        || !out.open(QIODevice::WriteOnly | QIODevice::NewOnly)) {
        qCWarning(serviceLog) << "ArchiveUnpacker: cannot extract" << entry.name << ":" << out.errorString();
        return false;
    }
    QByteArray buffer(1 << 16, Qt::Uninitialized);
    qint64 written = 0;
    for (qint64 got; (got = in.read(buffer.data(), buffer.size())) > 0; written += got) {
        if (out.write(buffer.constData(), got) != got)
            return false;
    }
    in.close();
    if (in.getZipError() != UNZ_OK || written != entry.size || !out.flush()) {
        qCWarning(serviceLog) << "ArchiveUnpacker:" << entry.name << "was extracted with" << written << "of"
                              << entry.size << "bytes or a wrong CRC";
        return false;
    }
    if (entry.hasMode)
        out.setPermissions(entry.permissions | QFileDevice::ReadOwner | QFileDevice::WriteOwner);
    return true;
}

// The staging folder holds the entries and the folders on their paths, and nothing else.
bool ArchiveUnpacker::holdsExactly(const QString &staging, const Entries &entries)
{
    QSet<QString> expected;
    for (const Entry &entry : entries) {
        QString path = entry.name;
        if (entry.folder)
            path.chop(1);
        for (; !path.isEmpty(); path = path.section(QLatin1Char('/'), 0, -2))
            expected.insert(path);
    }
    QSet<QString> found;
    QDirIterator it(staging, QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden | QDir::System,
        QDirIterator::Subdirectories);
    while (it.hasNext())
        found.insert(it.next().mid(staging.size() + 1));
    if (found == expected)
        return true;
    qCWarning(serviceLog) << "ArchiveUnpacker: the files extracted are not the archive's entries:"
                          << (found - expected).values() << "extra," << (expected - found).values()
                          << "missing";
    return false;
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
