#ifndef PLANTVERIFIER_H
#define PLANTVERIFIER_H

#include <QSqlDatabase>
#include <QString>
#include <QStringList>

// Recomputes each station's chain from the plant store's rows, store by store from its first
// row, as the local check does (HistoryChain): an edited row no longer follows the one before
// it, a row missing leaves a gap in the local ids, a row without a chain cannot be vouched for.
class PlantVerifier
{
public:
    enum class Result
    {
        Intact,
        Broken,
        CannotCheck
    };

    // station: one station's rows only, or every station's.
    Result verify(QSqlDatabase db, const QString &station = QString());
    // What is broken; on CannotCheck, why.
    QStringList findings() const;
    // One line per station and store checked: rows and head.
    QStringList summary() const;

private:
    QStringList m_findings;
    QStringList m_summary;
};

#endif // PLANTVERIFIER_H
