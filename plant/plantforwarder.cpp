#include "plant/plantforwarder.h"

#include "plant/plantlog.h"

#include <QDebug>
#include <QSet>
#include <QSqlQuery>
#include <QTimer>
#include <QVector>

namespace {

// The row's fields after its id (HistoryChain::rowColumns), then its chain.
const QString rowColumns = QStringLiteral(
    "store_id, local_id, time, action, user_id, device, task, kind, source, target, bytes, sha256, outcome, "
    "ok, duration_ms, kept_path, original_time, start_id, chain");
constexpr int rowTextColumns = 17;
const QString fileColumns = QStringLiteral("store_id, local_id, path, size, sha256");
constexpr int fileTextColumns = 3;

// A batch travels as one array per column, so that a statement has a few parameters however
// many rows it carries. An element is the text the chain encodes, NULL kept as NULL.
class ArrayText
{
public:
    void add(const QVariant &value)
    {
        if (!m_text.isEmpty())
            m_text += QLatin1Char(',');
        if (value.isNull()) {
            m_text += QLatin1String("NULL");
            return;
        }
        QString element = value.toString();
        element.replace(QLatin1Char('\\'), QLatin1String("\\\\"))
            .replace(QLatin1Char('"'), QLatin1String("\\\""));
        m_text += QLatin1Char('"') + element + QLatin1Char('"');
    }
    QString text() const { return QLatin1Char('{') + m_text + QLatin1Char('}'); }

private:
    QString m_text;
};

QString unnestOf(int textColumns)
{
    return QStringLiteral("SELECT ?::uuid, u.* FROM unnest(?::bigint[]%1) AS u")
        .arg(QStringLiteral(", ?::text[]").repeated(textColumns));
}

// Runs one batch statement: the store id, then each column's array.
bool execBatch(
    QSqlQuery &query, const QString &sql, const QString &storeId, const QVector<ArrayText> &columns)
{
    query.prepare(sql);
    query.addBindValue(storeId);
    for (const ArrayText &column : columns)
        query.addBindValue(column.text());
    return query.exec();
}

} // namespace

PlantForwarder::PlantForwarder(
    const PlantConfig &config, const QString &historyFolder, const Station &station)
    : m_config(config)
    , m_folder(historyFolder)
    , m_station(station)
{
    m_status.on = config.isValid();
    m_status.plantStore = config.description();
}

// Runs on the worker's thread, where the connections were made.
PlantForwarder::~PlantForwarder()
{
    m_connection.reset();
}

void PlantForwarder::setIntervals(int pollMs, int retryMs, int longestRetryMs)
{
    m_pollMs = qMax(1, pollMs);
    m_backoff.setIntervals(retryMs, longestRetryMs);
}

void PlantForwarder::requestStop()
{
    m_stop.storeRelease(1);
}

void PlantForwarder::start()
{
    m_timer = new QTimer(this);
    m_timer->setInterval(m_pollMs);
    connect(m_timer, &QTimer::timeout, this, &PlantForwarder::tick);
    m_timer->start();
    tick();
}

void PlantForwarder::tick()
{
    if (m_stop.loadAcquire())
        return;
    HistoryOutbox outbox(m_folder);
    HistoryOutbox::Backlog backlog;
    if (!readLocal(outbox, backlog))
        return publish();
    if (!m_connection) {
        if (m_sinceFailure.isValid() && m_sinceFailure.elapsed() < m_retryMs)
            return publish();
        if (!connectPlant())
            return publish();
    }
    if (!forward(outbox, backlog))
        return publish();
    if (!m_stop.loadAcquire()
        && (!m_sinceStation.isValid() || m_sinceStation.elapsed() >= stationIntervalMs)) {
        if (!updateStation(backlog))
            return publish();
        m_sinceStation.start();
    }
    publish();
}

bool PlantForwarder::readLocal(HistoryOutbox &outbox, HistoryOutbox::Backlog &backlog)
{
    QString storeId;
    if (!outbox.storeId(storeId) || !outbox.backlog(backlog)) {
        if (m_loggedState != QLatin1String("local")) {
            qCWarning(plantLog).noquote()
                << "plant history: the local history cannot be read, nothing forwarded:"
                << outbox.lastError();
            m_loggedState = QStringLiteral("local");
        }
        m_status.why = outbox.lastError();
        return false;
    }
    m_status.storeId = storeId;
    m_status.backlog = backlog.count;
    m_status.oldestTime = backlog.oldestTime;
    return true;
}

