#ifndef HISTORYOUTCOME_H
#define HISTORYOUTCOME_H

#include <QString>
#include <QStringList>

// The outcome column of a history row as its parts: the names of the results of each step
// ("Fetched / Saved / Unpacked", a check's "Changed / Cancelled"), and for a scan whether it
// was made offline (" / Offline" after its name). The stored text stays as older clients,
// the CSV and the chain's encoding know it: text() writes it, parse() reads it back, and no
// one else takes it apart.
class HistoryOutcome
{
public:
    HistoryOutcome() = default;
    explicit HistoryOutcome(const QStringList &steps, bool offline = false);

    static HistoryOutcome parse(const QString &stored);
    // As stored.
    QString text() const;

    QStringList steps() const;
    // The name of step at, or empty.
    QString step(int at) const;
    bool isOffline() const;

private:
    QStringList m_steps;
    bool m_offline = false;
};

#endif // HISTORYOUTCOME_H
