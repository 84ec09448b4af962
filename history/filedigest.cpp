#include "history/filedigest.h"

#include "core/sha256.h"

#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QFileInfo>

#include <algorithm>

namespace {

constexpr qint64 blockSize = 1 << 20;

} // namespace

QString FileDigest::sha256(const QString &path, qint64 *size)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return QString();
    Sha256 hash;
    QByteArray block(int(blockSize), Qt::Uninitialized);
    qint64 total = 0;
    for (;;) {
        const qint64 read = file.read(block.data(), blockSize);
        if (read < 0)
            return QString();
        if (read == 0)
            break;
        hash.addData(block.constData(), read);
        total += read;
    }
    if (size)
        *size = total;
    return QString::fromLatin1(hash.result().toHex());
}

QList<HistoryFile> FileDigest::folderFiles(const QString &folder)
{
    QList<HistoryFile> files;
    // Relative paths come out right only from an absolute folder: QDir("a").relativeFilePath("a/b")
    // is "a/b".
    const QDir root(QFileInfo(folder).absoluteFilePath());
    QDirIterator it(root.path(), QDir::Files | QDir::Hidden | QDir::System, QDirIterator::Subdirectories);
    while (it.hasNext()) {
        HistoryFile file;
        const QString path = it.next();
        file.path = root.relativeFilePath(path);
        file.sha256 = sha256(path, &file.size);
        files << file;
    }
    std::sort(files.begin(), files.end(),
        [](const HistoryFile &a, const HistoryFile &b) { return a.path < b.path; });
    return files;
}
