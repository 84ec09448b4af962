#include "service/devicecall.h"

#include "core/tracelog.h"
#include "service/dataparse.h"
#include "service/network.h"
#include "service/networkcall.h"

#include <QDebug>

DeviceCall::DeviceCall(NetworkCall *call, const char *dumpLabel, QObject *parent)
    : QObject(parent)
    , m_call(call)
    , m_dumpLabel(dumpLabel)
{
    call->setParent(this);
    connect(call, &NetworkCall::finished, this, &DeviceCall::conclude);
}

DeviceCall::~DeviceCall() = default;

bool DeviceCall::isFinished() const
{
    return m_finished;
}

QVariantMap DeviceCall::reply() const
{
    return m_reply;
}

ErrorInfo DeviceCall::error() const
{
    return m_error;
}

void DeviceCall::waitForFinished()
{
    m_call->waitForFinished();
}

void DeviceCall::abandon()
{
    disconnect(this, &DeviceCall::finished, nullptr, nullptr);
    disconnect(m_call, nullptr, this, nullptr);
    deleteLater();
}

// A reply that arrived but is no JSON object is as unusable as none at all.
void DeviceCall::conclude()
{
    const QString text = m_call->body();
    if (m_dumpLabel)
        qCDebug(traceLog) << m_dumpLabel << text;
    m_error = m_call->error();
    const QVariant parsed = DataParse::jsonToVariant(text, nullptr);
    if (!m_error.hasError() && parsed.userType() != QMetaType::QVariantMap)
        m_error.set(Network::InvalidReply, QStringLiteral("the reply is not a JSON object"));
    m_reply = parsed.toMap();
    m_finished = true;
    emit finished(m_reply, m_error);
}
