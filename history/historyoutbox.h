#ifndef HISTORYOUTBOX_H
#define HISTORYOUTBOX_H

#include "history/historyconnection.h"

#include <QList>
#include <QString>
#include <QVariantList>

// What of the history waits to be forwarded to the plant history, and the store's own id.
// The local store stays the source: rows are read in order of id after the cursor, the
// newest row the plant store confirmed, which only moves forward once it has. Every call
// opens the file for its own thread (HistoryConnection), so a worker thread may use it.
class HistoryOutbox
{
public:
    // A row as the chain encodes it: its values in HistoryChain::rowColumns order, NULL kept
    // as NULL, its chain (NULL for a row an older client wrote) and its file rows in
    // HistoryChain::fileColumns order.
    struct Row
    {
        qint64 id = 0;
        QVariantList values;
        QVariant chain;
        QList<QVariantList> files;
    };

    struct Backlog
    {
        qint64 forwardedId = 0;
        qint64 count = 0; // rows after the cursor
        QString oldestTime; // the stored UTC time of the oldest of them; empty when none
    };

    // ReadOnly, for readers outside the client such as the support bundle: an older file
    // without a store id fails to read.
    explicit HistoryOutbox(
        const QString &folder, HistoryConnection::Access access = HistoryConnection::Access::ReadWrite);

    QString lastError() const;

    bool storeId(QString &id);
    bool backlog(Backlog &found);
    // Up to limit rows after afterId, oldest first.
    bool rowsAfter(qint64 afterId, int limit, QList<Row> &rows);
    // The plant store holds every row up to id; the cursor never moves back.
    bool confirm(qint64 id);
    // A new id for a store the plant knows as another (a restored backup, a copied image),
    // and the cursor back to the start, so that every row goes again under the new id.
    bool renewStoreId(QString &id);

private:
    bool fail(const QString &what, const QString &why);

    QString m_folder;
    HistoryConnection::Access m_access;
    QString m_error;
};

#endif // HISTORYOUTBOX_H
