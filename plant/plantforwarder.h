#ifndef PLANTFORWARDER_H
#define PLANTFORWARDER_H

#include "core/backoff.h"
#include "history/historyoutbox.h"
#include "plant/plantconfig.h"
#include "plant/plantconnection.h"
#include "plant/plantstatus.h"

#include <QAtomicInt>
#include <QElapsedTimer>
#include <QObject>
#include <QSqlError>

#include <memory>

class QTimer;

// Sends every row of the local history to the plant store, in order of id, in batches, from
// the cursor the local store keeps (HistoryOutbox); it lives on a thread of its own
// (PlantForwarding) with its own connections. A batch is one transaction on each side: the
// cursor moves only once the plant store has committed, so a batch cut short (a stop, a
// lost connection) goes again and its rows are ignored as repeats. A repeat of a key with
// another chain value is refused by the plant store's keeping the first: the local store is
// then told apart under a new store id and sent again whole. While the plant store fails,
// rows wait and the worker retries on the fleet's back-off. Each change of state is one log
// line. A plant store with a newer schema is never written to.
class PlantForwarder : public QObject
{
    Q_OBJECT

public:
    // What the station's row in the plant store says of it.
    struct Station
    {
        QString device;
        QString host;
        QString clientVersion;
    };

    static constexpr int batchRows = 1000;
    static constexpr int defaultPollMs = 1000;
    static constexpr int defaultRetryMs = 5000;
    static constexpr int defaultLongestRetryMs = 60000;
    static constexpr int stationIntervalMs = 60000;

    PlantForwarder(const PlantConfig &config, const QString &historyFolder, const Station &station);
    ~PlantForwarder() override;

    // Shorter waits compress time for tests and benchmarks; call before start().
    void setIntervals(int pollMs, int retryMs, int longestRetryMs);
    // From any thread: the worker stops before its next batch.
    void requestStop();

public slots:
    // On the worker's thread.
    void start();
    // One look at the local store and, when due, one round of forwarding.
    void tick();

signals:
    void statusChanged(const PlantStatus &status);

private:
    bool readLocal(HistoryOutbox &outbox, HistoryOutbox::Backlog &backlog);
    bool connectPlant();
    bool forward(HistoryOutbox &outbox, HistoryOutbox::Backlog &backlog);
    bool send(HistoryOutbox &outbox, const QList<HistoryOutbox::Row> &rows);
    bool insertRows(const QList<HistoryOutbox::Row> &rows, QSet<qint64> &inserted);
    bool insertFiles(const QList<HistoryOutbox::Row> &rows, const QSet<qint64> &inserted);
    bool findConflicts(
        const QList<HistoryOutbox::Row> &rows, const QSet<qint64> &inserted, qint64 &conflicts);
    bool tellApart(HistoryOutbox &outbox, qint64 conflicts, qint64 firstId);
    bool updateStation(const HistoryOutbox::Backlog &backlog);
    void failed(PlantConnection::Result result, const QString &why);
    void connected();
    void publish();

    PlantConfig m_config;
    QString m_folder;
    Station m_station;
    QTimer *m_timer = nullptr;
    std::unique_ptr<PlantConnection> m_connection;
    Backoff m_backoff { defaultRetryMs, defaultLongestRetryMs };
    QElapsedTimer m_sinceFailure;
    int m_retryMs = 0;
    QElapsedTimer m_sinceStation;
    PlantStatus m_status;
    QSqlError m_sqlError;
    QString m_loggedState;
    int m_pollMs = defaultPollMs;
    QAtomicInt m_stop;
};

#endif // PLANTFORWARDER_H