bool PlantForwarder::connectPlant()
{
    m_connection.reset(new PlantConnection(m_config, QStringLiteral("forward")));
    const PlantConnection::Result result = m_connection->openForWriting();
    if (result != PlantConnection::Result::Connected) {
        const QString why = m_connection->errorString();
        failed(result, why);
        return false;
    }
    connected();
    return true;
}

bool PlantForwarder::forward(HistoryOutbox &outbox, HistoryOutbox::Backlog &backlog)
{
    while (backlog.count > 0 && !m_stop.loadAcquire()) {
        QList<HistoryOutbox::Row> rows;
        if (!outbox.rowsAfter(backlog.forwardedId, batchRows, rows)) {
            m_status.why = outbox.lastError();
            return false;
        }
        if (rows.isEmpty())
            break;
        if (!send(outbox, rows))
            return false;
        QString storeId;
        if (!outbox.storeId(storeId) || !outbox.backlog(backlog)) {
            m_status.why = outbox.lastError();
            return false;
        }
        m_status.storeId = storeId;
        m_status.backlog = backlog.count;
        m_status.oldestTime = backlog.oldestTime;
        publish();
    }
    return true;
}

// One transaction: the rows, then the files of the rows that were new. A row the plant
// store holds already with the same chain is a repeat of a batch cut short, and ignored.
bool PlantForwarder::send(HistoryOutbox &outbox, const QList<HistoryOutbox::Row> &rows)
{
    bool sent = false;
    qint64 conflicts = 0;
    {
        QSqlDatabase db = m_connection->database();
        QSet<qint64> inserted;
        m_sqlError = QSqlError();
        if (!db.transaction())
            m_sqlError = db.lastError();
        else if (insertRows(rows, inserted) && findConflicts(rows, inserted, conflicts)) {
            // Nothing of a batch with a refused row is kept: the whole store goes again.
            if (conflicts > 0) {
                db.rollback();
                sent = true;
            } else {
                sent = insertFiles(rows, inserted) && db.commit();
            }
        }
        if (!sent && !m_sqlError.isValid())
            m_sqlError = db.lastError();
        if (!sent)
            db.rollback();
    }
    if (!sent) {
        failed(PlantConnection::classify(m_sqlError), m_sqlError.text());
        return false;
    }
    if (conflicts > 0)
        return tellApart(outbox, conflicts, rows.first().id);
    if (!outbox.confirm(rows.last().id)) {
        m_status.why = outbox.lastError();
        return false;
    }
    return true;
}

bool PlantForwarder::insertRows(const QList<HistoryOutbox::Row> &rows, QSet<qint64> &inserted)
{
    QVector<ArrayText> columns(1 + rowTextColumns);
    for (const HistoryOutbox::Row &row : rows) {
        columns[0].add(row.id);
        for (int i = 1; i < row.values.size(); ++i)
            columns[i].add(row.values.at(i));
        columns[rowTextColumns].add(row.chain);
    }
    QSqlQuery query(m_connection->database());
    const QString sql
        = QStringLiteral("INSERT INTO quillet.history (%1) %2 ON CONFLICT DO NOTHING RETURNING local_id")
              .arg(rowColumns, unnestOf(rowTextColumns));
    if (!execBatch(query, sql, m_status.storeId, columns)) {
        m_sqlError = query.lastError();
        return false;
    }
    while (query.next())
        inserted.insert(query.value(0).toLongLong());
    return true;
}

bool PlantForwarder::insertFiles(const QList<HistoryOutbox::Row> &rows, const QSet<qint64> &inserted)
{
    QVector<ArrayText> columns(1 + fileTextColumns);
    bool any = false;
    for (const HistoryOutbox::Row &row : rows) {
        if (!inserted.contains(row.id))
            continue;
        for (const QVariantList &file : row.files) {
            for (int i = 0; i < file.size() && i < columns.size(); ++i)
                columns[i].add(file.at(i));
            any = true;
        }
    }
    if (!any)
        return true;
    QSqlQuery query(m_connection->database());
    const QString sql = QStringLiteral("INSERT INTO quillet.history_file (%1) %2")
                            .arg(fileColumns, unnestOf(fileTextColumns));
    if (!execBatch(query, sql, m_status.storeId, columns)) {
        m_sqlError = query.lastError();
        return false;
    }
    return true;
}

