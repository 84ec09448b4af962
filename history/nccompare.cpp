#include "history/nccompare.h"

#include "history/filedigest.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QHash>
#include <QMap>
#include <QTextCodec>

#include <dtl/dtl.hpp>

#include <vector>

namespace {

using Sequence = std::vector<int>;
using Diff = dtl::Diff<int, Sequence>;
using Element = std::pair<int, dtl::elemInfo>;

NcCompare::Result failed(const QString &why)
{
    NcCompare::Result result;
    result.error = why;
    return result;
}

QString native(const QString &path)
{
    return QDir::toNativeSeparators(path);
}

// A folder's files by path with their digests; false when one cannot be read.
bool digests(const NcCompare::Side &side, QMap<QString, QString> &found, QString &error)
{
    const QList<HistoryFile> files = side.files.isEmpty() ? FileDigest::folderFiles(side.path) : side.files;
    for (const HistoryFile &file : files) {
        if (file.sha256.isEmpty()) {
            error = QStringLiteral("cannot read %1").arg(native(side.path + QLatin1Char('/') + file.path));
            return false;
        }
        found.insert(file.path, file.sha256);
    }
    return true;
}

} // namespace

bool NcCompare::Result::same() const
{
    for (const FileDiff &file : files) {
        if (file.status != Status::Equivalent)
            return false;
    }
    return error.isEmpty();
}

int NcCompare::Result::hunkCount() const
{
    int count = 0;
    for (const FileDiff &file : files)
        count += file.hunks.size();
    return count;
}

NcCompare::NcCompare(bool integerIsUnit)
    : m_normaliser(integerIsUnit)
{ }

NcCompare::Result NcCompare::compare(const QString &older, const QString &newer) const
{
    return compare(Side { older, {} }, Side { newer, {} });
}

NcCompare::Result NcCompare::compare(const Side &older, const Side &newer) const
{
    const QFileInfo oldInfo(older.path);
    const QFileInfo newInfo(newer.path);
    for (const QFileInfo &info : { oldInfo, newInfo }) {
        if (info.filePath().isEmpty() || !info.exists())
            return failed(QStringLiteral("%1 does not exist").arg(native(info.filePath())));
    }
    if (oldInfo.isDir() && newInfo.isDir())
        return compareFolders(older, newer);
    if (oldInfo.isFile() && newInfo.isFile())
        return compareFiles(older, newer);
    return failed(QStringLiteral("%1 and %2 are not both folders or both files")
                      .arg(native(older.path), native(newer.path)));
}

NcCompare::Result NcCompare::compareFolders(const Side &older, const Side &newer) const
{
    QMap<QString, QString> oldFiles, newFiles;
    QString error;
    if (!digests(older, oldFiles, error) || !digests(newer, newFiles, error))
        return failed(error);
    QMap<QString, QString> all = oldFiles;
    all.insert(newFiles);
    Result result;
    for (auto it = all.constBegin(); it != all.constEnd(); ++it) {
        FileDiff diff;
        diff.path = it.key();
        if (!oldFiles.contains(diff.path)) {
            diff.status = Status::Added;
        } else if (!newFiles.contains(diff.path)) {
            diff.status = Status::Removed;
        } else if (oldFiles.value(diff.path) == newFiles.value(diff.path)) {
            continue;
        } else if (!compareContent(older.path + QLatin1Char('/') + diff.path,
                       newer.path + QLatin1Char('/') + diff.path, diff)) {
            return failed(QStringLiteral("cannot read %1").arg(native(diff.path)));
        }
        result.files << diff;
    }
    return result;
}

NcCompare::Result NcCompare::compareFiles(const Side &older, const Side &newer) const
{
    const QString oldDigest = FileDigest::sha256(older.path);
    if (oldDigest.isEmpty())
        return failed(QStringLiteral("cannot read %1").arg(native(older.path)));
    const QString newDigest = FileDigest::sha256(newer.path);
    if (newDigest.isEmpty())
        return failed(QStringLiteral("cannot read %1").arg(native(newer.path)));
    Result result;
    if (oldDigest == newDigest)
        return result;
    FileDiff diff;
    diff.path = QFileInfo(newer.path).fileName();
    if (!compareContent(older.path, newer.path, diff))
        return failed(QStringLiteral("cannot read %1 or %2").arg(native(older.path), native(newer.path)));
    result.files << diff;
    return result;
}

