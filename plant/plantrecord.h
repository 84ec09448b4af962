#ifndef PLANTRECORD_H
#define PLANTRECORD_H

#include "history/historyentry.h"

#include <QDate>
#include <QList>
#include <QPair>
#include <QSqlDatabase>
#include <QString>

#include <functional>

// The plant store's record read back, for the quality office: the rows of every station as
// the local export lists them (a completed fetch's start row left out), and the chain head of
// each station, the chain value of the row that arrived last.
class PlantRecord
{
public:
    struct Filter
    {
        QString task;
        QString station;
        QDate since; // this local day and later
    };

    using Visit = std::function<void(const HistoryEntry &entry, const QString &station)>;

    // Oldest first; false and error when the store cannot be read.
    static bool list(QSqlDatabase db, const Filter &filter, const Visit &visit, QString &error);
    // (station, head) by station; one station only when station is given.
    static bool heads(
        QSqlDatabase db, const QString &station, QList<QPair<QString, QString>> &found, QString &error);
};

#endif // PLANTRECORD_H
