#include "history/historyoutcome.h"

namespace {

const QString separator = QStringLiteral(" / ");
const QString offlineStep = QStringLiteral("Offline");

} // namespace

HistoryOutcome::HistoryOutcome(const QStringList &steps, bool offline)
    : m_steps(steps)
    , m_offline(offline)
{ }

// No result of a step is named "Offline", so a last step of that name is the mark.
HistoryOutcome HistoryOutcome::parse(const QString &stored)
{
    if (stored.isEmpty())
        return HistoryOutcome();
    QStringList steps = stored.split(separator);
    const bool offline = steps.size() > 1 && steps.last() == offlineStep;
    if (offline)
        steps.removeLast();
    return HistoryOutcome(steps, offline);
}

QString HistoryOutcome::text() const
{
    return (m_offline ? m_steps + QStringList { offlineStep } : m_steps).join(separator);
}

QStringList HistoryOutcome::steps() const
{
    return m_steps;
}

QString HistoryOutcome::step(int at) const
{
    return m_steps.value(at);
}

bool HistoryOutcome::isOffline() const
{
    return m_offline;
}