bool NcCompare::compareContent(const QString &older, const QString &newer, FileDiff &diff) const
{
    QStringList oldLines, newLines;
    bool oldBinary = false;
    bool newBinary = false;
    const bool oldText = readText(older, oldLines, &oldBinary);
    const bool newText = readText(newer, newLines, &newBinary);
    if ((!oldText && !oldBinary) || (!newText && !newBinary))
        return false;
    diff.status = Status::Changed;
    diff.binary = oldBinary || newBinary;
    if (diff.binary)
        return true;
    diff.hunks = diffLines(oldLines, newLines);
    if (diff.hunks.isEmpty())
        diff.status = Status::Equivalent;
    return true;
}

// Lines that read alike share a number, and the diff runs over those numbers; lines that
// are nothing but a comment or a block number are left out, as a control skips them.
QList<NcCompare::Hunk> NcCompare::diffLines(const QStringList &older, const QStringList &newer) const
{
    QHash<QString, int> ids;
    const auto number = [&](const QStringList &lines, Sequence &sequence, std::vector<int> &lineOf) {
        for (int i = 0; i < lines.size(); ++i) {
            const QString normalised = m_normaliser.normalise(lines.at(i));
            if (normalised.isEmpty())
                continue;
            sequence.push_back(ids.insert(normalised, ids.value(normalised, ids.size())).value());
            lineOf.push_back(i);
        }
    };
    Sequence oldSequence, newSequence;
    std::vector<int> oldLineOf, newLineOf;
    number(older, oldSequence, oldLineOf);
    number(newer, newSequence, newLineOf);
    if (oldSequence == newSequence)
        return {};

    Diff diff(oldSequence, newSequence);
    diff.compose();
    diff.composeUnifiedHunks();
    QList<Hunk> hunks;
    const auto lineOf = [&](const Element &element) {
        Line line;
        line.kind = element.second.type == dtl::SES_DELETE ? LineKind::Removed
            : element.second.type == dtl::SES_ADD          ? LineKind::Added
                                                           : LineKind::Common;
        if (line.kind != LineKind::Added)
            line.oldNumber = oldLineOf[size_t(element.second.beforeIdx - 1)] + 1;
        if (line.kind != LineKind::Removed)
            line.newNumber = newLineOf[size_t(element.second.afterIdx - 1)] + 1;
        line.text
            = line.kind == LineKind::Removed ? older.at(line.oldNumber - 1) : newer.at(line.newNumber - 1);
        return line;
    };
    for (const auto &unified : diff.getUniHunks()) {
        Hunk hunk;
        for (const auto *part : { &unified.common[0], &unified.change, &unified.common[1] }) {
            for (const Element &element : *part)
                hunk.lines << lineOf(element);
        }
        hunks << withHeader(hunk);
    }
    return hunks;
}

// The header counts the lines shown, which start at their first line number.
NcCompare::Hunk NcCompare::withHeader(Hunk hunk)
{
    for (const Line &line : qAsConst(hunk.lines)) {
        if (line.kind != LineKind::Added && hunk.oldCount++ == 0)
            hunk.oldStart = line.oldNumber;
        if (line.kind != LineKind::Removed && hunk.newCount++ == 0)
            hunk.newStart = line.newNumber;
    }
    return hunk;
}

bool NcCompare::readText(const QString &path, QStringList &lines, bool *binary)
{
    if (binary)
        *binary = false;
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return false;
    const QByteArray bytes = file.readAll();
    if (file.error() != QFileDevice::NoError)
        return false;
    if (bytes.contains('\0')) {
        if (binary)
            *binary = true;
        return false;
    }
    lines = decodedLines(bytes);
    return true;
}

// Chinese comments come in GBK from older editors and posts; where the bytes are not valid
// UTF-8, they are read that way.
QStringList NcCompare::decodedLines(const QByteArray &bytes)
{
    QTextCodec::ConverterState state;
    QString text = QTextCodec::codecForName("UTF-8")->toUnicode(bytes.constData(), bytes.size(), &state);
    if (state.invalidChars > 0 || state.remainingChars > 0) {
        const QTextCodec *gbk = QTextCodec::codecForName("GBK");
        text = gbk ? gbk->toUnicode(bytes) : QString::fromLocal8Bit(bytes);
    }
    const QChar separator = text.contains(QLatin1Char('\n')) ? QLatin1Char('\n') : QLatin1Char('\r');
    QStringList lines = text.split(separator);
    if (!lines.isEmpty() && lines.last().isEmpty())
        lines.removeLast();
    for (QString &line : lines) {
        while (line.endsWith(QLatin1Char('\r')))
            line.chop(1);
    }
    return lines;
}
