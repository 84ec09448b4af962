#ifndef HISTORYCHAIN_H
#define HISTORYCHAIN_H

#include <QByteArray>
#include <QList>
#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <QString>
#include <QVariant>

// The hash chain over the rows of the history: every row carries
// chain = SHA-256(chain of the row before it || encoding of the row and its file rows),
// the first row's predecessor being 32 zero bytes. An edit or a deletion of a chained row
// breaks every chain value after it. The encoding is fixed (docs/history-chain.md): a
// value once written must verify with every later client.
class HistoryChain
{
public:
    // The newest chained row: its id and chain, or 0 and the 32 zero bytes.
    struct Head
    {
        qint64 lastId = 0;
        QByteArray chain;
    };

    // The columns of a fetch row that the chain covers, in schema order.
    static const QString rowColumns;
    // The columns of a file row that the chain covers, in schema order.
    static const QString fileColumns;

    static QByteArray genesis();
    // One value: a 4-byte big-endian length and the UTF-8 text, or 0xFFFFFFFF for NULL.
    static void appendField(QByteArray &encoding, const QVariant &value);
    // The row's values (rowColumns) and its files' values (fileColumns), files in any order.
    static QByteArray encode(const QVariantList &row, const QList<QVariantList> &files);
    // The 32-byte chain value that follows previous for a row encoded as encoding.
    static QByteArray link(const QByteArray &previous, const QByteArray &encoding);
    static QString toText(const QByteArray &chain);
    static QByteArray fromText(const QString &text);

    // Reads the head; call it inside the BEGIN IMMEDIATE transaction that appends after it.
    static bool readHead(QSqlDatabase db, Head &head, QSqlError &error);
    // Inserts a row (values: rowColumns without the id) and its files (path, size, sha256)
    // after head, and moves head on to it.
    static bool append(QSqlDatabase db, const QVariantList &values, const QList<QVariantList> &files,
        Head &head, QSqlError &error);
    // The upgrade that brings in the chain: chains the rows there are, in order of id, and
    // appends the row that marks where the chain began to be kept.
    static bool chainExisting(QSqlDatabase db, QSqlError &error);

    // The values of the query's current row (its first count columns, or all), NULL kept as NULL.
    static QVariantList values(const QSqlQuery &query, int count = -1);
    // The file rows of row id from a query over fileColumns ordered by fetch_id, positioned
    // on its next unread row (more is false past the end); rows of ids before id are skipped.
    static QList<QVariantList> takeFiles(QSqlQuery &files, bool &more, qint64 id);

private:
    static bool chainRows(QSqlDatabase db, Head &head, qint64 &count, QSqlError &error);
};

#endif // HISTORYCHAIN_H
