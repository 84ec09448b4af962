#ifndef PLANTSTATUS_H
#define PLANTSTATUS_H

#include "plant/plantconnection.h"

#include <QMetaType>
#include <QMutex>
#include <QObject>
#include <QString>

// Where forwarding to the plant history stands: how many rows wait, since when, and why
// they wait. The forwarder makes one; the board below carries the latest to the windows.
struct PlantStatus
{
    bool on = false; // plantHistory is set and valid
    bool connected = false;
    PlantConnection::Result problem
        = PlantConnection::Result::Connected; // the last failure while not connected
    QString why; // its words, for the log and the bundle
    qint64 backlog = 0;
    QString oldestTime; // the stored UTC time of the oldest waiting row
    qint64 refused = 0; // rows the plant store holds otherwise under the same key
    QString storeId;
    QString plantStore; // host, database and user, never a password
};
Q_DECLARE_METATYPE(PlantStatus)

// The latest status of the forwarding in this process, for the windows and the support
// bundle: they read it without waiting for the worker. changed() comes on the thread the
// board was first used on, the GUI thread.
class PlantStatusBoard : public QObject
{
    Q_OBJECT

public:
    static PlantStatusBoard *instance();
    PlantStatus current() const;
    // From any thread.
    void publish(const PlantStatus &status);

signals:
    void changed();

private:
    PlantStatusBoard() = default;

    mutable QMutex m_mutex;
    PlantStatus m_status;
};

#endif // PLANTSTATUS_H
