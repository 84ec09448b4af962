#ifndef DEVICECALL_H
#define DEVICECALL_H

#include "service/errorinfo.h"

#include <QObject>
#include <QString>
#include <QVariantMap>

class NetworkCall;

// One device-service request in flight (HttpTransfer::startLogin and its siblings make
// them): it reports once, through finished(), with the service's JSON reply as a map (empty
// when the request failed or the reply is not a JSON object) and why it failed. Deleting it,
// or its parent, abandons the request.
class DeviceCall : public QObject
{
    Q_OBJECT

public:
    // Takes call over. dumpLabel, when given, labels the reply text in the trace.
    DeviceCall(NetworkCall *call, const char *dumpLabel, QObject *parent = nullptr);
    ~DeviceCall() override;

    bool isFinished() const;
    QVariantMap reply() const;
    ErrorInfo error() const;

    // Waits for finished() in a LocalWait: for the synchronous slots only, never a window.
    void waitForFinished();
    // Gives the request up: finished() never comes, and the call goes once control is back
    // in the event loop (it may be abandoned from a slot its own reply set off).
    void abandon();

signals:
    void finished(const QVariantMap &reply, const ErrorInfo &error);

private:
    void conclude();

    NetworkCall *m_call;
    const char *m_dumpLabel;
    bool m_finished = false;
    QVariantMap m_reply;
    ErrorInfo m_error;
};

#endif // DEVICECALL_H
