#ifndef HISTORYMODEL_H
#define HISTORYMODEL_H

#include "history/historystore.h"

#include <QSqlQueryModel>

class QSqlDatabase;

// The history's entries for the history window, newest first. The rows are fetched from
// the database as the view scrolls to them, so even a long history opens at once. A
// fetch is one row (its completion), its time is shown in local time, its outcome in
// words; a SHA-256 shows its first 16 characters, the whole one as its tooltip (and in the
// export).
class HistoryModel : public QSqlQueryModel
{
    Q_OBJECT

public:
    enum Column
    {
        IdColumn,
        TimeColumn,
        TaskColumn,
        KindColumn,
        OutcomeColumn,
        BytesColumn,
        ShaColumn,
        KeptColumn,
        // Hidden: what the outcome's words are made of.
        ActionColumn,
        KindNameColumn,
        OkColumn,
        ColumnCount
    };
    static constexpr int shownShaLength = 16;

    explicit HistoryModel(QObject *parent = nullptr);

    // Shows the entries of the open database db that the filter takes; false when they
    // cannot be read.
    bool load(const QSqlDatabase &db, const HistoryStore::Filter &filter);
    QVariant data(const QModelIndex &index, int role = Qt::DisplayRole) const override;

    // The operator's words for an entry's outcome, those of the status line: for the
    // window and the export alike.
    static QString outcomeText(const HistoryEntry &entry);

    qint64 entryId(int row) const;
    QString sha256(int row) const;
    QString keptPath(int row) const;
    // The stored kind, "nc" or "pdf" (empty for a row of no task file).
    QString kindName(int row) const;

private:
    QString rawText(int row, int column) const;
    static QString fetchOutcomeText(const HistoryEntry &entry);
    static QString checkOutcomeText(const HistoryEntry &entry);
    void setHeaders();
};

#endif // HISTORYMODEL_H
