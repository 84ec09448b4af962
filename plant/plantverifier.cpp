#include "plant/plantverifier.h"

#include "history/historychain.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QSqlError>
#include <QSqlQuery>
#include <QVariant>

namespace {

constexpr int rowFields = 17; // HistoryChain::rowColumns
constexpr int chainColumn = 3 + rowFields - 1;
constexpr int filesColumn = chainColumn + 1;

// A row's files travel with it, as one JSON array of [path, size, sha256] (null stays null),
// so that the rows and their files are read in one statement: one snapshot, and one row at a
// time rather than every file row of the plant held here. Two statements would each see
// their own moment, and a batch a station committed between them would read as edited rows.
const QString rowsSql = QStringLiteral(
    "SELECT h.station, h.store_id::text, h.local_id::text, h.time, h.action, h.user_id, h.device, "
    "h.task, h.kind, h.source, h.target, h.bytes, h.sha256, h.outcome, h.ok, h.duration_ms, h.kept_path, "
    "h.original_time, h.start_id, h.chain, "
    "(SELECT json_agg(json_build_array(f.path, f.size, f.sha256))::text FROM quillet.history_file f"
    " WHERE f.station = h.station AND f.store_id = h.store_id AND f.local_id = h.local_id) "
    "FROM quillet.history h %1 "
    "ORDER BY h.station COLLATE \"C\", h.store_id::text COLLATE \"C\", h.local_id");

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

QVariant field(const QSqlQuery &query, int column)
{
    return query.isNull(column) ? QVariant() : QVariant(query.value(column).toString());
}

QVariant field(const QJsonValue &value)
{
    return value.isNull() ? QVariant() : QVariant(value.toString());
}

QList<QVariantList> filesOf(const QSqlQuery &query, qint64 id)
{
    QList<QVariantList> files;
    const QJsonArray array = QJsonDocument::fromJson(query.value(filesColumn).toString().toUtf8()).array();
    for (const QJsonValue &file : array) {
        const QJsonArray values = file.toArray();
        files << QVariantList { QString::number(id), field(values.at(0)), field(values.at(1)),
            field(values.at(2)) };
    }
    return files;
}

} // namespace

PlantVerifier::Result PlantVerifier::verify(QSqlDatabase db, const QString &station)
{
    m_findings.clear();
    m_summary.clear();
    QSqlQuery rows(db);
    rows.setForwardOnly(true);
    rows.prepare(rowsSql.arg(station.isEmpty() ? QString() : QStringLiteral("WHERE h.station = ?")));
    if (!station.isEmpty())
        rows.addBindValue(station);
    if (!rows.exec()) {
        m_findings << rows.lastError().text();
        return Result::CannotCheck;
    }
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
        for (int column = 3; column < chainColumn; ++column)
            row << field(rows, column);
        const QString name = QStringLiteral("%1 store %2 row %3 (%4)")
                                 .arg(at.station, at.store)
                                 .arg(at.id)
                                 .arg(row.at(1).toString());
        if (at.id != last.id + 1)
            m_findings
                << QStringLiteral("%1: rows %2 to %3 are missing").arg(name).arg(last.id + 1).arg(at.id - 1);
        if (rows.isNull(chainColumn)) {
            m_findings << QStringLiteral("%1 is unchained").arg(name);
        } else {
            const QByteArray stored = HistoryChain::fromText(rows.value(chainColumn).toString());
            if (at.id == last.id + 1
                && HistoryChain::link(previous, HistoryChain::encode(row, filesOf(rows, at.id))) != stored)
                m_findings << QStringLiteral(
                    "%1 does not follow the row before it: edited, or a row before it "
                    "deleted")
                                  .arg(name);
            previous = stored;
        }
        last.id = at.id;
        ++count;
    }
    if (rows.lastError().isValid()) {
        m_findings << rows.lastError().text();
        return Result::CannotCheck;
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