bool PlantForwarder::findConflicts(
    const QList<HistoryOutbox::Row> &rows, const QSet<qint64> &inserted, qint64 &conflicts)
{
    if (inserted.size() == rows.size())
        return true;
    QSqlQuery query(m_connection->database());
    query.prepare(
        QStringLiteral("SELECT local_id, chain FROM quillet.history WHERE station = current_user AND "
                       "store_id = ? AND local_id BETWEEN ? AND ?"));
    query.addBindValue(m_status.storeId);
    query.addBindValue(rows.first().id);
    query.addBindValue(rows.last().id);
    if (!query.exec()) {
        m_sqlError = query.lastError();
        return false;
    }
    QHash<qint64, QVariant> held;
    while (query.next())
        held.insert(query.value(0).toLongLong(), query.isNull(1) ? QVariant() : query.value(1));
    for (const HistoryOutbox::Row &row : rows) {
        if (inserted.contains(row.id))
            continue;
        const QVariant chain = held.value(row.id);
        if (!held.contains(row.id) || chain.isNull() != row.chain.isNull()
            || chain.toString() != row.chain.toString())
            ++conflicts;
    }
    return true;
}

// The plant store keeps the rows it has: this store is not the one it knows under this id
// (a backup put back, a copied disk image), so it goes again under an id of its own.
bool PlantForwarder::tellApart(HistoryOutbox &outbox, qint64 conflicts, qint64 firstId)
{
    const QString old = m_status.storeId;
    QString renewed;
    if (!outbox.renewStoreId(renewed)) {
        m_status.why = outbox.lastError();
        return false;
    }
    m_status.refused += conflicts;
    qCWarning(plantLog).noquote() << "plant history: refused" << conflicts << "rows from row" << firstId
                                  << "of store" << old
                                  << ": the plant store holds other rows under their keys; this history is "
                                     "forwarded again whole as store"
                                  << renewed;
    return true;
}

bool PlantForwarder::updateStation(const HistoryOutbox::Backlog &backlog)
{
    QSqlQuery query(m_connection->database());
    query.prepare(QStringLiteral(
        "INSERT INTO quillet.station (device, host, client_version, store_id, backlog, backlog_since, "
        "last_contact) VALUES (?, ?, ?, ?, ?, ?, now()) ON CONFLICT (station) DO UPDATE SET device = "
        "EXCLUDED.device, host = EXCLUDED.host, client_version = EXCLUDED.client_version, store_id = "
        "EXCLUDED.store_id, backlog = EXCLUDED.backlog, backlog_since = EXCLUDED.backlog_since, last_contact "
        "= "
        "now()"));
    for (const QVariant &value : QVariantList { m_station.device, m_station.host, m_station.clientVersion,
             m_status.storeId, backlog.count,
             backlog.oldestTime.isEmpty() ? QVariant(QVariant::String) : QVariant(backlog.oldestTime) })
        query.addBindValue(value);
    if (query.exec())
        return true;
    const QSqlError error = query.lastError();
    query = QSqlQuery();
    failed(PlantConnection::classify(error), error.text());
    return false;
}

void PlantForwarder::failed(PlantConnection::Result result, const QString &why)
{
    m_connection.reset();
    m_status.connected = false;
    m_status.problem = result;
    // libpq's messages run over several lines; the log keeps one line per change of state.
    m_status.why = why.simplified();
    m_retryMs = m_backoff.delayAfterFailure();
    m_sinceFailure.start();
    const QString state = PlantConnection::resultName(result);
    if (state == m_loggedState)
        return;
    m_loggedState = state;
    if (result == PlantConnection::Result::NewerSchema)
        qCWarning(plantLog).noquote()
            << QStringLiteral("plant history: forwarding stopped, nothing written: %1 "
                              "(%2); %3 rows wait here")
                   .arg(m_status.why, m_config.description())
                   .arg(m_status.backlog);
    else
        qCWarning(plantLog).noquote()
            << QStringLiteral("plant history: %1 - %2 (%3); %4 rows wait here, retried on the back-off")
                   .arg(state, m_status.why, m_config.description())
                   .arg(m_status.backlog);
}

void PlantForwarder::connected()
{
    m_backoff.delayAfterSuccess();
    m_sinceFailure.invalidate();
    m_status.connected = true;
    m_status.problem = PlantConnection::Result::Connected;
    m_status.why.clear();
    if (m_loggedState == QLatin1String("connected"))
        return;
    m_loggedState = QStringLiteral("connected");
    qCInfo(plantLog).noquote() << QStringLiteral("plant history: connected to %1; %2 rows to forward")
                                      .arg(m_config.description())
                                      .arg(m_status.backlog);
}

void PlantForwarder::publish()
{
    emit statusChanged(m_status);
}
