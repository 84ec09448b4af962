#include "plant/plantverifier.h"

#include "history/historychain.h"

#include <QSqlError>
#include <QSqlQuery>
#include <QVariant>

namespace {

constexpr int rowFields = 17; // HistoryChain::rowColumns

struct Position
{
    QString station;
    QString store;
    qint64 id = 0;

    bool sameStore(const Position &other) const { return station == other.station && store == other.store; }
};

Position positionOf(const QSqlQuery &query)
{
    return Position { query.value(0).toString(), query.value(1).toString(), query.value(2).toLongLong() };
}

bool before(const Position &a, const Position &b)
{
    if (a.station != b.station)
        return a.station < b.station;
    if (a.store != b.store)
        return a.store < b.store;
    return a.id < b.id;
}

QVariant field(const QSqlQuery &query, int column)
{
    return query.isNull(column) ? QVariant() : QVariant(query.value(column).toString());
}

} // namespace

PlantVerifier::Result PlantVerifier::verify(QSqlDatabase db, const QString &station)
{
    m_findings.clear();
    m_summary.clear();
    const QString where = station.isEmpty() ? QString() : QStringLiteral("WHERE station = ?");
    // Sorted alike in the database's collation and here: by the key's bytes.
    const QString order
        = QStringLiteral("ORDER BY station COLLATE \"C\", store_id::text COLLATE \"C\", local_id");
    QSqlQuery rows(db);
    rows.setForwardOnly(true);
    rows.prepare(
        QStringLiteral("SELECT station, store_id::text, local_id::text, time, action, user_id, device, "
                       "task, kind, source, target, bytes, sha256, outcome, ok, duration_ms, kept_path, "
                       "original_time, start_id, chain FROM quillet.history %1 %2")
            .arg(where, order));
    // The driver reads one forward-only query at a time on a connection, so the file rows
    // are read whole first.
    QSqlQuery files(db);
    files.prepare(QStringLiteral("SELECT station, store_id::text, local_id::text, path, size, sha256 FROM "
                                 "quillet.history_file %1 %2")
                      .arg(where, order));
    if (!station.isEmpty()) {
        rows.addBindValue(station);
        files.addBindValue(station);
    }
    if (!files.exec() || !rows.exec()) {
        m_findings << (rows.lastError().isValid() ? rows.lastError() : files.lastError()).text();
        return Result::CannotCheck;
    }
    bool moreFiles = files.next();
    Position last;
    QByteArray previous = HistoryChain::genesis();
    qint64 count = 0;
    const auto closeStore = [&] {
        if (count > 0)
            m_summary << QStringLiteral("%1 store %2: %3 rows, head %4")
                             .arg(last.station, last.store)
                             .arg(count)
                             .arg(HistoryChain::toText(previous));
    };
    while (rows.next()) {
        const Position at = positionOf(rows);
        if (!at.sameStore(last)) {
            closeStore();
            previous = HistoryChain::genesis();
            count = 0;
            last = Position { at.station, at.store, 0 };
        }
        QVariantList row { QString::number(at.id) };
        for (int column = 3; column < 3 + rowFields - 1; ++column)
            row << field(rows, column);
        QList<QVariantList> rowFiles;
        while (moreFiles && before(positionOf(files), at))
            moreFiles = files.next();
        while (moreFiles && !before(at, positionOf(files))) {
            rowFiles << QVariantList { QString::number(at.id), field(files, 3), field(files, 4),
                field(files, 5) };
            moreFiles = files.next();
        }
        const QString name = QStringLiteral("%1 store %2 row %3 (%4)")
                                 .arg(at.station, at.store)
                                 .arg(at.id)
                                 .arg(row.at(1).toString());
        const int chainColumn = 3 + rowFields - 1;
        if (at.id != last.id + 1)
            m_findings
                << QStringLiteral("%1: rows %2 to %3 are missing").arg(name).arg(last.id + 1).arg(at.id - 1);
        if (rows.isNull(chainColumn)) {
            m_findings << QStringLiteral("%1 is unchained").arg(name);
        } else {
            const QByteArray stored = HistoryChain::fromText(rows.value(chainColumn).toString());
            if (at.id == last.id + 1
                && HistoryChain::link(previous, HistoryChain::encode(row, rowFiles)) != stored)
                m_findings << QStringLiteral(
                    "%1 does not follow the row before it: edited, or a row before it "
                    "deleted")
                                  .arg(name);
            previous = stored;
        }
        last.id = at.id;
        ++count;
    }
    closeStore();
    return m_findings.isEmpty() ? Result::Intact : Result::Broken;
}

QStringList PlantVerifier::findings() const
{
    return m_findings;
}

QStringList PlantVerifier::summary() const
{
    return m_summary;
}
