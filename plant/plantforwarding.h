#ifndef PLANTFORWARDING_H
#define PLANTFORWARDING_H

#include "plant/plantforwarder.h"

#include <QObject>

class QThread;

// The forwarding to the plant history as the program runs it: a PlantForwarder on a thread
// of its own, its status carried to PlantStatusBoard. Nothing on the GUI thread waits for
// it, except stop(), which the program's end calls: the worker stops before its next batch,
// and a worker still caught in a connection attempt after the wait is left to end with the
// process (its batch is one transaction, so nothing is half-written).
class PlantForwarding : public QObject
{
    Q_OBJECT

public:
    static constexpr int stopWaitMs = 2000;

    PlantForwarding(const PlantConfig &config, const QString &historyFolder,
        const PlantForwarder::Station &station, QObject *parent = nullptr);
    ~PlantForwarding() override;

    // For tests and benchmarks; before start().
    void setIntervals(int pollMs, int retryMs, int longestRetryMs);
    // Starts the worker when the configuration is valid; logs why not otherwise.
    bool start();
    // Stops the worker within waitMs; true when it has ended.
    bool stop(int waitMs = stopWaitMs);
    bool isRunning() const;

private:
    QThread *m_thread = nullptr;
    PlantForwarder *m_worker = nullptr;
    PlantConfig m_config;
};

#endif // PLANTFORWARDING_H
