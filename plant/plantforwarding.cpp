#include "plant/plantforwarding.h"

#include "plant/plantlog.h"

#include <QDebug>
#include <QThread>

PlantForwarding::PlantForwarding(const PlantConfig &config, const QString &historyFolder,
    const PlantForwarder::Station &station, QObject *parent)
    : QObject(parent)
    , m_config(config)
{
    if (config.isValid())
        m_worker = new PlantForwarder(config, historyFolder, station);
}

PlantForwarding::~PlantForwarding()
{
    stop();
    if (!m_thread)
        delete m_worker;
}

void PlantForwarding::setIntervals(int pollMs, int retryMs, int longestRetryMs)
{
    if (m_worker && !m_thread)
        m_worker->setIntervals(pollMs, retryMs, longestRetryMs);
}

bool PlantForwarding::start()
{
    if (m_config.isEmpty())
        return false;
    if (!m_config.isValid()) {
        qCWarning(plantLog).noquote()
            << QStringLiteral("quillet.ini: plantHistory: %1; forwarding stays off").arg(m_config.problem());
        return false;
    }
    if (m_thread)
        return true;
    for (const QString &warning : m_config.warnings())
        qCWarning(plantLog).noquote() << "quillet.ini: plantHistory:" << warning;
    PlantStatusBoard *board = PlantStatusBoard::instance();
    PlantStatus starting;
    starting.on = true;
    starting.plantStore = m_config.description();
    board->publish(starting);
    m_thread = new QThread;
    m_thread->setObjectName(QStringLiteral("plant history"));
    m_worker->moveToThread(m_thread);
    connect(m_thread, &QThread::started, m_worker, &PlantForwarder::start);
    connect(m_thread, &QThread::finished, m_worker, &QObject::deleteLater);
    connect(
        m_worker, &PlantForwarder::statusChanged, board, &PlantStatusBoard::publish, Qt::DirectConnection);
    qCInfo(plantLog).noquote() << "plant history: forwarding to" << m_config.description();
    m_thread->start();
    return true;
}

bool PlantForwarding::stop(int waitMs)
{
    if (!m_thread)
        return true;
    m_worker->requestStop();
    m_thread->quit();
    if (!m_thread->wait(waitMs)) {
        qCWarning(plantLog) << "plant history: the forwarder did not stop within" << waitMs
                            << "ms; it ends with the program";
        // Deleting a running thread would abort the program.
        m_thread->setParent(nullptr);
        m_thread = nullptr;
        m_worker = nullptr;
        return false;
    }
    delete m_thread;
    m_thread = nullptr;
    m_worker = nullptr;
    return true;
}

bool PlantForwarding::isRunning() const
{
    return m_thread && m_thread->isRunning();
}
