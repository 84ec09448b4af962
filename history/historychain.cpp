#include "history/historychain.h"

#include "core/sha256.h"
#include "history/historyentry.h"
#include "history/historystore.h"

#include <QDateTime>
#include <QSqlRecord>
#include <QtEndian>

#include <algorithm>

namespace {

constexpr quint32 nullLength = 0xFFFFFFFFu;
constexpr int chainSize = 32;

void appendLength(QByteArray &encoding, quint32 length)
{
    char bytes[4];
    qToBigEndian(length, bytes);
    encoding.append(bytes, 4);
}

} // namespace

const QString HistoryChain::rowColumns = QStringLiteral(
    "id, time, action, user_id, device, task, kind, source, target, bytes, sha256, outcome, ok, "
    "duration_ms, kept_path, original_time, start_id");
const QString HistoryChain::fileColumns = QStringLiteral("fetch_id, path, size, sha256");

QByteArray HistoryChain::genesis()
{
    return QByteArray(chainSize, '\0');
}

void HistoryChain::appendField(QByteArray &encoding, const QVariant &value)
{
    if (value.isNull()) {
        appendLength(encoding, nullLength);
        return;
    }
    const QByteArray text = value.toString().toUtf8();
    appendLength(encoding, quint32(text.size()));
    encoding += text;
}

// Files are taken by the UTF-8 bytes of their paths, which no locale or platform reorders.
QByteArray HistoryChain::encode(const QVariantList &row, const QList<QVariantList> &files)
{
    QByteArray encoding;
    for (const QVariant &value : row)
        appendField(encoding, value);
    QList<QPair<QByteArray, QByteArray>> encodedFiles;
    for (const QVariantList &file : files) {
        QByteArray encodedFile;
        for (const QVariant &value : file)
            appendField(encodedFile, value);
        encodedFiles << qMakePair(file.value(1).toString().toUtf8(), encodedFile);
    }
    std::sort(encodedFiles.begin(), encodedFiles.end());
    appendLength(encoding, quint32(encodedFiles.size()));
    for (const auto &file : qAsConst(encodedFiles))
        encoding += file.second;
    return encoding;
}

QByteArray HistoryChain::link(const QByteArray &previous, const QByteArray &encoding)
{
    Sha256 hash;
    hash.addData(previous.constData(), previous.size());
    hash.addData(encoding.constData(), encoding.size());
    return hash.result();
}

QString HistoryChain::toText(const QByteArray &chain)
{
    return QString::fromLatin1(chain.toHex());
}

QByteArray HistoryChain::fromText(const QString &text)
{
    return QByteArray::fromHex(text.trimmed().toLatin1());
}

// Rows an older client wrote without a chain are passed over: the chain goes on from the
// newest row that has one.
bool HistoryChain::readHead(QSqlDatabase db, Head &head, QSqlError &error)
{
    QSqlQuery query(db);
    if (!query.exec(QStringLiteral("SELECT MAX(id) FROM fetch")) || !query.next()) {
        error = query.lastError();
        return false;
    }
    head.lastId = query.value(0).toLongLong();
    if (!query.exec(
            QStringLiteral("SELECT chain FROM fetch WHERE chain IS NOT NULL ORDER BY id DESC LIMIT 1"))) {
        error = query.lastError();
        return false;
    }
    head.chain = query.next() ? fromText(query.value(0).toString()) : genesis();
    return true;
}

// The id is given, not left to SQLite, because the chain value covers it and is inserted
// with the row: rows are only ever inserted.
bool HistoryChain::append(QSqlDatabase db, const QVariantList &values, const QList<QVariantList> &files,
    Head &head, QSqlError &error)
{
    const qint64 id = head.lastId + 1;
    QList<QVariantList> fileRows;
    for (const QVariantList &file : files)
        fileRows << (QVariantList { id } + file);
    const QByteArray chain = link(head.chain, encode(QVariantList { id } + values, fileRows));
    QSqlQuery row(db);
    row.prepare(QStringLiteral("INSERT INTO fetch (%1, chain) VALUES (?%2)")
                    .arg(rowColumns, QStringLiteral(", ?").repeated(values.size() + 1)));
    row.addBindValue(id);
    for (const QVariant &value : values)
        row.addBindValue(value);
    row.addBindValue(toText(chain));
    if (!row.exec()) {
        error = row.lastError();
        return false;
    }
    QSqlQuery file(db);
    file.prepare(QStringLiteral("INSERT INTO fetch_file (%1) VALUES (?, ?, ?, ?)").arg(fileColumns));
    for (const QVariantList &values : qAsConst(fileRows)) {
        for (int i = 0; i < values.size(); ++i)
            file.bindValue(i, values.at(i));
        if (!file.exec()) {
            error = file.lastError();
            return false;
        }
    }
    head = Head { id, chain };
    return true;
}

bool HistoryChain::chainExisting(QSqlDatabase db, QSqlError &error)
{
    Head head { 0, genesis() };
    qint64 count = 0;
    if (!chainRows(db, head, count, error))
        return false;
    // A new file has no rows written before the chain, and so no boundary.
    if (count == 0)
        return true;
    const QVariantList boundary { HistoryStore::utcText(QDateTime::currentDateTimeUtc()),
        QString::fromLatin1(HistoryEntry::chainAction), QVariant(), QVariant(), QVariant(), QVariant(),
        QVariant(), QVariant(), count, QVariant(), QVariant(), 1, QVariant(), QVariant(), QVariant(),
        QVariant() };
    return append(db, boundary, {}, head, error);
}

bool HistoryChain::chainRows(QSqlDatabase db, Head &head, qint64 &count, QSqlError &error)
{
    QSqlQuery rows(db);
    rows.setForwardOnly(true);
    QSqlQuery files(db);
    files.setForwardOnly(true);
    QSqlQuery update(db);
    update.prepare(QStringLiteral("UPDATE fetch SET chain = ? WHERE id = ?"));
    if (!rows.exec(QStringLiteral("SELECT %1 FROM fetch ORDER BY id").arg(rowColumns))
        || !files.exec(QStringLiteral("SELECT %1 FROM fetch_file ORDER BY fetch_id").arg(fileColumns))) {
        error = rows.lastError().isValid() ? rows.lastError() : files.lastError();
        return false;
    }
    QList<QPair<qint64, QByteArray>> chains;
    bool moreFiles = files.next();
    while (rows.next()) {
        const QVariantList row = values(rows);
        const qint64 id = row.first().toLongLong();
        head = Head { id, link(head.chain, encode(row, takeFiles(files, moreFiles, id))) };
        chains << qMakePair(id, head.chain);
    }
    // The reading queries are finished before the rows they read are changed.
    rows.finish();
    files.finish();
    for (const auto &chain : qAsConst(chains)) {
        update.bindValue(0, toText(chain.second));
        update.bindValue(1, chain.first);
        if (!update.exec()) {
            error = update.lastError();
            return false;
        }
    }
    count = chains.size();
    return true;
}

QVariantList HistoryChain::values(const QSqlQuery &query, int count)
{
    QVariantList found;
    const int columns = count < 0 ? query.record().count() : count;
    for (int i = 0; i < columns; ++i)
        found << (query.isNull(i) ? QVariant() : query.value(i));
    return found;
}

QList<QVariantList> HistoryChain::takeFiles(QSqlQuery &files, bool &more, qint64 id)
{
    QList<QVariantList> found;
    while (more && files.value(0).toLongLong() < id)
        more = files.next();
    while (more && files.value(0).toLongLong() == id) {
        found << values(files);
        more = files.next();
    }
    return found;
}
