#include "plant/plantrecord.h"

#include "history/historystore.h"

#include <QSqlError>
#include <QSqlQuery>
#include <QStringList>
#include <QVariant>

bool PlantRecord::list(QSqlDatabase db, const Filter &filter, const Visit &visit, QString &error)
{
    QStringList conditions { QStringLiteral("NOT EXISTS (SELECT 1 FROM quillet.history AS done WHERE "
                                            "done.station = h.station AND done.store_id = "
                                            "h.store_id AND done.start_id = h.local_id::text)") };
    QVariantList values;
    if (!filter.task.isEmpty()) {
        conditions << QStringLiteral("h.task = ?");
        values << filter.task;
    }
    if (!filter.station.isEmpty()) {
        conditions << QStringLiteral("h.station = ?");
        values << filter.station;
    }
    if (filter.since.isValid()) {
        conditions << QStringLiteral("h.time >= ?");
        values << HistoryStore::utcText(filter.since.startOfDay());
    }
    QSqlQuery query(db);
    query.setForwardOnly(true);
    query.prepare(
        QStringLiteral("SELECT h.local_id, h.time, h.action, h.user_id, h.device, h.task, h.kind, "
                       "h.source, h.target, h.bytes, h.sha256, h.outcome, h.ok, h.duration_ms, "
                       "h.kept_path, h.start_id, NULL, h.chain, h.station FROM quillet.history AS h WHERE %1 "
                       "ORDER BY h.time, h.station, h.local_id")
            .arg(conditions.join(QStringLiteral(" AND "))));
    for (const QVariant &value : qAsConst(values))
        query.addBindValue(value);
    if (!query.exec()) {
        error = query.lastError().text();
        return false;
    }
    // Read as the local store's rows are; the plant keeps no local time text.
    while (query.next()) {
        HistoryEntry entry = HistoryStore::fromQuery(query);
        entry.localTimeText.clear();
        visit(entry, query.value(18).toString());
    }
    return true;
}

// The stations are found by skipping along the key's index (ORDER BY ... LIMIT 1: there is no
// min() of the name type, and one through text reads every row), and each head by the order
// of arrival: a million rows are never read for fifty heads.
bool PlantRecord::heads(
    QSqlDatabase db, const QString &station, QList<QPair<QString, QString>> &found, QString &error)
{
    QSqlQuery query(db);
    query.setForwardOnly(true);
    query.prepare(QStringLiteral(
        "WITH RECURSIVE s AS ((SELECT station FROM quillet.history ORDER BY station LIMIT 1) UNION ALL "
        "SELECT "
        "(SELECT station FROM quillet.history WHERE station > s.station ORDER BY station LIMIT 1) FROM s "
        "WHERE "
        "s.station IS NOT NULL) SELECT s.station, h.chain FROM s CROSS JOIN LATERAL (SELECT chain FROM "
        "quillet.history WHERE station = s.station ORDER BY plant_id DESC LIMIT 1) AS h WHERE s.station IS "
        "NOT "
        "NULL AND (coalesce(?, '') = '' OR s.station = ?) ORDER BY s.station"));
    query.addBindValue(station);
    query.addBindValue(station);
    if (!query.exec()) {
        error = query.lastError().text();
        return false;
    }
    found.clear();
    while (query.next())
        found << qMakePair(query.value(0).toString(), query.value(1).toString());
    return true;
}
